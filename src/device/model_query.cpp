#include <cstddef>
#include <utility>

#include "device/device_connection.h"
#include "device/device_file.h"
#include "device/probe_library.h"
#include "platform/platform.h"
#include "platform/scoped_handles.h"

namespace {

// The probe is invoked at most twice: as asked, then once more with a fresh copy.
constexpr int kLastAttempt = 1;
constexpr platform::DWORD kReadChunkSize = 8192;
// The report text keeps at most this many bytes; with its terminating zero byte it fills 6000.
constexpr std::size_t kMaxReportLength = 5999;

// Reads the report, chunk by chunk, into `report`: each chunk's bytes up to a zero byte among them,
// joined in the order read. Reading ends at the end of the file or once the report is full; what
// would not fit is dropped.
void ReadReport(const DeviceConnection& device, platform::HANDLE file, AnsiText& report) {
  char chunk[kReadChunkSize];
  while (report.Length() < kMaxReportLength) {
    platform::DWORD read = 0;
    if (!device.ceReadFile(file, chunk, sizeof(chunk), &read, nullptr) || read == 0) return;
    if (read > sizeof(chunk)) read = sizeof(chunk);
    const std::size_t room = kMaxReportLength - report.Length();
    report.Append(chunk, read < room ? read : room);
  }
}

}  // namespace

int DeviceConnection::QueryModel(AnsiText& model, int force, int attempt) {
  try {
    if (attempt > kLastAttempt) return 0;
    if (EnsureConnected() == 0) return 0;
    if (EnsureProbe(force) == 0) return 0;

    platform::DWORD outputSize = 0;
    platform::BYTE* output = nullptr;
    const platform::HRESULT invoked = ceRapiInvoke(ProbeLibrary::kDevicePath,
                                                   ProbeLibrary::kEntryPoint, 0, nullptr,
                                                   &outputSize, &output, nullptr, 0);
    // The Remote API hands its output block to the caller; nothing here reads it.
    const platform::ScopedLocalMemory outputBlock(output);
    if (invoked < 0) return QueryModel(model, 1, attempt + 1);

    int result = 0;
    {
      const DeviceFile report(
          ceCloseHandle,
          ceCreateFile(ProbeLibrary::kReportFile, platform::GENERIC_READ,
                       platform::FILE_SHARE_READ, nullptr, platform::OPEN_EXISTING,
                       platform::FILE_ATTRIBUTE_NORMAL, nullptr));
      if (report.IsOpen() && ceGetFileSize(report.Get(), nullptr) != 0) {
        AnsiText text;
        ReadReport(*this, report.Get(), text);
        if (!text.IsEmpty()) {
          AnsiText serial;
          result = ParseReport(std::move(text), model, serial);
        }
      }
    }
    ceDeleteFile(ProbeLibrary::kReportFile);
    return result;
  } catch (...) {
    return 0;
  }
}
