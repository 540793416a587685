# Host tests of the device simulator's frame and answer logic. Include after
# add_subdirectory(tools/mvrsim) so mvrsim_core exists.
if(NOT TARGET GTest::gtest_main)
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
add_executable(mvrsim_test "${CMAKE_CURRENT_LIST_DIR}/mvrsim_test.cpp")
target_link_libraries(mvrsim_test PRIVATE mvrsim_core GTest::gtest_main)
gtest_discover_tests(mvrsim_test)
