# libdeflate for a mingw build, which Debian does not package, made from Debian's own source
# package of the version the native build links: vexa.exe then compresses to the same bytes
# as vexa. Built with the library's own Makefile by the cross compiler. Defines the imported
# library vexa_libdeflate.

include(${CMAKE_CURRENT_LIST_DIR}/debian_source.cmake)

execute_process(COMMAND dpkg-query -W -f=\${Version} libdeflate-dev
                OUTPUT_VARIABLE libdeflate_deb_version RESULT_VARIABLE status ERROR_QUIET)
if(NOT status EQUAL 0 OR libdeflate_deb_version STREQUAL "")
  message(FATAL_ERROR "libdeflate-dev is not installed (make setup installs it): the Windows "
                      "build compiles the same libdeflate version from Debian's source")
endif()
# 1.14-1 -> 1.14: the upstream version names the original tarball.
string(REGEX REPLACE "^[0-9]+:" "" libdeflate_version "${libdeflate_deb_version}")
string(REGEX REPLACE "-[^-]*$" "" libdeflate_version "${libdeflate_version}")

vexa_debian_source(libdeflate ${libdeflate_deb_version} libdeflate_${libdeflate_version}.orig.tar.gz
                   libdeflate-${libdeflate_version} libdeflate_source)

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
