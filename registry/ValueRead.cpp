#include "registry/ValueRead.h"

#include "platform/registry.h"
#include "platform/trace.h"

os::LONG QueryTextValue(os::HKEY hKey, const char *pucName, char *pucBuffer, os::DWORD ulLimit) {
  os::DWORD ulLength = ulLimit;
  os::LONG lResult =
      os::RegQueryValueExA(hKey, pucName, nullptr, nullptr, reinterpret_cast<os::BYTE *>(pucBuffer), &ulLength);
  // A value stored without its NUL (or binary data) would otherwise run on past the data read.
  if (lResult == os::ERROR_SUCCESS)
    pucBuffer[ulLength < ulLimit ? ulLength : ulLimit] = '\0';
  return lResult;
}

os::LONG EnumSubkeyName(os::HKEY hKey, os::DWORD dwIndex, char *pucName, os::DWORD ulLimit) {
  os::DWORD ulLength = ulLimit;
  os::LONG lResult = os::RegEnumKeyExA(hKey, dwIndex, pucName, &ulLength, nullptr, nullptr, nullptr, nullptr);
  if (lResult == os::ERROR_SUCCESS)
    pucName[ulLength < ulLimit ? ulLength : ulLimit] = '\0';
  return lResult;
}

os::LONG QueryTracedValue(os::HKEY hKey, const char *pucName, char *pucBuffer, os::DWORD ulLimit) {
  os::LONG lResult = QueryTextValue(hKey, pucName, pucBuffer, ulLimit);
  TraceLine(" Queried value <%s>=<%s> result %d\n", pucName, pucBuffer, lResult);
  return lResult;
}
