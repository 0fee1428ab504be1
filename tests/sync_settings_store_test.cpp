// The sync-settings store: DeviceOemInfo read from the synchronization service's key, the model
// record written beside it, and every key opened closed again on every path.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "device/device_connection.h"
#include "platform/platform.h"
#include "platform/sim/sim_platform.h"
#include "sim_test_support.h"
#include "text/ansi_text.h"
#include "text/text_error.h"

namespace {

using ::testing::ElementsAre;
using ::testing::Eq;
using ::testing::IsEmpty;
using ::testing::Property;
using ::testing::Throws;
using namespace std::string_literals;

constexpr char kServices[] = "Software\\Microsoft\\Windows CE Services";
constexpr char kOemInfo[] = "DeviceOemInfo";
constexpr char kValueName[] = "SDK[Vuro PDA]";
constexpr std::size_t kRecordSize = 2048;
constexpr char kKeyRead[] = "131097";   // KEY_READ, 0x20019
constexpr char kKeyWrite[] = "131078";  // KEY_WRITE, 0x20006

std::string BytesOf(const AnsiText& text) {
  return std::string(text.Data(), text.Length());
}
AnsiText TextOf(const std::string& bytes) {
  return AnsiText(bytes.data(), bytes.size());
}

// The model record for `model`: its bytes, then zero bytes to the full size.
sim::Bytes RecordOf(const std::string& model) {
  sim::Bytes record = sim::ToBytes(model);
  record.resize(kRecordSize, 0);
  return record;
}

class SyncSettingsStoreTest : public SimTest {
 protected:
  static void SetOemInfo(platform::DWORD type, const std::string& data) {
    sim::SetValue(kServices, kOemInfo, type, sim::ToBytes(data));
  }

