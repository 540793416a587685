# Cross build of the Win32 program with mingw-w64: i686 (the product) or x86_64 (the
# build the Wine tests run on machines that cannot execute 32-bit code).
set(CMAKE_SYSTEM_NAME Windows)

set(MVR_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "mingw-w64 tool prefix")
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${MVR_MINGW_PREFIX}")
set(CMAKE_C_COMPILER ${MVR_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${MVR_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${MVR_MINGW_PREFIX}-windres)
set(MVR_WIDL ${MVR_MINGW_PREFIX}-widl CACHE STRING "IDL compiler")
set(CMAKE_FIND_ROOT_PATH /usr/${MVR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The program needs nothing but system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
