// Whole runs of the program over the simulated machine, from the entry function to the exit code.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/sync_settings_store.h"
#include "app/winmain.h"
#include "device_test_support.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

constexpr char kKey[] = "Software\\Microsoft\\Windows CE Services";
const std::string kModel = "VURO Seven";
const std::string kReport = "<Model_Info><Model>" + kModel + "</Model><Serial_Num>SN0042</Serial_Num>";

// The index of the first logged call named `name` at or after `from`.
std::size_t IndexOf(const std::string& name, std::size_t from = 0) {
  const std::vector<sim::Call>& log = sim::Log();
  for (std::size_t i = from; i < log.size(); ++i) {
    if (log[i].name == name) return i;
  }
  ADD_FAILURE() << name << " not logged";
  return log.size();
}

class DetectionRunTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    sim::SetReport(kReport);
  }

  static void SetOemText(const std::string& text) {
    sim::Bytes data = sim::ToBytes(text);
    data.push_back(0);
    sim::SetValue(kKey, "DeviceOemInfo", platform::REG_SZ, data);
  }

  // Runs the program's entry function and checks what every run must leave behind.
  static int Run() {
    const int exitCode = WinMain(nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(sim::LoadedLibraryCount(), 0);
    // The Remote API is stopped exactly when its start was confirmed.
    bool confirmed = false;
    for (const sim::Call& wait : sim::CallsTo("WaitForSingleObject")) {
      confirmed = confirmed || wait.result == "0";
    }
    EXPECT_EQ(sim::CallsTo("CeRapiUninit").size(), confirmed ? 1u : 0u);
    ExpectAllClosed();
    return exitCode;
  }

  // The model record: the name, then zero bytes to 2048 bytes in all.
  static sim::Value ModelRecord(const std::string& model) {
    sim::Bytes record = sim::ToBytes(model);
    record.resize(SyncSettingsStore::kRecordSize, 0);
    return sim::Value{platform::REG_SZ, record};
  }

  static void ExpectNothingWritten() {
    EXPECT_THAT(sim::ValueNames(kKey), ElementsAre("DeviceOemInfo"));
  }
  static void ExpectDeviceUntouched() {
    EXPECT_THAT(CallsStartingWith("LoadLibraryA"), IsEmpty());
    EXPECT_THAT(DeviceCalls(), IsEmpty());
  }
};

TEST_F(DetectionRunTest, StartUpRestrictsTheDllSearchBeforeAnything) {
  sim::Reset();
  StartUp();
  ASSERT_FALSE(sim::Log().empty());
  EXPECT_EQ(sim::Log().front().name, "RestrictDllSearchPath");
  EXPECT_THAT(sim::CallNames(), Contains("GetACP"));
}

TEST_F(DetectionRunTest, NoKeyNoValueNoFamily) {
  struct Case {
    const char* name;
    std::optional<std::string> oemText;  // nullopt: no value; "<no key>": no key at all
  };
  for (const Case& c : {Case{"no key", "<no key>"}, Case{"no value", std::nullopt},
                        Case{"empty", ""}, Case{"other maker", "Pocket PC 2003 by Acme"},
                        Case{"scattered letters", "V-U-R-O 5"}, Case{"other order", "ORUV VRUO"},
                        Case{"three letters", "VUR0"}}) {
    SCOPED_TRACE(c.name);
    UseCodePage(1252);
    sim::InstallRapi();
    if (!c.oemText) {
      sim::CreateKey(kKey);
    } else if (*c.oemText != "<no key>") {
      SetOemText(*c.oemText);
    }
    EXPECT_EQ(Run(), 0);
    ExpectDeviceUntouched();
    // The registry is as it was: no key stays no key, and no value is added.
    const bool noKey = c.oemText == std::optional<std::string>("<no key>");
    EXPECT_EQ(sim::KeyExists(kKey), !noKey);
    if (!noKey) {
      EXPECT_EQ(sim::ValueNames(kKey),
                c.oemText ? std::vector<std::string>{"DeviceOemInfo"} : std::vector<std::string>{});
    }
  }
}

TEST_F(DetectionRunTest, FamilyWordInMixedCaseInsideOtherWords) {
  const std::string oem = "Acme xVuRoy 500 \xe9t\xe9";
  SetOemText(oem);
  PutDeviceProbe();
  EXPECT_EQ(Run(), 0);
  EXPECT_THAT(sim::ValueNames(kKey), UnorderedElementsAre("DeviceOemInfo", "SDK[" + oem + "]"));
  EXPECT_EQ(sim::GetValue(kKey, "SDK[" + oem + "]"), ModelRecord(kModel));
  EXPECT_EQ(sim::GetDeviceFile(kReportFile), std::nullopt);
  EXPECT_THAT(sim::CallNames(),
              ElementsAre("RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey", "LoadLibraryA",
                          "GetProcAddress", "GetProcAddress", "GetProcAddress", "GetProcAddress",
                          "GetProcAddress", "GetProcAddress", "GetProcAddress", "GetProcAddress",
                          "GetProcAddress", "CeRapiInitEx", "WaitForSingleObject", "CeCreateFile",
                          "CeCloseHandle", "CeRapiInvoke", "CeCreateFile", "CeGetFileSize",
                          "CeReadFile", "CeReadFile", "CeCloseHandle", "CeDeleteFile",
                          "RegOpenKeyExA", "RegSetValueExA", "RegCloseKey", "CeRapiUninit",
                          "FreeLibrary"));
  const sim::Call set = sim::CallsTo("RegSetValueExA").at(0);
  EXPECT_EQ(set.args.at(1), "SDK[" + oem + "]");
  EXPECT_EQ(set.args.at(3), "1");
  EXPECT_EQ(set.args.at(5), "2048");
}