  static int Write(const std::string& valueName, const std::string& model) {
    return DeviceConnection::WriteModelValue(TextOf(valueName), TextOf(model));
  }
};

TEST_F(SyncSettingsStoreTest, ReadsTheDataUpToTheFirstZeroByteWhenTheyFitTheBuffer) {
  struct ReadCase {
    const char* name;
    platform::DWORD type;
    std::string data;
    int result;
    std::string text;  // for result 0: the text stays as it was
  };
  const std::string full(2047, 'x');
  const ReadCase cases[] = {
      {"a string with its zero byte", platform::REG_SZ, "Vuro PDA 100\0"s, 1, "Vuro PDA 100"},
      {"2047 bytes without a zero byte", platform::REG_SZ, full, 1, full},
      {"2047 bytes in all with the zero byte", platform::REG_SZ, std::string(2046, 'x') + '\0', 1,
       std::string(2046, 'x')},
      {"2048 bytes in all with the zero byte", platform::REG_SZ, full + '\0', 0, "previous"},
      {"2048 bytes without a zero byte", platform::REG_BINARY, full + 'x', 0, "previous"},
      {"more than the buffer holds", platform::REG_SZ, std::string(5000, 'x'), 0, "previous"},
      {"a zero byte in the middle", platform::REG_SZ, "Vuro\0PDA\0"s, 1, "Vuro"},
      {"a 32-bit number", platform::REG_DWORD, "A\0\0\0"s, 1, "A"},
      {"a number with a zero low byte", platform::REG_DWORD, "\0\1\0\0"s, 1, ""},
      {"an empty string", platform::REG_SZ, "\0"s, 1, ""},
      {"no data at all", platform::REG_BINARY, "", 1, ""},
      {"ANSI bytes as delivered", platform::REG_SZ, "Caf\xE9 \x83V\0"s, 1, "Caf\xE9 \x83V"},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetOemInfo(c.type, c.data);
    AnsiText oemText("previous");
    EXPECT_EQ(DeviceConnection::ReadDeviceOemInfo(oemText), c.result);
    EXPECT_EQ(BytesOf(oemText), c.text);
    EXPECT_EQ(sim::OpenKeyCount(), 0);
    EXPECT_EQ(sim::GetValue(kServices, kOemInfo), (sim::Value{c.type, sim::ToBytes(c.data)}));
  }
}

TEST_F(SyncSettingsStoreTest, ReadOpensTheKeyForReadingAndClosesIt) {
  SetOemInfo(platform::REG_SZ, "Vuro PDA\0"s);
  AnsiText oemText;
  ASSERT_EQ(DeviceConnection::ReadDeviceOemInfo(oemText), 1);

  EXPECT_THAT(sim::CallNames(), ElementsAre("RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey"));
  EXPECT_THAT(sim::CallsTo("RegOpenKeyExA")[0].args,
              ElementsAre("HKCU", kServices, "0", kKeyRead, "ptr"));
  const sim::Call query = sim::CallsTo("RegQueryValueExA")[0];
  EXPECT_EQ(query.args[1], kOemInfo);
  EXPECT_EQ(query.args[2], "null");
  EXPECT_EQ(sim::CallsTo("RegCloseKey")[0].args[0], query.args[0]);
  EXPECT_THAT(sim::Violations(), IsEmpty());
}

TEST_F(SyncSettingsStoreTest, ReadFailsWithTheTextUnchangedAndNoKeyLeftOpen) {
  struct FailureCase {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> calls;
  };
  const std::vector<std::string> openOnly = {"RegOpenKeyExA"};
  const std::vector<std::string> openQueryClose = {"RegOpenKeyExA", "RegQueryValueExA",
                                                   "RegCloseKey"};
  const FailureCase cases[] = {
      {"no key", [] { sim::RemoveKey(kServices); }, openOnly},
      {"no value", [] { sim::CreateKey(kServices); }, openQueryClose},
      {"the key cannot be opened",
       [] {
         SetOemInfo(platform::REG_SZ, "Vuro\0"s);
         sim::FailNth("RegOpenKeyExA");
       },
       openOnly},
      {"the value cannot be read",
       [] {
         SetOemInfo(platform::REG_SZ, "Vuro\0"s);
         sim::FailNth("RegQueryValueExA");
       },
       openQueryClose},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    UseCodePage(1252);
    c.arrange();
    AnsiText oemText("previous");
    EXPECT_EQ(DeviceConnection::ReadDeviceOemInfo(oemText), 0);
    EXPECT_EQ(BytesOf(oemText), "previous");
    EXPECT_EQ(sim::CallNames(), c.calls);
    EXPECT_EQ(sim::OpenKeyCount(), 0);
    EXPECT_THAT(sim::Violations(), IsEmpty());
  }
  // Reading never creates the key.
  UseCodePage(1252);
  AnsiText oemText;
  DeviceConnection::ReadDeviceOemInfo(oemText);
  EXPECT_FALSE(sim::KeyExists(kServices));
}

TEST_F(SyncSettingsStoreTest, StorageFailureRaisesOutOfTheReadWithTheKeyClosed) {
  SetOemInfo(platform::REG_SZ, "Vuro PDA\0"s);
  AnsiText oemText("previous");
  sim::FailAllocation(1);
  EXPECT_THAT([&] { DeviceConnection::ReadDeviceOemInfo(oemText); },
              Throws<TextError>(Property(&TextError::Status, Eq(platform::E_OUTOFMEMORY))));
  EXPECT_EQ(BytesOf(oemText), "previous");
  EXPECT_EQ(sim::OpenKeyCount(), 0);
  EXPECT_THAT(sim::CallNames(), ElementsAre("RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey"));
}

TEST_F(SyncSettingsStoreTest, WritesTheModelAsAFullSizeStringRecord) {
  const std::string longest(kRecordSize - 1, 'M');
  const std::string models[] = {"", "ABC12",
                                "Vuro PDA 100 \xC9"
                                "dition",
                                "\x82\x60\x82\x61", longest};
  for (const std::string& model : models) {
    SCOPED_TRACE(model.size() > 40 ? "the longest name" : model);
    sim::CreateKey(kServices);
    EXPECT_EQ(Write(kValueName, model), 1);
    EXPECT_EQ(sim::GetValue(kServices, kValueName),
              (sim::Value{platform::REG_SZ, RecordOf(model)}));
    EXPECT_EQ(sim::OpenKeyCount(), 0);
  }
  // The longest name fills all but the last byte, which stays the terminator.
  EXPECT_EQ(sim::GetValue(kServices, kValueName)->data.back(), 0);
  EXPECT_EQ(sim::GetValue(kServices, kValueName)->data[kRecordSize - 2], 'M');
}

TEST_F(SyncSettingsStoreTest, WriteOpensTheKeyForWritingAndUsesTheValueNameUnchanged) {
  sim::SetValue(kServices, kOemInfo, platform::REG_SZ, sim::ToBytes("VuRo pda\0"s));
  ASSERT_EQ(Write("SDK[VuRo pda]", "ABC"), 1);

  EXPECT_THAT(sim::CallNames(), ElementsAre("RegOpenKeyExA", "RegSetValueExA", "RegCloseKey"));
  EXPECT_THAT(sim::CallsTo("RegOpenKeyExA")[0].args,
              ElementsAre("HKCU", kServices, "0", kKeyWrite, "ptr"));
  const sim::Call set = sim::CallsTo("RegSetValueExA")[0];
  EXPECT_THAT(set.args, ElementsAre(set.args[0], "SDK[VuRo pda]", "0", "1", "ptr", "2048"));
  EXPECT_EQ(sim::CallsTo("RegCloseKey")[0].args[0], set.args[0]);
  EXPECT_THAT(sim::ValueNames(kServices), testing::UnorderedElementsAre(kOemInfo, "SDK[VuRo pda]"));
  EXPECT_THAT(sim::Violations(), IsEmpty());
}

TEST_F(SyncSettingsStoreTest, WriteReplacesAnExistingValueOfThatName) {
  sim::SetValue(kServices, kValueName, platform::REG_BINARY, sim::ToBytes("old data"));
  sim::SetValue(kServices, kOemInfo, platform::REG_SZ, sim::ToBytes("Vuro PDA\0"s));
  ASSERT_EQ(Write(kValueName, "ABC"), 1);
  EXPECT_EQ(sim::GetValue(kServices, kValueName), (sim::Value{platform::REG_SZ, RecordOf("ABC")}));
  EXPECT_EQ(sim::GetValue(kServices, kOemInfo),
            (sim::Value{platform::REG_SZ, sim::ToBytes("Vuro PDA\0"s)}));
}

// A name that leaves no room for the terminator is refused before the registry is touched.
TEST_F(SyncSettingsStoreTest, WriteRefusesAModelNameOf2048BytesOrMore) {
  for (const std::size_t length : {kRecordSize, kRecordSize + 1, std::size_t{6000}}) {
    SCOPED_TRACE(length);
    sim::SetValue(kServices, kValueName, platform::REG_SZ, sim::ToBytes("old"));
    sim::ClearLog();
    EXPECT_EQ(Write(kValueName, std::string(length, 'M')), 0);
    EXPECT_THAT(sim::CallNames(), IsEmpty());
    EXPECT_EQ(sim::GetValue(kServices, kValueName),
              (sim::Value{platform::REG_SZ, sim::ToBytes("old")}));
  }
}

TEST_F(SyncSettingsStoreTest, WriteFailsWithNothingStoredAndNoKeyLeftOpen) {
  struct FailureCase {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> calls;
  };
  const FailureCase cases[] = {
      {"no key", [] { sim::RemoveKey(kServices); }, {"RegOpenKeyExA"}},
      {"the key cannot be opened",
       [] {
         sim::CreateKey(kServices);
         sim::FailNth("RegOpenKeyExA");
       },
       {"RegOpenKeyExA"}},
      {"the value cannot be set",
       [] {
         sim::CreateKey(kServices);
         sim::FailNth("RegSetValueExA");
       },
       {"RegOpenKeyExA", "RegSetValueExA", "RegCloseKey"}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    UseCodePage(1252);
    c.arrange();
    EXPECT_EQ(Write(kValueName, "ABC"), 0);
    EXPECT_FALSE(sim::GetValue(kServices, kValueName).has_value());
    EXPECT_EQ(sim::CallNames(), c.calls);
    EXPECT_EQ(sim::OpenKeyCount(), 0);
    EXPECT_THAT(sim::Violations(), IsEmpty());
  }
  // Writing never creates the key.
  UseCodePage(1252);
  Write(kValueName, "ABC");
  EXPECT_FALSE(sim::KeyExists(kServices));
}

}  // namespace
