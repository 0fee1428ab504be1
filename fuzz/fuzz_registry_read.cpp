// ReadDeviceOemInfo over arbitrary DeviceOemInfo values. The input chooses how the value stands in
// the simulated registry (key and value present or not, the query failing, an allocation failing),
// its type, its length (0 to 4100 bytes) and its bytes (the input's remaining bytes, repeated to
// that length). The read is accepted exactly when the data are below 2048 bytes; the text is then
// the bytes before the first zero byte, and it is unchanged on refusal. No key stays open.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/sync_settings_store.h"
#include "device/device_connection.h"
#include "fuzz_machine.h"
#include "platform/platform.h"
#include "platform/sim/sim_platform.h"
#include "reference_text.h"
#include "text/ansi_text.h"
#include "text/text_error.h"

namespace {

constexpr std::size_t kMaxDataLength = 4100;
constexpr std::size_t kLargestAccepted = SyncSettingsStore::kRecordSize - 1;
const char kPreviousText[] = "text from before the read";

enum class Setting : std::uint8_t {
  kValue,            // the value is there and can be read
  kNoKey,            // the key is missing
  kNoValue,          // the key is there without the value
  kQueryFails,       // RegQueryValueExA returns an error
  kAllocationFails,  // storing the text runs out of memory
  kMaxValue = kAllocationFails,
};

constexpr platform::DWORD kTypes[] = {platform::REG_NONE, platform::REG_SZ,  2 /* REG_EXPAND_SZ */,
                                      3 /* REG_BINARY */, 4 /* REG_DWORD */, 7 /* REG_MULTI_SZ */};

sim::Bytes Repeated(const std::string& pattern, std::size_t length) {
  sim::Bytes data(length, 'A');
  if (pattern.empty()) return data;
  for (std::size_t i = 0; i < length; ++i)
    data[i] = static_cast<std::uint8_t>(pattern[i % pattern.size()]);
  return data;
}

std::string Of(const AnsiText& text) {
  return std::string(text.Data(), text.Length());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  FuzzedDataProvider provider(input, size);
  const auto setting = provider.ConsumeEnum<Setting>();
  const platform::DWORD type = provider.ConsumeBool() ? provider.PickValueInArray(kTypes)
                                                      : provider.ConsumeIntegral<platform::DWORD>();
  const platform::UINT codePage = provider.ConsumeBool() ? 932 : 1252;
  const auto length = provider.ConsumeIntegralInRange<std::size_t>(0, kMaxDataLength);
  const sim::Bytes data = Repeated(provider.ConsumeRemainingBytesAsString(), length);

  fuzz::PrepareMachine(codePage);
  if (setting == Setting::kNoKey) {
    sim::RemoveKey(SyncSettingsStore::kKeyPath);
  } else {
    sim::CreateKey(SyncSettingsStore::kKeyPath);
  }
  if (setting != Setting::kNoKey && setting != Setting::kNoValue) {
    sim::SetValue(SyncSettingsStore::kKeyPath, SyncSettingsStore::kOemInfoValue, type, data);
  }

  const std::string bytes(data.begin(), data.end());
  const std::string expected = reference::BeforeZero(bytes);
  const std::string detail = "type " + std::to_string(type) + ", " + std::to_string(length) +
                             " bytes " + fuzz::Escaped(bytes.substr(0, 64)) + "...";
  const bool readable = (setting == Setting::kValue || setting == Setting::kAllocationFails) &&
                        length <= kLargestAccepted;
  // An empty text needs no storage, so the failing allocation is never reached for it.
  const bool raises = setting == Setting::kAllocationFails && readable && !expected.empty();
  {
    AnsiText text(kPreviousText);
    if (setting == Setting::kQueryFails) sim::FailNth("RegQueryValueExA");
    if (setting == Setting::kAllocationFails) sim::FailAllocation(1);
    int result = -1;
    bool raised = false;
    try {
      result = DeviceConnection::ReadDeviceOemInfo(text);
    } catch (const TextError& error) {
      raised = true;
      fuzz::Require(error.Status() == platform::E_OUTOFMEMORY, "only running out of memory raises",
                    detail);
    }
    fuzz::Require(raised == raises, "the read raises exactly when storing the text fails", detail);
    if (!raised) {
      fuzz::Require(result == (readable ? 1 : 0), "accepted exactly below 2048 bytes",
                    detail + ", result " + std::to_string(result));
    }
    if (result == 1) {
      fuzz::Require(Of(text) == expected, "the text is the bytes before the first zero byte",
                    detail + "\ntext " + fuzz::Escaped(Of(text)));
    } else {
      fuzz::Require(Of(text) == kPreviousText, "the text is unchanged on refusal", detail);
    }
    fuzz::Require(sim::OpenKeyCount() == 0, "no key left open", detail);
  }
  fuzz::RequireCleanMachine();
  return 0;
}
