// A device file opened through the Remote API, closed through the same connection's entry when the
// guard goes out of scope.
#pragma once

#include "platform/remote_api.h"

class DeviceFile {
 public:
  DeviceFile(platform::CeCloseHandleFn closeHandle, platform::HANDLE handle)
      : closeHandle_(closeHandle), handle_(handle) {}
  DeviceFile(const DeviceFile&) = delete;
  DeviceFile& operator=(const DeviceFile&) = delete;
  ~DeviceFile() {
    if (IsOpen()) closeHandle_(handle_);
  }

  // Any handle but INVALID_HANDLE_VALUE, null included, is an open file.
  bool IsOpen() const { return handle_ != platform::INVALID_HANDLE_VALUE; }
  platform::HANDLE Get() const { return handle_; }

 private:
  platform::CeCloseHandleFn closeHandle_;
  platform::HANDLE handle_;
};
