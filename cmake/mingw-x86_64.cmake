# The 64-bit Windows build. The product is the 32-bit stub; this build exists so the
# end-to-end tests can run the same sources under 64-bit Wine on machines that cannot
# execute 32-bit Linux binaries (and so cannot run 32-bit Wine).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
