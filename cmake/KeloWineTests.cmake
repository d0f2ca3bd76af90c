# The Windows build's checks, all labelled "windows". Those that run its
# programs under Wine (tools/wine-run.sh) are also labelled "wine": they share
# one private prefix per build folder, of the build's own architecture (win32
# for windows-i686, win64 for windows-x86_64), created once by the fixture test
# "wine_prefix". They report themselves skipped, not passed, where Wine is not
# installed, and the 32-bit ones where the kernel runs no 32-bit programs.
# Every check registered here runs on both Windows presets.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KELO_WINE_ARCH win64)
else()
  set(KELO_WINE_ARCH win32)
endif()
set(KELO_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(KELO_WINE_RUN ${PROJECT_SOURCE_DIR}/tools/wine-run.sh
    --prefix ${KELO_WINE_PREFIX} --arch ${KELO_WINE_ARCH})
set(KELO_WINE_SKIP_CODE 77)

add_test(NAME wine_prefix COMMAND ${KELO_WINE_RUN} --init)
set_tests_properties(wine_prefix PROPERTIES
  LABELS "windows;wine" FIXTURES_SETUP wine_prefix SKIP_RETURN_CODE ${KELO_WINE_SKIP_CODE} TIMEOUT 180)

# Where the kernel runs no 32-bit programs the 32-bit checks must say why and
# be skipped; the same answer forced here shows it on any kernel.
if(KELO_WINE_ARCH STREQUAL win32)
  add_test(NAME wine_skip_without_32bit
    COMMAND sh ${PROJECT_SOURCE_DIR}/tests/wine/check_32bit_skip.sh ${KELO_WINE_RUN} cmd.exe)
  set_tests_properties(wine_skip_without_32bit PROPERTIES
    LABELS windows SKIP_RETURN_CODE ${KELO_WINE_SKIP_CODE})
endif()

# kelo_add_wine_test(NAME COMMAND program [args...] [WORKING_DIRECTORY dir]
#                    [FIXTURES f...] [EXPECT what] [ENVIRONMENT VAR=value...])
# runs program (an executable target or a path) under Wine. With EXPECT, the
# program's output is compared with what tests/wine/check_probe.py expects of
# kelo-host (describe, compile-failure, ...). The checks share one X display
# number pool and one wineserver, so they run one at a time.
find_program(KELO_PYTHON python3)
function(kelo_add_wine_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "WORKING_DIRECTORY;EXPECT" "COMMAND;FIXTURES;ENVIRONMENT")
  list(POP_FRONT arg_COMMAND program)
  if(TARGET ${program})
    set(program $<TARGET_FILE:${program}>)
  endif()
  if(NOT arg_WORKING_DIRECTORY)
    set(arg_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  set(checker)
  if(arg_EXPECT)
    set(checker ${KELO_PYTHON} ${PROJECT_SOURCE_DIR}/tests/wine/check_probe.py
        --sources ${PROJECT_SOURCE_DIR} --version ${PROJECT_VERSION} --expect ${arg_EXPECT} --)
  endif()
  add_test(NAME ${name} COMMAND ${checker} ${KELO_WINE_RUN} ${program} ${arg_COMMAND}
           WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  set_tests_properties(${name} PROPERTIES
    LABELS "windows;wine" SKIP_RETURN_CODE ${KELO_WINE_SKIP_CODE} TIMEOUT 90 RESOURCE_LOCK wine
    FIXTURES_REQUIRED "wine_prefix;${arg_FIXTURES}")
  if(arg_ENVIRONMENT)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${arg_ENVIRONMENT}")
  endif()
endfunction()

# kelo_add_dll_check(NAME TARGET EXPORTS name... IMPORTS dll...
#                    [FORMAT pei-i386|pei-x86-64] [ZIP archive MEMBER path])
# checks that the DLL built by TARGET is an image of this build's kind (or
# FORMAT), exports exactly those names, undecorated, at ordinals 1..n, and
# imports those DLLs and no MinGW runtime DLL. With ZIP, the DLL checked is
# the archive's MEMBER.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KELO_PE_FORMAT pei-x86-64)
else()
  set(KELO_PE_FORMAT pei-i386)
endif()
function(kelo_add_dll_check name target)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "FORMAT;ZIP;MEMBER" "EXPORTS;IMPORTS")
  list(JOIN arg_EXPORTS " " exports)
  list(JOIN arg_IMPORTS " " imports)
  if(NOT arg_FORMAT)
    set(arg_FORMAT ${KELO_PE_FORMAT})
  endif()
  set(dll $<TARGET_FILE:${target}>)
  set(zip)
  if(arg_ZIP)
    set(dll ${arg_MEMBER})
    set(zip --zip ${arg_ZIP})
  endif()
  add_test(NAME ${name}
           COMMAND sh ${PROJECT_SOURCE_DIR}/tests/wine/check_dll.sh ${CMAKE_OBJDUMP} ${dll}
                   --format ${arg_FORMAT} --exports ${exports} --imports ${imports} ${zip})
  set_tests_properties(${name} PROPERTIES LABELS windows)
endfunction()
