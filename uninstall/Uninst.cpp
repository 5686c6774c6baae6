#include "uninstall/Uninst.h"

#include <cstring>

#include "device/PrinterDevice.h"
#include "device/ShortIdDevice.h"
#include "platform/dialogs.h"
#include "platform/registry.h"
#include "platform/restart.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/version.h"
#include "registry/KeyRemoval.h"
#include "registry/ValueRead.h"
#include "resources/strings.h"
#include "uninstall/Leftovers.h"
#include "uninstall/UninstallState.h"

namespace {

const char CLASS_KEY[] = "System\\CurrentControlSet\\Services\\Class\\USB";
const char TYPE_PREFIX[] = "Enum\\USB\\";
const char MONITORS_PREFIX[] = "System\\CurrentControlSet\\Control\\Print\\Monitors\\";
const char QUERIED_FORMAT[] = " Queried value <%s>=<%s> result %d\n";
const char TYPE_FORMAT[] = " Opened device type node <%s> result %d\n";
const int MONITOR_LENGTH_LIMIT = 334;
const os::UINT RESTART_FLAGS = os::EWX_SHUTDOWN | os::EWX_REBOOT;
const os::DWORD RESTART_RESERVED = 0xFFFFFFFFu;

const int CAPTION_FIRST = 1;

// Loads the two strings, in the order given (the confirmation loads its text first, the other
// boxes their caption first), and shows them.
int ShowMessage(os::UINT uTextId, os::UINT uCaptionId, os::UINT uStyle, int fCaptionFirst = 0) {
  char ucText[TEXT_SIZE] = "";
  char ucCaption[TEXT_SIZE] = "";
  os::HINSTANCE hInstance = os::GetModuleHandleA(nullptr);
  // Without the module handle there is no string table to read: the texts stay empty.
  if (hInstance != nullptr) {
    if (fCaptionFirst)
      os::LoadStringA(hInstance, uCaptionId, ucCaption, TEXT_SIZE);
    os::LoadStringA(hInstance, uTextId, ucText, TEXT_SIZE);
    if (!fCaptionFirst)
      os::LoadStringA(hInstance, uCaptionId, ucCaption, TEXT_SIZE);
  }
  return os::MessageBoxA(nullptr, ucText, ucCaption, uStyle);
}

void DetectOsForm() {
  os::OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  if (os::GetVersionExA(&version)) {
    if (version.dwMinorVersion == 10)
      g_State.iOsForm = 0;
    if (version.dwMinorVersion == 90)
      g_State.iOsForm = 1;
  }
  TraceLine(" OsVersion <%d> \n", static_cast<int>(version.dwMinorVersion));
}

// The verdict after the survey: 0 stops the run.
int GiveSurveyVerdict() {
  if (g_State.iConnectedCount > 0) {
    ShowMessage(IDS_CONNECTED_TEXT, IDS_VERDICT_CAPTION, os::MB_OK, CAPTION_FIRST);
    return 0;
  }
  if (g_State.iConfiguredCount > 0 &&
      ShowMessage(IDS_CONFIGURED_TEXT, IDS_VERDICT_CAPTION, os::MB_YESNO, CAPTION_FIRST) == os::IDYES) {
    return 0;
  }
  return 1;
}

// Cuts the ID in place before its second '&'; an ID with fewer is left whole.
void CutAtSecondAmpersand(char *pucId) {
  int iCount = 0;
  for (; *pucId != '\0'; ++pucId) {
    if (*pucId == '&' && ++iCount == 2) {
      *pucId = '\0';
      return;
    }
  }
}

void CleanShortIdType(os::HKEY hKeyNode, os::LONG lLastResult) {
  char ucTypePath[TEXT_SIZE];
  CutAtSecondAmpersand(g_State.ucSharedText);
  TraceLine(QUERIED_FORMAT, "ID", g_State.ucSharedText, lLastResult);
  CopyText(ucTypePath, sizeof ucTypePath, TYPE_PREFIX);
  AppendText(ucTypePath, sizeof ucTypePath, g_State.ucSharedText);
  os::HKEY hKeyShortType = nullptr;
  os::LONG lResult = os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, ucTypePath, 0, os::KEY_WRITE, &hKeyShortType);
  TraceLine(TYPE_FORMAT, ucTypePath, lResult);
  if (lResult != os::ERROR_SUCCESS)
    return;
  CleanShortIdDevice(hKeyShortType, hKeyNode);
  os::RegCloseKey(hKeyShortType);
}

// The device work of one matching node whose ID is in the shared text.
void CleanDeviceType(os::HKEY hKeyNode) {
  char ucTypePath[TEXT_SIZE];
  CopyText(ucTypePath, sizeof ucTypePath, TYPE_PREFIX);
  AppendText(ucTypePath, sizeof ucTypePath, g_State.ucSharedText);
  os::HKEY hKeyType = nullptr;
  os::LONG lLastResult = os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, ucTypePath, 0, os::KEY_WRITE, &hKeyType);
  TraceLine(TYPE_FORMAT, ucTypePath, lLastResult);
  if (lLastResult == os::ERROR_SUCCESS) {
    CleanPrinterDevice(hKeyType, hKeyNode);
    lLastResult = os::RegCloseKey(hKeyType);
  }
  if (g_State.uiPass != PASS_REMOVAL)
    return;
  RemoveKeyByPath(ucTypePath, 1);
  if (g_State.fShortId)
    CleanShortIdType(hKeyNode, lLastResult);
}

