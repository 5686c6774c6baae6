// Simulated machines shared by the end-to-end tests.
#ifndef UNINST_TESTS_HOST_MACHINES_H
#define UNINST_TESTS_HOST_MACHINES_H

#include <string>

// The package installed for one printer, configured (under Enum\LPTENUM) but not connected:
// the driver node, its device, port, monitor, ASD\Prob values, interface class and vendor keys.
inline const char TYPICAL_REGISTRY[] = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\USB\0000]
"NTKXDriver"="KXUSBPRT.SYS"
"ProviderName"="Talvo"
"ID"="VID_7A11&PID_0042"
"DeviceKey"="5&3A7B1C2&0&2"
"FriendlyName"="TUSB001"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print\Ports\TUSB001]
"Description"="Talvo USB Port"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print\Monitors\KXUSBMON]
"Driver"="KXUSBMON.DLL"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\ASD\Prob\{CF2524C0-29AE-11CF-97EA-00AA0034319D}]
"LPTENUM\\TALVOP1000\\TALVOP1000USB&VID_7A11&PID_00425&3A7B1C2&0&2"=hex:01,00,00,00
"USB\\VID_7A11&PID_0042\\5&3A7B1C2&0&2"=hex:01,00,00,00

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\ASD\Prob\{9B4E7760-3196-11CF-97EA-00AA0034319D}]
"USB\\VID_7A11&PID_0042\\5&3A7B1C2&0&2"=hex:02,00,00,00

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\DeviceClasses\{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}\##.#USB#VID_7A11&PID_0042#5&3A7B1C2&0&2#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}]
"DeviceInstance"="USB\\VID_7A11&PID_0042\\5&3A7B1C2&0&2"

[HKEY_LOCAL_MACHINE\Enum\USB\VID_7A11&PID_0042\5&3A7B1C2&0&2]
"idPrinterPNP"="TALVOP1000"
"SymbolicName"="\\\\.\\USB#VID_7A11&PID_0042#5&3A7B1C2&0&2#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}"

[HKEY_LOCAL_MACHINE\Enum\LPTENUM\TALVOP1000\TALVOP1000USB&VID_7A11&PID_00425&3A7B1C2&0&2]
"Class"="Printer"

[HKEY_LOCAL_MACHINE\Software\VRAX\USB\BDPM]
"Version"="1.20"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Setup\SetupX\INF\OEM Name]
"C:\\WINDOWS\\INF\\OTHER\\TalvoRWQUSB.INF"="RWQUSB.INF"

[HKEY_DYN_DATA\Config Manager\Enum\C1000000]
"HardWareKey"="ROOT\\*PNP0A03\\0000"

)";

// An INF of the package: a USB class INF whose provider names the brand through [Strings].
inline const char PACKAGE_INF[] =
    "[Version]\r\nSignature=\"$CHICAGO$\"\r\nClass=USB\r\nProvider=%Mfg%\r\n\r\n"
    "[Strings]\r\nMfg=\"Talvo\"\r\n";

#endif
