# The LZMA2 decoder that reads LZMA2 items on every side (the stub, vexa.exe, the native
# tool and its tests): the LZMA SDK's C decoder from Debian's source package lzma. Of the
# decoders that read liblzma's raw LZMA2 streams it is the small one: the LZMA2 and x86 BCJ
# decoders together cost the stub about 10 KiB, where liblzma's decoder and the filter
# framework around it cost 26 KiB. Built from the same source everywhere, so the tests and
# the fuzz targets run the code the stub runs. Defines vexa_lzma_sdk.

include(${CMAKE_CURRENT_LIST_DIR}/debian_source.cmake)

# Debian 12's lzma source package, the SDK's 9.22 release.
set(VEXA_LZMA_SDK_DEB_VERSION "9.22-2.2" CACHE STRING
    "The version of Debian's lzma source package whose LZMA2 decoder every build compiles")
string(REGEX REPLACE "-[^-]*$" "" lzma_sdk_version "${VEXA_LZMA_SDK_DEB_VERSION}")
vexa_debian_source(lzma ${VEXA_LZMA_SDK_DEB_VERSION} lzma_${lzma_sdk_version}.orig.tar.gz
                   lzma-${lzma_sdk_version} lzma_sdk_source)

add_library(vexa_lzma_sdk STATIC ${lzma_sdk_source}/C/LzmaDec.c ${lzma_sdk_source}/C/Lzma2Dec.c
                                 ${lzma_sdk_source}/C/Bra86.c)
target_include_directories(vexa_lzma_sdk SYSTEM PUBLIC ${lzma_sdk_source}/C)
# Third-party C code: its warnings are not this project's to fix.
target_compile_options(vexa_lzma_sdk PRIVATE -w)
