// The test machine over the real registry and C: drive under Wine: keys are seeded through the
// registry API and files through the file API; every key a test created, and the test folder, are
// removed again by the next ResetMachine().
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/files.h"
#include "platform/registry.h"
#include "tests/support/TestMachine.h"
#include "tests/win32/DebugCapture.h"
#include "tests/win32/Win32Calls.h"
#include "uninstall/UninstallState.h"

namespace {

// Keys the seeding created, in creation order; a reset deletes them newest first, so what the
// prefix held before the tests is never touched.
std::vector<std::pair<os::HKEY, std::string>> &CreatedKeys() {
  static std::vector<std::pair<os::HKEY, std::string>> keys;
  return keys;
}

const char *const FIXED_TEST_KEYS[] = {
    "Software\\VRAX",
    "Software\\Moravent2",
    "Software\\UninstTest",
    "System\\CurrentControlSet\\Control\\ASD",
};

[[noreturn]] void Fail(const std::string &what, os::LONG lResult) {
  std::fprintf(stderr, "test machine: %s failed with %ld\n", what.c_str(), static_cast<long>(lResult));
  std::abort();
}

// Creates path one component at a time, recording each component that did not exist yet.
// HKEY_DYN_DATA holds only volatile keys.
os::HKEY CreatePath(os::HKEY hRoot, const std::string &path) {
  os::DWORD dwOptions = hRoot == os::HKEY_DYN_DATA ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE;
  std::string::size_type pos = 0;
  for (;;) {
    std::string::size_type next = path.find('\\', pos);
    std::string prefix = path.substr(0, next);
    os::HKEY hKey = nullptr;
    os::DWORD dwDisposition = 0;
    os::LONG lResult = RegCreateKeyExA(hRoot, prefix.c_str(), 0, nullptr, dwOptions, os::KEY_ALL_ACCESS, nullptr, &hKey,
                                       &dwDisposition);
    if (lResult != os::ERROR_SUCCESS) {
      Fail("creating " + prefix, lResult);
    }
    if (dwDisposition == REG_CREATED_NEW_KEY) {
      CreatedKeys().emplace_back(hRoot, prefix);
    }
    if (next == std::string::npos) {
      return hKey;
    }
    os::RegCloseKey(hKey);
    pos = next + 1;
  }
}

void SetValue(os::HKEY hRoot, const std::string &path, const std::string &name, os::DWORD dwType,
              const std::string &data) {
  os::HKEY hKey = CreatePath(hRoot, path);
  os::LONG lResult = RegSetValueExA(hKey, name.c_str(), 0, dwType, reinterpret_cast<const os::BYTE *>(data.data()),
                                    static_cast<os::DWORD>(data.size()));
  os::RegCloseKey(hKey);
  if (lResult != os::ERROR_SUCCESS) {
    Fail("setting " + path + "\\" + name, lResult);
  }
}

// Handles that keep files in use until the next reset.
std::vector<os::HANDLE> &HeldFiles() {
  static std::vector<os::HANDLE> handles;
  return handles;
}

void RemoveTree(const std::string &folder) {
  os::WIN32_FIND_DATAA data;
  os::HANDLE hSearch = os::FindFirstFileA((folder + "\\*").c_str(), &data);
  if (hSearch != os::INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      std::string path = folder + "\\" + name;
      if (name == "." || name == "..") {
        continue;
      }
      if (data.dwFileAttributes & os::FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesA(path.c_str(), os::FILE_ATTRIBUTE_NORMAL);
        os::DeleteFileA(path.c_str());
      }
    } while (os::FindNextFileA(hSearch, &data));
    os::FindClose(hSearch);
  }
  RemoveDirectoryA(folder.c_str());
}

std::string WinInitPath() {
  char ucWindows[260] = {};
  os::GetWindowsDirectoryA(ucWindows, sizeof ucWindows);
  return std::string(ucWindows) + "\\WININIT.INI";
}

// WinInit.ini as the prefix had it before the first reset: put back by every reset.
void RestoreWinInit() {
  static bool fSaved = false;
  static bool fExisted = false;
  static std::string bytes;
  if (!fSaved) {
    fExisted = testmachine::FileBytes(WinInitPath(), &bytes);
    fSaved = true;
  }
  if (fExisted) {
    testmachine::SeedFile(WinInitPath(), bytes);
  } else {
    os::DeleteFileA(WinInitPath().c_str());
  }
}

}  // namespace

