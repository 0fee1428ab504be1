// The platform seam over the real Win32 API. Each operation forwards to the function of the same
// name; our types are converted to the <windows.h> types at this boundary.
//
// platform.h comes first: after <windows.h> its constant names are macros, so this file uses
// the <windows.h> spelling of every constant and refers to none of platform.h's.

// clang-format off
#include "platform/platform.h"
#include <windows.h>
// clang-format on

#include <cstddef>
#include <type_traits>

namespace {

// The seam's integer types stand for the Windows ones, so values and pointers to them pass
// through unchanged.
static_assert(sizeof(platform::DWORD) == sizeof(::DWORD));
static_assert(sizeof(platform::LONG) == sizeof(::LONG));
static_assert(sizeof(platform::UINT) == sizeof(::UINT));
static_assert(sizeof(platform::BOOL) == sizeof(::BOOL));
static_assert(sizeof(platform::BYTE) == sizeof(::BYTE));
static_assert(sizeof(platform::SIZE_T) == sizeof(::SIZE_T));
static_assert(sizeof(platform::LCID) == sizeof(::LCID));
static_assert(sizeof(platform::HKEY) == sizeof(::HKEY));
static_assert(sizeof(platform::HMODULE) == sizeof(::HMODULE));
static_assert(sizeof(platform::HANDLE) == sizeof(::HANDLE));
static_assert(sizeof(platform::FARPROC) == sizeof(::FARPROC));
static_assert(std::is_signed_v<platform::LONG> == std::is_signed_v<::LONG>);

// The code-page record is handed to GetCPInfo as it is.
static_assert(sizeof(platform::CPINFO) == sizeof(::CPINFO));
static_assert(offsetof(platform::CPINFO, MaxCharSize) == offsetof(::CPINFO, MaxCharSize));
static_assert(offsetof(platform::CPINFO, DefaultChar) == offsetof(::CPINFO, DefaultChar));
static_assert(offsetof(platform::CPINFO, LeadByte) == offsetof(::CPINFO, LeadByte));
static_assert(sizeof(platform::CPINFO::LeadByte) == sizeof(::CPINFO::LeadByte));

::HKEY ToWin(platform::HKEY key) {
  return reinterpret_cast<::HKEY>(key);
}
::HMODULE ToWin(platform::HMODULE module) {
  return reinterpret_cast<::HMODULE>(module);
}
::DWORD* ToWin(platform::DWORD* value) {
  return reinterpret_cast<::DWORD*>(value);
}

// Converts between function-pointer types through the one type that GCC accepts as a match for
// every function type, so that -Wcast-function-type stays quiet on a deliberate cast.
template <typename To, typename From>
To CastFunction(From function) {
  using AnyFunction = void (*)();
  return reinterpret_cast<To>(reinterpret_cast<AnyFunction>(function));
}

// SetDefaultDllDirectories came with Windows 8 (and an update to Windows 7), so it is looked up
// rather than imported: the program must still start where it is missing.
using SetDefaultDllDirectoriesFn = ::BOOL(WINAPI*)(::DWORD directoryFlags);

bool RestrictToAppAndSystemFolders() {
  const ::HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  if (kernel32 == nullptr) return false;
  const auto setDefaultDllDirectories = CastFunction<SetDefaultDllDirectoriesFn>(
      ::GetProcAddress(kernel32, "SetDefaultDllDirectories"));
  if (setDefaultDllDirectories == nullptr) return false;
  return setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                                  LOAD_LIBRARY_SEARCH_SYSTEM32) != 0;
}

}  // namespace

namespace platform {

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result) {
  return ::RegOpenKeyExA(ToWin(key), subKey, options, access, reinterpret_cast<::HKEY*>(result));
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
  return ::RegQueryValueExA(ToWin(key), valueName, ToWin(reserved), ToWin(type), data,
                            ToWin(dataSize));
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize) {
  return ::RegSetValueExA(ToWin(key), valueName, reserved, type, data, dataSize);
}

LONG RegCloseKey(HKEY key) {
  return ::RegCloseKey(ToWin(key));
}

HMODULE LoadLibraryA(const char* fileName) {
  return reinterpret_cast<HMODULE>(::LoadLibraryA(fileName));
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  return CastFunction<FARPROC>(::GetProcAddress(ToWin(module), procName));
}

BOOL FreeLibrary(HMODULE module) {
  return ::FreeLibrary(ToWin(module));
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return ::WaitForSingleObject(handle, milliseconds);
}

// The fallback for systems without SetDefaultDllDirectories: an empty DLL directory takes the
// working folder out of the search, though PATH stays in it.
BOOL RestrictDllSearchPath() {
  if (RestrictToAppAndSystemFolders()) return TRUE;
  return ::SetDllDirectoryA("") != 0 ? TRUE : FALSE;
}

DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size) {
  return ::GetModuleFileNameA(ToWin(module), fileName, size);
}

HANDLE CreateFileA(const char* fileName, DWORD access, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  return ::CreateFileA(fileName, access, shareMode,
                       static_cast<::LPSECURITY_ATTRIBUTES>(securityAttributes),
                       creationDisposition, flagsAndAttributes, templateFile);
}

DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh) {
  return ::GetFileSize(file, ToWin(fileSizeHigh));
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped) {
  return ::ReadFile(file, buffer, bytesToRead, ToWin(bytesRead),
                    static_cast<::LPOVERLAPPED>(overlapped));
}

BOOL CloseHandle(HANDLE handle) {
  return ::CloseHandle(handle);
}

HANDLE GetProcessHeap() {
  return ::GetProcessHeap();
}

void* HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  return ::HeapAlloc(heap, flags, bytes);
}

void* HeapReAlloc(HANDLE heap, DWORD flags, void* memory, SIZE_T bytes) {
  return ::HeapReAlloc(heap, flags, memory, bytes);
}

BOOL HeapFree(HANDLE heap, DWORD flags, void* memory) {
  return ::HeapFree(heap, flags, memory);
}

HLOCAL LocalFree(HLOCAL memory) {
  return ::LocalFree(memory);
}

UINT GetACP() {
  return ::GetACP();
}

BOOL GetCPInfo(UINT codePage, CPINFO* info) {
  return ::GetCPInfo(codePage, reinterpret_cast<::CPINFO*>(info));
}

int LCMapStringA(LCID locale, DWORD flags, const char* source, int sourceLength, char* destination,
                 int destinationLength) {
  return ::LCMapStringA(locale, flags, source, sourceLength, destination, destinationLength);
}

}  // namespace platform
