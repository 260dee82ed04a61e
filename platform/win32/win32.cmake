# Windows backend extras: the version resource of a program, and the tests that
# exercise the real registry, files, Service Control Manager and WinINet (under
# Wine when cross-compiled). Included from platform/CMakeLists.txt.

# GetSystemMetrics and MessageBoxA.
target_link_libraries(inkora_platform PUBLIC user32)

# windows_names.h: an #undef of every macro by which <windows.h> names the ...A or
# ...W form of a call by its plain name (CreateDirectory for CreateDirectoryA),
# listed from the headers windows_clean.h includes, as this compiler sees them.
# Remade when windows_clean.h changes.
set(INKORA_WINDOWS_NAMES ${CMAKE_BINARY_DIR}/inkora_generated/platform/win32/windows_names.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/windows_clean.h)
execute_process(
  COMMAND ${CMAKE_CXX_COMPILER} -x c++ -dM -E -DINKORA_LISTING_WINDOWS_MACROS ${CMAKE_CURRENT_LIST_DIR}/windows_clean.h
  OUTPUT_FILE ${CMAKE_BINARY_DIR}/windows_macros.txt RESULT_VARIABLE listed)
if(NOT listed EQUAL 0)
  message(FATAL_ERROR "The macros of the Windows headers could not be listed")
endif()
file(STRINGS ${CMAKE_BINARY_DIR}/windows_macros.txt defines REGEX "^#define [A-Za-z0-9_]+ [A-Za-z0-9_()]+$")
set(undefs "// Made by win32.cmake from the system headers: the plain names of the ...A/...W calls.\n#pragma once\n")
foreach(define IN LISTS defines)
  if(define MATCHES "^#define ([A-Za-z0-9_]+) (__MINGW_NAME_U?AW\\(([A-Za-z0-9_]+)\\)|([A-Za-z0-9_]+)A)$")
    if(CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_3 OR CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_4)
      string(APPEND undefs "#undef ${CMAKE_MATCH_1}\n")
    endif()
  endif()
endforeach()
file(CONFIGURE OUTPUT ${INKORA_WINDOWS_NAMES} CONTENT "${undefs}")
target_include_directories(inkora_platform PUBLIC ${CMAKE_BINARY_DIR}/inkora_generated)

# inkora_win32_version_resource(<target>): a VERSIONINFO resource with the
# project version (FileVersion "1, 0, 13, 0"), ProductName "Inkora Updater" and
# the translation 0409/04B0, compiled with windres into an object of the target.
function(inkora_win32_version_resource target)
  # Called from other folders: paths come from this file's own folder.
  set(template ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/version.rc.in)
  set(windres ${CMAKE_RC_COMPILER})
  if(NOT windres)
    find_program(INKORA_WINDRES NAMES x86_64-w64-mingw32-windres windres REQUIRED)
    set(windres ${INKORA_WINDRES})
  endif()
  set(INKORA_RC_VERSION_COMMAS
      "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
  set(INKORA_RC_VERSION_TEXT
      "${PROJECT_VERSION_MAJOR}, ${PROJECT_VERSION_MINOR}, ${PROJECT_VERSION_PATCH}, ${PROJECT_VERSION_TWEAK}")
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(INKORA_RC_ORIGINAL_NAME "${name}.exe")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  set(obj ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc.o)
  configure_file(${template} ${rc} @ONLY)
  add_custom_command(OUTPUT ${obj}
    COMMAND ${windres} --input-format=rc --output-format=coff -i ${rc} -o ${obj}
    DEPENDS ${rc} ${template}
    COMMENT "Version resource of ${target}")
  set_source_files_properties(${obj} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(${target} PRIVATE ${obj})
endfunction()

if(INKORA_BUILD_TESTS)
  inkora_add_test(platform_win32_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/system_win32_test.cpp
                  ${CMAKE_CURRENT_LIST_DIR}/../backend_test.cpp LIBS inkora_platform ws2_32)
  inkora_win32_version_resource(platform_win32_tests)
  target_compile_definitions(platform_win32_tests PRIVATE
    INKORA_VERSION_TEXT="${PROJECT_VERSION_MAJOR}, ${PROJECT_VERSION_MINOR}, ${PROJECT_VERSION_PATCH}, ${PROJECT_VERSION_TWEAK}")
endif()
