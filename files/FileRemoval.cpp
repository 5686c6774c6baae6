#include "files/FileRemoval.h"

#include "files/BootRename.h"
#include "platform/files.h"
#include "platform/trace.h"

int RemoveFile(const char *pucPath) {
  os::BOOL fDeleted = os::DeleteFileA(pucPath);
  os::LONG lError = fDeleted ? 0 : static_cast<os::LONG>(os::GetLastError());
  TraceLine(" Deleting File <%s> result %d\n", pucPath, lError);
  if (lError == os::ERROR_ACCESS_DENIED) {
    TraceLine(" DeleteFile(<%s>) ACCESS_DENIED, move to RebootBucket\n", pucPath);
    int iQueued = QueueBootRename(pucPath, nullptr);
    TraceLine(" Bucketing File <%s> result %d\n", pucPath, iQueued ? 0 : 5);
    return iQueued;
  }
  // A failed deletion that reports no code is still a failure.
  return fDeleted != 0;
}
