// An rapi.dll for a handheld that exists only as a host folder. It offers the nine Remote API
// entry points that vurodetect uses, with the same types as the program's own declarations,
// and runs a simulated probe library in place of the device-side KOLTInfo.dll. Every call is
// appended to the log named by VURO_EMU_LOG (see README.md beside this file).

// The program's declarations come first: their constants share names with <windows.h> macros.
#include "platform/remote_api.h"
#include "platform/sim/probe_image.h"
// clang-format off
#include <windows.h>
// clang-format on

#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include "emulator_support.h"

namespace {

using platform::BOOL;
using platform::BYTE;
using platform::DWORD;
using platform::HRESULT;
using platform::WCHAR;
using rapi_emulator::Hex32;
using rapi_emulator::Log;
using rapi_emulator::Pointer;
using rapi_emulator::Quoted;

constexpr char16_t kProbePath[] = u"\\Windows\\KOLTInfo.dll";
constexpr char16_t kProbeEntry[] = u"VuroModelInfo";
constexpr char16_t kReportFile[] = u"koltout.txt";
constexpr DWORD kLateStartMs = 3000;
constexpr DWORD kInvalidFileSize = 0xFFFFFFFFu;

constexpr HRESULT kOk = 0;
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT kInvalidArg = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT kUnexpected = static_cast<HRESULT>(0x8000FFFFu);
// What the device answers when the probe cannot be run, as HRESULTs of Win32 errors.
constexpr HRESULT kModuleNotFound = static_cast<HRESULT>(0x8007007Eu);
constexpr HRESULT kProcedureNotFound = static_cast<HRESULT>(0x8007007Fu);
constexpr HRESULT kBadImage = static_cast<HRESULT>(0x800700C1u);

HRESULT FromWin32(DWORD error) {
  return error == 0 ? kFail : static_cast<HRESULT>((error & 0xFFFFu) | 0x80070000u);
}

// One start of the Remote API, from CeRapiInitEx to CeRapiUninit. Calls come from the caller's
// thread only; the late-start thread works on a handle of its own.
struct Session {
  bool started = false;
  HANDLE startEvent = nullptr;  // manual-reset: it stays signalled once the device is up
  std::vector<HANDLE> openFiles;
};

Session session;
HMODULE selfModule = nullptr;

std::string Flag(bool set) {
  return set ? "set" : "null";
}
std::string Bool(BOOL value) {
  return value ? "TRUE" : "FALSE";
}

std::string HandleText(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : Pointer(handle);
}

std::string AccessText(DWORD access) {
  if (access == GENERIC_READ) return "GENERIC_READ";
  if (access == GENERIC_WRITE) return "GENERIC_WRITE";
  return Hex32(access);
}

std::string DispositionText(DWORD disposition) {
  switch (disposition) {
    case CREATE_NEW:
      return "CREATE_NEW";
    case CREATE_ALWAYS:
      return "CREATE_ALWAYS";
    case OPEN_EXISTING:
      return "OPEN_EXISTING";
    case OPEN_ALWAYS:
      return "OPEN_ALWAYS";
    case TRUNCATE_EXISTING:
      return "TRUNCATE_EXISTING";
    default:
      return std::to_string(disposition);
  }
}

// Device calls need a started Remote API whose start event has been signalled.
bool DeviceReady(const std::string& call) {
  if (!session.started) {
    Log(call + " -> refused: the Remote API is not started");
    SetLastError(ERROR_NOT_READY);
    return false;
  }
  if (WaitForSingleObject(session.startEvent, 0) != WAIT_OBJECT_0) {
    Log(call + " -> refused: the device is not connected");
    SetLastError(ERROR_NOT_READY);
    return false;
  }
  return true;
}

bool IsOpenFile(HANDLE handle) {
  return std::find(session.openFiles.begin(), session.openFiles.end(), handle) !=
         session.openFiles.end();
}

bool KnownFile(HANDLE handle, const std::string& call) {
  if (IsOpenFile(handle)) return true;
  Log(call + " -> FALSE: not an open device file handle");
  SetLastError(ERROR_INVALID_HANDLE);
  return false;
}

::DWORD WINAPI SignalLate(void* event) {
  Sleep(kLateStartMs);
  SetEvent(event);
  Log("start event signalled (late start)");
  CloseHandle(event);
  FreeLibraryAndExitThread(selfModule, 0);
}

// Signals `event` after kLateStartMs from a thread of its own. The thread holds a reference to
// this DLL, so that a FreeLibrary by the caller before then does not unload code still running.
bool StartLateSignal(HANDLE event) {
  HANDLE own = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &own, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return false;
  }
  HMODULE reference = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&SignalLate), &reference)) {
    CloseHandle(own);
    return false;
  }
  const HANDLE thread = CreateThread(nullptr, 0, SignalLate, own, 0, nullptr);
  if (thread == nullptr) {
    FreeLibrary(reference);
    CloseHandle(own);
    return false;
  }
  CloseHandle(thread);
  return true;
}

