// Removal of one registry key under HKEY_LOCAL_MACHINE by its full path.
#ifndef UNINST_REGISTRY_KEYREMOVAL_H
#define UNINST_REGISTRY_KEYREMOVAL_H

/// Removes the key at pucPath with everything under it, or (fOnlyIfEmpty = 1) only when it has
/// no subkeys; 1 when it was deleted, 0 otherwise. Removes whenever called, in any pass.
int RemoveKeyByPath(const char *pucPath, int fOnlyIfEmpty);

#endif
