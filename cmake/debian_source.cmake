# Debian's own source of a library that the Windows builds compile themselves: fetched once
# into VEXA_SOURCE_CACHE with apt-get source (tools/fetch_deb_source.sh) and unpacked into
# the build folder.

set(VEXA_SOURCE_CACHE "${CMAKE_BINARY_DIR}/sources" CACHE PATH
    "Where Debian source packages that the Windows builds compile are kept")

# vexa_debian_source(PACKAGE DEB_VERSION TARBALL FOLDER OUT_VAR): unpacks TARBALL (the
# original tarball of source package PACKAGE=DEB_VERSION), whose top folder is FOLDER, and
# sets OUT_VAR to the unpacked folder. Fails the configuration, saying what to do, when the
# tarball can be had neither from the cache nor through apt.
function(vexa_debian_source package deb_version tarball folder out_var)
  set(tarball_path ${VEXA_SOURCE_CACHE}/${tarball})
  if(NOT EXISTS ${tarball_path})
    message(STATUS "Fetching Debian's source of ${package} ${deb_version}")
    file(MAKE_DIRECTORY ${VEXA_SOURCE_CACHE})
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tools/fetch_deb_source.sh ${package}
                            ${deb_version} ${VEXA_SOURCE_CACHE}
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT EXISTS ${tarball_path})
      message(FATAL_ERROR "The Windows build compiles ${package} ${deb_version} from source, "
                          "and ${tarball_path} could not be had (message above). Give this "
                          "machine's apt sources network access, or put that file there by hand.")
    endif()
  endif()
  set(source ${CMAKE_BINARY_DIR}/${folder})
  if(NOT EXISTS ${source})
    file(ARCHIVE_EXTRACT INPUT ${tarball_path} DESTINATION ${CMAKE_BINARY_DIR})
  endif()
  set(${out_var} ${source} PARENT_SCOPE)
endfunction()