// A device always has its \Windows folder.
void PrepareDeviceFolder() {
  const std::wstring folder = rapi_emulator::DeviceFolder();
  CreateDirectoryW(folder.c_str(), nullptr);
  CreateDirectoryW((folder + L"\\Windows").c_str(), nullptr);
}

std::vector<std::uint8_t> ReadWholeFile(const std::wstring& path, bool* found) {
  std::vector<std::uint8_t> content;
  *found = false;
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return content;
  *found = true;
  std::uint8_t chunk[65536];
  ::DWORD got = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got != 0) {
    content.insert(content.end(), chunk, chunk + got);
  }
  CloseHandle(file);
  return content;
}

bool WriteWholeFile(const std::wstring& path, const std::vector<std::uint8_t>& content) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::DWORD written = 0;
  const bool ok =
      content.empty() ||
      (WriteFile(file, content.data(), static_cast<::DWORD>(content.size()), &written, nullptr) &&
       written == content.size());
  CloseHandle(file);
  return ok;
}

// The simulated probe: runs only from a valid probe image at its device path, writes the report
// and, when asked to, hands out a copy of it as an output block from the local heap.
HRESULT RunProbe(const WCHAR* dllPath, const WCHAR* functionName, DWORD* outputSize, BYTE** output,
                 std::string* note) {
  if (dllPath == nullptr || !rapi_emulator::EqualsIgnoringAsciiCase(dllPath, kProbePath)) {
    *note = "no such library";
    return kModuleNotFound;
  }
  bool found = false;
  const std::vector<std::uint8_t> image =
      ReadWholeFile(rapi_emulator::HostPath(kProbePath), &found);
  if (!found) {
    *note = "the library is not on the device";
    return kModuleNotFound;
  }
  if (!probe_image::IsValid(image)) {
    *note = "not a valid probe image (" + std::to_string(image.size()) + " bytes)";
    return kBadImage;
  }
  if (functionName == nullptr || std::u16string(functionName) != kProbeEntry) {
    *note = "no such entry point";
    return kProcedureNotFound;
  }
  const std::vector<std::uint8_t> report = rapi_emulator::ReportBytes();
  if (!WriteWholeFile(rapi_emulator::HostPath(kReportFile), report)) {
    *note = "the report could not be written";
    return FromWin32(GetLastError());
  }
  *note = "report " + std::to_string(report.size()) + " bytes";
  if (rapi_emulator::HandsOutOutputBlock() && output != nullptr && !report.empty()) {
    void* block = LocalAlloc(LMEM_FIXED, report.size());
    if (block != nullptr) {
      std::copy(report.begin(), report.end(), static_cast<std::uint8_t*>(block));
      *output = static_cast<BYTE*>(block);
      if (outputSize != nullptr) *outputSize = static_cast<DWORD>(report.size());
      *note += ", output block " + std::to_string(report.size()) + " bytes";
    }
  }
  return kOk;
}

