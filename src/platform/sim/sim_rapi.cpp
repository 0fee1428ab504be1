// The simulated rapi.dll and the handheld behind it: loading and entry-point lookup, the start
// event and simulated time, the device's files and the probe library's invocation.
#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/platform.h"
#include "platform/remote_api.h"
#include "platform/sim/probe_image.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_state.h"

namespace sim {
namespace detail {
namespace {

using platform::BOOL;
using platform::BYTE;
using platform::DWORD;
using platform::HANDLE;
using platform::HRESULT;
using platform::WCHAR;

constexpr char kRapiName[] = "rapi.dll";
constexpr DWORD kLateStartMs = 2500;
constexpr DWORD INFINITE = 0xFFFFFFFFu;

constexpr char16_t kProbePath[] = u"\\Windows\\KOLTInfo.dll";
constexpr char16_t kProbeEntry[] = u"VuroModelInfo";
constexpr char16_t kReportFile[] = u"koltout.txt";

// What the device answers when the probe cannot be run, as HRESULTs of Win32 errors.
constexpr HRESULT kModuleNotFound = static_cast<HRESULT>(0x8007007Eu);
constexpr HRESULT kProcedureNotFound = static_cast<HRESULT>(0x8007007Fu);
constexpr HRESULT kBadImage = static_cast<HRESULT>(0x800700C1u);

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    const auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; };
    if (fold(*a) != fold(*b)) return false;
  }
  return *a == *b;
}

platform::HMODULE RapiModule() {
  return static_cast<platform::HMODULE>(HandleOf(kRapiModuleNumber));
}

// ---------------------------------------------------------------------------------------------
// Preconditions of the entry points

// An entry point runs only while its library is loaded; a call after that is a breach.
bool LibraryHeld(const char* call) {
  if (Machine().loads > 0) return true;
  Violation(std::string(call) + " called after rapi.dll was released");
  return false;
}

// A device call needs a start confirmed by a successful wait on its event. A start confirmed but
// reporting failure in its result code is no breach, yet the device is not reached.
bool DeviceReachable(const char* call) {
  if (!LibraryHeld(call)) return false;
  const State& machine = Machine();
  if (!machine.started || !machine.startConfirmed) {
    Violation(std::string(call) + " without a start confirmed by a wait on its event");
    return false;
  }
  return machine.startResult == platform::S_OK;
}

DeviceHandle* FindDeviceHandle(HANDLE handle, const char* call) {
  const std::optional<Number> number = NumberOf(handle);
  auto& handles = Machine().deviceHandles;
  const auto it = number ? handles.find(*number) : handles.end();
  if (it == handles.end()) {
    Violation(std::string(call) + ": " + HandleText(handle) + " is not an open device file handle");
    return nullptr;
  }
  return &it->second;
}

bool IsOpenOnDevice(const std::u16string& path) {
  const auto& handles = Machine().deviceHandles;
  return std::any_of(handles.begin(), handles.end(),
                     [&](const auto& entry) { return entry.second.path == path; });
}

// ---------------------------------------------------------------------------------------------
// The entry points' work

HRESULT InitNow(platform::RAPIINIT* init, bool faulted) {
  State& machine = Machine();
  ++machine.startCount;
  if (!LibraryHeld("CeRapiInitEx")) return platform::E_FAIL;
  if (init == nullptr || init->cbSize != sizeof(platform::RAPIINIT)) return platform::E_INVALIDARG;
  if (faulted || machine.start == Start::kNoEvent) return platform::E_FAIL;
  Event event;
  if (machine.start == Start::kLate) {
    event.signalledAt = machine.now + kLateStartMs;
  } else if (machine.start != Start::kNever) {
    event.signalledAt = machine.now;
  }
  const Number number = NewNumber();
  machine.events[number] = event;
  machine.started = true;
  machine.startEvent = number;
  machine.startConfirmed = false;
  machine.startResult = machine.start == Start::kFailedResult ? platform::E_FAIL : platform::S_OK;
  init->heRapiInit = HandleOf(number);
  // The result code arrives with the event; a start that never comes leaves it as it was.
  if (machine.start != Start::kNever) init->hrRapiInit = machine.startResult;
  return platform::S_OK;
}

