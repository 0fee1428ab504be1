#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "device/device_connection.h"
#include "device_test_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kReport =
    "<Model_Info><Model>VURO Seven</Model><Serial_Num>SN0042</Serial_Num>\r\n";

class ModelQueryTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    sim::SetReport(kReport);
    // Text storage is bound by the start-up above, so the model gets its text only now.
    model_ = "before";
    sim::ClearLog();
  }
  void TearDown() override {
    device_.Close();
    ExpectAllClosed();
  }

  int Query(int force = 0, int attempt = 0) { return device_.QueryModel(model_, force, attempt); }
  static std::size_t Count(const std::string& name) { return sim::CallsTo(name).size(); }

  DeviceConnection device_;
  AnsiText model_;
};

TEST_F(ModelQueryTest, ProbeRunsAndItsReportIsCollected) {
  PutDeviceProbe();
  sim::SetInvokeOutputBlock(true);
  EXPECT_EQ(Query(), 1);
  EXPECT_EQ(model_, AnsiText("VURO Seven"));
  EXPECT_THAT(DeviceCalls(),
              ElementsAre("CeRapiInitEx", "CeCreateFile", "CeCloseHandle", "CeRapiInvoke",
                          "CeCreateFile", "CeGetFileSize", "CeReadFile", "CeReadFile",
                          "CeCloseHandle", "CeDeleteFile"));
  EXPECT_THAT(sim::CallsTo("CeRapiInvoke").at(0).args,
              ElementsAre("\\Windows\\KOLTInfo.dll", "VuroModelInfo", "0", "null", "ptr", "ptr",
                          "null", "0"));
  EXPECT_THAT(sim::CallsTo("CeCreateFile").at(1).args,
              ElementsAre("koltout.txt", "2147483648", "1", "null", "3", "128", "null"));
  EXPECT_THAT(sim::CallsTo("CeDeleteFile").at(0).args, ElementsAre("koltout.txt"));
  EXPECT_EQ(sim::GetDeviceFile(kReportFile), std::nullopt);
  EXPECT_EQ(Count("LocalFree"), 1u);
}

TEST_F(ModelQueryTest, ThirdAttemptCallsNothing) {
  EXPECT_EQ(Query(0, 2), 0);
  EXPECT_EQ(Query(1, 7), 0);
  EXPECT_THAT(sim::Log(), IsEmpty());
  EXPECT_EQ(model_, AnsiText("before"));
}

TEST_F(ModelQueryTest, FailedInvokeIsRetriedOnceWithAFreshCopy) {
  sim::SetDeviceFile(kDeviceProbe, sim::ToBytes("damaged"));
  const sim::Bytes local = PutLocalProbe(8193);
  EXPECT_EQ(Query(), 1);
  EXPECT_EQ(model_, AnsiText("VURO Seven"));
  EXPECT_EQ(Count("CeRapiInvoke"), 2u);
  EXPECT_EQ(Count("CeDeleteFile"), 1u);
  EXPECT_EQ(sim::GetDeviceFile(kDeviceProbe), local);
  // The first attempt took the damaged file as present; the retry copied without looking.
  EXPECT_EQ(Count("CeWriteFile"), 2u);
}

TEST_F(ModelQueryTest, TwoFailedInvokesGiveUp) {
  sim::SetDeviceFile(kDeviceProbe, sim::ToBytes("damaged"));
  sim::SetLocalFile(kLocalProbe, sim::ToBytes("damaged as well"));
  EXPECT_EQ(Query(), 0);
  EXPECT_EQ(Count("CeRapiInvoke"), 2u);
  // No report was opened or deleted.
  EXPECT_EQ(Count("CeDeleteFile"), 0u);
  EXPECT_EQ(sim::CallsTo("CeCreateFile").size(), 2u);
  EXPECT_EQ(model_, AnsiText("before"));
}

TEST_F(ModelQueryTest, FailedDeploymentIsNotRetried) {
  EXPECT_EQ(Query(), 0);
  EXPECT_EQ(Count("CeRapiInvoke"), 0u);
  EXPECT_EQ(Count("CreateFileA"), 1u);
}

TEST_F(ModelQueryTest, NoConnectionNoDeployment) {
  sim::SetStart(sim::Start::kNever);
  EXPECT_EQ(Query(), 0);
  EXPECT_THAT(DeviceCalls(), ElementsAre("CeRapiInitEx"));
}

TEST_F(ModelQueryTest, MissingReportIsStillDeleted) {
  PutDeviceProbe();
  sim::FailNth("CeCreateFile", 2);  // the report's open
  EXPECT_EQ(Query(), 0);
  EXPECT_EQ(Count("CeDeleteFile"), 1u);
  EXPECT_EQ(Count("CeReadFile"), 0u);
  // Only the presence test's handle was closed.
  EXPECT_EQ(Count("CeCloseHandle"), 1u);
  EXPECT_EQ(sim::GetDeviceFile(kReportFile), std::nullopt);
}

