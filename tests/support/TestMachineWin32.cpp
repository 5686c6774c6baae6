// The test machine over the real registry under Wine: keys are seeded through the registry API
// and every key a test created is removed again by the next ResetMachine().
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

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

}  // namespace

namespace testmachine {

void ResetMachine() {
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

std::vector<std::string> TakeTrace() {
  return debugcapture::Take();
}

std::vector<std::string> OpenKeyHandles() {
  return {};
}

}  // namespace testmachine
