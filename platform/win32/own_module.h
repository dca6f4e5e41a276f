#pragma once
// The resources of the running executable, through the Win32 resource calls.

#include "streams/resource_module.h"

namespace vexa::win32 {

const TResourceModule& OwnModule();

} // namespace vexa::win32