TEST_F(ModelQueryTest, EmptyReportIsNotRead) {
  PutDeviceProbe();
  sim::SetReport("");
  EXPECT_EQ(Query(), 0);
  EXPECT_EQ(Count("CeReadFile"), 0u);
  EXPECT_EQ(Count("CeCloseHandle"), 2u);
  EXPECT_EQ(Count("CeDeleteFile"), 1u);
  EXPECT_EQ(model_, AnsiText("before"));
}

TEST_F(ModelQueryTest, UnknownSizeStillLeadsToReading) {
  PutDeviceProbe();
  sim::FailNth("CeGetFileSize");
  EXPECT_EQ(Query(), 1);
  EXPECT_EQ(model_, AnsiText("VURO Seven"));
}

TEST_F(ModelQueryTest, ReportInOneByteReadsIsJoinedInOrder) {
  PutDeviceProbe();
  sim::SetReadChunkLimit(1);
  EXPECT_EQ(Query(), 1);
  EXPECT_EQ(model_, AnsiText("VURO Seven"));
  EXPECT_EQ(Count("CeReadFile"), kReport.size() + 1);
}

TEST_F(ModelQueryTest, ReadFailureKeepsWhatArrived) {
  PutDeviceProbe();
  sim::SetReadChunkLimit(10);
  sim::FailNth("CeReadFile", 4);  // after 30 bytes, before the separator
  EXPECT_EQ(Query(), 0);
  EXPECT_EQ(model_, AnsiText());
  EXPECT_EQ(Count("CeDeleteFile"), 1u);
}

TEST_F(ModelQueryTest, ChunkTextEndsAtItsFirstZeroByte) {
  PutDeviceProbe();
  sim::SetReadChunkLimit(19);
  // The second chunk holds "AB", a zero byte and filler; only "AB" counts.
  sim::SetReport("<Model_Info><Model>AB" + std::string(1, '\0') + std::string(16, 'z') +
                 "C</Model><Serial_Num>1</Serial_Num>");
  EXPECT_EQ(Query(), 1);
  EXPECT_EQ(model_, AnsiText("ABC"));
}

TEST_F(ModelQueryTest, ReportBeginningWithZeroIsNotParsed) {
  PutDeviceProbe();
  sim::SetReport(std::string("\0", 1) + kReport);
  EXPECT_EQ(Query(), 0);
  EXPECT_EQ(model_, AnsiText("before"));
  EXPECT_EQ(Count("CeDeleteFile"), 1u);
}

TEST_F(ModelQueryTest, ReportWithoutModel) {
  PutDeviceProbe();
  sim::SetReport("<Model_Info><Model>VURO Seven</Model>\r\n<Serial_Num>1</Serial_Num>");
  EXPECT_EQ(Query(), 0);
  EXPECT_EQ(model_, AnsiText());
}

// The report keeps its first 5999 bytes. A model is taken only when its separator lies inside
// them, so cutting never yields a wrong name.
TEST_F(ModelQueryTest, LongReportsAreCut) {
  struct Case {
    std::size_t modelLength;
    std::size_t serialLength;
    int result;
  };
  const std::size_t frame = std::string("<Model_Info><Model></Model><Serial_Num>").size();
  for (const Case& c : {Case{10, 20000, 1}, Case{5999 - frame, 10, 1},
                        Case{5999 - frame + 1, 10, 0}, Case{9000, 10, 0}}) {
    SCOPED_TRACE(c.modelLength);
    PutDeviceProbe();
    const std::string name(c.modelLength, 'M');
    sim::SetReport("<Model_Info><Model>" + name + "</Model><Serial_Num>" +
                   std::string(c.serialLength, '7') + "</Serial_Num>");
    model_ = "before";
    EXPECT_EQ(Query(), c.result);
    EXPECT_EQ(std::string(model_.Data()), c.result ? name : "");
    EXPECT_EQ(sim::GetDeviceFile(kReportFile), std::nullopt);
  }
}

TEST_F(ModelQueryTest, OutOfMemoryIsTurnedIntoFailure) {
  // The retry's forced copy needs memory for the local path, and gets none.
  sim::SetDeviceFile(kDeviceProbe, sim::ToBytes("damaged"));
  PutLocalProbe(300);
  sim::FailAllocation(1);
  EXPECT_EQ(Query(), 0);
  EXPECT_EQ(Count("CeRapiInvoke"), 1u);
  EXPECT_EQ(Count("CeWriteFile"), 0u);
  EXPECT_EQ(model_, AnsiText("before"));
}

TEST_F(ModelQueryTest, OutOfMemoryAfterTheInvokeClosesTheReport) {
  PutDeviceProbe();
  sim::FailAllocation(1);  // the report text
  EXPECT_EQ(Query(), 0);
  EXPECT_EQ(Count("CeRapiInvoke"), 1u);
  // The query ended early: the report may stay, but its handle is closed.
  EXPECT_EQ(sim::OpenDeviceFileCount(), 0);
  EXPECT_EQ(model_, AnsiText("before"));
}

}  // namespace
