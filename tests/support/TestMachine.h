// What a test needs of the machine it runs on, for the tests that run both on the simulated
// machine (host build) and through the real Win32 calls under Wine (win32-tests build). The
// registry is seeded through the registry API on both.
#ifndef UNINST_TESTS_SUPPORT_TESTMACHINE_H
#define UNINST_TESTS_SUPPORT_TESTMACHINE_H

#include <string>
#include <vector>

#include "platform/types.h"

namespace testmachine {

/// The folder file tests work in.
const char TEST_FOLDER[] = "C:\\UNINSTTEST";

/// Starts a test on a clean machine and a fresh uninstall state. Simulation: a reset machine.
/// Wine: the keys tests may create (HKLM\Software\VRAX, HKLM\Software\Moravent2,
/// HKLM\Software\UninstTest, HKLM\System\CurrentControlSet\Control\ASD) and TEST_FOLDER are
/// removed, the files held in use are let go, and WinInit.ini in the Windows directory is put back
/// as the prefix had it before the first reset.
void ResetMachine();
/// Creates a key and its missing parents.
void SeedKey(os::HKEY hRoot, const std::string &path);
/// Sets a text value, creating the key when needed.
void SeedString(os::HKEY hRoot, const std::string &path, const std::string &name, const std::string &data);
/// Sets a binary value, creating the key when needed.
void SeedBinary(os::HKEY hRoot, const std::string &path, const std::string &name, const std::string &data);
bool KeyExists(os::HKEY hRoot, const std::string &path);
bool ValueExists(os::HKEY hRoot, const std::string &path, const std::string &name);
/// Writes a file with the given bytes, creating its missing folders.
void SeedFile(const std::string &winPath, const std::string &bytes);
/// Whether a file exists; *pBytes (when given) receives its bytes.
bool FileBytes(const std::string &winPath, std::string *pBytes);
/// Marks a file read-only.
void SetReadOnly(const std::string &winPath);
/// Keeps a file in use until the next reset. Simulation: as Windows 98 holds a loaded driver
/// (DeleteFileA fails with 5). Wine: a handle holds it open unshared (DeleteFileA fails with 32).
void HoldInUse(const std::string &winPath);
/// The trace lines written since the last ResetMachine() or TakeTrace(), then forgets them.
std::vector<std::string> TakeTrace();
/// Registry handles still open that the test did not open itself; empty when every key the
/// product opened was closed (Wine: always empty, the check is the simulation's).
std::vector<std::string> OpenKeyHandles();

}  // namespace testmachine

#endif
