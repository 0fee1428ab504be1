// The fault sweep: whole runs in which exactly one platform call or allocation fails, one run for
// every call a normal run makes. Whatever fails, the run must end in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/sync_settings_store.h"
#include "app/winmain.h"
#include "device_test_support.h"

namespace {

constexpr char kKey[] = "Software\\Microsoft\\Windows CE Services";
const std::string kOemText = "Acme VURO 7";
const std::string kValueName = "SDK[" + kOemText + "]";
const std::string kModel = "VURO Seven";

struct Scenario {
  const char* name;
  std::function<void()> arrange;  // beyond the common ground: OEM text, rapi.dll, report
};

sim::Bytes ModelRecord() {
  sim::Bytes record = sim::ToBytes(kModel);
  record.resize(SyncSettingsStore::kRecordSize, 0);
  return record;
}

bool IsAllocation(const std::string& name) { return name == "HeapAlloc" || name == "HeapReAlloc"; }
bool HasShortForm(const std::string& name) {
  return name == "ReadFile" || name == "CeReadFile" || name == "CeWriteFile";
}

// What a run left behind, taken from the log and the machine.
struct RunRecord {
  int exitCode = 0;
  std::vector<sim::Call> log;
  sim::Bytes localProbe;

  std::optional<std::size_t> First(const std::string& name, std::size_t from = 0) const {
    for (std::size_t i = from; i < log.size(); ++i) {
      if (log[i].name == name) return i;
    }
    return std::nullopt;
  }
  std::size_t Count(const std::string& name) const {
    std::size_t count = 0;
    for (const sim::Call& call : log) count += call.name == name ? 1 : 0;
    return count;
  }
};

class FaultSweep {
 public:
  explicit FaultSweep(const Scenario& scenario) : scenario_(scenario) {}

  RunRecord Run(std::optional<std::size_t> failAt, sim::Fault fault) {
    SimTestMachine();
    RunRecord record;
    record.localProbe = sim::ProbeImage(8193);
    sim::SetLocalFile(kLocalProbe, record.localProbe);
    scenario_.arrange();
    sim::ClearLog();
    const std::size_t liveBefore = sim::LiveBlockCount();
    if (failAt) sim::FailCall(*failAt, fault);
    record.exitCode = WinMain(nullptr, nullptr, nullptr, 0);
    record.log = sim::Log();
    EXPECT_EQ(sim::LiveBlockCount(), liveBefore) << "text storage leaked";
    return record;
  }

  // The span of the model query in a normal run: from loading rapi.dll to the query's last call.
  // An allocation failure inside it is caught by the query; anywhere else it reaches the run.
  void LearnQuerySpan(const RunRecord& normal) {
    queryBegin_ = normal.First("LoadLibraryA").value();
    const std::size_t write = normal.First("RegOpenKeyExA", queryBegin_).value();
    queryEnd_ = queryBegin_;
    for (std::size_t i = queryBegin_; i < write; ++i) {
      const std::string& name = normal.log[i].name;
      if (name.rfind("Ce", 0) == 0 || name == "LocalFree") queryEnd_ = i;
    }
  }

  void CheckInvariants(const RunRecord& run, std::size_t failAt, const std::string& failed) {
    const bool reachesRun = IsAllocation(failed) && (failAt < queryBegin_ || failAt > queryEnd_);
    EXPECT_EQ(run.exitCode, reachesRun ? -1 : 0);

    // The model value is written only whole, and nothing else is ever written.
    const std::vector<std::string> names = sim::ValueNames(kKey);
    const bool written = names.size() == 2;
    EXPECT_TRUE(names == std::vector<std::string>{"DeviceOemInfo"} ||
                names == (std::vector<std::string>{"DeviceOemInfo", kValueName}) ||
                names == (std::vector<std::string>{kValueName, "DeviceOemInfo"}))
        << ::testing::PrintToString(names);
    if (written) {
      EXPECT_EQ(sim::GetValue(kKey, kValueName), (sim::Value{platform::REG_SZ, ModelRecord()}));
      EXPECT_EQ(run.exitCode, 0);
    }

    // Everything opened is closed; no contract breach.
    EXPECT_EQ(sim::OpenKeyCount(), 0);
    EXPECT_EQ(sim::OpenLocalFileCount(), 0);
    EXPECT_EQ(sim::OpenDeviceFileCount(), 0);
    EXPECT_EQ(sim::LiveOutputBlockCount(), 0);
    EXPECT_EQ(sim::Violations(), std::vector<std::string>());

    // The Remote API is stopped exactly after a confirmed start, before its library is released;
    // the library is released exactly when it was loaded.
    bool confirmed = false;
    for (const sim::Call& call : run.log) {
      confirmed = confirmed || (call.name == "WaitForSingleObject" && call.result == "0");
    }
    const std::optional<std::size_t> load = run.First("LoadLibraryA");
    const bool loaded = load && run.log[*load].result != "null";
    EXPECT_EQ(run.Count("CeRapiUninit"), confirmed ? 1u : 0u);
    EXPECT_EQ(run.Count("FreeLibrary"), loaded ? 1u : 0u);
    if (confirmed) {
      EXPECT_LT(run.First("CeRapiUninit").value(), run.First("FreeLibrary").value());
    }
    EXPECT_EQ(sim::LoadedLibraryCount(), 0);

    CheckReportDeleted(run, failAt, failed);
    CheckCopiesWhole(run);
  }

