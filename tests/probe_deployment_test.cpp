#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "device/device_connection.h"
#include "device_test_support.h"
#include "text/text_error.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class ProbeDeploymentTest : public DeviceTest {
 protected:
  void TearDown() override {
    device_.Close();
    ExpectAllClosed();
  }

  // The byte counts handed to CeWriteFile, in order.
  static std::vector<std::string> WriteSizes() {
    std::vector<std::string> sizes;
    for (const sim::Call& call : sim::CallsTo("CeWriteFile")) sizes.push_back(call.args.at(2));
    return sizes;
  }
  static std::vector<std::string> LocalOpens() {
    std::vector<std::string> paths;
    for (const sim::Call& call : sim::CallsTo("CreateFileA")) paths.push_back(call.args.at(0));
    return paths;
  }

  DeviceConnection device_;
};

TEST_F(ProbeDeploymentTest, PresentFileIsTakenWithoutLooking) {
  ASSERT_EQ(device_.EnsureConnected(), 1);
  for (const sim::Bytes& present : {sim::ProbeImage(4096), sim::Bytes(), sim::ToBytes("junk")}) {
    sim::SetDeviceFile(kDeviceProbe, present);
    sim::ClearLog();
    EXPECT_EQ(device_.EnsureProbe(0), 1);
    EXPECT_EQ(sim::GetDeviceFile(kDeviceProbe), present);
    // One open and one close on the device; the local folder is not read.
    EXPECT_THAT(DeviceCalls(), ElementsAre("CeCreateFile", "CeCloseHandle"));
    EXPECT_THAT(CallsStartingWith("GetModuleFileNameA"), IsEmpty());
    EXPECT_THAT(LocalOpens(), IsEmpty());
  }
  const sim::Call open = sim::CallsTo("CeCreateFile").at(0);
  EXPECT_THAT(open.args, ElementsAre("\\Windows\\KOLTInfo.dll", "2147483648", "1", "null", "3",
                                     "128", "null"));
}

struct CopyCase {
  std::size_t localSize;
  std::vector<std::string> writes;
  int result;
};

class ProbeCopyTest : public ProbeDeploymentTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(ProbeCopyTest, MissingProbeIsCopiedInChunks) {
  const sim::Bytes local = PutLocalProbe(GetParam().localSize);
  EXPECT_EQ(device_.EnsureProbe(0), GetParam().result);
  EXPECT_THAT(WriteSizes(), ElementsAreArray(GetParam().writes));
  EXPECT_EQ(sim::GetDeviceFile(kDeviceProbe), local);
  EXPECT_THAT(LocalOpens(), ElementsAre(kLocalProbe));
  const sim::Call create = sim::CallsTo("CeCreateFile").at(1);
  EXPECT_THAT(create.args, ElementsAre("\\Windows\\KOLTInfo.dll", "1073741824", "1", "null", "2",
                                       "128", "null"));
  // The device file is closed before the local one.
  const std::vector<std::string> names = sim::CallNames();
  EXPECT_THAT(std::vector<std::string>(names.end() - 2, names.end()),
              ElementsAre("CeCloseHandle", "CloseHandle"));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ProbeCopyTest,
    ::testing::Values(CopyCase{300, {"300"}, 1}, CopyCase{8192, {"8192"}, 1},
                      CopyCase{8193, {"8192", "1"}, 1},
                      CopyCase{3 * 8192 + 5, {"8192", "8192", "8192", "5"}, 1},
                      // An empty local file leaves an empty device file and is no probe.
                      CopyCase{0, {}, 0}));

TEST_F(ProbeDeploymentTest, ForcedCopyReplacesAPresentFile) {
  sim::SetDeviceFile(kDeviceProbe, sim::ToBytes("an older, damaged copy of the probe"));
  const sim::Bytes local = PutLocalProbe(9000);
  EXPECT_EQ(device_.EnsureProbe(1), 1);
  EXPECT_EQ(sim::GetDeviceFile(kDeviceProbe), local);
  // No presence test when forced.
  EXPECT_EQ(sim::CallsTo("CeCreateFile").size(), 1u);
}

