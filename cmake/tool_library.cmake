# One room of the vexa tool as a static library over the rooms it names.
#
# i686 compilers do double arithmetic on the x87 unit, whose wider intermediates round
# some results (file dates as days since 1899) one bit apart from the x86_64 build. With
# SSE2 arithmetic the tool computes the same doubles on every build, so vexa.exe and vexa
# write the same archive; every processor that runs a current Windows has SSE2.
function(vexa_tool_library NAME)
  cmake_parse_arguments(PARSE_ARGV 1 room "" "" "SOURCES;USES")
  add_library(${NAME} STATIC ${room_SOURCES})
  target_link_libraries(${NAME} PUBLIC ${room_USES})
  if(WIN32 AND CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    target_compile_options(${NAME} PRIVATE -msse2 -mfpmath=sse)
  endif()
endfunction()
