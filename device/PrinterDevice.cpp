#include "device/PrinterDevice.h"

#include <cstring>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "registry/KeyRemoval.h"
#include "registry/ValueRead.h"
#include "registry/ValueRemoval.h"
#include "uninstall/UninstallState.h"

namespace {

const char PORTS_PREFIX[] = "System\\CurrentControlSet\\Control\\Print\\Ports\\";
const char ASD_PROB_PREFIX[] = "System\\CurrentControlSet\\Control\\ASD\\Prob\\";
const char *const ASD_PROB_CLASSES[] = {"{CF2524C0-29AE-11CF-97EA-00AA0034319D}",
                                        "{9B4E7760-3196-11CF-97EA-00AA0034319D}"};
const char INTERFACE_PREFIX[] = "System\\CurrentControlSet\\Control\\DeviceClasses\\";
const char DYNAMIC_ENUM_KEY[] = "Config Manager\\Enum";

const int ME_OFFSET = 2;
const int WIN98_OFFSET = 5;

void RemovePortKey(const char *ucFriendlyName) {
  char ucPath[TEXT_SIZE];
  CopyText(ucPath, sizeof ucPath, PORTS_PREFIX);
  AppendText(ucPath, sizeof ucPath, ucFriendlyName);
  RemoveKeyByPath(ucPath, 0);
}

// Whether the dynamic data subkey opened as hKeyEntry names the device as live.
int IsLiveDevice(os::HKEY hKeyEntry, const char *ucUsbName, char *ucScratch) {
  return QueryTextValue(hKeyEntry, "HardWareKey", ucScratch, TEXT_LIMIT) == os::ERROR_SUCCESS &&
         std::strcmp(ucScratch, ucUsbName) == 0;
}

void CheckConnected(const char *ucUsbName, char *ucScratch) {
  os::HKEY hKeyEnum = nullptr;
  if (os::RegOpenKeyExA(os::HKEY_DYN_DATA, DYNAMIC_ENUM_KEY, 0, os::KEY_READ, &hKeyEnum) != os::ERROR_SUCCESS)
    return;
  for (int iIndex = 0;; ++iIndex) {
    os::LONG lResult = EnumSubkeyName(hKeyEnum, static_cast<os::DWORD>(iIndex), ucScratch, TEXT_LIMIT);
    if (lResult != os::ERROR_SUCCESS) {
      TraceLine("Enumerating dynamic data key %d result %d\n", iIndex, lResult);
      break;
    }
    os::HKEY hKeyEntry = nullptr;
    if (os::RegOpenKeyExA(hKeyEnum, ucScratch, 0, os::KEY_READ, &hKeyEntry) != os::ERROR_SUCCESS)
      continue;
    int fLive = IsLiveDevice(hKeyEntry, ucUsbName, ucScratch);
    os::RegCloseKey(hKeyEntry);
    if (fLive) {
      ++g_State.iConnectedCount;
      TraceLine("Found #%d device <%s> in dynamic data\n", g_State.iConnectedCount, ucScratch);
      break;
    }
  }
  os::RegCloseKey(hKeyEnum);
}

void CheckConfigured(const char *ucLptName, char *ucScratch) {
  CopyText(ucScratch, TEXT_SIZE, "Enum\\");
  AppendText(ucScratch, TEXT_SIZE, ucLptName);
  os::HKEY hKeyPrinter = nullptr;
  os::LONG lResult = os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, ucScratch, 0, os::KEY_READ, &hKeyPrinter);
  TraceLine(" Opened key <%s> result %d\n", ucScratch, lResult);
  if (lResult != os::ERROR_SUCCESS)
    return;
  ++g_State.iConfiguredCount;
  TraceLine("Found #%d printer <%s> configured\n", g_State.iConfiguredCount, ucScratch);
  os::RegCloseKey(hKeyPrinter);
}

void RemovePrinterEntries(const char *ucLptName, const char *ucUsbName) {
  char ucPath[TEXT_SIZE];
  CopyText(ucPath, sizeof ucPath, "Enum\\");
  AppendText(ucPath, sizeof ucPath, ucLptName);
  RemoveKeyByPath(ucPath, 0);
  for (const char *pucClass : ASD_PROB_CLASSES) {
    CopyText(ucPath, sizeof ucPath, ASD_PROB_PREFIX);
    AppendText(ucPath, sizeof ucPath, pucClass);
    RemoveValueByName(ucLptName, std::strlen(ucLptName) + 1, ucPath);
    RemoveValueByName(ucUsbName, std::strlen(ucUsbName) + 1, ucPath);
  }
}

// The printer's LPTENUM instance name: LPTENUM\<pnp>\<pnp>USB&<ID><device key part>.
void BuildLptName(char *ucLptName, const char *ucId, const char *pucKeyPart) {
  const char *pucPnpId = g_State.ucPrinterPnpId;
  CopyText(ucLptName, TEXT_SIZE, "LPTENUM\\");
  AppendText(ucLptName, TEXT_SIZE, pucPnpId);
  AppendText(ucLptName, TEXT_SIZE, "\\");
  AppendText(ucLptName, TEXT_SIZE, pucPnpId);
  AppendText(ucLptName, TEXT_SIZE, "USB&");
  AppendText(ucLptName, TEXT_SIZE, ucId);
  AppendText(ucLptName, TEXT_SIZE, pucKeyPart);
}

