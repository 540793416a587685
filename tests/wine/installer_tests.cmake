# The release package and its installer, in a prefix of their own (not the shared one); the
# lock keeps them off the COM1 pty and the desktop while other Wine tests run.
add_test(NAME wine.installer
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_installer.py
                 --build ${MVR_BUILD_ROOT} --win32 ${MVR_WIN32_DIR} --host ${CMAKE_BINARY_DIR})
set_tests_properties(wine.installer PROPERTIES RESOURCE_LOCK wineprefix TIMEOUT 600)
