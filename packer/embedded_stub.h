#pragma once
// The stub that `vexa pack` uses unless --stub names another, built into the tool so
// that packing needs no other file.

#include <cstddef>
#include <span>

namespace vexa::tool {

extern const unsigned char EmbeddedStub[];
extern const std::size_t EmbeddedStubSize;

inline std::span<const unsigned char> DefaultStub() { return {EmbeddedStub, EmbeddedStubSize}; }

} // namespace vexa::tool