namespace testmachine {

void ResetMachine() {
  for (os::HANDLE hFile : HeldFiles()) {
    os::CloseHandle(hFile);
  }
  HeldFiles().clear();
  RemoveTree(TEST_FOLDER);
  RestoreWinInit();
  std::vector<std::pair<os::HKEY, std::string>> &keys = CreatedKeys();
  for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
    os::RegDeleteKeyA(it->first, it->second.c_str());
  }
  keys.clear();
  for (const char *pucKey : FIXED_TEST_KEYS) {
    os::RegDeleteKeyA(os::HKEY_LOCAL_MACHINE, pucKey);
  }
  InitUninstallState();
  debugcapture::Take();
}

void SeedKey(os::HKEY hRoot, const std::string &path) {
  os::RegCloseKey(CreatePath(hRoot, path));
}

void SeedString(os::HKEY hRoot, const std::string &path, const std::string &name, const std::string &data) {
  SetValue(hRoot, path, name, os::REG_SZ, std::string(data).append(1, '\0'));
}

void SeedBinary(os::HKEY hRoot, const std::string &path, const std::string &name, const std::string &data) {
  SetValue(hRoot, path, name, os::REG_BINARY, data);
}

bool KeyExists(os::HKEY hRoot, const std::string &path) {
  os::HKEY hKey = nullptr;
  if (os::RegOpenKeyExA(hRoot, path.c_str(), 0, os::KEY_READ, &hKey) != os::ERROR_SUCCESS) {
    return false;
  }
  os::RegCloseKey(hKey);
  return true;
}

bool ValueExists(os::HKEY hRoot, const std::string &path, const std::string &name) {
  os::HKEY hKey = nullptr;
  if (os::RegOpenKeyExA(hRoot, path.c_str(), 0, os::KEY_READ, &hKey) != os::ERROR_SUCCESS) {
    return false;
  }
  os::DWORD cbData = 0;
  os::LONG lResult = os::RegQueryValueExA(hKey, name.c_str(), nullptr, nullptr, nullptr, &cbData);
  os::RegCloseKey(hKey);
  return lResult == os::ERROR_SUCCESS || lResult == os::ERROR_MORE_DATA;
}

void SeedFile(const std::string &winPath, const std::string &bytes) {
  for (std::string::size_type pos = winPath.find('\\', 3); pos != std::string::npos;
       pos = winPath.find('\\', pos + 1)) {
    CreateDirectoryA(winPath.substr(0, pos).c_str(), nullptr);
  }
  os::HANDLE hFile = os::CreateFileA(winPath.c_str(), os::GENERIC_WRITE, 0, nullptr, os::CREATE_ALWAYS,
                                     os::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == os::INVALID_HANDLE_VALUE) {
    Fail("creating " + winPath, static_cast<os::LONG>(os::GetLastError()));
  }
  os::DWORD cbWritten = 0;
  os::BOOL fWritten = WriteFile(hFile, bytes.data(), static_cast<os::DWORD>(bytes.size()), &cbWritten, nullptr);
  os::CloseHandle(hFile);
  if (!fWritten || cbWritten != bytes.size()) {
    Fail("writing " + winPath, static_cast<os::LONG>(os::GetLastError()));
  }
}

bool FileBytes(const std::string &winPath, std::string *pBytes) {
  os::HANDLE hFile = os::CreateFileA(winPath.c_str(), os::GENERIC_READ, os::FILE_SHARE_READ, nullptr, os::OPEN_EXISTING,
                                     os::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == os::INVALID_HANDLE_VALUE) {
    return false;
  }
  std::string bytes;
  char ucChunk[4096];
  os::DWORD cbRead = 0;
  while (os::ReadFile(hFile, ucChunk, sizeof ucChunk, &cbRead, nullptr) && cbRead > 0) {
    bytes.append(ucChunk, cbRead);
  }
  os::CloseHandle(hFile);
  if (pBytes != nullptr) {
    *pBytes = bytes;
  }
  return true;
}

void SetReadOnly(const std::string &winPath) {
  if (!SetFileAttributesA(winPath.c_str(), os::FILE_ATTRIBUTE_READONLY)) {
    Fail("marking " + winPath + " read-only", static_cast<os::LONG>(os::GetLastError()));
  }
}

void HoldInUse(const std::string &winPath) {
  os::HANDLE hFile = os::CreateFileA(winPath.c_str(), os::GENERIC_READ, 0, nullptr, os::OPEN_EXISTING,
                                     os::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == os::INVALID_HANDLE_VALUE) {
    Fail("opening " + winPath, static_cast<os::LONG>(os::GetLastError()));
  }
  HeldFiles().push_back(hFile);
}

std::vector<std::string> TakeTrace() {
  return debugcapture::Take();
}

std::vector<std::string> OpenKeyHandles() {
  return {};
}

}  // namespace testmachine
