// The synchronization service's registry key, the one place the program reads and writes the
// registry. The two operations are DeviceConnection::ReadDeviceOemInfo and WriteModelValue.
#pragma once

#include <cstddef>

namespace SyncSettingsStore {

// Under HKEY_CURRENT_USER.
inline constexpr char kKeyPath[] = "Software\\Microsoft\\Windows CE Services";
inline constexpr char kOemInfoValue[] = "DeviceOemInfo";
// Both the read's buffer and the model record written: accepted OEM data and a model name are
// at most one byte shorter, so that a zero byte always follows them.
inline constexpr std::size_t kRecordSize = 2048;

}  // namespace SyncSettingsStore
