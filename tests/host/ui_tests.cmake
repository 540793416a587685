# Window rules without the window system.
add_executable(ui_host_tests ${CMAKE_CURRENT_LIST_DIR}/ui_rules_test.cpp)
target_link_libraries(ui_host_tests PRIVATE mvr_platform GTest::gtest_main)
add_test(NAME host.ui COMMAND ui_host_tests)
