# Win32 builds: Uninst.exe (win32 preset) or the Win32 test executable run under Wine
# (win32-tests preset, i686, 32-bit Wine; win64-tests preset, x86_64, 64-bit Wine, for machines
# that run no 32-bit program: scripts/wine-env.sh).
enable_testing()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(UNINST_WINE_FORM x86_64)
  set(UNINST_WINMAIN_SYMBOL WinMain)
else()
  set(UNINST_WINE_FORM i686)
  set(UNINST_WINMAIN_SYMBOL _WinMain@16)
endif()

# Windows 98 loads only images that claim subsystem version 4.0 at most.
set(UNINST_WIN32_LINK_OPTIONS -static -Wl,--major-subsystem-version,4,--minor-subsystem-version,0)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(UNINST_OBJDUMP ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objdump REQUIRED)

enable_language(RC)
# windres reads resources/strings.h through the include path, as the compiler does.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR} -c 1252")
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/Uninst.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/strings.h;${CMAKE_SOURCE_DIR}/resources/Uninst.ico;${CMAKE_SOURCE_DIR}/resources/resource.h")

# Uninst.exe: shipped from the i686 build; the x86_64 test build makes its own to run under
# 64-bit Wine. Extra arguments: sources the platform library lacks in this tree.
function(uninst_program)
  add_executable(Uninst WIN32 ${CMAKE_SOURCE_DIR}/resources/Uninst.rc
    ${CMAKE_SOURCE_DIR}/platform/win32/runtime/Formatter.cpp ${ARGN})
  target_link_libraries(Uninst PRIVATE uninst_core platform_win32)
  # WinMain lives in uninst_core; name it up front so the archive member is taken before the
  # startup code's reference to it is seen.
  target_link_options(Uninst PRIVATE -mwindows ${UNINST_WIN32_LINK_OPTIONS} -Wl,--undefined=${UNINST_WINMAIN_SYMBOL})
endfunction()

if(NOT UNINST_WIN32_TESTS)
  uninst_program()

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
  # The floppy and CD images of `make dist`, written from this Uninst.exe and read back.
  add_test(NAME win32_dist_images
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/win32/check_dist.py $<TARGET_FILE:Uninst>
            ${CMAKE_BINARY_DIR}/dist-check)
  return()
endif()

# The test build records the trace in-process: it links tests/win32/DebugCapture.cpp in place
# of platform/win32/Debug.cpp. It links tests/win32/MoveFileStandIn.cpp in place of
# platform/win32/MoveFile.cpp: MoveFileExA fails there as on Windows 98/ME, not as on Wine.
get_target_property(UNINST_WIN32_PLATFORM_SOURCES platform_win32 SOURCES)
list(FILTER UNINST_WIN32_PLATFORM_SOURCES EXCLUDE REGEX "/(Debug|MoveFile)\\.cpp$")
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
set_tests_properties(wine_tests PROPERTIES TIMEOUT 600 ENVIRONMENT "UNINST_WINE_FORM=${UNINST_WINE_FORM}")

