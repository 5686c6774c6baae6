# Cross build for i686 Windows with MinGW-w64. UNINST_MINGW_VARIANT picks the compiler variant:
# "win32" (default; small imports, for Uninst.exe) or "posix" (needed by GoogleTest's threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
if(NOT DEFINED UNINST_MINGW_VARIANT)
  set(UNINST_MINGW_VARIANT win32)
endif()
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${UNINST_MINGW_VARIANT})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${UNINST_MINGW_VARIANT})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
