// What the package leaves outside the device tree: vendor keys, system files, OEM INF files.
#ifndef UNINST_UNINSTALL_LEFTOVERS_H
#define UNINST_UNINSTALL_LEFTOVERS_H

/// Removes the fixed leftover keys, the package's system files and its INF files; runs after
/// the removal pass.
void RemoveLeftovers(const char *pucDriverFile, const char *pucMonitor, const char *ucProviderName);

#endif
