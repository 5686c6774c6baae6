// Deleting one file, with deletion at the next boot for a file in use.
#ifndef UNINST_FILES_FILEREMOVAL_H
#define UNINST_FILES_FILEREMOVAL_H

/// Deletes pucPath; a file Windows refuses with access denied is queued for deletion at the next
/// boot. Nonzero when deleted or queued, 0 otherwise.
int RemoveFile(const char *pucPath);

#endif