#ifdef VURO_EMU_PLANTED
// The planted variant leaves a trace of every load, so that a test can tell it was never loaded.
void WritePlantedMarker() {
  const std::wstring marker = rapi_emulator::WideEnv(L"VURO_EMU_PLANTED_MARKER");
  if (marker.empty()) return;
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(selfModule, path, MAX_PATH);
  const std::string text = "planted rapi.dll loaded: " + rapi_emulator::Utf8(path) + "\n";
  WriteWholeFile(marker, std::vector<std::uint8_t>(text.begin(), text.end()));
}
#endif

}  // namespace

extern "C" {

platform::HRESULT VURO_WINAPI CeRapiInitEx(platform::RAPIINIT* init) {
  if (init == nullptr) {
    Log("CeRapiInitEx(null) -> " + Hex32(kInvalidArg));
    return kInvalidArg;
  }
  const std::string call = "CeRapiInitEx(cbSize=" + std::to_string(init->cbSize) + ")";
  if (init->cbSize != sizeof(platform::RAPIINIT)) {
    Log(call + " -> " + Hex32(kInvalidArg) + ": cbSize must be " +
        std::to_string(sizeof(platform::RAPIINIT)));
    return kInvalidArg;
  }
  if (session.started) {
    Log(call + " -> " + Hex32(kUnexpected) + ": already started");
    return kUnexpected;
  }
  const std::optional<rapi_emulator::StartMode> mode = rapi_emulator::StartModeFromEnv();
  if (!mode) {
    Log(call + " -> " + Hex32(kFail) + ": VURO_EMU_START must be now, late or never");
    return kFail;
  }
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) {
    Log(call + " -> " + Hex32(kFail) + ": no event");
    return kFail;
  }
  std::string note;
  if (rapi_emulator::DeviceFolder().empty()) {
    note = "no device (VURO_EMU_DEVICE is not set): the start event is never signalled";
  } else if (*mode == rapi_emulator::StartMode::kNow) {
    PrepareDeviceFolder();
    SetEvent(event);
    note = "start event signalled";
  } else if (*mode == rapi_emulator::StartMode::kLate) {
    PrepareDeviceFolder();
    if (!StartLateSignal(event)) {
      CloseHandle(event);
      Log(call + " -> " + Hex32(kFail) + ": no thread for the late start");
      return kFail;
    }
    note = "start event signalled after " + std::to_string(kLateStartMs) + " ms";
  } else {
    note = "start event never signalled";
  }
  // The result code arrives with the start; a start that never comes leaves it as it was.
  if (*mode != rapi_emulator::StartMode::kNever && !rapi_emulator::DeviceFolder().empty()) {
    init->hrRapiInit = kOk;
  }
  init->heRapiInit = event;
  session.started = true;
  session.startEvent = event;
  Log(call + " -> " + Hex32(kOk) + "; " + note);
  return kOk;
}

platform::HRESULT VURO_WINAPI CeRapiUninit() {
  if (!session.started) {
    Log("CeRapiUninit() -> " + Hex32(kFail) + ": not started");
    return kFail;
  }
  CloseHandle(session.startEvent);
  session.startEvent = nullptr;
  session.started = false;
  Log("CeRapiUninit() -> " + Hex32(kOk) +
      "; open device handles: " + std::to_string(session.openFiles.size()));
  return kOk;
}