# The shipped Uninst.exe (from the win32 preset's tree) run end to end under Wine on the sample
# machines, against uninst-sim (from the host preset's tree) on the same machines and answers.
# The helpers: RegImage seeds and exports the registry, TraceRun records the trace as a debugger,
# BoxAnswer answers the boxes and takes the screenshots kept under build/e2e/.
foreach(helper RegImage TraceRun BoxAnswer)
  add_executable(${helper} ${CMAKE_SOURCE_DIR}/tests/e2e/${helper}.cpp)
  target_compile_options(${helper} PRIVATE ${UNINST_WARNINGS})
  target_include_directories(${helper} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_options(${helper} PRIVATE -static)
endforeach()
# RegImage reads and writes REGEDIT4 text as uninst-sim does.
target_sources(RegImage PRIVATE ${CMAKE_SOURCE_DIR}/tools/formats/Regedit.cpp)
set(UNINST_APP_EXE ${CMAKE_SOURCE_DIR}/build/win32/app/Uninst.exe CACHE FILEPATH "Uninst.exe of the win32 preset")
# The exe the end-to-end cases run: the shipped one, or this tree's own x86_64 build of it.
if(UNINST_WINE_FORM STREQUAL "x86_64")
  # The test stand-ins above are the test executable's; the program keeps the real calls.
  uninst_program(${CMAKE_SOURCE_DIR}/platform/win32/Debug.cpp ${CMAKE_SOURCE_DIR}/platform/win32/MoveFile.cpp)
  set(UNINST_RUN_EXE $<TARGET_FILE:Uninst>)
else()
  set(UNINST_RUN_EXE ${UNINST_APP_EXE})
endif()
set(UNINST_SIM_EXE ${CMAKE_SOURCE_DIR}/build/host/tools/uninst-sim CACHE FILEPATH "uninst-sim of the host preset")

# NAME: machine, the string ids of the boxes the run shows, and extra driver arguments (answers
# other than the sample's own, another Windows form than the sample's).
function(uninst_e2e_test name machine boxes)
  add_test(NAME e2e_${name}
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/run-e2e.sh --uninst ${UNINST_RUN_EXE}
            --helpers $<TARGET_FILE_DIR:TraceRun> --sim ${UNINST_SIM_EXE} --work ${CMAKE_SOURCE_DIR}/build/e2e
            --machine ${CMAKE_SOURCE_DIR}/samples/${machine} --case ${name} --boxes ${boxes} ${ARGN})
  set_tests_properties(e2e_${name} PROPERTIES TIMEOUT 300 ENVIRONMENT "UNINST_WINE_FORM=${UNINST_WINE_FORM}")
endfunction()

add_test(NAME e2e_compare_selftest COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/test_compare.py)
add_test(NAME e2e_registry_round_trip
  COMMAND xvfb-run -a bash ${CMAKE_SOURCE_DIR}/tests/e2e/regimage-roundtrip.sh $<TARGET_FILE_DIR:RegImage>
          ${CMAKE_SOURCE_DIR}/build/e2e ${CMAKE_SOURCE_DIR}/tests/e2e/data/roundtrip.reg
          ${CMAKE_SOURCE_DIR}/samples/win98/registry.reg ${CMAKE_SOURCE_DIR}/samples/winme/registry.reg
          ${CMAKE_SOURCE_DIR}/samples/connected/registry.reg ${CMAKE_SOURCE_DIR}/samples/typical/registry.reg)
set_tests_properties(e2e_registry_round_trip PROPERTIES TIMEOUT 300 ENVIRONMENT "UNINST_WINE_FORM=${UNINST_WINE_FORM}")

# Each sample with its own answers and Windows form, then under the other form; a cancel at the
# configured-printer question and a No to the confirmation; the hand-written sample, whose values
# are not in name order.
uninst_e2e_test(win98 win98 2,5,8)
uninst_e2e_test(win98_as_me win98 2,5,8 --os me)
uninst_e2e_test(winme winme 2,5,8)
uninst_e2e_test(winme_as_98 winme 2,5,8 --os 98)
uninst_e2e_test(connected connected 2,6)
uninst_e2e_test(win98_cancel win98 2,5 --answers yes,yes)
uninst_e2e_test(win98_declined win98 2 --answers no)
uninst_e2e_test(typical typical 2,5,8 --answers yes,no,no)
# A machine image written by hand (tests/e2e/data/handmade): keys implied by their subkeys, folders in
# lower case, a file in use outside the system directory.
uninst_e2e_test(handmade ../tests/e2e/data/handmade 2,5,8)

# Uninst.exe as a Windows 98/ME machine gets it: copied out of the floppy image of `make dist`
# (always the shipped i686 exe: under 64-bit Wine, only compared with it).
add_test(NAME e2e_win98_floppy
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/run-e2e-floppy.sh ${CMAKE_SOURCE_DIR}/build/e2e/floppy
          --uninst ${UNINST_APP_EXE} --helpers $<TARGET_FILE_DIR:TraceRun> --sim ${UNINST_SIM_EXE}
          --work ${CMAKE_SOURCE_DIR}/build/e2e --machine ${CMAKE_SOURCE_DIR}/samples/win98 --case win98_floppy
          --boxes 2,5,8)
set_tests_properties(e2e_win98_floppy PROPERTIES TIMEOUT 300 ENVIRONMENT "UNINST_WINE_FORM=${UNINST_WINE_FORM}")
