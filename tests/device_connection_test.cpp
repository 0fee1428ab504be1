#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <type_traits>
#include <vector>

#include "device/device_connection.h"
#include "device_test_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::vector<std::string> kEntryNames = {
    "CeRapiInitEx", "CeRapiInvoke",  "CeRapiUninit",  "CeCreateFile", "CeWriteFile",
    "CeCloseHandle", "CeReadFile", "CeGetFileSize", "CeDeleteFile"};

static_assert(std::is_standard_layout_v<DeviceConnection>, "a plain record");
static_assert(!std::is_polymorphic_v<DeviceConnection>, "no virtual operations");
static_assert(sizeof(platform::RAPIINIT) == (sizeof(void*) == 4 ? 12 : 24),
              "the start record's event field is handle-sized");

TEST(DeviceConnectionRecord, FieldsStandInTheirOrder) {
  const std::vector<std::size_t> offsets = {
      offsetof(DeviceConnection, loaded),        offsetof(DeviceConnection, connected),
      offsetof(DeviceConnection, ceRapiInitEx),  offsetof(DeviceConnection, ceRapiInvoke),
      offsetof(DeviceConnection, ceRapiUninit),  offsetof(DeviceConnection, ceCreateFile),
      offsetof(DeviceConnection, ceWriteFile),   offsetof(DeviceConnection, ceCloseHandle),
      offsetof(DeviceConnection, ceReadFile),    offsetof(DeviceConnection, ceGetFileSize),
      offsetof(DeviceConnection, ceDeleteFile),  offsetof(DeviceConnection, library)};
  for (std::size_t i = 1; i < offsets.size(); ++i) EXPECT_LT(offsets[i - 1], offsets[i]) << i;
}

class DeviceConnectionTest : public DeviceTest {
 protected:
  static void ExpectEmpty(const DeviceConnection& device) {
    EXPECT_EQ(device.loaded, 0);
    EXPECT_EQ(device.connected, 0);
    EXPECT_EQ(device.library, nullptr);
    EXPECT_EQ(device.ceRapiInitEx, nullptr);
    EXPECT_EQ(device.ceDeleteFile, nullptr);
  }
};

TEST_F(DeviceConnectionTest, ConstructedAndClosedMakesNoCall) {
  {
    DeviceConnection device;
    device.Close();
    device.Close();
    ExpectEmpty(device);
  }
  EXPECT_THAT(sim::Log(), IsEmpty());
}

TEST_F(DeviceConnectionTest, LoadLooksUpNineEntriesInOrder) {
  DeviceConnection device;
  ASSERT_EQ(device.Load(), 1);
  EXPECT_EQ(device.loaded, 1);
  EXPECT_EQ(device.connected, 0);
  EXPECT_NE(device.library, nullptr);

  std::vector<std::string> looked;
  for (const sim::Call& call : sim::CallsTo("GetProcAddress")) looked.push_back(call.args.at(1));
  EXPECT_EQ(looked, kEntryNames);
  EXPECT_EQ(sim::CallsTo("LoadLibraryA").at(0).args.at(0), "rapi.dll");

  device.Close();
  ExpectEmpty(device);
  EXPECT_EQ(sim::LoadedLibraryCount(), 0);
  EXPECT_THAT(DeviceCalls(), IsEmpty());
}

TEST_F(DeviceConnectionTest, WithoutRapiNothingIsLookedUp) {
  sim::UninstallRapi();
  DeviceConnection device;
  EXPECT_EQ(device.EnsureConnected(), 0);
  ExpectEmpty(device);
  EXPECT_THAT(sim::CallNames(), ElementsAre("LoadLibraryA"));
}

// A library that lacks any one of the nine names counts as not loaded: all nine are still looked
// up, nothing is called through the table, and the library is not kept.
class MissingEntryTest : public DeviceConnectionTest,
                         public ::testing::WithParamInterface<std::string> {};

TEST_P(MissingEntryTest, LoadFailsAfterAllNineLookUps) {
  sim::RemoveRapiEntry(GetParam());
  {
    DeviceConnection device;
    EXPECT_EQ(device.EnsureConnected(), 0);
    ExpectEmpty(device);
    EXPECT_EQ(sim::CallsTo("GetProcAddress").size(), 9u);
    EXPECT_EQ(sim::LoadedLibraryCount(), 0);
  }
  EXPECT_THAT(DeviceCalls(), IsEmpty());
  EXPECT_EQ(sim::CallsTo("FreeLibrary").size(), 1u);
  ExpectAllClosed();
}

INSTANTIATE_TEST_SUITE_P(EachEntry, MissingEntryTest, ::testing::ValuesIn(kEntryNames));

