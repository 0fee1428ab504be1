#include <cstring>

#include "device/device_connection.h"
#include "device/device_file.h"
#include "device/probe_library.h"
#include "platform/platform.h"
#include "platform/scoped_handles.h"
#include "text/code_page.h"

namespace {

constexpr char kLocalProbeName[] = "KOLTInfo.dll";
constexpr std::size_t kLocalProbeNameLength = sizeof(kLocalProbeName) - 1;
// The longest folder a local path is built from, drive letter not counted.
constexpr std::size_t kMaxFolderLength = 255;
constexpr platform::DWORD kCopyChunkSize = 8192;

// The path of KOLTInfo.dll in the program's own folder, or an empty text when that folder cannot
// be known whole: a program path that filled the buffer was cut, and a cut folder would name
// another one. Without any program path the name alone is left, which the system looks up in the
// current folder.
AnsiText LocalProbePath() {
  char modulePath[platform::MAX_PATH] = {};
  const platform::DWORD reported =
      platform::GetModuleFileNameA(nullptr, modulePath, sizeof(modulePath));
  if (reported >= sizeof(modulePath)) return AnsiText();
  modulePath[sizeof(modulePath) - 1] = '\0';

  const CodePage& codePage = CodePage::Active();
  const char* const end = modulePath + std::strlen(modulePath);
  std::size_t driveLength = 0;
  if (end - modulePath >= 2 && modulePath[1] == ':' &&
      !codePage.IsLeadByte(static_cast<unsigned char>(modulePath[0]))) {
    driveLength = 2;
  }
  // The folder runs up to the last separator; the second byte of a double-byte character is
  // never taken for one.
  const char* folderEnd = modulePath + driveLength;
  for (const char* at = folderEnd; at < end; at += codePage.CharLength(at, end)) {
    if (*at == '\\' || *at == '/') folderEnd = at + 1;
  }
  const std::size_t folderLength = static_cast<std::size_t>(folderEnd - modulePath) - driveLength;
  if (folderLength > kMaxFolderLength) return AnsiText();

  // Assembled in place, so that the path text is the one allocation of the deployment.
  char localPath[2 + kMaxFolderLength + kLocalProbeNameLength] = {};
  const std::size_t prefixLength = driveLength + folderLength;
  std::memcpy(localPath, modulePath, prefixLength);
  std::memcpy(localPath + prefixLength, kLocalProbeName, kLocalProbeNameLength);
  return AnsiText(localPath, prefixLength + kLocalProbeNameLength);
}

// Copies the local file to the device file in chunks. True when at least one byte was copied and
// every read and every write succeeded in full.
bool CopyToDevice(platform::HANDLE localFile, const DeviceConnection& device,
                  platform::HANDLE deviceFile) {
  char chunk[kCopyChunkSize] = {};
  platform::DWORD total = 0;
  for (;;) {
    platform::DWORD read = 0;
    if (!platform::ReadFile(localFile, chunk, sizeof(chunk), &read, nullptr)) return false;
    if (read == 0) break;
    platform::DWORD written = 0;
    if (!device.ceWriteFile(deviceFile, chunk, read, &written, nullptr) || written != read) {
      return false;
    }
    total += read;
  }
  return total > 0;
}

}  // namespace

int DeviceConnection::EnsureProbe(int force) {
  if (EnsureConnected() == 0) return 0;

  // Unless forced, a file at the probe's place is taken for the probe.
  if (force == 0) {
    const DeviceFile present(
        ceCloseHandle,
        ceCreateFile(ProbeLibrary::kDevicePath, platform::GENERIC_READ, platform::FILE_SHARE_READ,
                     nullptr, platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL, nullptr));
    if (present.IsOpen()) return 1;
  }

  const AnsiText localPath = LocalProbePath();
  if (localPath.IsEmpty()) return 0;
  const platform::ScopedLocalFile localFile(platform::CreateFileA(
      localPath.Data(), platform::GENERIC_READ, platform::FILE_SHARE_READ, nullptr,
      platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!localFile.IsValid()) return 0;

  // Creates the device file or empties the one there. Declared after the local file, so that it
  // is closed first.
  const DeviceFile deviceFile(
      ceCloseHandle,
      ceCreateFile(ProbeLibrary::kDevicePath, platform::GENERIC_WRITE, platform::FILE_SHARE_READ,
                   nullptr, platform::CREATE_ALWAYS, platform::FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!deviceFile.IsOpen()) return 0;

  // An empty local file leaves the device file empty, and that is no probe.
  if (platform::GetFileSize(localFile.Get(), nullptr) == 0) return 0;
  return CopyToDevice(localFile.Get(), *this, deviceFile.Get()) ? 1 : 0;
}