platform::HRESULT VURO_WINAPI CeRapiInvoke(const platform::WCHAR* dllPath,
                                           const platform::WCHAR* functionName,
                                           platform::DWORD inputSize, platform::BYTE* input,
                                           platform::DWORD* outputSize, platform::BYTE** output,
                                           platform::IRAPIStream** stream,
                                           platform::DWORD reserved) {
  const std::string call =
      "CeRapiInvoke(" + Quoted(dllPath) + ", " + Quoted(functionName) +
      ", inputSize=" + std::to_string(inputSize) + ", input=" + Flag(input != nullptr) +
      ", outputSize=" + Flag(outputSize != nullptr) + ", output=" + Flag(output != nullptr) +
      ", stream=" + Flag(stream != nullptr) + ", reserved=" + std::to_string(reserved) + ")";
  // The Remote API takes over the input block, as it would for a real device.
  if (input != nullptr) LocalFree(input);
  if (outputSize != nullptr) *outputSize = 0;
  if (output != nullptr) *output = nullptr;
  if (!DeviceReady(call)) return kFail;
  if (stream != nullptr) {
    Log(call + " -> " + Hex32(kInvalidArg) + ": only block mode is offered");
    return kInvalidArg;
  }
  std::string note;
  const platform::HRESULT result = RunProbe(dllPath, functionName, outputSize, output, &note);
  Log(call + " -> " + Hex32(result) + "; " + note);
  return result;
}

