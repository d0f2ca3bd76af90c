cmake_minimum_required(VERSION 3.25)
# cmake -DZIP=archive -DEXPECTED="a;b;..." -P check_zip.cmake: the archive
# holds exactly the files EXPECTED names (folders aside), in any order.
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot list ${ZIP}")
endif()
string(REPLACE "\n" ";" members "${listing}")
list(FILTER members EXCLUDE REGEX "(^$|/$)")
list(SORT members)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT members STREQUAL expected)
  message(FATAL_ERROR "${ZIP} holds\n  ${members}\nexpected\n  ${expected}")
endif()
message(STATUS "ok: ${ZIP} holds ${members}")
