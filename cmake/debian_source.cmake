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

# vexa_debian_source_as_installed(DEV_PACKAGE SOURCE_PACKAGE EXTENSION FOLDER OUT_VAR): the
# source of the version of DEV_PACKAGE installed here, so that a library the Windows builds
# compile is the one the native build links and both tools write the same bytes. The
# original tarball is SOURCE_PACKAGE_VERSION.orig.EXTENSION, its top folder FOLDER-VERSION.
function(vexa_debian_source_as_installed dev_package package extension folder out_var)
  execute_process(COMMAND dpkg-query -W -f=\${Version} ${dev_package}
                  OUTPUT_VARIABLE deb_version RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR deb_version STREQUAL "")
    message(FATAL_ERROR "${dev_package} is not installed (make setup installs it): the Windows "
                        "build compiles the same version from Debian's source")
  endif()
  # 1.14-1 -> 1.14: the upstream version names the original tarball.
  string(REGEX REPLACE "^[0-9]+:" "" version "${deb_version}")
  string(REGEX REPLACE "-[^-]*$" "" version "${version}")
  vexa_debian_source(${package} ${deb_version} ${package}_${version}.orig.${extension}
                     ${folder}-${version} source)
  set(${out_var} ${source} PARENT_SCOPE)
endfunction()
