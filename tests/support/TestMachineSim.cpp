// The simulated machine behind the tests that also run under Wine.
#include "platform/sim/sim.h"
#include "tests/support/TestMachine.h"
#include "uninstall/UninstallState.h"

namespace testmachine {

namespace {
size_t g_ulTraceTaken = 0;
}

void ResetMachine() {
  sim::Reset();
  InitUninstallState();
  g_ulTraceTaken = 0;
}

void SeedKey(os::HKEY hRoot, const std::string &path) {
  sim::CreateKey(hRoot, path);
}

void SeedString(os::HKEY hRoot, const std::string &path, const std::string &name, const std::string &data) {
  sim::SetStringValue(hRoot, path, name, data);
}

void SeedBinary(os::HKEY hRoot, const std::string &path, const std::string &name, const std::string &data) {
  sim::SetValue(hRoot, path, name, os::REG_BINARY, data);
}

bool KeyExists(os::HKEY hRoot, const std::string &path) {
  return sim::KeyExists(hRoot, path);
}

bool ValueExists(os::HKEY hRoot, const std::string &path, const std::string &name) {
  return sim::GetValue(hRoot, path, name, nullptr);
}

void SeedFile(const std::string &winPath, const std::string &bytes) {
  sim::WriteFile(winPath, bytes);
}

bool FileBytes(const std::string &winPath, std::string *pBytes) {
  return sim::ReadFile(winPath, pBytes);
}

void SetReadOnly(const std::string &winPath) {
  sim::SetReadOnly(winPath, true);
}

void HoldInUse(const std::string &winPath) {
  sim::SetFileInUse(winPath, true);
}

std::vector<std::string> TakeTrace() {
  const std::vector<std::string> &trace = sim::Trace();
  std::vector<std::string> taken(trace.begin() + static_cast<std::ptrdiff_t>(g_ulTraceTaken), trace.end());
  g_ulTraceTaken = trace.size();
  return taken;
}

std::vector<std::string> OpenKeyHandles() {
  std::vector<std::string> keys;
  for (const std::string &handle : sim::OpenHandles()) {
    if (handle.compare(0, 4, "key ") == 0)
      keys.push_back(handle);
  }
  return keys;
}

}  // namespace testmachine
