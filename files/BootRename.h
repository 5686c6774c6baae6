// Moves and deletions carried out when Windows next starts.
#ifndef UNINST_FILES_BOOTRENAME_H
#define UNINST_FILES_BOOTRENAME_H

/// Queues pucExistingPath to be renamed to pucNewPath, or deleted when pucNewPath is absent, at
/// the next boot: through MoveFileExA, else the [rename] section of WinInit.ini. Nonzero when
/// queued, 0 when not.
int QueueBootRename(const char *pucExistingPath, const char *pucNewPath);

#endif
