// The second enumeration form of a device whose ID holds two or more '&'.
#ifndef UNINST_DEVICE_SHORTIDDEVICE_H
#define UNINST_DEVICE_SHORTIDDEVICE_H

#include "platform/types.h"

/// Finds the device instance under hKeyShortType (Enum\USB\<short ID>) and, in the removal pass,
/// removes the interface class key its symbolic name names. Always 1.
int CleanShortIdDevice(os::HKEY hKeyShortType, os::HKEY hKeyNode);

#endif
