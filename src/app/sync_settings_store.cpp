#include "app/sync_settings_store.h"

#include <cstring>

#include "device/device_connection.h"
#include "platform/platform.h"
#include "platform/scoped_handles.h"

namespace {

// Opens the service's key without ever creating it; null when that fails.
platform::HKEY OpenSyncKey(platform::DWORD access) {
  platform::HKEY key = nullptr;
  if (platform::RegOpenKeyExA(platform::HKEY_CURRENT_USER, SyncSettingsStore::kKeyPath, 0, access,
                              &key) != platform::ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

}  // namespace

int DeviceConnection::ReadDeviceOemInfo(AnsiText& oemText) {
  const platform::ScopedRegKey key(OpenSyncKey(platform::KEY_READ));
  if (!key.IsValid()) return 0;

  // The buffer is cleared and a full buffer refused, so accepted data always end in a zero byte.
  platform::BYTE buffer[SyncSettingsStore::kRecordSize] = {};
  platform::DWORD type = 0;
  platform::DWORD size = sizeof(buffer);
  if (platform::RegQueryValueExA(key.Get(), SyncSettingsStore::kOemInfoValue, nullptr, &type,
                                 buffer, &size) != platform::ERROR_SUCCESS ||
      size >= sizeof(buffer)) {
    return 0;
  }
  // Whatever the value's type, its bytes up to the first zero byte are the text.
  oemText = AnsiText(reinterpret_cast<const char*>(buffer), size);
  return 1;
}

int DeviceConnection::WriteModelValue(AnsiText valueName, AnsiText model) {
  // The record always has its full size: the name, a zero byte, zero bytes to the end. A name
  // that leaves no room for the zero byte is refused rather than cut.
  if (model.Length() >= SyncSettingsStore::kRecordSize) return 0;
  platform::BYTE record[SyncSettingsStore::kRecordSize] = {};
  std::memcpy(record, model.Data(), model.Length());

  const platform::ScopedRegKey key(OpenSyncKey(platform::KEY_WRITE));
  if (!key.IsValid()) return 0;
  return platform::RegSetValueExA(key.Get(), valueName.Data(), 0, platform::REG_SZ, record,
                                  sizeof(record)) == platform::ERROR_SUCCESS
             ? 1
             : 0;
}