TEST_F(ProbeDeploymentTest, MissingLocalProbeLeavesTheDeviceAlone) {
  EXPECT_EQ(device_.EnsureProbe(0), 0);
  EXPECT_EQ(sim::GetDeviceFile(kDeviceProbe), std::nullopt);
  EXPECT_EQ(sim::CallsTo("CeCreateFile").size(), 1u);
}

TEST_F(ProbeDeploymentTest, WithoutConnectionNothingIsAttempted) {
  sim::SetStart(sim::Start::kNever);
  PutLocalProbe(300);
  EXPECT_EQ(device_.EnsureProbe(1), 0);
  EXPECT_THAT(CallsStartingWith("CeCreateFile"), IsEmpty());
  EXPECT_THAT(LocalOpens(), IsEmpty());
}

// Every failure during the copy ends it with 0: a probe that did not arrive whole is no probe.
struct CopyFaultCase {
  const char* name;
  const char* call;
  int occurrence;
  sim::Fault fault;
  std::vector<std::string> writes;
};

class ProbeCopyFaultTest : public ProbeDeploymentTest,
                           public ::testing::WithParamInterface<CopyFaultCase> {};

TEST_P(ProbeCopyFaultTest, EndsTheCopyWithFailure) {
  PutLocalProbe(3 * 8192);
  sim::FailNth(GetParam().call, GetParam().occurrence, GetParam().fault);
  EXPECT_EQ(device_.EnsureProbe(1), 0);
  EXPECT_THAT(WriteSizes(), ElementsAreArray(GetParam().writes));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ProbeCopyFaultTest,
    ::testing::Values(
        CopyFaultCase{"LocalOpen", "CreateFileA", 1, sim::Fault::kFail, {}},
        CopyFaultCase{"DeviceCreate", "CeCreateFile", 1, sim::Fault::kFail, {}},
        CopyFaultCase{"FirstRead", "ReadFile", 1, sim::Fault::kFail, {}},
        CopyFaultCase{"LaterRead", "ReadFile", 3, sim::Fault::kFail, {"8192", "8192"}},
        CopyFaultCase{"FailedWrite", "CeWriteFile", 2, sim::Fault::kFail, {"8192", "8192"}},
        CopyFaultCase{"ShortWrite", "CeWriteFile", 1, sim::Fault::kShort, {"8192"}}),
    [](const ::testing::TestParamInfo<CopyFaultCase>& info) { return info.param.name; });

TEST_F(ProbeDeploymentTest, ShortLocalReadsStillCopyEverything) {
  const sim::Bytes local = PutLocalProbe(8192 + 100);
  sim::FailNth("ReadFile", 1, sim::Fault::kShort);
  EXPECT_EQ(device_.EnsureProbe(1), 1);
  EXPECT_THAT(WriteSizes(), ElementsAre("4096", "4196"));
  EXPECT_EQ(sim::GetDeviceFile(kDeviceProbe), local);
}

struct PathCase {
  const char* name;
  platform::UINT codePage;
  std::optional<std::string> modulePath;
  std::string localPath;  // opened by CreateFileA; "" when none may be built
};

class LocalPathTest : public ProbeDeploymentTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(LocalPathTest, ProbeIsLookedForBesideTheProgram) {
  UseCodePage(GetParam().codePage);
  sim::InstallRapi();
  sim::SetModulePath(GetParam().modulePath);
  device_.EnsureProbe(1);
  if (GetParam().localPath.empty()) {
    // A cut path names another folder: neither a local file nor the device is touched.
    EXPECT_THAT(LocalOpens(), IsEmpty());
    EXPECT_THAT(CallsStartingWith("CeCreateFile"), IsEmpty());
  } else {
    EXPECT_THAT(LocalOpens(), ElementsAre(GetParam().localPath));
  }
}

