# Cross build for x86_64 Windows with MinGW-w64: the same sources as the i686 build, for the
# machines whose kernel runs no 32-bit program, where the Win32 tests and the end-to-end runs go
# under 64-bit Wine (win64-tests preset). Uninst.exe itself ships from the i686 build only.
set(UNINST_MINGW_CPU x86_64)
set(UNINST_MINGW_DEFAULT_VARIANT posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
