// The platform seam: every operating-system service the logic uses, declared under its Windows
// name with types of our own. The logic includes this header and never <windows.h>; the backend
// (win32 or simulated) is chosen at link time.
//
// A backend that includes <windows.h> must include this header first: the constants below share
// their names with the macros of <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

// The calling convention of Windows API functions and of the entry points of other DLLs. Only
// 32-bit Windows distinguishes it from the default.
#if defined(_WIN32) && !defined(_WIN64)
#define VURO_WINAPI __stdcall
#else
#define VURO_WINAPI
#endif

namespace platform {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BOOL = int;
using HRESULT = std::int32_t;
using LCID = DWORD;
using SIZE_T = std::size_t;
using WCHAR = char16_t;  // UTF-16 code unit, the element of every wide text

using HANDLE = void*;
using HLOCAL = void*;
struct HKEY__;
using HKEY = HKEY__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using FARPROC = std::intptr_t(VURO_WINAPI*)();

struct CPINFO {
  UINT MaxCharSize;
  BYTE DefaultChar[2];
  BYTE LeadByte[12];  // pairs of first and last lead byte, ended by a pair of zeros
};

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// Result codes.
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

// Registry.
inline HKEY const HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000001u)));
constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

// Files, local and on the device.
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;
constexpr DWORD MAX_PATH = 260;

// Waiting.
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// Code pages and case mapping.
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr DWORD LCMAP_LOWERCASE = 0x100;
constexpr DWORD LCMAP_UPPERCASE = 0x200;

// Registry, ANSI forms.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result);
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegCloseKey(HKEY key);

// Dynamic loading and waiting.
HMODULE LoadLibraryA(const char* fileName);
FARPROC GetProcAddress(HMODULE module, const char* procName);
BOOL FreeLibrary(HMODULE module);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Keeps LoadLibraryA to the program's own folder and the system folder, so that a DLL planted in
// the working folder or on PATH is never loaded. Returns TRUE when the restriction is in force.
BOOL RestrictDllSearchPath();

// The running program's path and local files.
DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size);
HANDLE CreateFileA(const char* fileName, DWORD access, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped);
BOOL CloseHandle(HANDLE handle);

// The process heap, and the local heap that the Remote API allocates its output blocks from.
HANDLE GetProcessHeap();
void* HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
void* HeapReAlloc(HANDLE heap, DWORD flags, void* memory, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, void* memory);
HLOCAL LocalFree(HLOCAL memory);

// The ANSI code page and the system's case mapping.
UINT GetACP();
BOOL GetCPInfo(UINT codePage, CPINFO* info);
int LCMapStringA(LCID locale, DWORD flags, const char* source, int sourceLength, char* destination,
                 int destinationLength);

}  // namespace platform
