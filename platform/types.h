// Win32 base types, handles, constants and result codes, declared without <windows.h> so that
// the uninstaller's own code compiles unchanged over the real DLLs and over the simulation.
// Sizes and values are those of the Win32 ABI, on i686 and on x86_64 alike (LONG and DWORD stay
// 32 bits there; handles are pointers).
#ifndef UNINST_PLATFORM_TYPES_H
#define UNINST_PLATFORM_TYPES_H

#include <cstddef>
#include <cstdint>

// The calling convention of WinMain, the one function Windows calls in the program.
#if defined(_WIN32)
#define UNINST_WINAPI __attribute__((stdcall))
#else
#define UNINST_WINAPI
#endif

namespace os {

typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef int BOOL;
typedef unsigned int UINT;
typedef unsigned char BYTE;
typedef DWORD REGSAM;
typedef std::size_t SIZE_T;

struct HKEY__;
typedef HKEY__ *HKEY;
typedef void *HANDLE;
typedef HANDLE HGLOBAL;
struct HINSTANCE__;
typedef HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
struct HWND__;
typedef HWND__ *HWND;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

const int MAX_PATH = 260;

// Predefined registry roots: the 32-bit values sign-extended, as Windows defines them.
inline HKEY const HKEY_CLASSES_ROOT =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000000u)));
inline HKEY const HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000001u)));
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000002u)));
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000003u)));
inline HKEY const HKEY_CURRENT_CONFIG =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000005u)));
inline HKEY const HKEY_DYN_DATA = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000006u)));

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

// Registry access masks.
const REGSAM KEY_READ = 0x20019;
const REGSAM KEY_WRITE = 0x20006;
const REGSAM KEY_ALL_ACCESS = 0xF003F;

// Registry value types.
const DWORD REG_NONE = 0;
const DWORD REG_SZ = 1;
const DWORD REG_EXPAND_SZ = 2;
const DWORD REG_BINARY = 3;
const DWORD REG_DWORD = 4;
const DWORD REG_MULTI_SZ = 7;

// Result codes the system traces or tests.
const LONG ERROR_SUCCESS = 0;
const LONG ERROR_FILE_NOT_FOUND = 2;
const LONG ERROR_PATH_NOT_FOUND = 3;
const LONG ERROR_ACCESS_DENIED = 5;
const LONG ERROR_INVALID_HANDLE = 6;
const LONG ERROR_NOT_ENOUGH_MEMORY = 8;
const LONG ERROR_NO_MORE_FILES = 18;
const LONG ERROR_SHARING_VIOLATION = 32;
const LONG ERROR_INVALID_PARAMETER = 87;
const LONG ERROR_BUFFER_OVERFLOW = 111;
const LONG ERROR_CALL_NOT_IMPLEMENTED = 120;
const LONG ERROR_FILE_EXISTS = 80;
const LONG ERROR_DISK_FULL = 112;
const LONG ERROR_INSUFFICIENT_BUFFER = 122;
const LONG ERROR_INVALID_NAME = 123;
const LONG ERROR_MOD_NOT_FOUND = 126;
const LONG ERROR_NEGATIVE_SEEK = 131;
const LONG ERROR_MORE_DATA = 234;
const LONG ERROR_NO_MORE_ITEMS = 259;
const LONG ERROR_FILE_INVALID = 1006;
const LONG ERROR_BADKEY = 1010;
const LONG ERROR_KEY_DELETED = 1018;
const LONG ERROR_USER_MAPPED_FILE = 1224;
const LONG ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
const LONG ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// File access, sharing, creation and attribute flags.
const DWORD GENERIC_READ = 0x80000000u;
const DWORD GENERIC_WRITE = 0x40000000u;
const DWORD FILE_SHARE_READ = 0x1;
const DWORD CREATE_NEW = 1;
const DWORD CREATE_ALWAYS = 2;
const DWORD OPEN_EXISTING = 3;
const DWORD OPEN_ALWAYS = 4;
const DWORD FILE_ATTRIBUTE_READONLY = 0x1;
const DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
const DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
const DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000u;
const DWORD FILE_BEGIN = 0;
const DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;
const DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
const DWORD MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;

// File mapping.
const DWORD PAGE_READWRITE = 0x04;
const DWORD FILE_MAP_WRITE = 0x0002;

// Global memory.
const UINT GMEM_MOVEABLE = 0x0002;
const UINT GMEM_ZEROINIT = 0x0040;
const UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// Message boxes.
const UINT MB_OK = 0x0;
const UINT MB_YESNO = 0x4;
const int IDOK = 1;
const int IDYES = 6;
const int IDNO = 7;

// Restart.
const UINT EWX_SHUTDOWN = 0x1;
const UINT EWX_REBOOT = 0x2;

}  // namespace os

#endif
