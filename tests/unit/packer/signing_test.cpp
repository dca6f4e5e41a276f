// Signing happens after packing: a packed archive takes an Authenticode signature and
// verifies, and a signed stub loses its signature in packing, with a warning. The key and
// the self-signed certificate are made here, with the openssl command.

#include <gtest/gtest.h>

#include <cstdlib>

#include "packer/pack.h"
#include "reader/inspect.h"
#include "support/tool_test_support.h"

namespace vexa::tool::test {
namespace {

class SigningTest : public ToolTest {
protected:
  void SetUp() override {
    if (std::system("command -v openssl >/dev/null && command -v osslsigncode >/dev/null") != 0)
      GTEST_SKIP() << "openssl or osslsigncode is not installed";
    ToolTest::SetUp();
    if (IsSkipped())
      return;
    ASSERT_EQ(Shell("openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem "
                    "-days 2 -subj /CN=Vexa-Test"),
              0);
  }

  int Shell(const std::string& Command) {
    const std::string line = "cd '" + Dir.string() + "' && " + Command + " >>log.txt 2>&1";
    return std::system(line.c_str());
  }
  int Sign(const std::string& In, const std::string& Out) {
    return Shell("osslsigncode sign -certs cert.pem -key key.pem -in '" + In + "' -out '" + Out +
                 "'");
  }
  int Verify(const std::string& File) {
    return Shell("osslsigncode verify -CAfile cert.pem -in '" + File + "'");
  }
};

TEST_F(SigningTest, APackedArchiveTakesASignatureAndStaysReadable) {
  RunPackCommand(Options({Put("setup.exe", CompressibleBytes(5000))}));
  EXPECT_NE(Verify("out.exe"), 0) << "an unsigned archive must not verify";
  ASSERT_EQ(Sign("out.exe", "signed.exe"), 0);
  EXPECT_EQ(Verify("signed.exe"), 0);
  std::ostringstream out, err;
  // The signer rewrote the image checksum over the file with its certificate table.
  EXPECT_TRUE(VerifyArchive(Path("signed.exe"), {}, false, out, err).Passed()) << err.str();
  EXPECT_NE(out.str().find("image checksum OK"), std::string::npos) << out.str();
}

TEST_F(SigningTest, ASignedStubLosesItsSignatureWithAWarning) {
  ASSERT_EQ(Sign(StubPath(), Path("signed-stub.exe")), 0);
  ASSERT_EQ(Verify("signed-stub.exe"), 0);
  PackOptions o = Options({Put("setup.exe", Text("MZ"))});
  o.Stub = Path("signed-stub.exe");
  EXPECT_TRUE(RunPackCommand(o).DroppedCertificate);
  EXPECT_NE(Verify("out.exe"), 0);
  ASSERT_EQ(Sign("out.exe", "signed.exe"), 0);
  EXPECT_EQ(Verify("signed.exe"), 0);

  o.Stub = StubPath();
  EXPECT_FALSE(RunPackCommand(o).DroppedCertificate);

#ifdef VEXA_TOOL_BINARY
  const std::string command = "cd '" + Dir.string() +
                              "' && '" VEXA_TOOL_BINARY "' pack -o again.exe "
                              "--temp setup.exe --stub signed-stub.exe 2>warning.txt >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const Bytes warning = ReadBytes(Dir / "warning.txt");
  EXPECT_NE(std::string(warning.begin(), warning.end()).find("warning: the stub was signed"),
            std::string::npos);
#endif
}

} // namespace
} // namespace vexa::tool::test
