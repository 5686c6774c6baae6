// The typical removal traced from the entry: one matching node with a configured printer,
// answered Yes, No, No. The whole trace and the whole registry afterwards are compared.
#include "platform/types.h"
#include "tests/host/Machines.h"
#include "tests/host/SimFixture.h"
#include "tools/uninst-sim/Load.h"
#include "uninstall/Uninst.h"

namespace {

// The registry side of the run: confirmation, version, class key, survey pass, removal pass.
const char REGISTRY_TRACE[] = R"( OsVersion <10> 
 Opened key <System\CurrentControlSet\Services\Class\USB> looking for <KXUSBPRT.SYS> result 0
 Enumerated subkey 0 <0000> result 0
 Opened Driver Node result 0
 Queried value <NTKXDriver>=<KXUSBPRT.SYS> result 0
 Queried value <ProviderName>=<Talvo> result 0
 Queried value <ID>=<VID_7A11&PID_0042> result 0
 Opened device type node <Enum\USB\VID_7A11&PID_0042> result 0
 Queried value <FriendlyName>=<TUSB001> result 0
 Queried value <DeviceKey>=<5&3A7B1C2&0&2> result 0
 Queried value <ID>=<VID_7A11&PID_0042> result 0
 Opened key <USB\VID_7A11&PID_0042\5&3A7B1C2&0&2> result 0
 Queried value <idPrinterPNP>=<TALVOP1000> result 0
Enumerating dynamic data key 1 result 259
 Opened key <Enum\LPTENUM\TALVOP1000\TALVOP1000USB&VID_7A11&PID_00425&3A7B1C2&0&2> result 0
Found #1 printer <Enum\LPTENUM\TALVOP1000\TALVOP1000USB&VID_7A11&PID_00425&3A7B1C2&0&2> configured
 Queried value <SymbolicName>=<\\.\USB#VID_7A11&PID_0042#5&3A7B1C2&0&2#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}> result 0
 Enumerated subkey 1 <> result 259
 Enumerated subkey 0 <0000> result 0
 Opened Driver Node result 0
 Queried value <NTKXDriver>=<KXUSBPRT.SYS> result 0
 Queried value <ID>=<VID_7A11&PID_0042> result 0
 Opened device type node <Enum\USB\VID_7A11&PID_0042> result 0
 Queried value <FriendlyName>=<TUSB001> result 0
 Opening key <System\CurrentControlSet\Control\Print\Ports> result 0
 Deleting subkey <TUSB001> result 0
 Queried value <DeviceKey>=<5&3A7B1C2&0&2> result 0
 Queried value <ID>=<VID_7A11&PID_0042> result 0
 Opened key <USB\VID_7A11&PID_0042\5&3A7B1C2&0&2> result 0
 Queried value <idPrinterPNP>=<TALVOP1000> result 0
 Opening key <Enum\LPTENUM\TALVOP1000> result 0
 Deleting subkey <TALVOP1000USB&VID_7A11&PID_00425&3A7B1C2&0&2> result 0
 Checking names[64] against <LPTENUM\TALVOP1000\TALVOP1000USB&VID_7A11&PID_00425&3A7B1C2&0&2>
 Opening key <System\CurrentControlSet\Control\ASD\Prob\{CF2524C0-29AE-11CF-97EA-00AA0034319D}> result 0
Comparing <LPTENUM\TALVOP1000\TALVOP1000USB&VID_7A11&PID_00425&3A7B1C2&0&2> 
 Deleting field <LPTENUM\TALVOP1000\TALVOP1000USB&VID_7A11&PID_00425&3A7B1C2&0&2> result 0
 Closing key <System\CurrentControlSet\Control\ASD\Prob\{CF2524C0-29AE-11CF-97EA-00AA0034319D}> 0 fields result 0
 Checking names[36] against <USB\VID_7A11&PID_0042\5&3A7B1C2&0&2>
 Opening key <System\CurrentControlSet\Control\ASD\Prob\{CF2524C0-29AE-11CF-97EA-00AA0034319D}> result 0
Comparing <USB\VID_7A11&PID_0042\5&3A7B1C2&0&2> 
 Deleting field <USB\VID_7A11&PID_0042\5&3A7B1C2&0&2> result 0
 Closing key <System\CurrentControlSet\Control\ASD\Prob\{CF2524C0-29AE-11CF-97EA-00AA0034319D}> 0 fields result 0
 Checking names[64] against <LPTENUM\TALVOP1000\TALVOP1000USB&VID_7A11&PID_00425&3A7B1C2&0&2>
 Opening key <System\CurrentControlSet\Control\ASD\Prob\{9B4E7760-3196-11CF-97EA-00AA0034319D}> result 0
 Enumerated field 1 <> result 259
 Closing key <System\CurrentControlSet\Control\ASD\Prob\{9B4E7760-3196-11CF-97EA-00AA0034319D}> 1 fields result 0
 Checking names[36] against <USB\VID_7A11&PID_0042\5&3A7B1C2&0&2>
 Opening key <System\CurrentControlSet\Control\ASD\Prob\{9B4E7760-3196-11CF-97EA-00AA0034319D}> result 0
Comparing <USB\VID_7A11&PID_0042\5&3A7B1C2&0&2> 
 Deleting field <USB\VID_7A11&PID_0042\5&3A7B1C2&0&2> result 0
 Closing key <System\CurrentControlSet\Control\ASD\Prob\{9B4E7760-3196-11CF-97EA-00AA0034319D}> 0 fields result 0
 Queried value <SymbolicName>=<\\.\USB#VID_7A11&PID_0042#5&3A7B1C2&0&2#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}> result 0
 Opening key <System\CurrentControlSet\Control\DeviceClasses> result 0
 Deleting subkey <{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}> result 0
 Deleting subkey <5&3A7B1C2&0&2> result 0
 Opening key <Enum\USB> result 0
 Opening subkey <VID_7A11&PID_0042> result 0
 Enumerated subkey 0 <> result 259
 Deleting subkey <VID_7A11&PID_0042> result 0
 Deleting subkey <0000> result 0
 Enumerated subkey 0 <> result 259
Removing reference to monitor <KXUSBMON>
 Opening key <System\CurrentControlSet\Control\Print\Monitors> result 0
 Deleting subkey <KXUSBMON> result 0
)";

