#include "device/ShortIdDevice.h"

#include "device/PrinterDevice.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "registry/ValueRead.h"
#include "uninstall/UninstallState.h"

namespace {
// Both Windows forms name the short-form instance from just after the third '&'.
const int SHORT_OFFSET = 1;
}  // namespace

int CleanShortIdDevice(os::HKEY hKeyShortType, os::HKEY hKeyNode) {
  char ucDeviceKey[DEVICE_KEY_SIZE] = "";
  char ucId[DEVICE_ID_SIZE] = "";
  g_State.ucPrinterPnpId[0] = '\0';
  if (QueryTracedValue(hKeyNode, "DeviceKey", ucDeviceKey, DEVICE_KEY_LIMIT) != os::ERROR_SUCCESS)
    return 1;
  os::LONG lIdResult = QueryTracedValue(hKeyNode, "ID", ucId, DEVICE_ID_LIMIT);
  const char *pucDeviceKey = DeviceKeyTail(ucDeviceKey, SHORT_OFFSET);
  // An empty name would open the short type key itself instead of an instance under it.
  if (lIdResult != os::ERROR_SUCCESS || *pucDeviceKey == '\0')
    return 1;

  char ucShortUsbName[USB_NAME_SIZE];
  os::HKEY hKeyInstance = nullptr;
  if (OpenDeviceInstance(hKeyShortType, g_State.ucSharedText, pucDeviceKey, ucShortUsbName, &hKeyInstance) !=
      os::ERROR_SUCCESS)
    return 1;

  char ucScratch[TEXT_SIZE] = "";
  os::LONG lResult = QueryTracedValue(hKeyInstance, "SymbolicName", ucScratch, TEXT_LIMIT);
  if (lResult == os::ERROR_SUCCESS && g_State.uiPass == PASS_REMOVAL)
    RemoveInterfaceClass(ucScratch);
  os::RegCloseKey(hKeyInstance);
  return 1;
}
