// The whole uninstall on a machine built from the fuzz input:
//   byte 0: bit 0 Windows ME, bit 1 MoveFileExA supported, bit 2 the driver file in use,
//           bits 3-4 which Yes/No boxes are answered Yes (the confirmation always is);
//   the rest, split at "\n##\n": a REGEDIT4 image (header added when missing), WinInit.ini, and
//   INF files, placed in turn as INF\OTHER\TalvoRWQ<n>.INF and INF\RWQ<n>.INF.
// Whatever the machine holds: no crash, no handle left open, no misuse, exit code 0 or 5.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tools/uninst-sim/Load.h"
#include "uninstall/Uninst.h"
#include "uninstall/UninstallState.h"

namespace {

std::vector<std::string> Split(const std::string &text, const std::string &separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos)
      return parts;
    start = at + separator.size();
  }
}

int g_iFlags = 0;
int g_iYesNo = 0;

int Answer(const sim::MessageBoxRecord &box) {
  if ((box.uStyle & 0x0F) == os::MB_OK)
    return os::IDOK;
  int iBox = g_iYesNo++;
  return iBox == 0 || ((g_iFlags >> (2 + iBox)) & 1) != 0 ? os::IDYES : os::IDNO;
}

void Build(const std::vector<std::string> &parts) {
  std::string image = parts[0].compare(0, 8, "REGEDIT4") == 0 ? parts[0] : "REGEDIT4\r\n\r\n" + parts[0];
  std::string error;
  uninstsim::ImportRegistry(image, &error);
  if (parts.size() > 1)
    sim::WriteFile("C:\\WINDOWS\\WININIT.INI", parts[1]);
  for (size_t i = 2; i < parts.size() && i < 10; ++i) {
    std::string number = std::to_string(i - 2);
    sim::WriteFile((i % 2 == 0 ? "C:\\WINDOWS\\INF\\OTHER\\TalvoRWQ" : "C:\\WINDOWS\\INF\\RWQ") + number + ".INF",
                   parts[i]);
  }
  sim::WriteFile("C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS", "MZ");
  sim::WriteFile("C:\\WINDOWS\\SYSTEM\\KXUSBMON.DLL", "MZ");
  if (g_iFlags & 4)
    sim::SetFileInUse("C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS", true);
  sim::SetMinorVersion(g_iFlags & 1 ? 90 : 10);
  sim::SetMoveFileExSupported((g_iFlags & 2) != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t ulSize) {
  if (ulSize < 1)
    return 0;
  sim::Reset();
  g_iFlags = pData[0];
  g_iYesNo = 0;
  Build(Split(std::string(reinterpret_cast<const char *>(pData) + 1, ulSize - 1), "\n##\n"));
  sim::SetAnswerSource(Answer);
  InitUninstallState();
  int iExit = WinMain(nullptr, nullptr, nullptr, 0);
  sim::SetAnswerSource(nullptr);
  if ((iExit != 0 && iExit != 5) || !sim::OpenHandles().empty() || !sim::Problems().empty())
    __builtin_trap();
  return 0;
}