// The leftover removal after the passes.
const char LEFTOVER_TRACE[] = R"( Opening key <ENUM> result 0
 Opening subkey <LPTENUM> result 0
 Enumerated subkey 0 <TALVOP1000> result 0
 Opening key <Software\VRAX\USB> result 0
 Deleting subkey <BDPM> result 0
 Opening key <Software\VRAX> result 0
 Opening subkey <USB> result 0
 Enumerated subkey 0 <> result 259
 Deleting subkey <USB> result 0
 Opening key <Software> result 0
 Opening subkey <VRAX> result 0
 Enumerated subkey 0 <> result 259
 Deleting subkey <VRAX> result 0
 Opening key <Software\Moravent2\USB> result 2
 Opening key <Software\Moravent2> result 2
 Opening key <Software> result 0
 Opening subkey <Moravent2> result 2
 GetSystemDirectory <C:\WINDOWS\SYSTEM> result 0
 Deleting File <C:\WINDOWS\SYSTEM\KXUSBMON.DLL> result 0
 Deleting File <C:\WINDOWS\SYSTEM\KXUSBPRT.SYS> result 0
 Deleting File <C:\WINDOWS\SYSTEM\KXUSBADD.DLL> result 0
 Queried value <OtherDevicePath>=<C:\WINDOWS\INF\OTHER\> result 0
 Checking names[37] against <C:\WINDOWS\INF\OTHER\TalvoRWQUSB.INF>
 Opening key <Software\Microsoft\Windows\CurrentVersion\Setup\SetupX\INF\OEM Name> result 0
Comparing <C:\WINDOWS\INF\OTHER\TalvoRWQUSB.INF> 
 Found field <C:\WINDOWS\INF\OTHER\TalvoRWQUSB.INF>
 Closing key <Software\Microsoft\Windows\CurrentVersion\Setup\SetupX\INF\OEM Name> 0 fields result 0
 Deleting File <C:\WINDOWS\INF\OTHER\TalvoRWQUSB.INF> result 0
 Queried value <OtherDevicePath>=<C:\WINDOWS\INF\> result 0
)";

// Everything of the package is gone; the empty parents and the OEM Name entry stay.
const char REGISTRY_AFTER[] = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\System]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\USB]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print\Ports]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print\Monitors]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\ASD]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\ASD\Prob]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\ASD\Prob\{CF2524C0-29AE-11CF-97EA-00AA0034319D}]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\ASD\Prob\{9B4E7760-3196-11CF-97EA-00AA0034319D}]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\DeviceClasses]

[HKEY_LOCAL_MACHINE\Enum]

[HKEY_LOCAL_MACHINE\Enum\USB]

[HKEY_LOCAL_MACHINE\Enum\LPTENUM]

[HKEY_LOCAL_MACHINE\Enum\LPTENUM\TALVOP1000]

[HKEY_LOCAL_MACHINE\Software]

[HKEY_LOCAL_MACHINE\Software\Microsoft]

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows]

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion]

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Setup]

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Setup\SetupX]

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Setup\SetupX\INF]

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Setup\SetupX\INF\OEM Name]
"C:\\WINDOWS\\INF\\OTHER\\TalvoRWQUSB.INF"="RWQUSB.INF"

[HKEY_DYN_DATA\Config Manager]

[HKEY_DYN_DATA\Config Manager\Enum]

[HKEY_DYN_DATA\Config Manager\Enum\C1000000]
"HardWareKey"="ROOT\\*PNP0A03\\0000"

)";

std::string Joined(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines)
    text += line;
  return text;
}

class TypicalRemoval : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    Load(Crlf(TYPICAL_REGISTRY));
    sim::WriteFile("C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS", "driver");
    sim::WriteFile("C:\\WINDOWS\\SYSTEM\\KXUSBMON.DLL", "monitor");
    sim::WriteFile("C:\\WINDOWS\\SYSTEM\\KXUSBADD.DLL", "add-on");
    sim::WriteFile("C:\\WINDOWS\\INF\\OTHER\\TalvoRWQUSB.INF", PACKAGE_INF);
  }
};

TEST_F(TypicalRemoval, TracesEveryStepAndLeavesTheExpectedRegistry) {
  sim::QueueAnswer(os::IDYES);
  sim::QueueAnswer(os::IDNO);
  sim::QueueAnswer(os::IDNO);
  EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(Joined(sim::Trace()), std::string(REGISTRY_TRACE) + LEFTOVER_TRACE);
  EXPECT_EQ(uninstsim::ExportRegistry(), Crlf(REGISTRY_AFTER));
  EXPECT_EQ(sim::ListFiles(), std::vector<std::string>());
  EXPECT_TRUE(sim::Restarts().empty());
  ASSERT_EQ(sim::MessageBoxes().size(), 3u);
}

}  // namespace
