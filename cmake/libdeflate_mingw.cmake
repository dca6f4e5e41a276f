# libdeflate for a mingw build, which Debian does not package, made from Debian's own source
# package of the version the native build links: vexa.exe then compresses to the same bytes
# as vexa. Built with the library's own Makefile by the cross compiler. Defines the imported
# library vexa_libdeflate.

include(${CMAKE_CURRENT_LIST_DIR}/debian_source.cmake)

vexa_debian_source_as_installed(libdeflate-dev libdeflate tar.gz libdeflate libdeflate_source)

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
