# zlib for the Windows builds, compiled from Debian's source rather than taken from Debian's
# prebuilt mingw library: that one is compiled as whole files, so a program that inflates
# carries the rest of each file, and its inflate decodes gzip too and so pulls in crc32's
# tables. Built with one section per function, without gzip decoding (the archives hold
# zlib streams), and with link-time optimisation where the including build enables it, the
# stub carries only the inflater it runs. Linked in, never zlib1.dll, which Windows does not
# have and which a planted copy beside a downloaded archive could replace. Defines
# ZLIB::ZLIB, as find_package(ZLIB) does.

include(${CMAKE_CURRENT_LIST_DIR}/debian_source.cmake)

# Debian 12's zlib, of the same upstream version as its mingw and native builds.
set(VEXA_ZLIB_DEB_VERSION "1:1.2.13.dfsg-1" CACHE STRING
    "The version of Debian's zlib source package that the Windows builds compile")
string(REGEX REPLACE "^[0-9]+:" "" zlib_version "${VEXA_ZLIB_DEB_VERSION}")
string(REGEX REPLACE "-[^-]*$" "" zlib_version "${zlib_version}")
vexa_debian_source(zlib ${VEXA_ZLIB_DEB_VERSION} zlib_${zlib_version}.orig.tar.bz2
                   zlib-${zlib_version} zlib_source)

add_library(vexa_zlib STATIC)
target_sources(vexa_zlib PRIVATE ${zlib_source}/adler32.c ${zlib_source}/crc32.c
  ${zlib_source}/inffast.c ${zlib_source}/inflate.c ${zlib_source}/inftrees.c
  ${zlib_source}/zutil.c)
target_compile_definitions(vexa_zlib PRIVATE NO_GZIP)
target_include_directories(vexa_zlib SYSTEM PUBLIC ${zlib_source})
add_library(ZLIB::ZLIB ALIAS vexa_zlib)
