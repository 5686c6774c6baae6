# Cross build for x86_64 Windows with MinGW-w64: the same sources as the i686 build, for the
# machines whose kernel runs no 32-bit program, where the Win32 tests and the end-to-end runs go
# under 64-bit Wine (win64-tests preset). Uninst.exe itself ships from the i686 build only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
if(NOT DEFINED UNINST_MINGW_VARIANT)
  set(UNINST_MINGW_VARIANT posix)
endif()
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-${UNINST_MINGW_VARIANT})
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-${UNINST_MINGW_VARIANT})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