TEST_F(DetectionRunTest, ExistingModelValueIsReplaced) {
  SetOemText("VURO 7");
  sim::SetValue(kKey, "SDK[VURO 7]", platform::REG_BINARY, sim::ToBytes("old"));
  PutDeviceProbe();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(sim::GetValue(kKey, "SDK[VURO 7]"), ModelRecord(kModel));
}

struct DeviceFailureCase {
  const char* name;
  void (*arrange)();
  bool freesLibrary;  // rapi.dll was loaded, so the run must release it
};

class DeviceFailureTest : public DetectionRunTest,
                          public ::testing::WithParamInterface<DeviceFailureCase> {};

TEST_P(DeviceFailureTest, NothingIsWrittenAndAllIsReleased) {
  SetOemText("VURO 7");
  PutDeviceProbe();
  GetParam().arrange();
  EXPECT_EQ(Run(), 0);
  ExpectNothingWritten();
  EXPECT_EQ(sim::CallsTo("FreeLibrary").size(), GetParam().freesLibrary ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DeviceFailureTest,
    ::testing::Values(
        DeviceFailureCase{"NoRapi", [] { sim::UninstallRapi(); }, false},
        DeviceFailureCase{"EightOfNine", [] { sim::RemoveRapiEntry("CeGetFileSize"); }, true},
        DeviceFailureCase{"StartNeverConfirmed", [] { sim::SetStart(sim::Start::kNever); }, true},
        DeviceFailureCase{"StartTooLate", [] { sim::SetStart(sim::Start::kLate); }, true},
        DeviceFailureCase{"ReportWithoutModel",
                          [] { sim::SetReport("<Model_Info><Model>X</Model>"); }, true},
        DeviceFailureCase{"ProbeMissingEverywhere",
                          [] { sim::RemoveDeviceFile(kDeviceProbe); }, true}),
    [](const ::testing::TestParamInfo<DeviceFailureCase>& info) { return info.param.name; });

TEST_F(DetectionRunTest, UnconfirmedStartIsNotStopped) {
  SetOemText("VURO 7");
  sim::SetStart(sim::Start::kNever);
  EXPECT_EQ(Run(), 0);
  EXPECT_THAT(CallsStartingWith("CeRapiUninit"), IsEmpty());
  EXPECT_THAT(DeviceCalls(), ElementsAre("CeRapiInitEx"));
  EXPECT_EQ(sim::CallNames().back(), "FreeLibrary");
  EXPECT_EQ(sim::Now(), 2000u);
}

struct CopyRunCase {
  std::size_t localSize;
  std::size_t writes;
  bool written;
};

class ProbeCopyRunTest : public DetectionRunTest,
                         public ::testing::WithParamInterface<CopyRunCase> {};

TEST_P(ProbeCopyRunTest, MissingProbeIsCopiedFromBesideTheProgram) {
  SetOemText("VURO 7");
  const sim::Bytes local = PutLocalProbe(GetParam().localSize);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(sim::GetDeviceFile(kDeviceProbe), local);
  EXPECT_EQ(sim::CallsTo("CeWriteFile").size(), GetParam().writes);
  if (GetParam().written) {
    EXPECT_EQ(sim::GetValue(kKey, "SDK[VURO 7]"), ModelRecord(kModel));
  } else {
    ExpectNothingWritten();
    EXPECT_EQ(sim::CallsTo("CeRapiInvoke").size(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ProbeCopyRunTest,
                         ::testing::Values(CopyRunCase{300, 1, true}, CopyRunCase{8192, 1, true},
                                           CopyRunCase{8193, 2, true},
                                           CopyRunCase{0, 0, false}));

TEST_F(DetectionRunTest, DamagedProbeIsReplacedAndRunAgain) {
  SetOemText("VURO 7");
  sim::SetDeviceFile(kDeviceProbe, sim::Bytes(100, 0xCC));
  const sim::Bytes local = PutLocalProbe(8193);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(sim::GetValue(kKey, "SDK[VURO 7]"), ModelRecord(kModel));
  EXPECT_EQ(sim::GetDeviceFile(kDeviceProbe), local);
  EXPECT_EQ(sim::CallsTo("CeRapiInvoke").size(), 2u);
  EXPECT_EQ(sim::CallsTo("CeDeleteFile").size(), 1u);
}

TEST_F(DetectionRunTest, ReportInOneByteReads) {
  SetOemText("VURO 7");
  PutDeviceProbe();
  sim::SetReadChunkLimit(1);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(sim::GetValue(kKey, "SDK[VURO 7]"), ModelRecord(kModel));
  EXPECT_EQ(sim::CallsTo("CeReadFile").size(), kReport.size() + 1);
}

TEST_F(DetectionRunTest, FailedWriteIsNotReported) {
  SetOemText("VURO 7");
  PutDeviceProbe();
  sim::FailNth("RegOpenKeyExA", 2);  // as if the key went away after the read
  EXPECT_EQ(Run(), 0);
  ExpectNothingWritten();
}

// An allocation failure outside the model query reaches the run: exit code -1, nothing written,
// and the connection is closed as on every other run.
TEST_F(DetectionRunTest, OutOfMemoryReachesTheRun) {
  SetOemText("VURO 7");
  PutDeviceProbe();
  ASSERT_EQ(Run(), 0);
  const std::size_t afterQuery = IndexOf("CeDeleteFile");
  struct Case {
    const char* name;
    std::size_t failAt;
    bool deviceUsed;
  };
  const Case cases[] = {{"oem text", IndexOf("HeapAlloc"), false},
                        {"value name", IndexOf("HeapAlloc", afterQuery), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::RemoveKey(kKey);
    SetOemText("VURO 7");
    PutDeviceProbe();
    sim::ClearLog();
    sim::FailCall(c.failAt);
    EXPECT_EQ(Run(), -1);
    ExpectNothingWritten();
    EXPECT_EQ(sim::CallsTo("FreeLibrary").size(), c.deviceUsed ? 1u : 0u);
    EXPECT_EQ(sim::CallsTo("CeRapiUninit").size(), c.deviceUsed ? 1u : 0u);
  }
}

TEST_F(DetectionRunTest, OutOfMemoryInsideTheQueryIsNoException) {
  SetOemText("VURO 7");
  PutDeviceProbe();
  sim::FailNth("CeRapiInvoke");
  PutLocalProbe(300);
  ASSERT_EQ(Run(), 0);
  // The first allocation after the failed invoke is the retry's local path.
  const std::size_t retryPath = IndexOf("HeapAlloc", IndexOf("CeRapiInvoke"));
  sim::RemoveKey(kKey);
  SetOemText("VURO 7");
  PutDeviceProbe();
  sim::ClearLog();
  sim::FailNth("CeRapiInvoke");
  sim::FailCall(retryPath);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(sim::CallsTo("CeRapiInvoke").size(), 1u);
  EXPECT_EQ(sim::CallsTo("CeWriteFile").size(), 0u);
  ExpectNothingWritten();
}

struct CodePageCase {
  const char* name;
  std::string oemText;
  bool family;
};

class DoubleByteRunTest : public DetectionRunTest,
                          public ::testing::WithParamInterface<CodePageCase> {};

TEST_P(DoubleByteRunTest, FamilyTestKnowsDoubleByteCharacters) {
  UseCodePage(932);
  sim::InstallRapi();
  sim::SetReport(kReport);
  SetOemText(GetParam().oemText);
  PutDeviceProbe();
  EXPECT_EQ(Run(), 0);
  if (GetParam().family) {
    // The value name keeps the OEM text's own bytes, not the upper-cased copy.
    EXPECT_THAT(sim::ValueNames(kKey),
                UnorderedElementsAre("DeviceOemInfo", "SDK[" + GetParam().oemText + "]"));
    EXPECT_EQ(sim::GetValue(kKey, "SDK[" + GetParam().oemText + "]"), ModelRecord(kModel));
  } else {
    ExpectNothingWritten();
    ExpectDeviceUntouched();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DoubleByteRunTest,
    ::testing::Values(
        // 0x83 0x56 is one character whose second byte is the code of "V".
        CodePageCase{"TrailByteV", "\x83\x56URO", false},
        CodePageCase{"TrailByteVLowerCase", "\x83\x56uro", false},
        CodePageCase{"DoubleByteThenFamily", "\x82\xA0vuro \x83\x56", true},
        CodePageCase{"FamilyAfterTrailByteV", "\x83\x56URO VURO", true},
        // Full-width letters upper-case to full-width capitals, which are not the family word.
        CodePageCase{"FullWidthLetters", "\x82\x96\x82\x95\x82\x92\x82\x8F", false}),
    [](const ::testing::TestParamInfo<CodePageCase>& info) { return info.param.name; });

TEST_F(DetectionRunTest, FailingDoubleByteMappingLeavesTheRestUnchanged) {
  UseCodePage(932);
  sim::InstallRapi();
  SetOemText("\x82\xA0vuro");
  sim::FailDoubleByteMapping(true);
  EXPECT_EQ(Run(), 0);
  // Upper-casing stopped at the double-byte character, so "vuro" stayed lower case.
  ExpectNothingWritten();
  ExpectDeviceUntouched();
}

}  // namespace