// Surveys or removes one driver node's devices; whether the node is one of the package's.
int HandleNode(os::HKEY hKeyNode, const char *pucDriverFile, char *ucProviderName) {
  os::LONG lResult = QueryTracedValue(hKeyNode, "NTKXDriver", g_State.ucSharedText, TEXT_LIMIT);
  if (lResult != os::ERROR_SUCCESS || !EqualNoCase(g_State.ucSharedText, pucDriverFile))
    return 0;
  if (ucProviderName[0] == '\0')
    QueryTracedValue(hKeyNode, "ProviderName", ucProviderName, PROVIDER_NAME_LIMIT);
  const os::DWORD ulIdLimit = TEXT_LIMIT - (sizeof TYPE_PREFIX - 1);
  if (QueryTracedValue(hKeyNode, "ID", g_State.ucSharedText, ulIdLimit) == os::ERROR_SUCCESS)
    CleanDeviceType(hKeyNode);
  return 1;
}

// Visits driver node ucNodeName; 1 when it was deleted, so its index now holds the next one.
int VisitNode(os::HKEY hKeyClass, const char *ucNodeName, const char *pucDriverFile, char *ucProviderName) {
  os::HKEY hKeyNode = nullptr;
  os::LONG lResult = os::RegOpenKeyExA(hKeyClass, ucNodeName, 0, os::KEY_ALL_ACCESS, &hKeyNode);
  TraceLine(" Opened Driver Node result %d\n", lResult);
  if (lResult != os::ERROR_SUCCESS)
    return 0;
  int fMatched = HandleNode(hKeyNode, pucDriverFile, ucProviderName);
  os::RegCloseKey(hKeyNode);
  if (!fMatched || g_State.uiPass != PASS_REMOVAL)
    return 0;
  lResult = os::RegDeleteKeyA(hKeyClass, ucNodeName);
  TraceLine(" Deleting subkey <%s> result %d\n", ucNodeName, lResult);
  return lResult == os::ERROR_SUCCESS;
}

void RemoveMonitorKey(const char *pucMonitor) {
  TraceLine("Removing reference to monitor <%s>\n", pucMonitor);
  std::size_t ulLength = std::strlen(pucMonitor);
  if (ulLength < 1 || ulLength >= MONITOR_LENGTH_LIMIT)
    return;
  char ucPath[TEXT_SIZE];
  CopyText(ucPath, sizeof ucPath, MONITORS_PREFIX);
  AppendText(ucPath, sizeof ucPath, pucMonitor);
  RemoveKeyByPath(ucPath, 0);
}

}  // namespace

void WalkDriverClass(os::HKEY hKeyClass, const char *pucDriverFile, const char *pucMonitor, char *ucProviderName) {
  char ucNodeName[TEXT_SIZE];
  for (int iIndex = 0;; ++iIndex) {
    ucNodeName[0] = '\0';
    os::LONG lResult = EnumSubkeyName(hKeyClass, static_cast<os::DWORD>(iIndex), ucNodeName, TEXT_LIMIT);
    TraceLine(" Enumerated subkey %d <%s> result %d\n", iIndex, ucNodeName, lResult);
    if (lResult != os::ERROR_SUCCESS)
      break;
    if (VisitNode(hKeyClass, ucNodeName, pucDriverFile, ucProviderName))
      --iIndex;
  }
  if (g_State.uiPass == PASS_REMOVAL)
    RemoveMonitorKey(pucMonitor);
}

int RunUninstall(const char *pucDriverFile, const char *pucMonitor) {
  int fProceed = 1;
  char ucProviderName[PROVIDER_NAME_SIZE];
  if (ShowMessage(IDS_CONFIRM_TEXT, IDS_CONFIRM_CAPTION, os::MB_YESNO) == os::IDNO)
    return 0;
  ucProviderName[0] = '\0';
  DetectOsForm();
  os::HKEY hKeyClass = nullptr;
  os::LONG lResult = os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, CLASS_KEY, 0, os::KEY_WRITE, &hKeyClass);
  TraceLine(" Opened key <%s> looking for <%s> result %d\n", CLASS_KEY, pucDriverFile, lResult);
  if (lResult != os::ERROR_SUCCESS)
    return 0;
  for (g_State.uiPass = PASS_SURVEY; fProceed && g_State.uiPass <= PASS_REMOVAL; ++g_State.uiPass) {
    WalkDriverClass(hKeyClass, pucDriverFile, pucMonitor, ucProviderName);
    if (g_State.uiPass == PASS_SURVEY)
      fProceed = GiveSurveyVerdict();
  }
  os::RegCloseKey(hKeyClass);
  if (!fProceed)
    return 0;
  RemoveLeftovers(pucDriverFile, pucMonitor, ucProviderName);
  if (ShowMessage(IDS_RESTART_TEXT, IDS_RESTART_CAPTION, os::MB_YESNO, CAPTION_FIRST) == os::IDYES) {
    os::ExitWindowsEx(RESTART_FLAGS, RESTART_RESERVED);
  }
  return 1;
}

extern "C" int UNINST_WINAPI WinMain(os::HINSTANCE, os::HINSTANCE, char *, int) {
  InitUninstallState();
  return RunUninstall("KXUSBPRT.SYS", "KXUSBMON") ? 0 : 5;
}
