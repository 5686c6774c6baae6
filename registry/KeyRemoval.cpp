#include "registry/KeyRemoval.h"

#include <cstring>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "registry/ValueRead.h"
#include "uninstall/UninstallState.h"

namespace {

// Splits ucWork at its last backslash, dropping CR and LF after it; the leaf, or null when the
// path holds no backslash.
char *SplitLeaf(char *ucWork) {
  for (int i = static_cast<int>(std::strlen(ucWork)) - 1; i >= 0; --i) {
    if (ucWork[i] == '\\') {
      ucWork[i] = '\0';
      return ucWork + i + 1;
    }
    if (ucWork[i] == '\r' || ucWork[i] == '\n')
      ucWork[i] = '\0';
  }
  return nullptr;
}

// Whether the leaf under hKeyParent has no subkeys.
int LeafIsEmpty(os::HKEY hKeyParent, const char *pucLeaf) {
  os::HKEY hKeyLeaf = nullptr;
  os::LONG lResult = os::RegOpenKeyExA(hKeyParent, pucLeaf, 0, os::KEY_WRITE, &hKeyLeaf);
  TraceLine(" Opening subkey <%s> result %d\n", pucLeaf, lResult);
  if (lResult != os::ERROR_SUCCESS)
    return 0;
  char ucFirstSubkey[TEXT_SIZE];
  ucFirstSubkey[0] = '\0';
  lResult = EnumSubkeyName(hKeyLeaf, 0, ucFirstSubkey, TEXT_LIMIT);
  TraceLine(" Enumerated subkey 0 <%s> result %d\n", ucFirstSubkey, lResult);
  os::RegCloseKey(hKeyLeaf);
  return lResult == os::ERROR_NO_MORE_ITEMS;
}

}  // namespace

int RemoveKeyByPath(const char *pucPath, int fOnlyIfEmpty) {
  char ucWork[TEXT_SIZE];
  CopyText(ucWork, sizeof ucWork, pucPath);
  char *pucLeaf = SplitLeaf(ucWork);
  // An empty leaf would make the delete name the parent itself: leave the registry alone.
  if (pucLeaf == nullptr || *pucLeaf == '\0')
    return 0;

  os::HKEY hKeyParent = nullptr;
  os::LONG lResult = os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, ucWork, 0, os::KEY_WRITE, &hKeyParent);
  TraceLine(" Opening key <%s> result %d\n", ucWork, lResult);
  if (lResult != os::ERROR_SUCCESS)
    return 0;
  if (fOnlyIfEmpty == 1 && !LeafIsEmpty(hKeyParent, pucLeaf)) {
    os::RegCloseKey(hKeyParent);
    return 0;
  }
  lResult = os::RegDeleteKeyA(hKeyParent, pucLeaf);
  TraceLine(" Deleting subkey <%s> result %d\n", pucLeaf, lResult);
  os::RegCloseKey(hKeyParent);
  return lResult == os::ERROR_SUCCESS;
}
