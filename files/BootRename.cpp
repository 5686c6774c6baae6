#include "files/BootRename.h"

#include <cstring>

#include "platform/files.h"
#include "platform/format.h"
#include "platform/text.h"
#include "uninstall/UninstallState.h"

namespace {

const char INI_NAME[] = "\\WinInit.Ini";
const char *const HEADER_FORMS[] = {"[Rename]\r\n", "[RENAME]\r\n", "[rename]\r\n"};
const char NEW_HEADER[] = "[Rename]\r\n";
const os::DWORD HEADER_LENGTH = sizeof NEW_HEADER - 1;
const int LINE_SIZE = 1024;
const int INI_PATH_SIZE = 260;

// Inserts ucLine after the first header found in the text, or appends a new header and the line;
// *pulSize becomes the text's new length. The view holds room for both after the old end, and
// that room is zero-filled, so the header search ends inside the view.
void InsertEntry(char *pucView, os::DWORD *pulSize, const char *ucLine, os::DWORD ulLineLength) {
  const char *pucHeader = nullptr;
  for (const char *pucForm : HEADER_FORMS) {
    pucHeader = std::strstr(pucView, pucForm);
    if (pucHeader != nullptr)
      break;
  }
  if (pucHeader != nullptr) {
    os::DWORD ulInsert = static_cast<os::DWORD>(std::strchr(pucHeader, '\n') + 1 - pucView);
    std::memmove(pucView + ulInsert + ulLineLength, pucView + ulInsert, *pulSize - ulInsert);
    std::memcpy(pucView + ulInsert, ucLine, ulLineLength);
  } else {
    std::memcpy(pucView + *pulSize, NEW_HEADER, HEADER_LENGTH);
    *pulSize += HEADER_LENGTH;
    std::memcpy(pucView + *pulSize, ucLine, ulLineLength);
  }
  *pulSize += ulLineLength;
}

// Writes the entry through a mapping of the file grown by room for it; 1 when written.
int WriteThroughMapping(os::HANDLE hFile, os::DWORD *pulSize, const char *ucLine, os::DWORD ulLineLength) {
  os::DWORD ulMappingSize = *pulSize + HEADER_LENGTH + ulLineLength;
  os::HANDLE hMapping = os::CreateFileMappingA(hFile, nullptr, os::PAGE_READWRITE, 0, ulMappingSize, nullptr);
  if (hMapping == nullptr)
    return 0;
  char *pucView = static_cast<char *>(os::MapViewOfFile(hMapping, os::FILE_MAP_WRITE, 0, 0, ulMappingSize));
  int iResult = 0;
  if (pucView != nullptr) {
    InsertEntry(pucView, pulSize, ucLine, ulLineLength);
    os::UnmapViewOfFile(pucView);
    iResult = 1;
  }
  os::CloseHandle(hMapping);
  return iResult;
}

// The WinInit.ini path; 0 when the Windows directory cannot be read or the path would be cut.
int BuildIniPath(char *ucIniPath) {
  os::UINT uLength = os::GetWindowsDirectoryA(ucIniPath, INI_PATH_SIZE);
  if (uLength == 0 || uLength + sizeof INI_NAME > static_cast<os::UINT>(INI_PATH_SIZE))
    return 0;
  AppendText(ucIniPath, INI_PATH_SIZE, INI_NAME);
  return 1;
}

}  // namespace

int QueueBootRename(const char *pucExistingPath, const char *pucNewPath) {
  os::BOOL fMoved = os::MoveFileExA(pucExistingPath, pucNewPath, os::MOVEFILE_DELAY_UNTIL_REBOOT);
  if (fMoved)
    return fMoved;
  const char *pucDestination = pucNewPath ? pucNewPath : "NUL";
  // wsprintfA stops at 1024 bytes: a longer entry would lose its line end.
  if (std::strlen(pucDestination) + std::strlen(pucExistingPath) + 4 > LINE_SIZE - 1)
    return 0;
  char ucLine[LINE_SIZE];
  os::DWORD ulLineLength =
      static_cast<os::DWORD>(os::wsprintfA(ucLine, "%hs=%hs\r\n", pucDestination, pucExistingPath));

  char ucIniPath[INI_PATH_SIZE];
  if (!BuildIniPath(ucIniPath))
    return 0;
  os::HANDLE hFile = os::CreateFileA(ucIniPath, os::GENERIC_READ | os::GENERIC_WRITE, 0, nullptr, os::OPEN_ALWAYS,
                                     os::FILE_FLAG_SEQUENTIAL_SCAN | os::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == os::INVALID_HANDLE_VALUE)
    return 0;
  os::DWORD ulSize = os::GetFileSize(hFile, nullptr);
  int iResult = 0;
  // A size that cannot be read would make the mapping size, and the cut, meaningless.
  if (ulSize != os::INVALID_FILE_SIZE) {
    iResult = WriteThroughMapping(hFile, &ulSize, ucLine, ulLineLength);
    os::SetFilePointer(hFile, static_cast<os::LONG>(ulSize), nullptr, os::FILE_BEGIN);
    os::SetEndOfFile(hFile);
  }
  os::CloseHandle(hFile);
  return iResult;
}
