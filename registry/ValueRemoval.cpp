#include "registry/ValueRemoval.h"

#include <cstring>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "uninstall/UninstallState.h"

namespace {

// The first ulLength characters of pucText (all of it when shorter) into ucDest.
void CopyPrefix(char *ucDest, const char *pucText, unsigned long ulLength) {
  unsigned long ulTake = strnlen(pucText, TEXT_LIMIT);
  if (ulTake > ulLength)
    ulTake = ulLength;
  std::memcpy(ucDest, pucText, ulTake);
  ucDest[ulTake] = '\0';
}

// Enumerates value iIndex into the two buffers, each NUL-terminated inside its 384 bytes.
os::LONG EnumValue(os::HKEY hKey, int iIndex, char *ucValueName, char *ucValueData) {
  os::DWORD ulNameLength = TEXT_LIMIT;
  os::DWORD ulDataLength = TEXT_LIMIT;
  os::DWORD dwType = 0;
  os::LONG lResult = os::RegEnumValueA(hKey, static_cast<os::DWORD>(iIndex), ucValueName, &ulNameLength, nullptr,
                                       &dwType, reinterpret_cast<os::BYTE *>(ucValueData), &ulDataLength);
  if (lResult == os::ERROR_SUCCESS) {
    ucValueName[ulNameLength < TEXT_LIMIT ? ulNameLength : TEXT_LIMIT] = '\0';
    ucValueData[ulDataLength < TEXT_LIMIT ? ulDataLength : TEXT_LIMIT] = '\0';
  }
  return lResult;
}

void ReportMatch(os::HKEY hKey, const char *ucValueName) {
  TraceLine("Comparing <%s> \n", ucValueName);
  if (g_State.uiPass == PASS_REMOVAL) {
    os::LONG lResult = os::RegDeleteValueA(hKey, ucValueName);
    TraceLine(" Deleting field <%s> result %d\n", ucValueName, lResult);
  } else {
    TraceLine(" Found field <%s>\n", ucValueName);
  }
}

}  // namespace

int RemoveValueByName(const char *pucName, unsigned long ulCompareLength, const char *pucKeyPath) {
  TraceLine(" Checking names[%d] against <%s>\n", static_cast<int>(ulCompareLength), pucName);
  if (ulCompareLength > TEXT_LIMIT)
    ulCompareLength = TEXT_LIMIT;
  char ucPattern[TEXT_SIZE];
  CopyPrefix(ucPattern, pucName, ulCompareLength);

  os::HKEY hKey = nullptr;
  os::LONG lResult = os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, pucKeyPath, 0, os::KEY_WRITE, &hKey);
  TraceLine(" Opening key <%s> result %d\n", pucKeyPath, lResult);
  if (lResult != os::ERROR_SUCCESS)
    return 0;

  char ucValueName[TEXT_SIZE];
  char ucValueData[TEXT_SIZE];
  int iIndex = -1;
  int fMatched = 0;
  while (!fMatched) {
    ++iIndex;
    ucValueName[0] = '\0';
    lResult = EnumValue(hKey, iIndex, ucValueName, ucValueData);
    if (lResult != os::ERROR_SUCCESS) {
      TraceLine(" Enumerated field %d <%s> result %d\n", iIndex, ucValueName, lResult);
      if (lResult == os::ERROR_BUFFER_OVERFLOW)
        continue;
      break;
    }
    CopyPrefix(ucValueData, ucValueName, ulCompareLength);
    if (!EqualNoCase(ucValueData, ucPattern))
      continue;
    ReportMatch(hKey, ucValueName);
    fMatched = 1;
  }
  lResult = os::RegCloseKey(hKey);
  TraceLine(" Closing key <%s> %d fields result %d\n", pucKeyPath, iIndex, lResult);
  return fMatched;
}
