#include "device/device_connection.h"

namespace {

constexpr char kRemoteApiLibrary[] = "rapi.dll";
// How long a start of the Remote API may take to confirm itself.
constexpr platform::DWORD kStartWaitMilliseconds = 2000;

// Looks up one entry point; null when the library has none of that name. The generic function
// type in between is the one every function pointer may pass through.
template <typename Entry>
Entry LookUp(platform::HMODULE library, const char* name) {
  using AnyFunction = void (*)();
  return reinterpret_cast<Entry>(
      reinterpret_cast<AnyFunction>(platform::GetProcAddress(library, name)));
}

}  // namespace

int DeviceConnection::Load() {
  loaded = 0;
  library = platform::LoadLibraryA(kRemoteApiLibrary);
  if (library == nullptr) return 0;

  // All nine are looked up, even past a missing one.
  ceRapiInitEx = LookUp<platform::CeRapiInitExFn>(library, "CeRapiInitEx");
  ceRapiInvoke = LookUp<platform::CeRapiInvokeFn>(library, "CeRapiInvoke");
  ceRapiUninit = LookUp<platform::CeRapiUninitFn>(library, "CeRapiUninit");
  ceCreateFile = LookUp<platform::CeCreateFileFn>(library, "CeCreateFile");
  ceWriteFile = LookUp<platform::CeWriteFileFn>(library, "CeWriteFile");
  ceCloseHandle = LookUp<platform::CeCloseHandleFn>(library, "CeCloseHandle");
  ceReadFile = LookUp<platform::CeReadFileFn>(library, "CeReadFile");
  ceGetFileSize = LookUp<platform::CeGetFileSizeFn>(library, "CeGetFileSize");
  ceDeleteFile = LookUp<platform::CeDeleteFileFn>(library, "CeDeleteFile");

  const bool complete = ceRapiInitEx != nullptr && ceRapiInvoke != nullptr &&
                        ceRapiUninit != nullptr && ceCreateFile != nullptr &&
                        ceWriteFile != nullptr && ceCloseHandle != nullptr &&
                        ceReadFile != nullptr && ceGetFileSize != nullptr &&
                        ceDeleteFile != nullptr;
  if (!complete) {
    // An incomplete table is never called through; letting the library go keeps the record
    // empty, so that nothing is left loaded that Close would not release.
    ReleaseLibrary();
    return 0;
  }
  loaded = 1;
  return loaded;
}

int DeviceConnection::Connect() {
  if (loaded == 1) {
    // A fresh record for every attempt. Only the wait decides: the record's result code is not
    // looked at, and the event is neither kept nor closed.
    platform::RAPIINIT start = {};
    start.cbSize = sizeof(start);
    start.heRapiInit = nullptr;
    start.hrRapiInit = platform::S_OK;
    ceRapiInitEx(&start);
    if (platform::WaitForSingleObject(start.heRapiInit, kStartWaitMilliseconds) ==
        platform::WAIT_OBJECT_0) {
      connected = 1;
    }
  }
  return connected;
}

int DeviceConnection::EnsureConnected() {
  if (loaded == 0 && Load() == 0) return 0;
  if (connected == 0 && Connect() == 0) return 0;
  return 1;
}

void DeviceConnection::Close() {
  // The Remote API is stopped before its library goes.
  if (connected == 1 && ceRapiUninit != nullptr) {
    ceRapiUninit();
    connected = 0;
  }
  if (loaded == 1) {
    ReleaseLibrary();
    loaded = 0;
  }
}

void DeviceConnection::ReleaseLibrary() {
  if (library == nullptr) return;
  platform::FreeLibrary(library);
  library = nullptr;
  ceRapiInitEx = nullptr;
  ceRapiInvoke = nullptr;
  ceRapiUninit = nullptr;
  ceCreateFile = nullptr;
  ceWriteFile = nullptr;
  ceCloseHandle = nullptr;
  ceReadFile = nullptr;
  ceGetFileSize = nullptr;
  ceDeleteFile = nullptr;
}
