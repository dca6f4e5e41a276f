#include "app/start_policy.h"

#include <gtest/gtest.h>

namespace vexa {
namespace {

constexpr std::uint32_t ErrorFileNotFound = 2;
constexpr std::uint32_t ErrorAccessDenied = 5;
constexpr std::uint32_t ErrorBadExeFormat = 193;
constexpr std::uint32_t ErrorCancelled = 1223;

TEST(StartPolicyTest, ACreatedProcessIsWaitedOnWhateverTheLastErrorSays) {
  EXPECT_EQ(RouteAfterCreateProcess(true, 0, true, false), TStartRoute::Started);
  EXPECT_EQ(RouteAfterCreateProcess(true, ErrorElevationRequired, true, false),
            TStartRoute::Started);
}

TEST(StartPolicyTest, OnlyTheElevationRefusalGoesThroughTheShell) {
  EXPECT_EQ(RouteAfterCreateProcess(false, ErrorElevationRequired, true, false),
            TStartRoute::ThroughShell);
  for (const std::uint32_t error :
       {0u, ErrorFileNotFound, ErrorAccessDenied, ErrorBadExeFormat, ErrorCancelled, 739u, 741u})
    EXPECT_EQ(RouteAfterCreateProcess(false, error, true, false), TStartRoute::NotStarted)
        << "error " << error;
}

TEST(StartPolicyTest, TheShellIsTriedOnlyForAStartByProgramPathAlone) {
  // With a command line the shell would be handed the program twice.
  EXPECT_EQ(RouteAfterCreateProcess(false, ErrorElevationRequired, true, true),
            TStartRoute::NotStarted);
  EXPECT_EQ(RouteAfterCreateProcess(false, ErrorElevationRequired, false, true),
            TStartRoute::NotStarted);
}

} // namespace
} // namespace vexa
