# kelo_add_release_package(PLUGIN target EFFECT file) builds
# kelo-<version>-win32.zip: the plug-in, the effect and the install guides in
# English and Japanese (CRLF, UTF-8 with byte-order mark, for Notepad), in one
# folder; the check "windows_release_package" lists what the archive holds and
# "windows_release_plugin" checks the archived plug-in: the 32-bit image, the
# one the host loads, with the plug-in's tables.
function(kelo_add_release_package)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "PLUGIN;EFFECT" "")
  set(name kelo-${PROJECT_VERSION}-win32)
  set(stage ${CMAKE_BINARY_DIR}/package/${name})
  set(zip ${CMAKE_BINARY_DIR}/${name}.zip)
  set(VERSION ${PROJECT_VERSION})
  set(guides)
  foreach(language en ja)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/INSTALL-${language}.txt
                   ${CMAKE_BINARY_DIR}/package/INSTALL-${language}.txt @ONLY NEWLINE_STYLE CRLF)
    list(APPEND guides ${CMAKE_BINARY_DIR}/package/INSTALL-${language}.txt)
  endforeach()
  add_custom_command(OUTPUT ${zip}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${arg_PLUGIN}> ${arg_EFFECT} ${guides} ${stage}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/package
    DEPENDS ${arg_PLUGIN} ${arg_EFFECT} ${guides}
    COMMENT "Packing ${name}.zip")
  add_custom_target(release_package ALL DEPENDS ${zip})

  get_filename_component(effect_name ${arg_EFFECT} NAME)
  add_test(NAME windows_release_package
           COMMAND ${CMAKE_COMMAND} -DZIP=${zip}
                   "-DEXPECTED=${name}/$<TARGET_FILE_NAME:${arg_PLUGIN}>;${name}/${effect_name};${name}/INSTALL-en.txt;${name}/INSTALL-ja.txt"
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_zip.cmake)
  set_tests_properties(windows_release_package PROPERTIES LABELS windows)
  kelo_add_dll_check(windows_release_plugin ${arg_PLUGIN} FORMAT pei-i386
    ZIP ${zip} MEMBER ${name}/$<TARGET_FILE_NAME:${arg_PLUGIN}>
    EXPORTS GetFilterTable IMPORTS d3d9.dll d3dx9_30.dll)
endfunction()
