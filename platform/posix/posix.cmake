# POSIX backend extras and its tests against the real file system.
target_compile_definitions(inkora_platform PRIVATE
  INKORA_VERSION_COMMAS="${PROJECT_VERSION_MAJOR}, ${PROJECT_VERSION_MINOR}, ${PROJECT_VERSION_PATCH}, ${PROJECT_VERSION_TWEAK}")
if(INKORA_BUILD_TESTS)
  inkora_add_test(platform_posix_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix_env_test.cpp
                  ${CMAKE_CURRENT_SOURCE_DIR}/backend_test.cpp LIBS inkora_platform)
  target_compile_definitions(platform_posix_tests PRIVATE
    INKORA_VERSION_TEXT="${PROJECT_VERSION_MAJOR}, ${PROJECT_VERSION_MINOR}, ${PROJECT_VERSION_PATCH}, ${PROJECT_VERSION_TWEAK}")
endif()