HRESULT UninitNow() {
  if (!LibraryHeld("CeRapiUninit")) return platform::E_FAIL;
  State& machine = Machine();
  if (!machine.started) {
    Violation("CeRapiUninit without a started Remote API");
    return platform::E_FAIL;
  }
  machine.started = false;
  machine.startConfirmed = false;
  machine.startEvent.reset();
  return platform::S_OK;
}

// Runs the probe when the device holds a valid one at its path: the probe writes its report and
// may hand out an output block.
HRESULT InvokeNow(const WCHAR* dllPath, const WCHAR* functionName, DWORD* outputSize, BYTE** output,
                  platform::IRAPIStream** stream) {
  if (stream != nullptr) return platform::E_INVALIDARG;  // only block mode is offered
  if (dllPath == nullptr || std::u16string(dllPath) != kProbePath) return kModuleNotFound;
  State& machine = Machine();
  const auto probe = machine.deviceFiles.find(kProbePath);
  if (probe == machine.deviceFiles.end()) return kModuleNotFound;
  if (!probe_image::IsValid(probe->second)) return kBadImage;
  if (functionName == nullptr || std::u16string(functionName) != kProbeEntry) {
    return kProcedureNotFound;
  }
  machine.deviceFiles[kReportFile] = machine.report;
  if (machine.handOutOutputBlock && output != nullptr) {
    *output = static_cast<BYTE*>(NewOutputBlock(machine.report));
    if (*output != nullptr && outputSize != nullptr) {
      *outputSize = static_cast<DWORD>(machine.report.size());
    }
  }
  return platform::S_OK;
}

HANDLE CreateNow(const WCHAR* fileName, DWORD access, DWORD creationDisposition) {
  const DWORD readWrite = platform::GENERIC_READ | platform::GENERIC_WRITE;
  if (fileName == nullptr || (access & readWrite) == 0) return platform::INVALID_HANDLE_VALUE;
  const std::u16string path(fileName);
  auto& files = Machine().deviceFiles;
  if (creationDisposition == platform::OPEN_EXISTING) {
    if (files.count(path) == 0) return platform::INVALID_HANDLE_VALUE;
  } else if (creationDisposition == platform::CREATE_ALWAYS) {
    files[path].clear();
  } else {
    return platform::INVALID_HANDLE_VALUE;
  }
  const Number number = NewNumber();
  Machine().deviceHandles[number] = DeviceHandle{path, access, 0};
  return HandleOf(number);
}

BOOL WriteNow(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
              bool shortWrite) {
  DeviceHandle* handle = FindDeviceHandle(file, "CeWriteFile");
  if (handle == nullptr || (handle->access & platform::GENERIC_WRITE) == 0) return platform::FALSE;
  if (buffer == nullptr && bytesToWrite != 0) return platform::FALSE;
  const auto it = Machine().deviceFiles.find(handle->path);
  if (it == Machine().deviceFiles.end()) return platform::FALSE;
  Bytes& content = it->second;
  const std::size_t count = shortWrite ? bytesToWrite / 2 : bytesToWrite;
  if (content.size() < handle->position + count) content.resize(handle->position + count);
  if (count != 0) std::memcpy(content.data() + handle->position, buffer, count);
  handle->position += count;
  if (bytesWritten != nullptr) *bytesWritten = static_cast<DWORD>(count);
  return platform::TRUE;
}

