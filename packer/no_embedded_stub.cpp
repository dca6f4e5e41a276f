// Builds that have no stub to embed (unit tests configured without the Windows side)
// still link the packer; packing then needs --stub.
#include <cstddef>
namespace vexa::tool {
extern const unsigned char EmbeddedStub[] = {0};
extern const std::size_t EmbeddedStubSize = 0;
} // namespace vexa::tool
