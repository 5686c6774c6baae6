# Win32 builds: Uninst.exe (win32 preset) or the Win32 test executable run under Wine
# (win32-tests preset).
enable_testing()

# Windows 98 loads only images that claim subsystem version 4.0 at most.
set(UNINST_WIN32_LINK_OPTIONS -static -Wl,--major-subsystem-version,4,--minor-subsystem-version,0)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(UNINST_OBJDUMP i686-w64-mingw32-objdump REQUIRED)

enable_language(RC)
# windres reads resources/strings.h through the include path, as the compiler does.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR} -c 1252")
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/Uninst.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/strings.h;${CMAKE_SOURCE_DIR}/resources/Uninst.ico;${CMAKE_SOURCE_DIR}/resources/resource.h")

if(NOT UNINST_WIN32_TESTS)
  add_executable(Uninst WIN32 ${CMAKE_SOURCE_DIR}/resources/Uninst.rc
    ${CMAKE_SOURCE_DIR}/platform/win32/runtime/Formatter.cpp)
  target_link_libraries(Uninst PRIVATE uninst_core platform_win32)
  # WinMain lives in uninst_core; name it up front so the archive member is taken before the
  # startup code's reference to it is seen.
  target_link_options(Uninst PRIVATE -mwindows ${UNINST_WIN32_LINK_OPTIONS} -Wl,--undefined=_WinMain@16)

  add_test(NAME win32_imports
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/win32/check_pe.py imports
            $<TARGET_FILE:Uninst> ${CMAKE_SOURCE_DIR}/tests/win32/imports.expected)
  add_test(NAME win32_pe_header
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/win32/check_pe.py header $<TARGET_FILE:Uninst>)
  add_test(NAME win32_resources
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/win32/check_pe.py resources
            $<TARGET_FILE:Uninst> ${CMAKE_SOURCE_DIR}/resources/strings.h ${CMAKE_SOURCE_DIR}/resources/Uninst.ico)
  add_test(NAME win32_icon_reproducible
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/make-icon.py --check ${CMAKE_SOURCE_DIR}/resources/Uninst.ico)
  set_tests_properties(win32_imports win32_pe_header PROPERTIES ENVIRONMENT "OBJDUMP=${UNINST_OBJDUMP}")
  return()
endif()

# The test build records the trace in-process: it links tests/win32/DebugCapture.cpp in place
# of platform/win32/Debug.cpp.
get_target_property(UNINST_WIN32_PLATFORM_SOURCES platform_win32 SOURCES)
list(FILTER UNINST_WIN32_PLATFORM_SOURCES EXCLUDE REGEX "/Debug\\.cpp$")
set_property(TARGET platform_win32 PROPERTY SOURCES ${UNINST_WIN32_PLATFORM_SOURCES})

set(UNINST_GTEST_ROOT /usr/src/googletest/googletest CACHE PATH "GoogleTest sources")
add_library(gtest_win32 STATIC ${UNINST_GTEST_ROOT}/src/gtest-all.cc ${UNINST_GTEST_ROOT}/src/gtest_main.cc)
target_include_directories(gtest_win32 PUBLIC ${UNINST_GTEST_ROOT}/include PRIVATE ${UNINST_GTEST_ROOT})

file(GLOB UNINST_WIN32_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/portable/*.cpp ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
# The resources and the formatter replacement go in too, so that LoadStringA and the trace
# formatting are tested as Uninst.exe has them.
add_executable(uninst_win32_tests ${UNINST_WIN32_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/TestMachineWin32.cpp
  ${CMAKE_SOURCE_DIR}/resources/Uninst.rc ${CMAKE_SOURCE_DIR}/platform/win32/runtime/Formatter.cpp)
target_compile_options(uninst_win32_tests PRIVATE ${UNINST_WARNINGS})
target_link_libraries(uninst_win32_tests PRIVATE uninst_core platform_win32 gtest_win32)
target_link_options(uninst_win32_tests PRIVATE ${UNINST_WIN32_LINK_OPTIONS})

add_test(NAME wine_tests
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/run-wine-tests.sh $<TARGET_FILE:uninst_win32_tests>)
set_tests_properties(wine_tests PROPERTIES TIMEOUT 600)

# The shipped Uninst.exe (from the win32 preset's tree) run end to end under Wine, through the
# debugger harness that reads its trace whole and clicks its message boxes.
add_executable(WinRun ${CMAKE_SOURCE_DIR}/platform/win32/tools/WinRun.cpp)
target_compile_options(WinRun PRIVATE ${UNINST_WARNINGS})
target_link_options(WinRun PRIVATE -static)
set(UNINST_APP_EXE ${CMAKE_SOURCE_DIR}/build/win32/app/Uninst.exe CACHE FILEPATH "Uninst.exe of the win32 preset")
add_test(NAME wine_uninstall_end_to_end
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/run-wine-e2e.sh ${UNINST_APP_EXE} $<TARGET_FILE:WinRun>
          ${CMAKE_SOURCE_DIR}/samples/typical)
set_tests_properties(wine_uninstall_end_to_end PROPERTIES TIMEOUT 600)
