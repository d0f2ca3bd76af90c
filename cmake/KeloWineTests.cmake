# The Windows product's checks run as 32-bit programs under Wine (tools/wine-run.sh):
# one private prefix per build folder, created once by the fixture test
# "wine_prefix"; every check carries the label "wine" and reports itself skipped,
# not passed, where Wine is not installed.
set(KELO_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(KELO_WINE_RUN ${PROJECT_SOURCE_DIR}/tools/wine-run.sh --prefix ${KELO_WINE_PREFIX})
set(KELO_WINE_SKIP_CODE 77)

add_test(NAME wine_prefix COMMAND ${KELO_WINE_RUN} --init)
set_tests_properties(wine_prefix PROPERTIES
  LABELS wine FIXTURES_SETUP wine_prefix SKIP_RETURN_CODE ${KELO_WINE_SKIP_CODE} TIMEOUT 180)

# kelo_add_wine_test(NAME COMMAND program [args...] [WORKING_DIRECTORY dir] [FIXTURES f...])
# runs program (an executable target or a path) under Wine. The checks share
# one X display number pool and one wineserver, so they run one at a time.
function(kelo_add_wine_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "WORKING_DIRECTORY" "COMMAND;FIXTURES")
  list(POP_FRONT arg_COMMAND program)
  if(TARGET ${program})
    set(program $<TARGET_FILE:${program}>)
  endif()
  if(NOT arg_WORKING_DIRECTORY)
    set(arg_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  add_test(NAME ${name} COMMAND ${KELO_WINE_RUN} ${program} ${arg_COMMAND}
           WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  set_tests_properties(${name} PROPERTIES
    LABELS wine SKIP_RETURN_CODE ${KELO_WINE_SKIP_CODE} TIMEOUT 90 RESOURCE_LOCK wine
    FIXTURES_REQUIRED "wine_prefix;${arg_FIXTURES}")
endfunction()