BOOL ReadNow(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, bool shortRead) {
  DeviceHandle* handle = FindDeviceHandle(file, "CeReadFile");
  if (handle == nullptr || (handle->access & platform::GENERIC_READ) == 0) return platform::FALSE;
  if (buffer == nullptr && bytesToRead != 0) return platform::FALSE;
  const auto it = Machine().deviceFiles.find(handle->path);
  if (it == Machine().deviceFiles.end()) return platform::FALSE;
  const Bytes& content = it->second;
  const std::size_t left = content.size() - std::min(handle->position, content.size());
  std::size_t count = std::min<std::size_t>(bytesToRead, left);
  const DWORD limit = Machine().readChunkLimit;
  if (limit != 0) count = std::min<std::size_t>(count, limit);
  // A short read still hands out a byte while any are left: 0 would read as the end of the file.
  if (shortRead) count = count > 1 ? count / 2 : count;
  if (count != 0) std::memcpy(buffer, content.data() + handle->position, count);
  handle->position += count;
  if (bytesRead != nullptr) *bytesRead = static_cast<DWORD>(count);
  return platform::TRUE;
}

DWORD SizeNow(HANDLE file, DWORD* fileSizeHigh) {
  const DeviceHandle* handle = FindDeviceHandle(file, "CeGetFileSize");
  if (handle == nullptr) return platform::INVALID_FILE_SIZE;
  const auto it = Machine().deviceFiles.find(handle->path);
  if (it == Machine().deviceFiles.end()) return platform::INVALID_FILE_SIZE;
  const auto size = static_cast<std::uint64_t>(it->second.size());
  if (fileSizeHigh != nullptr) *fileSizeHigh = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

BOOL CloseNow(HANDLE object) {
  const std::optional<Number> number = NumberOf(object);
  if (!number || Machine().deviceHandles.erase(*number) == 0) {
    CloseViolation("CeCloseHandle", object, "device file handle");
    return platform::FALSE;
  }
  Machine().closed.insert(*number);
  return platform::TRUE;
}

// A file held open on the device cannot be deleted, as on Windows CE.
BOOL DeleteNow(const WCHAR* fileName) {
  if (fileName == nullptr) return platform::FALSE;
  const std::u16string path(fileName);
  if (IsOpenOnDevice(path)) return platform::FALSE;
  return Machine().deviceFiles.erase(path) != 0 ? platform::TRUE : platform::FALSE;
}

// ---------------------------------------------------------------------------------------------
// The entry points, with exactly the types of remote_api.h

std::string BoolText(BOOL value) {
  return Dec(static_cast<unsigned>(value));
}

HRESULT VURO_WINAPI CeRapiInitExEntry(platform::RAPIINIT* init) {
  const std::optional<Fault> fault = TakeFault("CeRapiInitEx");
  std::vector<std::string> args = {Ptr(init)};
  const HRESULT result = InitNow(init, fault.has_value());
  Record("CeRapiInitEx", std::move(args), DecSigned(result));
  return result;
}

HRESULT VURO_WINAPI CeRapiUninitEntry() {
  TakeFault("CeRapiUninit");  // counted, but stopping always does its work
  const HRESULT result = UninitNow();
  Record("CeRapiUninit", {}, DecSigned(result));
  return result;
}

HRESULT VURO_WINAPI CeRapiInvokeEntry(const WCHAR* dllPath, const WCHAR* functionName,
                                      DWORD inputSize, BYTE* input, DWORD* outputSize,
                                      BYTE** output, platform::IRAPIStream** stream,
                                      DWORD reserved) {
  const std::optional<Fault> fault = TakeFault("CeRapiInvoke");
  std::vector<std::string> args = {Wide(dllPath), Wide(functionName), Dec(inputSize),
                                   Ptr(input),    Ptr(outputSize),    Ptr(output),
                                   Ptr(stream),   Dec(reserved)};
  HRESULT result = platform::E_FAIL;
  if (DeviceReachable("CeRapiInvoke")) {
    if (outputSize != nullptr) *outputSize = 0;
    if (output != nullptr) *output = nullptr;
    if (!fault) result = InvokeNow(dllPath, functionName, outputSize, output, stream);
  }
  Record("CeRapiInvoke", std::move(args), DecSigned(result));
  return result;
}

HANDLE VURO_WINAPI CeCreateFileEntry(const WCHAR* fileName, DWORD access, DWORD shareMode,
                                     platform::SECURITY_ATTRIBUTES* securityAttributes,
                                     DWORD creationDisposition, DWORD flagsAndAttributes,
                                     HANDLE templateFile) {
  const std::optional<Fault> fault = TakeFault("CeCreateFile");
  std::vector<std::string> args = {Wide(fileName),           Dec(access),
                                   Dec(shareMode),           Ptr(securityAttributes),
                                   Dec(creationDisposition), Dec(flagsAndAttributes),
                                   HandleText(templateFile)};
  HANDLE file = platform::INVALID_HANDLE_VALUE;
  if (DeviceReachable("CeCreateFile") && !fault) {
    file = CreateNow(fileName, access, creationDisposition);
  }
  Record("CeCreateFile", std::move(args), HandleText(file));
  return file;
}

BOOL VURO_WINAPI CeWriteFileEntry(HANDLE file, const void* buffer, DWORD bytesToWrite,
                                  DWORD* bytesWritten, platform::OVERLAPPED* overlapped) {
  const std::optional<Fault> fault = TakeFault("CeWriteFile");
  std::vector<std::string> args = {HandleText(file), Ptr(buffer), Dec(bytesToWrite),
                                   Ptr(bytesWritten), Ptr(overlapped)};
  if (bytesWritten != nullptr) *bytesWritten = 0;
  BOOL written = platform::FALSE;
  if (DeviceReachable("CeWriteFile") && fault != Fault::kFail) {
    written = WriteNow(file, buffer, bytesToWrite, bytesWritten, fault.has_value());
  }
  Record("CeWriteFile", std::move(args), BoolText(written));
  return written;
}

BOOL VURO_WINAPI CeReadFileEntry(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                                 platform::OVERLAPPED* overlapped) {
  const std::optional<Fault> fault = TakeFault("CeReadFile");
  std::vector<std::string> args = {HandleText(file), Ptr(buffer), Dec(bytesToRead), Ptr(bytesRead),
                                   Ptr(overlapped)};
  if (bytesRead != nullptr) *bytesRead = 0;
  BOOL read = platform::FALSE;
  if (DeviceReachable("CeReadFile") && fault != Fault::kFail) {
    read = ReadNow(file, buffer, bytesToRead, bytesRead, fault.has_value());
  }
  Record("CeReadFile", std::move(args), BoolText(read));
  return read;
}

DWORD VURO_WINAPI CeGetFileSizeEntry(HANDLE file, DWORD* fileSizeHigh) {
  const std::optional<Fault> fault = TakeFault("CeGetFileSize");
  std::vector<std::string> args = {HandleText(file), Ptr(fileSizeHigh)};
  DWORD size = platform::INVALID_FILE_SIZE;
  if (DeviceReachable("CeGetFileSize") && !fault) size = SizeNow(file, fileSizeHigh);
  Record("CeGetFileSize", std::move(args), Dec(size));
  return size;
}

BOOL VURO_WINAPI CeCloseHandleEntry(HANDLE object) {
  TakeFault("CeCloseHandle");  // counted, but a close always does its work
  std::vector<std::string> args = {HandleText(object)};
  const BOOL closed = DeviceReachable("CeCloseHandle") ? CloseNow(object) : platform::FALSE;
  Record("CeCloseHandle", std::move(args), BoolText(closed));
  return closed;
}

BOOL VURO_WINAPI CeDeleteFileEntry(const WCHAR* fileName) {
  const std::optional<Fault> fault = TakeFault("CeDeleteFile");
  std::vector<std::string> args = {Wide(fileName)};
  BOOL deleted = platform::FALSE;
  if (DeviceReachable("CeDeleteFile") && !fault) deleted = DeleteNow(fileName);
  Record("CeDeleteFile", std::move(args), BoolText(deleted));
  return deleted;
}

// The explicit type argument makes each entry convert to its remote_api.h type exactly; the step
// through void(*)() is the one function-pointer cast that the compiler takes as deliberate.
template <typename Fn>
platform::FARPROC AsFarProc(Fn entry) {
  return reinterpret_cast<platform::FARPROC>(reinterpret_cast<void (*)()>(entry));
}

struct EntryPoint {
  const char* name;
  platform::FARPROC address;
};

const EntryPoint kEntryPoints[] = {
    {"CeRapiInitEx", AsFarProc<platform::CeRapiInitExFn>(&CeRapiInitExEntry)},
    {"CeRapiInvoke", AsFarProc<platform::CeRapiInvokeFn>(&CeRapiInvokeEntry)},
    {"CeRapiUninit", AsFarProc<platform::CeRapiUninitFn>(&CeRapiUninitEntry)},
    {"CeCreateFile", AsFarProc<platform::CeCreateFileFn>(&CeCreateFileEntry)},
    {"CeWriteFile", AsFarProc<platform::CeWriteFileFn>(&CeWriteFileEntry)},
    {"CeCloseHandle", AsFarProc<platform::CeCloseHandleFn>(&CeCloseHandleEntry)},
    {"CeReadFile", AsFarProc<platform::CeReadFileFn>(&CeReadFileEntry)},
    {"CeGetFileSize", AsFarProc<platform::CeGetFileSizeFn>(&CeGetFileSizeEntry)},
    {"CeDeleteFile", AsFarProc<platform::CeDeleteFileFn>(&CeDeleteFileEntry)},
};

// ---------------------------------------------------------------------------------------------
// Loading and waiting

platform::HMODULE LoadNow(const char* fileName) {
  if (fileName == nullptr || !Machine().rapiInstalled) return nullptr;
  if (!EqualsIgnoringAsciiCase(fileName, kRapiName)) return nullptr;
  ++Machine().loads;
  return RapiModule();
}

platform::FARPROC LookUpNow(platform::HMODULE module, const char* procName, bool byOrdinal) {
  if (module != RapiModule() || Machine().loads == 0 || byOrdinal) return nullptr;
  if (Machine().removedEntries.count(procName) != 0) return nullptr;
  for (const EntryPoint& entry : kEntryPoints) {
    if (std::strcmp(entry.name, procName) == 0) return entry.address;
  }
  return nullptr;
}

BOOL FreeNow(platform::HMODULE module) {
  if (module != RapiModule() || Machine().loads == 0) {
    Violation("FreeLibrary: " + HandleText(module) + " is not a loaded module");
    return platform::FALSE;
  }
  --Machine().loads;
  return platform::TRUE;
}

DWORD WaitNow(HANDLE handle, DWORD milliseconds, bool faulted) {
  State& machine = Machine();
  if (faulted) {
    if (milliseconds != INFINITE) machine.now += milliseconds;
    return platform::WAIT_TIMEOUT;
  }
  const std::optional<Number> number = NumberOf(handle);
  const auto event = number ? machine.events.find(*number) : machine.events.end();
  if (event == machine.events.end()) return platform::WAIT_FAILED;
  const std::optional<std::uint64_t> at = event->second.signalledAt;
  const bool inTime = at && (milliseconds == INFINITE || *at <= machine.now + milliseconds);
  if (!inTime) {
    if (milliseconds == INFINITE) {
      Violation("WaitForSingleObject: " + HandleText(handle) + " would be waited for forever");
      return platform::WAIT_FAILED;
    }
    machine.now += milliseconds;
    return platform::WAIT_TIMEOUT;
  }
  machine.now = std::max(machine.now, *at);
  if (machine.started && machine.startEvent == number) machine.startConfirmed = true;
  return platform::WAIT_OBJECT_0;
}

}  // namespace
}  // namespace detail

