// The driver class walk and the device cleanups, one pass at a time.
#include <algorithm>

#include "device/PrinterDevice.h"
#include "platform/registry.h"
#include "tests/host/SimFixture.h"
#include "uninstall/Uninst.h"

namespace {

const char CLASS_KEY[] = "System\\CurrentControlSet\\Services\\Class\\USB";
const os::HKEY HKLM = os::HKEY_LOCAL_MACHINE;

class Walk : public SimTest {
 protected:
  void Pass(unsigned uiPass, const char *pucMonitor = "KXUSBMON") {
    g_State.uiPass = uiPass;
    os::HKEY hKeyClass = nullptr;
    ASSERT_EQ(os::RegOpenKeyExA(HKLM, CLASS_KEY, 0, os::KEY_WRITE, &hKeyClass), 0);
    WalkDriverClass(hKeyClass, "KXUSBPRT.SYS", pucMonitor, ucProviderName);
    os::RegCloseKey(hKeyClass);
  }
  static bool Traced(const std::string &line) {
    const std::vector<std::string> &trace = sim::Trace();
    return std::find(trace.begin(), trace.end(), line) != trace.end();
  }
  static bool TracedPrefix(const std::string &prefix) {
    for (const std::string &line : sim::Trace()) {
      if (line.compare(0, prefix.size(), prefix) == 0)
        return true;
    }
    return false;
  }
  static bool Exists(const std::string &path) {
    return sim::KeyExists(HKLM, path);
  }
  static void Node(const std::string &name, const std::string &driver, const std::string &id,
                   const std::string &deviceKey) {
    std::string path = std::string(CLASS_KEY) + "\\" + name;
    sim::CreateKey(HKLM, path);
    if (!driver.empty())
      sim::SetStringValue(HKLM, path, "NTKXDriver", driver);
    if (!id.empty())
      sim::SetStringValue(HKLM, path, "ID", id);
    if (!deviceKey.empty())
      sim::SetStringValue(HKLM, path, "DeviceKey", deviceKey);
  }
  static void Instance(const std::string &path, const std::string &pnp, const std::string &symbolic) {
    sim::CreateKey(HKLM, path);
    if (!pnp.empty())
      sim::SetStringValue(HKLM, path, "idPrinterPNP", pnp);
    if (!symbolic.empty())
      sim::SetStringValue(HKLM, path, "SymbolicName", symbolic);
  }
  char ucProviderName[PROVIDER_NAME_SIZE] = "";
};

TEST_F(Walk, OnlyThePackagesNodesGoAndAdjacentOnesAreBothDeleted) {
  Node("0000", "OTHER.SYS", "VID_1&PID_1", "1&1&1&1");
  Node("0001", "kxusbprt.sys", "", "");
  Node("0002", "KXUSBPRT.SYS", "", "");
  Node("0003", "", "VID_2&PID_2", "");
  Node("0004", "KXUSBPRT.SYS.OLD", "", "");
  Pass(PASS_REMOVAL);
  EXPECT_TRUE(Exists(std::string(CLASS_KEY) + "\\0000"));
  EXPECT_FALSE(Exists(std::string(CLASS_KEY) + "\\0001"));
  EXPECT_FALSE(Exists(std::string(CLASS_KEY) + "\\0002"));
  EXPECT_TRUE(Exists(std::string(CLASS_KEY) + "\\0003"));
  EXPECT_TRUE(Exists(std::string(CLASS_KEY) + "\\0004"));
  EXPECT_TRUE(Traced(" Deleting subkey <0001> result 0\n"));
  EXPECT_TRUE(Traced(" Deleting subkey <0002> result 0\n"));
  // A node without the value traces the shared buffer as the last read left it.
  EXPECT_TRUE(Traced(" Queried value <NTKXDriver>=<KXUSBPRT.SYS> result 2\n"));
}

TEST_F(Walk, AnEmptyClassKeyEndsAtOnceAndPass2RemovesTheMonitorKey) {
  sim::CreateKey(HKLM, CLASS_KEY);
  sim::CreateKey(HKLM, "System\\CurrentControlSet\\Control\\Print\\Monitors\\KXUSBMON\\Sub");
  Pass(PASS_SURVEY);
  EXPECT_EQ(sim::Trace(), std::vector<std::string>{" Enumerated subkey 0 <> result 259\n"});
  Pass(PASS_REMOVAL);
  EXPECT_FALSE(Exists("System\\CurrentControlSet\\Control\\Print\\Monitors\\KXUSBMON"));
}

TEST_F(Walk, MonitorNamesOfLength0And334RemoveNoKey) {
  sim::CreateKey(HKLM, CLASS_KEY);
  sim::CreateKey(HKLM, "System\\CurrentControlSet\\Control\\Print\\Monitors\\Keep");
  std::string longName(334, 'm');
  Pass(PASS_REMOVAL, "");
  Pass(PASS_REMOVAL, longName.c_str());
  EXPECT_EQ(sim::Trace(),
            (std::vector<std::string>{" Enumerated subkey 0 <> result 259\n", "Removing reference to monitor <>\n",
                                      " Enumerated subkey 0 <> result 259\n",
                                      "Removing reference to monitor <" + longName + ">\n"}));
  EXPECT_TRUE(Exists("System\\CurrentControlSet\\Control\\Print\\Monitors\\Keep"));
}

TEST_F(Walk, ANodeWhoseIdCannotBeReadGetsNoDeviceWorkButIsDeleted) {
  Node("0000", "KXUSBPRT.SYS", "", "5&1&0&1");
  Pass(PASS_REMOVAL);
  EXPECT_FALSE(TracedPrefix(" Opened device type node"));
  EXPECT_FALSE(Exists(std::string(CLASS_KEY) + "\\0000"));
}

TEST_F(Walk, AnIdWithTwoAmpersandsCleansTheShortFormAndKeepsItsTypeKey) {
  Node("0000", "KXUSBPRT.SYS", "VID_7A11&PID_0042&MI_00", "5&3A7B1C2&0&00_MI_00");
  Instance("Enum\\USB\\VID_7A11&PID_0042&MI_00\\5&3A7B1C2&0&00_MI_00", "TALVOP1000", "\\\\.\\X#{11111111-0000}");
  Instance("Enum\\USB\\VID_7A11&PID_0042\\00_MI_00", "", "\\\\.\\Y#{22222222-0000}");
  sim::CreateKey(HKLM, "System\\CurrentControlSet\\Control\\DeviceClasses\\{11111111-0000}\\a");
  sim::CreateKey(HKLM, "System\\CurrentControlSet\\Control\\DeviceClasses\\{22222222-0000}\\b");
  Pass(PASS_REMOVAL);
  EXPECT_TRUE(Traced("pucDeviceKey I_00 11 3\n"));
  EXPECT_TRUE(Traced(" Queried value <ID>=<VID_7A11&PID_0042> result 0\n"));
  EXPECT_TRUE(Traced(" Opened device type node <Enum\\USB\\VID_7A11&PID_0042> result 0\n"));
  EXPECT_TRUE(Traced("pucDeviceKey 00_MI_00 11 3\n"));
  EXPECT_TRUE(Traced(" Opened key <USB\\VID_7A11&PID_0042\\00_MI_00> result 0\n"));
  EXPECT_FALSE(Exists("System\\CurrentControlSet\\Control\\DeviceClasses\\{11111111-0000}"));
  EXPECT_FALSE(Exists("System\\CurrentControlSet\\Control\\DeviceClasses\\{22222222-0000}"));
  EXPECT_FALSE(Exists("Enum\\USB\\VID_7A11&PID_0042&MI_00"));
  EXPECT_TRUE(Exists("Enum\\USB\\VID_7A11&PID_0042\\00_MI_00"));
}

TEST_F(Walk, TheLptenumNameFollowsTheWindowsForm) {
  Node("0000", "KXUSBPRT.SYS", "VID_1&PID_2&MI_00", "5&AB&0&12345678");
  Instance("Enum\\USB\\VID_1&PID_2&MI_00\\5&AB&0&12345678", "PNP1", "");
  g_State.iOsForm = 0;
  Pass(PASS_SURVEY);
  EXPECT_TRUE(Traced(" Opened key <Enum\\LPTENUM\\PNP1\\PNP1USB&VID_1&PID_2&MI_005678> result 2\n"));
  g_State.iOsForm = 1;
  Pass(PASS_SURVEY);
  EXPECT_TRUE(Traced(" Opened key <Enum\\LPTENUM\\PNP1\\PNP1USB&VID_1&PID_2&MI_002345678> result 2\n"));
  // With no SymbolicName the survey's scratch buffer still holds the LPTENUM path.
  EXPECT_TRUE(
      Traced(" Queried value <SymbolicName>=<Enum\\LPTENUM\\PNP1\\PNP1USB&VID_1&PID_2&MI_002345678> result 2\n"));
}

TEST_F(Walk, ConnectedAndConfiguredAreCountedWithACaseSensitiveHardwareMatch) {
  Node("0000", "KXUSBPRT.SYS", "VID_1&PID_2", "5&AB&0&1");
  Instance("Enum\\USB\\VID_1&PID_2\\5&AB&0&1", "PNP1", "");
  sim::CreateKey(HKLM, "Enum\\LPTENUM\\PNP1\\PNP1USB&VID_1&PID_25&AB&0&1");
  sim::SetStringValue(os::HKEY_DYN_DATA, "Config Manager\\Enum\\A", "HardWareKey", "usb\\vid_1&pid_2\\5&ab&0&1");
  sim::CreateKey(os::HKEY_DYN_DATA, "Config Manager\\Enum\\B");
  sim::SetStringValue(os::HKEY_DYN_DATA, "Config Manager\\Enum\\C", "HardWareKey", "USB\\VID_1&PID_2\\5&AB&0&1");
  sim::SetStringValue(os::HKEY_DYN_DATA, "Config Manager\\Enum\\D", "HardWareKey", "USB\\VID_1&PID_2\\5&AB&0&1");
  Pass(PASS_SURVEY);
  EXPECT_EQ(g_State.iConnectedCount, 1);
  EXPECT_EQ(g_State.iConfiguredCount, 1);
  EXPECT_TRUE(Traced("Found #1 device <USB\\VID_1&PID_2\\5&AB&0&1> in dynamic data\n"));
  EXPECT_FALSE(TracedPrefix("Enumerating dynamic data key"));  // the walk stopped at C
  EXPECT_TRUE(Traced("Found #1 printer <Enum\\LPTENUM\\PNP1\\PNP1USB&VID_1&PID_25&AB&0&1> configured\n"));
  EXPECT_TRUE(Exists("Enum\\USB\\VID_1&PID_2\\5&AB&0&1"));
}

TEST_F(Walk, ASymbolicNameWithoutABraceRemovesNoInterfaceClass) {
  Node("0000", "KXUSBPRT.SYS", "VID_1&PID_2", "5&AB&0&1");
  Instance("Enum\\USB\\VID_1&PID_2\\5&AB&0&1", "", "\\\\.\\USB#VID_1&PID_2#5&AB&0&1");
  Pass(PASS_REMOVAL);
  EXPECT_FALSE(TracedPrefix(" Opening key <System\\CurrentControlSet\\Control\\DeviceClasses>"));
  EXPECT_FALSE(Exists("Enum\\USB\\VID_1&PID_2"));
}

TEST_F(Walk, AnIdOf50CharactersFailsTheDeviceReadAndOpensNoInstance) {
  std::string id = "VID_1&PID_2&" + std::string(38, 'x');
  Node("0000", "KXUSBPRT.SYS", id, "5&AB&0&1");
  g_State.fShortId = 1;
  Instance("Enum\\USB\\" + id + "\\5&AB&0&1", "PNP1", "");
  Pass(PASS_SURVEY);
  EXPECT_TRUE(Traced(" Queried value <ID>=<> result 234\n"));
  EXPECT_EQ(g_State.fShortId, 0);
  EXPECT_FALSE(TracedPrefix(" Opened key"));
  EXPECT_FALSE(TracedPrefix("pucDeviceKey"));
}

TEST_F(Walk, DeviceKeyTailStaysInsideTheValue) {
  const char ucFew[] = "5&AB&1";
  EXPECT_EQ(DeviceKeyTail(ucFew, 5), ucFew);
  const char ucShort[] = "5&AB&0&12";
  EXPECT_EQ(DeviceKeyTail(ucShort, 5), ucShort + 9);
  EXPECT_STREQ(DeviceKeyTail(ucShort, 2), "2");
  EXPECT_EQ(sim::Trace(),
            (std::vector<std::string>{"pucDeviceKey 5&AB&1 -1 2\n", "pucDeviceKey  6 3\n", "pucDeviceKey 2 6 3\n"}));
}

TEST_F(Walk, TheFirstReadableProviderNameIsKept) {
  Node("0000", "KXUSBPRT.SYS", "", "");
  Node("0001", "KXUSBPRT.SYS", "", "");
  sim::SetStringValue(HKLM, std::string(CLASS_KEY) + "\\0000", "ProviderName", std::string(39, 'p'));
  sim::SetStringValue(HKLM, std::string(CLASS_KEY) + "\\0001", "ProviderName", "Talvo");
  Pass(PASS_SURVEY);
  EXPECT_STREQ(ucProviderName, "Talvo");
}

}  // namespace
