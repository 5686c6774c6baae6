// The one record of mutable state of an uninstall run, shared by every procedure.
#ifndef UNINST_UNINSTALL_UNINSTALLSTATE_H
#define UNINST_UNINSTALL_UNINSTALLSTATE_H

const unsigned PASS_SURVEY = 1;
const unsigned PASS_REMOVAL = 2;
const unsigned PASS_FINISHED = 3;

const int TEXT_SIZE = 384;   // most name, path and value buffers
const int TEXT_LIMIT = 383;  // the length passed to the registry for them
const int PNP_ID_SIZE = 64;  // ucPrinterPnpId
const int PNP_ID_LIMIT = 39;

struct UninstallState {
  unsigned uiPass;                   // 1 survey, 2 removal, 3 finished; raised by the entry only
  int iConnectedCount;               // printers live in the dynamic data; raised by the printer cleanup in pass 1
  int iConfiguredCount;              // printers under Enum\LPTENUM; raised by the printer cleanup in pass 1
  int fShortId;                      // the device ID holds two or more '&'; set by the printer cleanup
  int iOsForm;                       // 0 Windows 98 layout, 1 Windows ME layout; set by the entry
  char ucPrinterPnpId[PNP_ID_SIZE];  // the device's idPrinterPNP; cleared by both device cleanups
  char ucSharedText[TEXT_SIZE];      // NTKXDriver, then the device ID, then the leftover directories
};

extern UninstallState g_State;

/// Sets the uninstall state to its starting values; a run starts from them.
void InitUninstallState();

#endif
