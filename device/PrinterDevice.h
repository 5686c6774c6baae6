// The printer device instance behind one matching driver node.
#ifndef UNINST_DEVICE_PRINTERDEVICE_H
#define UNINST_DEVICE_PRINTERDEVICE_H

#include "platform/types.h"

// Buffer sizes of the device cleanups and the limits passed to the registry for them.
const int DEVICE_KEY_SIZE = 40;  // FriendlyName and DeviceKey
const int DEVICE_KEY_LIMIT = 39;
const int DEVICE_ID_SIZE = 80;  // the node's ID
const int DEVICE_ID_LIMIT = 50;
const int USB_NAME_SIZE = 100;  // USB\<ID>\<DeviceKey>

/// Finds the device instance under hKeyType (Enum\USB\<ID>) that the driver node hKeyNode names;
/// in the survey pass counts it as connected or configured, in the removal pass removes its
/// port, LPTENUM, ASD\Prob and interface class entries and the instance key. Always 1.
int CleanPrinterDevice(os::HKEY hKeyType, os::HKEY hKeyNode);

/// Removes the interface class key that a device's symbolic name names (from its first '{').
void RemoveInterfaceClass(const char *pucSymbolicName);

/// Builds ucUsbName (USB_NAME_SIZE bytes) = "USB\" + pucId + "\" + pucInstance, opens the
/// instance key pucInstance under hKeyType and traces the open under that name.
os::LONG OpenDeviceInstance(os::HKEY hKeyType, const char *pucId, const char *pucInstance, char *ucUsbName,
                            os::HKEY *phKeyInstance);

/// The part of ucDeviceKey that starts iOffset characters after its third '&', and its trace
/// line. With fewer than three '&' it is the whole value (position traced as -1); an offset
/// that passes the end gives the empty text at the value's end.
const char *DeviceKeyTail(const char *ucDeviceKey, int iOffset);

#endif