// With the separators around it, a folder of 255 characters; the whole path still fits.
const std::string kLongFolder(253, 'f');

INSTANTIATE_TEST_SUITE_P(
    Paths, LocalPathTest,
    ::testing::Values(
        PathCase{"DriveAndFolder", 1252, "C:\\Tools\\prog.exe", "C:\\Tools\\KOLTInfo.dll"},
        PathCase{"ForwardSlashes", 1252, "C:/Tools/sub/prog.exe", "C:/Tools/sub/KOLTInfo.dll"},
        PathCase{"NoDrive", 1252, "\\\\server\\share\\prog.exe", "\\\\server\\share\\KOLTInfo.dll"},
        PathCase{"DriveRelative", 1252, "C:prog.exe", "C:KOLTInfo.dll"},
        PathCase{"NameOnly", 1252, "prog.exe", "KOLTInfo.dll"},
        PathCase{"NoPathAtAll", 1252, std::nullopt, "KOLTInfo.dll"},
        // 0x95 0x5C is one character whose second byte is the code of a backslash.
        PathCase{"TrailByteIsNoSeparator", 932, "C:\\Tools\\\x95\x5Cprog.exe",
                 "C:\\Tools\\KOLTInfo.dll"},
        PathCase{"DoubleByteFolder", 932, "C:\\\x95\x5C\\prog.exe", "C:\\\x95\x5C\\KOLTInfo.dll"},
        // Under 1252 the same bytes are two characters, the second a separator.
        PathCase{"SingleByteBackslash", 1252, "C:\\Tools\\\x95\x5Cprog.exe",
                 "C:\\Tools\\\x95\\KOLTInfo.dll"},
        PathCase{"FolderOf255", 1252, "C:\\" + kLongFolder + "\\p",
                 "C:\\" + kLongFolder + "\\KOLTInfo.dll"},
        PathCase{"FolderOf256", 1252, "C:\\" + kLongFolder + "f\\p", ""},
        PathCase{"CutProgramPath", 1252, "C:\\" + std::string(300, 'p') + ".exe", ""},
        PathCase{"PathOf259", 1252, "C:\\a\\" + std::string(250, 'p') + ".exe",
                 "C:\\a\\KOLTInfo.dll"},
        PathCase{"PathOf260", 1252, "C:\\a\\" + std::string(251, 'p') + ".exe", ""}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return info.param.name; });

TEST_F(ProbeDeploymentTest, CutPathUnforcedStopsAfterThePresenceTest) {
  sim::SetModulePath("C:\\" + std::string(300, 'p') + ".exe");
  EXPECT_EQ(device_.EnsureProbe(0), 0);
  EXPECT_THAT(DeviceCalls(), ElementsAre("CeRapiInitEx", "CeCreateFile"));
  EXPECT_EQ(sim::GetDeviceFile(kDeviceProbe), std::nullopt);
}

TEST_F(ProbeDeploymentTest, OutOfMemoryForThePathOpensNothing) {
  PutLocalProbe(300);
  ASSERT_EQ(device_.EnsureConnected(), 1);
  sim::FailAllocation(1);
  EXPECT_THROW(device_.EnsureProbe(1), TextError);
  EXPECT_THAT(LocalOpens(), IsEmpty());
  EXPECT_THAT(CallsStartingWith("CeCreateFile"), IsEmpty());
}

TEST_F(ProbeDeploymentTest, CopyAllocatesOnlyThePath) {
  PutLocalProbe(5 * 8192);
  ASSERT_EQ(device_.EnsureConnected(), 1);
  const std::size_t before = sim::AllocationCount();
  EXPECT_EQ(device_.EnsureProbe(1), 1);
  EXPECT_EQ(sim::AllocationCount() - before, 1u);
}

}  // namespace