struct StartCase {
  const char* name;
  sim::Start start;
  int connected;
  platform::DWORD waited;  // simulated milliseconds spent
};

class StartTest : public DeviceConnectionTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartTest, OnlyTheWaitDecides) {
  sim::SetStart(GetParam().start);
  DeviceConnection device;
  EXPECT_EQ(device.EnsureConnected(), GetParam().connected);
  EXPECT_EQ(device.loaded, 1);
  EXPECT_EQ(device.connected, GetParam().connected);
  EXPECT_EQ(sim::Now(), GetParam().waited);

  const std::vector<sim::Call> waits = sim::CallsTo("WaitForSingleObject");
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_EQ(waits[0].args.at(1), "2000");

  device.Close();
  // The Remote API is stopped only after a confirmed start, and before its library goes.
  if (GetParam().connected) {
    EXPECT_THAT(CallsStartingWith("CeRapiUninit"), ElementsAre("CeRapiUninit"));
    const std::vector<std::string> names = sim::CallNames();
    EXPECT_EQ(names.back(), "FreeLibrary");
    EXPECT_EQ(names[names.size() - 2], "CeRapiUninit");
  } else {
    EXPECT_THAT(CallsStartingWith("CeRapiUninit"), IsEmpty());
    EXPECT_EQ(sim::CallNames().back(), "FreeLibrary");
  }
  ExpectEmpty(device);
  ExpectAllClosed();
}

INSTANTIATE_TEST_SUITE_P(
    Starts, StartTest,
    ::testing::Values(StartCase{"AtOnce", sim::Start::kAtOnce, 1, 0},
                      StartCase{"Late", sim::Start::kLate, 0, 2000},
                      StartCase{"Never", sim::Start::kNever, 0, 2000},
                      StartCase{"FailedResult", sim::Start::kFailedResult, 1, 0},
                      StartCase{"NoEvent", sim::Start::kNoEvent, 0, 0}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return info.param.name; });

TEST_F(DeviceConnectionTest, ConnectedRecordAnswersAtOnce) {
  DeviceConnection device;
  ASSERT_EQ(device.EnsureConnected(), 1);
  sim::ClearLog();
  EXPECT_EQ(device.EnsureConnected(), 1);
  EXPECT_THAT(sim::Log(), IsEmpty());
}

TEST_F(DeviceConnectionTest, UnconfirmedStartIsTriedAfreshNextTime) {
  sim::SetStart(sim::Start::kNever);
  DeviceConnection device;
  EXPECT_EQ(device.EnsureConnected(), 0);
  sim::SetStart(sim::Start::kAtOnce);
  sim::ClearLog();
  EXPECT_EQ(device.EnsureConnected(), 1);
  // No second load: a new start record and a new wait.
  EXPECT_THAT(sim::CallNames(), ElementsAre("CeRapiInitEx", "WaitForSingleObject"));
  EXPECT_EQ(sim::StartCount(), 2);
}

TEST_F(DeviceConnectionTest, LoadAfterCloseLooksUpAgain) {
  DeviceConnection device;
  ASSERT_EQ(device.EnsureConnected(), 1);
  device.Close();
  EXPECT_FALSE(sim::RemoteApiStarted());
  sim::ClearLog();
  ASSERT_EQ(device.EnsureConnected(), 1);
  EXPECT_EQ(sim::CallsTo("LoadLibraryA").size(), 1u);
  EXPECT_EQ(sim::CallsTo("GetProcAddress").size(), 9u);
  device.Close();
  ExpectAllClosed();
}

TEST_F(DeviceConnectionTest, EndOfLifeCloses) {
  {
    DeviceConnection device;
    ASSERT_EQ(device.EnsureConnected(), 1);
  }
  EXPECT_FALSE(sim::RemoteApiStarted());
  EXPECT_EQ(sim::LoadedLibraryCount(), 0);
  ExpectAllClosed();
}

TEST_F(DeviceConnectionTest, FailedLookUpOrWaitLeavesTheRecordUsable) {
  struct Case {
    const char* call;
    int connected;
  };
  for (const Case& c : {Case{"LoadLibraryA", 0}, Case{"GetProcAddress", 0},
                        Case{"CeRapiInitEx", 0}, Case{"WaitForSingleObject", 0}}) {
    SCOPED_TRACE(c.call);
    sim::FailNth(c.call);
    DeviceConnection device;
    EXPECT_EQ(device.EnsureConnected(), c.connected);
    // The fault was one call only: the next attempt gets through.
    EXPECT_EQ(device.EnsureConnected(), 1);
    device.Close();
    ExpectAllClosed();
    EXPECT_EQ(sim::LoadedLibraryCount(), 0);
  }
}

}  // namespace
