// The whole uninstall, entry to exit code, on the bundled sample machine: the package installed
// beside a scanner of another maker. Exactly the package's things go, plus what the program
// removes by design beyond the package (the interface class key its symbolic name names).
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry.h"
#include "tests/host/SimFixture.h"
#include "tools/uninst-sim/Load.h"
#include "uninstall/Uninst.h"

namespace {

const std::string SAMPLE = std::string(UNINST_TEST_DATA) + "/../../samples/typical";
const os::HKEY HKLM = os::HKEY_LOCAL_MACHINE;

std::string ReadHostFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line))
    lines.push_back(line + "\n");
  return lines;
}

void LoadSample() {
  std::string error;
  ASSERT_TRUE(uninstsim::ImportRegistry(ReadHostFile(SAMPLE + "/registry.reg"), &error)) << error;
  std::filesystem::copy(SAMPLE + "/drive", sim::DriveRoot(),
                        std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
}

int RunSample() {
  sim::QueueAnswer(os::IDYES);
  sim::QueueAnswer(os::IDNO);
  sim::QueueAnswer(os::IDNO);
  return WinMain(nullptr, nullptr, nullptr, 0);
}

void DeleteKey(const std::string &parent, const char *pucLeaf) {
  os::HKEY hKey = nullptr;
  ASSERT_EQ(os::RegOpenKeyExA(HKLM, parent.c_str(), 0, os::KEY_WRITE, &hKey), 0) << parent;
  EXPECT_EQ(os::RegDeleteKeyA(hKey, pucLeaf), 0) << pucLeaf;
  os::RegCloseKey(hKey);
}

void DeleteValue(const std::string &path, const char *pucName) {
  os::HKEY hKey = nullptr;
  ASSERT_EQ(os::RegOpenKeyExA(HKLM, path.c_str(), 0, os::KEY_WRITE, &hKey), 0) << path;
  EXPECT_EQ(os::RegDeleteValueA(hKey, pucName), 0) << pucName;
  os::RegCloseKey(hKey);
}

// The sample's registry with exactly what the run must remove taken out by hand.
std::string ExpectedRegistry() {
  const std::string control = "System\\CurrentControlSet\\Control";
  DeleteKey("System\\CurrentControlSet\\Services\\Class\\USB", "0001");
  DeleteKey(control + "\\Print\\Ports", "TUSB001");
  DeleteKey(control + "\\Print\\Monitors", "KXUSBMON");
  DeleteKey(control + "\\DeviceClasses", "{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}");
  DeleteKey("Enum\\USB", "VID_7A11&PID_0042");
  DeleteKey("Enum\\LPTENUM\\TALVOP1000", "TALVOP1000USB&VID_7A11&PID_00425&3A7B1C2&0&2");
  DeleteKey("Software", "VRAX");
  DeleteKey("Software", "Moravent2");
  const std::string cf = control + "\\ASD\\Prob\\{CF2524C0-29AE-11CF-97EA-00AA0034319D}";
  const std::string nine = control + "\\ASD\\Prob\\{9B4E7760-3196-11CF-97EA-00AA0034319D}";
  DeleteValue(cf, "LPTENUM\\TALVOP1000\\TALVOP1000USB&VID_7A11&PID_00425&3A7B1C2&0&2");
  DeleteValue(cf, "USB\\VID_7A11&PID_0042\\5&3A7B1C2&0&2");
  DeleteValue(nine, "USB\\VID_7A11&PID_0042\\5&3A7B1C2&0&2");
  return uninstsim::ExportRegistry();
}

using WholeUninstall = SimTest;

TEST_F(WholeUninstall, RemovesExactlyThePackageAndTracesEveryStep) {
  LoadSample();
  std::string expected = ExpectedRegistry();
  sim::Reset();
  LoadSample();
  std::vector<std::string> filesBefore = sim::ListFiles();
  ASSERT_EQ(RunSample(), 0);
  EXPECT_EQ(uninstsim::ExportRegistry(), expected);
  std::vector<std::string> filesExpected;
  for (const std::string &file : filesBefore) {
    if (file.find("KXUSB") == std::string::npos && file.find("TalvoRWQUSB") == std::string::npos &&
        file != "C:\\WINDOWS\\INF\\RWQUSB.INF" && file != "C:\\WINDOWS\\INF\\ZNKMON.INF") {
      filesExpected.push_back(file);
    }
  }
  EXPECT_EQ(sim::ListFiles(), filesExpected);
  EXPECT_EQ(sim::Trace(), Lines(ReadHostFile(std::string(UNINST_TEST_DATA) + "/sample-typical-trace.txt")));
}

}  // namespace