using detail::Machine;

void InstallRapi() {
  Machine().rapiInstalled = true;
}
void UninstallRapi() {
  Machine().rapiInstalled = false;
}

void RemoveRapiEntry(const std::string& name) {
  if (name.empty()) {
    Machine().removedEntries.clear();
  } else {
    Machine().removedEntries.insert(name);
  }
}

void SetStart(Start start) {
  Machine().start = start;
}
void SetReadChunkLimit(platform::DWORD bytes) {
  Machine().readChunkLimit = bytes;
}
void SetInvokeOutputBlock(bool handOut) {
  Machine().handOutOutputBlock = handOut;
}
void SetReport(const std::string& report) {
  Machine().report = ToBytes(report);
}

Bytes ProbeImage(std::size_t size) {
  return probe_image::Make(size);
}
bool IsValidProbe(const Bytes& content) {
  return probe_image::IsValid(content);
}

void SetDeviceFile(const std::u16string& path, Bytes content) {
  Machine().deviceFiles[path] = std::move(content);
}

void RemoveDeviceFile(const std::u16string& path) {
  Machine().deviceFiles.erase(path);
}

std::optional<Bytes> GetDeviceFile(const std::u16string& path) {
  const auto it = Machine().deviceFiles.find(path);
  if (it == Machine().deviceFiles.end()) return std::nullopt;
  return it->second;
}