void HandlePrinter(const char *ucId, const char *pucKeyPart, const char *ucUsbName, char *ucScratch) {
  char ucLptName[TEXT_SIZE];
  BuildLptName(ucLptName, ucId, pucKeyPart);
  if (g_State.uiPass == PASS_REMOVAL) {
    RemovePrinterEntries(ucLptName, ucUsbName);
  } else {
    CheckConnected(ucUsbName, ucScratch);
    CheckConfigured(ucLptName, ucScratch);
  }
}

// The instance key's printer, interface class and the key itself.
void HandleInstance(os::HKEY hKeyType, os::HKEY hKeyInstance, const char *ucDeviceKey, const char *ucId,
                    const char *pucKeyPart, const char *ucUsbName) {
  char ucScratch[TEXT_SIZE] = "";
  if (QueryTracedValue(hKeyInstance, "idPrinterPNP", g_State.ucPrinterPnpId, PNP_ID_LIMIT) == os::ERROR_SUCCESS) {
    HandlePrinter(ucId, pucKeyPart, ucUsbName, ucScratch);
  }
  if (QueryTracedValue(hKeyInstance, "SymbolicName", ucScratch, TEXT_LIMIT) == os::ERROR_SUCCESS &&
      g_State.uiPass == PASS_REMOVAL) {
    RemoveInterfaceClass(ucScratch);
  }
  os::RegCloseKey(hKeyInstance);
  if (g_State.uiPass == PASS_REMOVAL) {
    os::LONG lResult = os::RegDeleteKeyA(hKeyType, ucDeviceKey);
    TraceLine(" Deleting subkey <%s> result %d\n", ucDeviceKey, lResult);
  }
}

}  // namespace

os::LONG OpenDeviceInstance(os::HKEY hKeyType, const char *pucId, const char *pucInstance, char *ucUsbName,
                            os::HKEY *phKeyInstance) {
  CopyText(ucUsbName, USB_NAME_SIZE, "USB\\");
  AppendText(ucUsbName, USB_NAME_SIZE, pucId);
  AppendText(ucUsbName, USB_NAME_SIZE, "\\");
  AppendText(ucUsbName, USB_NAME_SIZE, pucInstance);
  os::LONG lResult = os::RegOpenKeyExA(hKeyType, pucInstance, 0, os::KEY_WRITE, phKeyInstance);
  TraceLine(" Opened key <%s> result %d\n", ucUsbName, lResult);
  return lResult;
}

const char *DeviceKeyTail(const char *ucDeviceKey, int iOffset) {
  int iCount = 0;
  int iPosition = -1;
  int iLength = static_cast<int>(std::strlen(ucDeviceKey));
  for (int i = 0; i < iLength; ++i) {
    if (ucDeviceKey[i] == '&' && ++iCount == 3) {
      iPosition = i;
      break;
    }
  }
  const char *pucDeviceKey = ucDeviceKey;
  if (iPosition >= 0)
    pucDeviceKey = ucDeviceKey + (iPosition + iOffset <= iLength ? iPosition + iOffset : iLength);
  TraceLine("pucDeviceKey %s %d %d\n", pucDeviceKey, iPosition, iCount);
  return pucDeviceKey;
}

int CleanPrinterDevice(os::HKEY hKeyType, os::HKEY hKeyNode) {
  char ucFriendlyName[DEVICE_KEY_SIZE] = "";
  char ucDeviceKey[DEVICE_KEY_SIZE] = "";
  char ucId[DEVICE_ID_SIZE] = "";
  g_State.ucPrinterPnpId[0] = '\0';
  if (QueryTracedValue(hKeyNode, "FriendlyName", ucFriendlyName, DEVICE_KEY_LIMIT) == os::ERROR_SUCCESS &&
      g_State.uiPass == PASS_REMOVAL) {
    RemovePortKey(ucFriendlyName);
  }
  if (QueryTracedValue(hKeyNode, "DeviceKey", ucDeviceKey, DEVICE_KEY_LIMIT) != os::ERROR_SUCCESS)
    return 1;
  os::LONG lIdResult = QueryTracedValue(hKeyNode, "ID", ucId, DEVICE_ID_LIMIT);
  const char *pucKeyPart = ucDeviceKey;
  g_State.fShortId = CountChar(ucId, '&') >= 2;
  if (g_State.fShortId)
    pucKeyPart = DeviceKeyTail(ucDeviceKey, g_State.iOsForm == 1 ? ME_OFFSET : WIN98_OFFSET);
  if (lIdResult != os::ERROR_SUCCESS)
    return 1;

  char ucUsbName[USB_NAME_SIZE];
  os::HKEY hKeyInstance = nullptr;
  if (OpenDeviceInstance(hKeyType, ucId, ucDeviceKey, ucUsbName, &hKeyInstance) != os::ERROR_SUCCESS)
    return 1;
  HandleInstance(hKeyType, hKeyInstance, ucDeviceKey, ucId, pucKeyPart, ucUsbName);
  return 1;
}

void RemoveInterfaceClass(const char *pucSymbolicName) {
  const char *pucTail = std::strchr(pucSymbolicName, '{');
  if (pucTail == nullptr)
    return;
  const std::size_t ulRoom = TEXT_LIMIT - (sizeof INTERFACE_PREFIX - 1);
  char ucTail[TEXT_SIZE];
  CopyText(ucTail, sizeof ucTail, pucTail);
  if (std::strlen(ucTail) > ulRoom)
    ucTail[ulRoom - 1] = '\0';
  char ucPath[TEXT_SIZE];
  CopyText(ucPath, sizeof ucPath, INTERFACE_PREFIX);
  AppendText(ucPath, sizeof ucPath, ucTail);
  RemoveKeyByPath(ucPath, 0);
}
