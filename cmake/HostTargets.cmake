# Host build: the GoogleTest suite over the simulated machine, and the host tools.
enable_testing()

# Windows 9x registry files and their CAB backups, for uninst-sim --hive and its fuzz target.
find_package(PkgConfig REQUIRED)
pkg_check_modules(HIVE REQUIRED IMPORTED_TARGET libcreg libbfio libmspack)
# Virtual machines' disk files for uninst-sim --disk: libvmdk, and libnbd to read what qemu-nbd serves.
pkg_check_modules(VDISK REQUIRED IMPORTED_TARGET libnbd libvmdk)

if(UNINST_BENCH)
  add_subdirectory(${CMAKE_SOURCE_DIR}/bench ${CMAKE_BINARY_DIR}/bench)
  return()
endif()

if(UNINST_FUZZ)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/fuzz ${CMAKE_BINARY_DIR}/fuzz)
  return()
endif()

add_subdirectory(${CMAKE_SOURCE_DIR}/tools ${CMAKE_BINARY_DIR}/tools)
# make sample-files: the win98 sample's registry as a Windows 9x registry file, by the tests' writer.
add_executable(sample-hive ${CMAKE_SOURCE_DIR}/tests/support/SampleHive.cpp ${CMAKE_SOURCE_DIR}/tests/support/HiveWriter.cpp)
target_compile_options(sample-hive PRIVATE ${UNINST_WARNINGS})
target_link_libraries(sample-hive PRIVATE uninst_sim_tool)
# The release preset (`make demo`) builds the tools alone, without GoogleTest.
if(NOT UNINST_TESTS)
  return()
endif()

find_package(GTest REQUIRED)

file(GLOB_RECURSE UNINST_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/sim/*.cpp
  ${CMAKE_SOURCE_DIR}/tests/portable/*.cpp
  ${CMAKE_SOURCE_DIR}/tests/host/*.cpp)
add_executable(uninst_tests ${UNINST_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/TestMachineSim.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/MachineGenerator.cpp ${CMAKE_SOURCE_DIR}/tests/support/HiveWriter.cpp)
target_compile_options(uninst_tests PRIVATE ${UNINST_WARNINGS})
target_compile_definitions(uninst_tests PRIVATE UNINST_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
  UNINST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(uninst_tests PRIVATE uninst_sim_tool uninst_core platform_sim GTest::gtest GTest::gtest_main)
add_test(NAME sample_images_current
  COMMAND ${CMAKE_COMMAND} -E env python3 ${CMAKE_SOURCE_DIR}/samples/make-samples.py --check)
include(GoogleTest)
gtest_discover_tests(uninst_tests DISCOVERY_TIMEOUT 60)

# uninst-sim --disk on qcow2, VDI, VMDK, VHD and VHDX made from one FAT image, and the refusals of
# images that name files elsewhere or are encrypted (strace watches what is opened).
add_test(NAME virtual_disks
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/host/virtual-disks.sh $<TARGET_FILE:uninst-sim> ${CMAKE_BINARY_DIR}/virtual-disks)
# cmake --install to a fresh prefix, and the installed tool run from elsewhere.
add_test(NAME install_and_run
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/host/install-run.sh ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/install-run)
# The README's block of options is uninst-sim --help's text, as the man page is.
add_test(NAME readme_help_current
  COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/help-text.py $<TARGET_FILE:uninst-sim> --readme ${CMAKE_SOURCE_DIR}/README.md)
# The win98 sample as a registry file and as a disk image previews as the sample does.
add_test(NAME sample_files_preview
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/host/sample-files.sh $<TARGET_FILE:uninst-sim> $<TARGET_FILE:sample-hive>
    ${CMAKE_BINARY_DIR}/sample-files)
