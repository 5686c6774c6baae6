// The program's entry, the uninstall sequence and the driver class walk.
#ifndef UNINST_UNINSTALL_UNINST_H
#define UNINST_UNINSTALL_UNINST_H

#include "platform/types.h"

const int PROVIDER_NAME_SIZE = 40;
const int PROVIDER_NAME_LIMIT = 39;

/// The entry: runs the uninstall for the package's driver file and port monitor; the exit code
/// is 0 when the removal ran, 5 when it was cancelled or could not start.
extern "C" int UNINST_WINAPI WinMain(os::HINSTANCE hInstance, os::HINSTANCE hPrevInstance, char *lpCmdLine,
                                     int nCmdShow);

/// Confirmation, survey pass and verdict, removal pass, leftover removal, restart offer.
/// 1 when the removal pass and the leftover removal ran, 0 when the run stopped before them.
int RunUninstall(const char *pucDriverFile, const char *pucMonitor);

/// One pass over the driver nodes of the USB class key: surveys (pass 1) or removes (pass 2)
/// the package's nodes and their devices; fills ucProviderName (40 bytes) once.
void WalkDriverClass(os::HKEY hKeyClass, const char *pucDriverFile, const char *pucMonitor, char *ucProviderName);

#endif
