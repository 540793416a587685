# The auxiliary windows' rules: version texts, the version resource reader on a real
# resource compiled by windres from resources/Version.rc, system information texts, the
# viewer's settings, the log list.
find_program(MVR_WINDRES NAMES i686-w64-mingw32-windres x86_64-w64-mingw32-windres REQUIRED)
set(mvr_version_res ${CMAKE_CURRENT_BINARY_DIR}/version.res)
add_custom_command(OUTPUT ${mvr_version_res}
  COMMAND ${MVR_WINDRES} -I ${MVR_GENERATED_DIR} -I ${CMAKE_SOURCE_DIR}/resources
          -i ${CMAKE_SOURCE_DIR}/resources/Version.rc -O res -o ${mvr_version_res}
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/Version.rc ${MVR_GENERATED_DIR}/mvr_version.h
  COMMENT "version resource image for the host tests")
add_custom_target(mvr_version_res DEPENDS ${mvr_version_res})

add_executable(windows_host_tests
  ${CMAKE_CURRENT_LIST_DIR}/version_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sysinfo_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/viewer_rules_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/log_list_test.cpp)
add_dependencies(windows_host_tests mvr_version_res)
target_compile_definitions(windows_host_tests PRIVATE
  MVR_VERSION_RES="${mvr_version_res}" MVR_VERSION_FILE="${CMAKE_SOURCE_DIR}/VERSION")
target_link_libraries(windows_host_tests PRIVATE mvr_windows_core GTest::gtest_main)
add_test(NAME host.windows COMMAND windows_host_tests)
