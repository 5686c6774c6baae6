// Finding, and in the removal pass deleting, one value of a key by its name.
#ifndef UNINST_REGISTRY_VALUEREMOVAL_H
#define UNINST_REGISTRY_VALUEREMOVAL_H

/// Looks through the values of pucKeyPath (under HKEY_LOCAL_MACHINE) for the first whose name
/// matches pucName over ulCompareLength characters, ignoring ASCII case; deletes it in the
/// removal pass, only reports it otherwise. 1 when a value matched, 0 otherwise.
int RemoveValueByName(const char *pucName, unsigned long ulCompareLength, const char *pucKeyPath);

#endif
