# Cross build for i686 Windows with MinGW-w64: Uninst.exe as it ships (win32 variant by default).
set(UNINST_MINGW_CPU i686)
set(UNINST_MINGW_DEFAULT_VARIANT win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
