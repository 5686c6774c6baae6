// Reading a registry text value into a fixed buffer.
#ifndef UNINST_REGISTRY_VALUEREAD_H
#define UNINST_REGISTRY_VALUEREAD_H

#include "platform/types.h"

/// Reads value pucName of hKey into pucBuffer (at least ulLimit + 1 bytes), passing ulLimit as
/// the data length. On success the text is NUL-terminated inside the buffer whatever the data
/// holds; on failure the buffer is left as it was. Returns the registry's result code.
os::LONG QueryTextValue(os::HKEY hKey, const char *pucName, char *pucBuffer, os::DWORD ulLimit);

/// QueryTextValue, then the trace line " Queried value <name>=<buffer> result code".
os::LONG QueryTracedValue(os::HKEY hKey, const char *pucName, char *pucBuffer, os::DWORD ulLimit);

/// Names subkey dwIndex of hKey into pucName (at least ulLimit + 1 bytes), NUL-terminated
/// inside the buffer; the buffer is left as it was on failure.
os::LONG EnumSubkeyName(os::HKEY hKey, os::DWORD dwIndex, char *pucName, os::DWORD ulLimit);

#endif