 private:
  static void SimTestMachine() {
    sim::Reset();
    sim::SetCodePage(1252);
    StartUp();
    sim::InstallRapi();
    sim::Bytes oem = sim::ToBytes(kOemText);
    oem.push_back(0);
    sim::SetValue(kKey, "DeviceOemInfo", platform::REG_SZ, oem);
    sim::SetReport("<Model_Info><Model>" + kModel + "</Model><Serial_Num>SN0042</Serial_Num>");
  }

  // After every invoke that did not fail, the report is deleted before anything else is invoked,
  // unless an allocation failure ended the query after the invoke.
  static void CheckReportDeleted(const RunRecord& run, std::size_t failAt,
                                 const std::string& failed) {
    // The deletion that followed the last invoke that did not fail; log size while there is none.
    std::size_t lastDelete = run.log.size();
    for (std::size_t i = 0; i < run.log.size(); ++i) {
      const sim::Call& call = run.log[i];
      if (call.name != "CeRapiInvoke" || call.result.rfind("-", 0) == 0) continue;
      lastDelete = run.log.size();
      if (IsAllocation(failed) && failAt > i) continue;
      const std::optional<std::size_t> deleted = run.First("CeDeleteFile", i);
      const std::optional<std::size_t> next = run.First("CeRapiInvoke", i + 1);
      ASSERT_TRUE(deleted) << "report of invoke #" << i << " not deleted";
      if (next) {
        EXPECT_LT(*deleted, *next);
      }
      EXPECT_EQ(run.log[*deleted].args.at(0), "koltout.txt");
      lastDelete = *deleted;
    }
    // A deletion that succeeded after the last invoke leaves no report behind.
    if (lastDelete < run.log.size() && run.log[lastDelete].result == "1") {
      EXPECT_EQ(sim::GetDeviceFile(kReportFile), std::nullopt);
    }
  }

  // A copy that reported success, which is what an invoke after it shows, left the local file on
  // the device byte for byte.
  static void CheckCopiesWhole(const RunRecord& run) {
    std::optional<std::size_t> lastCopy;
    for (std::size_t i = 0; i < run.log.size(); ++i) {
      const sim::Call& call = run.log[i];
      if (call.name == "CeCreateFile" && call.args.at(4) == "2" && call.result != "invalid") {
        lastCopy = i;
      }
    }
    if (lastCopy && run.First("CeRapiInvoke", *lastCopy)) {
      EXPECT_EQ(sim::GetDeviceFile(kDeviceProbe), run.localProbe);
    }
  }

  const Scenario& scenario_;
  std::size_t queryBegin_ = 0;
  std::size_t queryEnd_ = 0;
};

const Scenario kScenarios[] = {
    {"probe present", [] { sim::SetDeviceFile(kDeviceProbe, sim::ProbeImage(4096)); }},
    {"probe missing, copied from 8193 bytes", [] {}},
    {"damaged probe", [] { sim::SetDeviceFile(kDeviceProbe, sim::ToBytes("damaged")); }},
    {"report in short reads",
     [] {
       sim::SetDeviceFile(kDeviceProbe, sim::ProbeImage(4096));
       sim::SetReadChunkLimit(7);
     }},
};

TEST(FaultSweepTest, EveryCallFailingOnceLeavesTheRunInOrder) {
  std::size_t injections = 0;
  for (const Scenario& scenario : kScenarios) {
    FaultSweep sweep(scenario);
    const RunRecord normal = sweep.Run(std::nullopt, sim::Fault::kFail);
    ASSERT_EQ(normal.exitCode, 0) << scenario.name;
    ASSERT_EQ(sim::GetValue(kKey, kValueName), (sim::Value{platform::REG_SZ, ModelRecord()}))
        << scenario.name << ": the normal run must store the model";
    sweep.LearnQuerySpan(normal);

    for (std::size_t i = 0; i < normal.log.size(); ++i) {
      const std::string& name = normal.log[i].name;
      std::vector<sim::Fault> faults = {sim::Fault::kFail};
      if (HasShortForm(name)) faults.push_back(sim::Fault::kShort);
      for (sim::Fault fault : faults) {
        SCOPED_TRACE(std::string(scenario.name) + ": call #" + std::to_string(i) + " " + name +
                     (fault == sim::Fault::kShort ? " short" : " failing"));
        const RunRecord run = sweep.Run(i, fault);
        sweep.CheckInvariants(run, i, name);
        ++injections;
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
  }
  std::printf("fault sweep: %zu injection points over %zu scenarios\n", injections,
              sizeof(kScenarios) / sizeof(kScenarios[0]));
  EXPECT_GT(injections, 0u);
}

}  // namespace