HANDLE VURO_WINAPI CeCreateFile(const platform::WCHAR* fileName, platform::DWORD access,
                                platform::DWORD shareMode,
                                platform::SECURITY_ATTRIBUTES* securityAttributes,
                                platform::DWORD creationDisposition,
                                platform::DWORD flagsAndAttributes, HANDLE templateFile) {
  const std::string call = "CeCreateFile(" + Quoted(fileName) + ", access=" + AccessText(access) +
                           ", share=" + Hex32(shareMode) +
                           ", security=" + Flag(securityAttributes != nullptr) +
                           ", disposition=" + DispositionText(creationDisposition) +
                           ", attributes=" + Hex32(flagsAndAttributes) +
                           ", template=" + Flag(templateFile != nullptr) + ")";
  if (!DeviceReady(call)) return INVALID_HANDLE_VALUE;
  const std::wstring host = rapi_emulator::HostPath(fileName);
  if (host.empty()) {
    Log(call + " -> INVALID_HANDLE_VALUE: not a device path");
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  // The device ignores security attributes and template files.
  const HANDLE file = CreateFileW(host.c_str(), access, shareMode, nullptr, creationDisposition,
                                  flagsAndAttributes, nullptr);
  const platform::DWORD error = GetLastError();
  if (file == INVALID_HANDLE_VALUE) {
    Log(call + " -> INVALID_HANDLE_VALUE; error " + std::to_string(error));
  } else {
    session.openFiles.push_back(file);
    Log(call + " -> " + HandleText(file));
  }
  SetLastError(error);
  return file;
}

platform::BOOL VURO_WINAPI CeWriteFile(HANDLE file, const void* buffer,
                                       platform::DWORD bytesToWrite, platform::DWORD* bytesWritten,
                                       platform::OVERLAPPED* overlapped) {
  const std::string call = "CeWriteFile(" + HandleText(file) +
                           ", bytesToWrite=" + std::to_string(bytesToWrite) +
                           ", bytesWritten=" + Flag(bytesWritten != nullptr) +
                           ", overlapped=" + Flag(overlapped != nullptr) + ")";
  if (!DeviceReady(call) || !KnownFile(file, call)) return FALSE;
  if (overlapped != nullptr) {
    Log(call + " -> FALSE: the device has no overlapped I/O");
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  ::DWORD written = 0;
  const platform::BOOL ok = WriteFile(file, buffer, bytesToWrite, &written, nullptr);
  if (bytesWritten != nullptr) *bytesWritten = written;
  Log(call + " -> " + Bool(ok) + "; written " + std::to_string(written));
  return ok;
}

platform::BOOL VURO_WINAPI CeReadFile(HANDLE file, void* buffer, platform::DWORD bytesToRead,
                                      platform::DWORD* bytesRead,
                                      platform::OVERLAPPED* overlapped) {
  const std::string call = "CeReadFile(" + HandleText(file) +
                           ", bytesToRead=" + std::to_string(bytesToRead) +
                           ", bytesRead=" + Flag(bytesRead != nullptr) +
                           ", overlapped=" + Flag(overlapped != nullptr) + ")";
  if (!DeviceReady(call) || !KnownFile(file, call)) return FALSE;
  if (overlapped != nullptr) {
    Log(call + " -> FALSE: the device has no overlapped I/O");
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  const std::uint32_t limit = rapi_emulator::ReadChunkLimit();
  const platform::DWORD asked =
      limit != 0 ? std::min<platform::DWORD>(bytesToRead, limit) : bytesToRead;
  ::DWORD got = 0;
  const platform::BOOL ok = ReadFile(file, buffer, asked, &got, nullptr);
  if (bytesRead != nullptr) *bytesRead = got;
  Log(call + " -> " + Bool(ok) + "; read " + std::to_string(got));
  return ok;
}

platform::DWORD VURO_WINAPI CeGetFileSize(HANDLE file, platform::DWORD* fileSizeHigh) {
  const std::string call =
      "CeGetFileSize(" + HandleText(file) + ", high=" + Flag(fileSizeHigh != nullptr) + ")";
  if (!DeviceReady(call) || !KnownFile(file, call)) return kInvalidFileSize;
  ::DWORD high = 0;
  const platform::DWORD size = GetFileSize(file, &high);
  if (fileSizeHigh != nullptr) *fileSizeHigh = high;
  Log(call + " -> " + std::to_string(size));
  return size;
}

platform::BOOL VURO_WINAPI CeCloseHandle(HANDLE object) {
  const std::string call = "CeCloseHandle(" + HandleText(object) + ")";
  if (!DeviceReady(call) || !KnownFile(object, call)) return FALSE;
  session.openFiles.erase(std::find(session.openFiles.begin(), session.openFiles.end(), object));
  const platform::BOOL ok = CloseHandle(object);
  Log(call + " -> " + Bool(ok));
  return ok;
}

platform::BOOL VURO_WINAPI CeDeleteFile(const platform::WCHAR* fileName) {
  const std::string call = "CeDeleteFile(" + Quoted(fileName) + ")";
  if (!DeviceReady(call)) return FALSE;
  const std::wstring host = rapi_emulator::HostPath(fileName);
  if (host.empty()) {
    Log(call + " -> FALSE: not a device path");
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  const platform::BOOL ok = DeleteFileW(host.c_str());
  const platform::DWORD error = GetLastError();
  Log(call + " -> " + Bool(ok) + (ok ? "" : "; error " + std::to_string(error)));
  SetLastError(error);
  return ok;
}

BOOL WINAPI DllMain(HINSTANCE instance, ::DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    selfModule = instance;
    DisableThreadLibraryCalls(instance);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(instance, path, MAX_PATH);
    Log("rapi.dll loaded: " + rapi_emulator::Utf8(path));
#ifdef VURO_EMU_PLANTED
    WritePlantedMarker();
#endif
  } else if (reason == DLL_PROCESS_DETACH) {
    Log(std::string("rapi.dll unloaded ") + (reserved == nullptr ? "by FreeLibrary" : "at exit") +
        "; open device handles: " + std::to_string(session.openFiles.size()) +
        (session.started ? "; still started" : ""));
  }
  return TRUE;
}

}  // extern "C"

// The exports have exactly the types under which the program looks them up.
static_assert(std::is_same_v<decltype(&CeRapiInitEx), platform::CeRapiInitExFn>);
static_assert(std::is_same_v<decltype(&CeRapiUninit), platform::CeRapiUninitFn>);
static_assert(std::is_same_v<decltype(&CeRapiInvoke), platform::CeRapiInvokeFn>);
static_assert(std::is_same_v<decltype(&CeCreateFile), platform::CeCreateFileFn>);
static_assert(std::is_same_v<decltype(&CeWriteFile), platform::CeWriteFileFn>);
static_assert(std::is_same_v<decltype(&CeReadFile), platform::CeReadFileFn>);
static_assert(std::is_same_v<decltype(&CeGetFileSize), platform::CeGetFileSizeFn>);
static_assert(std::is_same_v<decltype(&CeCloseHandle), platform::CeCloseHandleFn>);
static_assert(std::is_same_v<decltype(&CeDeleteFile), platform::CeDeleteFileFn>);