int OpenDeviceFileCount() {
  return static_cast<int>(Machine().deviceHandles.size());
}
int LoadedLibraryCount() {
  return Machine().loads;
}
int StartCount() {
  return Machine().startCount;
}
bool RemoteApiStarted() {
  return Machine().started;
}

}  // namespace sim

namespace platform {

using namespace sim::detail;

HMODULE LoadLibraryA(const char* fileName) {
  const std::optional<sim::Fault> fault = TakeFault("LoadLibraryA");
  std::vector<std::string> args = {Str(fileName)};
  HMODULE module = fault ? nullptr : LoadNow(fileName);
  Record("LoadLibraryA", std::move(args), HandleText(module));
  return module;
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  const std::optional<sim::Fault> fault = TakeFault("GetProcAddress");
  // A name below 64 KiB is an ordinal, not a pointer.
  constexpr std::uintptr_t kOrdinalLimit = 0x10000;
  const bool byOrdinal = reinterpret_cast<std::uintptr_t>(procName) < kOrdinalLimit;
  const std::string name =
      byOrdinal ? "#" + Dec(reinterpret_cast<std::uintptr_t>(procName)) : std::string(procName);
  std::vector<std::string> args = {HandleText(module), name};
  FARPROC address = fault ? nullptr : LookUpNow(module, procName, byOrdinal);
  Record("GetProcAddress", std::move(args), address == nullptr ? "null" : "ptr");
  return address;
}

BOOL FreeLibrary(HMODULE module) {
  TakeFault("FreeLibrary");  // counted, but a release always does its work
  std::vector<std::string> args = {HandleText(module)};
  const BOOL freed = FreeNow(module);
  Record("FreeLibrary", std::move(args), Dec(static_cast<unsigned>(freed)));
  return freed;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  const std::optional<sim::Fault> fault = TakeFault("WaitForSingleObject");
  std::vector<std::string> args = {HandleText(handle), Dec(milliseconds)};
  const DWORD result = WaitNow(handle, milliseconds, fault.has_value());
  Record("WaitForSingleObject", std::move(args), Dec(result));
  return result;
}

BOOL RestrictDllSearchPath() {
  const std::optional<sim::Fault> fault = TakeFault("RestrictDllSearchPath");
  const BOOL restricted = fault ? FALSE : TRUE;
  Record("RestrictDllSearchPath", {}, Dec(static_cast<unsigned>(restricted)));
  return restricted;
}

}  // namespace platform
