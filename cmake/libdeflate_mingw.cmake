# libdeflate for a mingw build, which Debian does not package, made from Debian's own source
# package of the version the native build links: vexa.exe then compresses to the same bytes
# as vexa. The source is fetched once into VEXA_SOURCE_CACHE with apt-get source
# (tools/fetch_deb_source.sh) and built with its own Makefile by the cross compiler.
# Defines the imported library vexa_libdeflate.

set(VEXA_SOURCE_CACHE "${CMAKE_BINARY_DIR}/sources" CACHE PATH
    "Where Debian source packages that the Windows builds compile are kept")

execute_process(COMMAND dpkg-query -W -f=\${Version} libdeflate-dev
                OUTPUT_VARIABLE libdeflate_deb_version RESULT_VARIABLE status ERROR_QUIET)
if(NOT status EQUAL 0 OR libdeflate_deb_version STREQUAL "")
  message(FATAL_ERROR "libdeflate-dev is not installed (make setup installs it): the Windows "
                      "build compiles the same libdeflate version from Debian's source")
endif()
# 1.14-1 -> 1.14: the upstream version names the original tarball.
string(REGEX REPLACE "^[0-9]+:" "" libdeflate_version "${libdeflate_deb_version}")
string(REGEX REPLACE "-[^-]*$" "" libdeflate_version "${libdeflate_version}")

set(libdeflate_tarball ${VEXA_SOURCE_CACHE}/libdeflate_${libdeflate_version}.orig.tar.gz)
if(NOT EXISTS ${libdeflate_tarball})
  message(STATUS "Fetching Debian's source of libdeflate ${libdeflate_deb_version}")
  file(MAKE_DIRECTORY ${VEXA_SOURCE_CACHE})
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tools/fetch_deb_source.sh libdeflate
                          ${libdeflate_deb_version} ${VEXA_SOURCE_CACHE}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT EXISTS ${libdeflate_tarball})
    message(FATAL_ERROR "The Windows build needs libdeflate ${libdeflate_version} built from "
                        "source, and ${libdeflate_tarball} could not be had (message above). "
                        "Give this machine's apt sources network access, or put that file "
                        "there by hand.")
  endif()
endif()

set(libdeflate_source ${CMAKE_BINARY_DIR}/libdeflate-${libdeflate_version})
if(NOT EXISTS ${libdeflate_source}/libdeflate.h)
  file(ARCHIVE_EXTRACT INPUT ${libdeflate_tarball} DESTINATION ${CMAKE_BINARY_DIR})
endif()

# The library's own Makefile names the static library this way for mingw targets.
set(libdeflate_library ${libdeflate_source}/libdeflatestatic.lib)
add_custom_command(OUTPUT ${libdeflate_library}
  COMMAND make -C ${libdeflate_source} libdeflatestatic.lib CC=${CMAKE_C_COMPILER}
          AR=${CMAKE_AR} "CFLAGS=-ffunction-sections -fdata-sections"
  VERBATIM)
add_custom_target(libdeflate_mingw DEPENDS ${libdeflate_library})
add_library(vexa_libdeflate STATIC IMPORTED)
set_target_properties(vexa_libdeflate PROPERTIES IMPORTED_LOCATION ${libdeflate_library}
                                                 INTERFACE_INCLUDE_DIRECTORIES ${libdeflate_source})
add_dependencies(vexa_libdeflate libdeflate_mingw)
