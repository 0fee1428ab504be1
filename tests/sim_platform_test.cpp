// The simulated platform behaves where the logic relies on it: results, the call log, faults,
// simulated time and the breaches it records.
#include "platform/sim/sim_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/remote_api.h"
#include "platform/sim/probe_image.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

constexpr char kServices[] = "Software\\Microsoft\\Windows CE Services";
constexpr char16_t kProbePath[] = u"\\Windows\\KOLTInfo.dll";
constexpr char16_t kReportFile[] = u"koltout.txt";
constexpr platform::DWORD kStartWaitMs = 2000;

class SimPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
  void TearDown() override { sim::Reset(); }
};

// rapi.dll loaded through the platform, with its nine entry points.
struct Rapi {
  platform::HMODULE module = nullptr;
  platform::CeRapiInitExFn initEx = nullptr;
  platform::CeRapiUninitFn uninit = nullptr;
  platform::CeRapiInvokeFn invoke = nullptr;
  platform::CeCreateFileFn createFile = nullptr;
  platform::CeWriteFileFn writeFile = nullptr;
  platform::CeReadFileFn readFile = nullptr;
  platform::CeGetFileSizeFn getFileSize = nullptr;
  platform::CeCloseHandleFn closeHandle = nullptr;
  platform::CeDeleteFileFn deleteFile = nullptr;

  template <typename Fn>
  void LookUp(Fn& entry, const char* name) {
    entry =
        reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(platform::GetProcAddress(module, name)));
  }

  static Rapi Load() {
    Rapi rapi;
    rapi.module = platform::LoadLibraryA("RAPI.DLL");
    rapi.LookUp(rapi.initEx, "CeRapiInitEx");
    rapi.LookUp(rapi.uninit, "CeRapiUninit");
    rapi.LookUp(rapi.invoke, "CeRapiInvoke");
    rapi.LookUp(rapi.createFile, "CeCreateFile");
    rapi.LookUp(rapi.writeFile, "CeWriteFile");
    rapi.LookUp(rapi.readFile, "CeReadFile");
    rapi.LookUp(rapi.getFileSize, "CeGetFileSize");
    rapi.LookUp(rapi.closeHandle, "CeCloseHandle");
    rapi.LookUp(rapi.deleteFile, "CeDeleteFile");
    return rapi;
  }

  // Starts the Remote API and waits as the logic does; the wait's result.
  platform::DWORD Start(platform::RAPIINIT& init) const {
    init = {sizeof(platform::RAPIINIT), nullptr, 0};
    initEx(&init);
    return platform::WaitForSingleObject(init.heRapiInit, kStartWaitMs);
  }

  platform::HANDLE Open(const char16_t* path) const {
    return createFile(path, platform::GENERIC_READ, platform::FILE_SHARE_READ, nullptr,
                      platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  platform::HANDLE Create(const char16_t* path) const {
    return createFile(path, platform::GENERIC_WRITE, platform::FILE_SHARE_READ, nullptr,
                      platform::CREATE_ALWAYS, platform::FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  platform::HRESULT Invoke(platform::DWORD* outSize, platform::BYTE** out,
                           const char16_t* entry = u"VuroModelInfo") const {
    return invoke(kProbePath, entry, 0, nullptr, outSize, out, nullptr, 0);
  }
};

// A fixture with rapi.dll installed, loaded and started at once.
class SimConnectedTest : public SimPlatformTest {
 protected:
  void SetUp() override {
    SimPlatformTest::SetUp();
    sim::InstallRapi();
    rapi_ = Rapi::Load();
    ASSERT_EQ(rapi_.Start(init_), platform::WAIT_OBJECT_0);
  }
  Rapi rapi_;
  platform::RAPIINIT init_ = {};
};

// ---------------------------------------------------------------------------------------------
// Call log and fault injection

TEST_F(SimPlatformTest, FailCallHitsExactlyTheCallWithThatIndexAndLogsIt) {
  sim::SetLocalFile("C:\\a.bin", sim::ToBytes("abc"));
  sim::FailCall(sim::NextCallIndex() + 1);
  platform::HANDLE first = platform::CreateFileA("C:\\a.bin", platform::GENERIC_READ, 0, nullptr,
                                                 platform::OPEN_EXISTING, 0, nullptr);
  platform::HANDLE second = platform::CreateFileA("C:\\a.bin", platform::GENERIC_READ, 0, nullptr,
                                                  platform::OPEN_EXISTING, 0, nullptr);
  platform::HANDLE third = platform::CreateFileA("C:\\a.bin", platform::GENERIC_READ, 0, nullptr,
                                                 platform::OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(first, platform::INVALID_HANDLE_VALUE);
  EXPECT_EQ(second, platform::INVALID_HANDLE_VALUE);
  EXPECT_NE(third, platform::INVALID_HANDLE_VALUE);

  const std::vector<sim::Call> opens = sim::CallsTo("CreateFileA");
  ASSERT_THAT(opens, SizeIs(3));
  EXPECT_THAT(opens[1].args, ElementsAre("C:\\a.bin", "2147483648", "0", "null", "3", "0", "null"));
  EXPECT_EQ(opens[1].result, "invalid");
  EXPECT_EQ(opens[0].result.front(), 'h');
  EXPECT_NE(opens[0].result, opens[2].result);
  platform::CloseHandle(first);
  platform::CloseHandle(third);
  EXPECT_EQ(sim::CallsTo("CloseHandle")[0].args[0], opens[0].result);
}

TEST_F(SimPlatformTest, FailNthCountsOnlyCallsOfThatNameFromNowOn) {
  platform::GetACP();
  sim::FailNth("GetCPInfo", 2);
  platform::CPINFO info = {};
  std::vector<platform::BOOL> results;
  for (int i = 0; i < 3; ++i) {
    platform::GetACP();
    results.push_back(platform::GetCPInfo(1252, &info));
  }
  EXPECT_THAT(results, ElementsAre(platform::TRUE, platform::FALSE, platform::TRUE));
}

TEST_F(SimPlatformTest, HeapCallsCountTowardTheIndexButLeaveCallNamesUnlessAsked) {
  platform::HANDLE heap = platform::GetProcessHeap();
  sim::FailCall(1);
  EXPECT_EQ(platform::HeapAlloc(heap, 0, 16), nullptr);
  platform::GetACP();
  EXPECT_THAT(sim::CallNames(), ElementsAre("GetACP"));
  EXPECT_THAT(sim::CallNames(true), ElementsAre("GetProcessHeap", "HeapAlloc", "GetACP"));
  sim::ClearLog();
  EXPECT_EQ(sim::NextCallIndex(), 0u);
}

TEST_F(SimPlatformTest, ClosesUnderAFaultStillClose) {
  sim::SetLocalFile("C:\\a.bin", sim::ToBytes("x"));
  platform::HANDLE file = platform::CreateFileA("C:\\a.bin", platform::GENERIC_READ, 0, nullptr,
                                                platform::OPEN_EXISTING, 0, nullptr);
  sim::FailNth("CloseHandle");
  EXPECT_EQ(platform::CloseHandle(file), platform::TRUE);
  EXPECT_EQ(sim::OpenLocalFileCount(), 0);
  EXPECT_THAT(sim::Violations(), IsEmpty());
}

// ---------------------------------------------------------------------------------------------
// Registry

TEST_F(SimPlatformTest, QueryReportsMoreDataWithTheSizeNeededAndKeyNamesIgnoreCase) {
  sim::SetValue(kServices, "DeviceOemInfo", platform::REG_SZ,
                sim::ToBytes(std::string("VURO 7\0", 7)));
  platform::HKEY key = nullptr;
  ASSERT_EQ(platform::RegOpenKeyExA(platform::HKEY_CURRENT_USER,
                                    "SOFTWARE\\microsoft\\Windows CE Services", 0,
                                    platform::KEY_READ, &key),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(sim::OpenKeyCount(), 1);

  struct Case {
    platform::DWORD bufferSize;
    platform::LONG status;
  };
  for (const Case& c : {Case{6, platform::ERROR_MORE_DATA}, Case{7, platform::ERROR_SUCCESS}}) {
    char buffer[16] = {};
    platform::DWORD type = 0;
    platform::DWORD size = c.bufferSize;
    EXPECT_EQ(platform::RegQueryValueExA(key, "deviceoeminfo", nullptr, &type,
                                         reinterpret_cast<platform::BYTE*>(buffer), &size),
              c.status);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(type, platform::REG_SZ);
    EXPECT_STREQ(buffer, c.status == platform::ERROR_SUCCESS ? "VURO 7" : "");
  }
  platform::DWORD size = 4;
  EXPECT_EQ(platform::RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size),
            platform::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(platform::RegCloseKey(key), platform::ERROR_SUCCESS);
  EXPECT_EQ(sim::OpenKeyCount(), 0);
}

TEST_F(SimPlatformTest, KeysOpenOnlyWhenPresentAndHonourTheirAccess) {
  platform::HKEY key = nullptr;
  EXPECT_EQ(
      platform::RegOpenKeyExA(platform::HKEY_CURRENT_USER, kServices, 0, platform::KEY_WRITE, &key),
      platform::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(sim::OpenKeyCount(), 0);
  EXPECT_FALSE(sim::KeyExists(kServices));

  sim::CreateKey(kServices);
  ASSERT_EQ(
      platform::RegOpenKeyExA(platform::HKEY_CURRENT_USER, kServices, 0, platform::KEY_WRITE, &key),
      platform::ERROR_SUCCESS);
  const platform::BYTE record[4] = {'V', '7', 0, 0};
  EXPECT_EQ(platform::RegSetValueExA(key, "SDK[VURO]", 0, platform::REG_SZ, record, 4),
            platform::ERROR_SUCCESS);
  platform::DWORD size = 4;
  EXPECT_EQ(platform::RegQueryValueExA(key, "SDK[VURO]", nullptr, nullptr, nullptr, &size),
            platform::ERROR_ACCESS_DENIED);
  platform::RegCloseKey(key);
  EXPECT_EQ(sim::GetValue(kServices, "sdk[vuro]"),
            (sim::Value{platform::REG_SZ, sim::Bytes(record, record + 4)}));
  EXPECT_THAT(sim::ValueNames(kServices), ElementsAre("SDK[VURO]"));
}

// ---------------------------------------------------------------------------------------------
// The program's path and local files

TEST_F(SimPlatformTest, ModulePathIsCutAsOnVistaWhenItDoesNotFit) {
  struct Case {
    std::size_t length;
    platform::DWORD result;
    std::size_t kept;
  };
  for (const Case& c :
       {Case{36, 36, 36}, Case{259, 259, 259}, Case{260, 260, 259}, Case{300, 260, 259}}) {
    const std::string path = "C:\\" + std::string(c.length - 3, 'p');
    sim::SetModulePath(path);
    char buffer[platform::MAX_PATH + 8];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(platform::GetModuleFileNameA(nullptr, buffer, platform::MAX_PATH), c.result)
        << c.length;
    EXPECT_EQ(std::string(buffer), path.substr(0, c.kept)) << c.length;
  }
  sim::SetModulePath(std::nullopt);
  char buffer[8] = {};
  EXPECT_EQ(platform::GetModuleFileNameA(nullptr, buffer, sizeof(buffer)), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST_F(SimPlatformTest, LocalPathsIgnoreCaseAndResolveAgainstTheCurrentFolder) {
  sim::SetLocalFile("C:\\Users\\user\\KOLTInfo.dll", sim::ToBytes("in folder"));
  sim::SetLocalFile("D:\\Tools\\KOLTInfo.dll", sim::ToBytes("on D"));
  for (const char* path : {"koltinfo.DLL", "c:\\USERS\\user\\KOLTInfo.dll",
                           "C:/Users/user/./KOLTInfo.dll", "\\users\\user\\koltinfo.dll"}) {
    platform::HANDLE file = platform::CreateFileA(path, platform::GENERIC_READ, 0, nullptr,
                                                  platform::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, platform::INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(platform::GetFileSize(file, nullptr), 9u) << path;
    platform::CloseHandle(file);
  }
  EXPECT_EQ(platform::CreateFileA("C:\\Tools\\KOLTInfo.dll", platform::GENERIC_READ, 0, nullptr,
                                  platform::OPEN_EXISTING, 0, nullptr),
            platform::INVALID_HANDLE_VALUE);
}

// Under 932 the second byte of a double-byte character may be 0x5C, the backslash: it belongs to
// the character and separates nothing.
TEST_F(SimPlatformTest, DoubleByteCharacterEndingInBackslashIsNoSeparator) {
  sim::SetCodePage(932);
  const std::string folder = "C:\\\x95\x5C\\";
  sim::SetLocalFile(folder + "KOLTInfo.dll", sim::ToBytes("probe"));
  const auto opens = [](const std::string& path) {
    platform::HANDLE file = platform::CreateFileA(path.c_str(), platform::GENERIC_READ, 0, nullptr,
                                                  platform::OPEN_EXISTING, 0, nullptr);
    if (file == platform::INVALID_HANDLE_VALUE) return false;
    platform::CloseHandle(file);
    return true;
  };
  EXPECT_TRUE(opens(folder + "koltinfo.dll"));
  EXPECT_FALSE(opens("C:\\\x95\\KOLTInfo.dll"));
}

TEST_F(SimPlatformTest, ReadFileMovesOnAndEndsWithZeroBytes) {
  sim::SetLocalFile("C:\\a.bin", sim::ToBytes("0123456789"));
  platform::HANDLE file = platform::CreateFileA("C:\\a.bin", platform::GENERIC_READ, 0, nullptr,
                                                platform::OPEN_EXISTING, 0, nullptr);
  sim::FailNth("ReadFile", 2, sim::Fault::kShort);
  std::string got;
  std::vector<platform::DWORD> counts;
  char buffer[4];
  platform::DWORD read = 1;
  while (platform::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read != 0) {
    counts.push_back(read);
    got.append(buffer, read);
  }
  EXPECT_THAT(counts, ElementsAre(4u, 2u, 4u));
  EXPECT_EQ(got, "0123456789");
  sim::FailNth("ReadFile");
  EXPECT_EQ(platform::ReadFile(file, buffer, sizeof(buffer), &read, nullptr), platform::FALSE);
  platform::CloseHandle(file);
}

// ---------------------------------------------------------------------------------------------
// Loading, the start event and simulated time

TEST_F(SimPlatformTest, StartKindsDecideTheWaitAndTheTimeItTakes) {
  struct Case {
    sim::Start start;
    platform::DWORD wait;
    platform::DWORD now;
    bool event;
    platform::HRESULT result;
  };
  const Case cases[] = {
      {sim::Start::kAtOnce, platform::WAIT_OBJECT_0, 0, true, platform::S_OK},
      {sim::Start::kLate, platform::WAIT_TIMEOUT, 2000, true, platform::S_OK},
      {sim::Start::kNever, platform::WAIT_TIMEOUT, 2000, true, platform::S_OK},
      {sim::Start::kFailedResult, platform::WAIT_OBJECT_0, 0, true, platform::S_OK},
      {sim::Start::kNoEvent, platform::WAIT_FAILED, 0, false, platform::E_FAIL},
  };
  for (const Case& c : cases) {
    sim::Reset();
    sim::InstallRapi();
    sim::SetStart(c.start);
    const Rapi rapi = Rapi::Load();
    platform::RAPIINIT init = {sizeof(platform::RAPIINIT), nullptr, 0};
    EXPECT_EQ(rapi.initEx(&init), c.result);
    EXPECT_EQ(init.heRapiInit != nullptr, c.event);
    EXPECT_EQ(platform::WaitForSingleObject(init.heRapiInit, kStartWaitMs), c.wait);
    EXPECT_EQ(sim::Now(), c.now);
    EXPECT_EQ(sim::RemoteApiStarted(), c.event);
    EXPECT_EQ(sim::StartCount(), 1);
  }
}

TEST_F(SimPlatformTest, LateEventIsSeenByALongerWaitAtTheMomentItComes) {
  sim::InstallRapi();
  sim::SetStart(sim::Start::kLate);
  const Rapi rapi = Rapi::Load();
  platform::RAPIINIT init = {};
  EXPECT_EQ(rapi.Start(init), platform::WAIT_TIMEOUT);
  EXPECT_EQ(platform::WaitForSingleObject(init.heRapiInit, 1000), platform::WAIT_OBJECT_0);
  EXPECT_EQ(sim::Now(), 2500u);
  EXPECT_EQ(platform::WaitForSingleObject(init.heRapiInit, 1000), platform::WAIT_OBJECT_0);
  EXPECT_EQ(sim::Now(), 2500u);
}

TEST_F(SimPlatformTest, StartRecordOfTheWrongSizeIsRefusedUntouched) {
  sim::InstallRapi();
  const Rapi rapi = Rapi::Load();
  platform::RAPIINIT init = {sizeof(platform::RAPIINIT) - 1, nullptr, 7};
  EXPECT_EQ(rapi.initEx(&init), platform::E_INVALIDARG);
  EXPECT_EQ(init.heRapiInit, nullptr);
  EXPECT_EQ(init.hrRapiInit, 7);
  EXPECT_FALSE(sim::RemoteApiStarted());
}

TEST_F(SimPlatformTest, LoadingNeedsTheLibraryAndFindsOnlyEntriesLeft) {
  EXPECT_EQ(platform::LoadLibraryA("rapi.dll"), nullptr);
  sim::InstallRapi();
  sim::RemoveRapiEntry("CeDeleteFile");
  platform::HMODULE module = platform::LoadLibraryA("Rapi.Dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(platform::GetProcAddress(module, "CeDeleteFile"), nullptr);
  EXPECT_NE(platform::GetProcAddress(module, "CeReadFile"), nullptr);
  EXPECT_EQ(platform::GetProcAddress(module, "CeReadFileEx"), nullptr);
  sim::RemoveRapiEntry("");
  EXPECT_NE(platform::GetProcAddress(module, "CeDeleteFile"), nullptr);
  EXPECT_EQ(sim::LoadedLibraryCount(), 1);
  platform::FreeLibrary(module);
  EXPECT_EQ(sim::LoadedLibraryCount(), 0);
  EXPECT_THAT(sim::Violations(), IsEmpty());
}

// ---------------------------------------------------------------------------------------------
// The device

TEST_F(SimConnectedTest, WritesFollowEachOtherAndReadsHonourTheChunkLimit) {
  platform::HANDLE out = rapi_.Create(u"\\Temp\\f.bin");
  ASSERT_NE(out, platform::INVALID_HANDLE_VALUE);
  platform::DWORD written = 0;
  rapi_.writeFile(out, "hello ", 6, &written, nullptr);
  rapi_.writeFile(out, "world", 5, &written, nullptr);
  rapi_.closeHandle(out);
  EXPECT_EQ(sim::ToString(*sim::GetDeviceFile(u"\\Temp\\f.bin")), "hello world");

  sim::SetReadChunkLimit(4);
  platform::HANDLE in = rapi_.Open(u"\\Temp\\f.bin");
  EXPECT_EQ(rapi_.getFileSize(in, nullptr), 11u);
  std::vector<platform::DWORD> counts;
  char buffer[8192];
  platform::DWORD read = 0;
  while (rapi_.readFile(in, buffer, sizeof(buffer), &read, nullptr) && read != 0) {
    counts.push_back(read);
  }
  EXPECT_THAT(counts, ElementsAre(4u, 4u, 3u));
  rapi_.closeHandle(in);

  EXPECT_EQ(rapi_.Open(u"\\temp\\f.bin"), platform::INVALID_HANDLE_VALUE);  // exact paths
  platform::HANDLE emptied = rapi_.Create(u"\\Temp\\f.bin");
  rapi_.closeHandle(emptied);
  EXPECT_THAT(*sim::GetDeviceFile(u"\\Temp\\f.bin"), IsEmpty());
  EXPECT_EQ(sim::OpenDeviceFileCount(), 0);
  EXPECT_THAT(sim::Violations(), IsEmpty());
}

TEST_F(SimConnectedTest, DeleteNeedsAFileThatIsThereAndClosed) {
  sim::SetDeviceFile(kReportFile, sim::ToBytes("r"));
  platform::HANDLE file = rapi_.Open(kReportFile);
  EXPECT_EQ(rapi_.deleteFile(kReportFile), platform::FALSE);
  rapi_.closeHandle(file);
  EXPECT_EQ(rapi_.deleteFile(kReportFile), platform::TRUE);
  EXPECT_EQ(rapi_.deleteFile(kReportFile), platform::FALSE);
  EXPECT_FALSE(sim::GetDeviceFile(kReportFile).has_value());
}

TEST_F(SimConnectedTest, InvokeWritesTheReportOnlyForAValidProbe) {
  const sim::Bytes probe = sim::ProbeImage(300);
  sim::Bytes cut(probe.begin(), probe.end() - 1);
  sim::Bytes extended = probe;
  extended.push_back(0);
  sim::Bytes zeroFilled = probe;
  std::fill(zeroFilled.begin() + 100, zeroFilled.end(), 0);
  struct Case {
    const char* name;
    std::optional<sim::Bytes> device;
    const char16_t* entry;
    bool runs;
  };
  const Case cases[] = {
      {"valid", probe, u"VuroModelInfo", true},
      {"missing", std::nullopt, u"VuroModelInfo", false},
      {"cut", cut, u"VuroModelInfo", false},
      {"extended", extended, u"VuroModelInfo", false},
      {"zero-filled", zeroFilled, u"VuroModelInfo", false},
      {"other entry", probe, u"vuromodelinfo", false},
  };
  sim::SetReport("<Model>X</Model>");
  for (const Case& c : cases) {
    sim::RemoveDeviceFile(kReportFile);
    sim::RemoveDeviceFile(kProbePath);
    if (c.device) sim::SetDeviceFile(kProbePath, *c.device);
    platform::DWORD outSize = 99;
    platform::BYTE* out = nullptr;
    const platform::HRESULT result = rapi_.Invoke(&outSize, &out, c.entry);
    EXPECT_EQ(result >= 0, c.runs) << c.name;
    EXPECT_EQ(sim::GetDeviceFile(kReportFile).has_value(), c.runs) << c.name;
    EXPECT_EQ(out, nullptr) << c.name;
    if (c.runs) {
      EXPECT_EQ(sim::ToString(*sim::GetDeviceFile(kReportFile)), "<Model>X</Model>");
    }
  }
}

TEST_F(SimConnectedTest, DefaultReportNamesTheModelAndSerial) {
  sim::SetDeviceFile(kProbePath, sim::ProbeImage(64));
  EXPECT_EQ(rapi_.Invoke(nullptr, nullptr), platform::S_OK);
  EXPECT_EQ(sim::ToString(*sim::GetDeviceFile(kReportFile)),
            "<Model_Info><Model>VURO-7</Model><Serial_Num>SN0001</Serial_Num>");
}

TEST_F(SimConnectedTest, OutputBlockIsHandedOutAndReleasedWithLocalFree) {
  sim::SetDeviceFile(kProbePath, sim::ProbeImage(64));
  sim::SetInvokeOutputBlock(true);
  platform::DWORD outSize = 0;
  platform::BYTE* out = nullptr;
  ASSERT_EQ(rapi_.Invoke(&outSize, &out), platform::S_OK);
  ASSERT_NE(out, nullptr);
  EXPECT_GT(outSize, 0u);
  EXPECT_EQ(sim::LiveOutputBlockCount(), 1);
  EXPECT_EQ(platform::LocalFree(out), nullptr);
  EXPECT_EQ(sim::LiveOutputBlockCount(), 0);
  EXPECT_THAT(sim::Violations(), IsEmpty());
  platform::LocalFree(out);
  EXPECT_THAT(sim::Violations(), SizeIs(1));
}

TEST_F(SimConnectedTest, ShortWriteStoresHalfAndReportsIt) {
  platform::HANDLE out = rapi_.Create(kProbePath);
  sim::FailNth("CeWriteFile", 1, sim::Fault::kShort);
  platform::DWORD written = 0;
  EXPECT_EQ(rapi_.writeFile(out, "abcde", 5, &written, nullptr), platform::TRUE);
  EXPECT_EQ(written, 2u);
  rapi_.closeHandle(out);
  EXPECT_EQ(sim::ToString(*sim::GetDeviceFile(kProbePath)), "ab");
}

TEST_F(SimConnectedTest, UninitStopsTheRemoteApi) {
  EXPECT_TRUE(sim::RemoteApiStarted());
  EXPECT_EQ(rapi_.uninit(), platform::S_OK);
  EXPECT_FALSE(sim::RemoteApiStarted());
  platform::FreeLibrary(rapi_.module);
  EXPECT_THAT(sim::Violations(), IsEmpty());
}

// ---------------------------------------------------------------------------------------------
// Breaches of the contract

TEST_F(SimPlatformTest, BreachesAreRecordedOneLineEach) {
  struct Case {
    const char* name;
    void (*act)();
  };
  const Case cases[] = {
      {"device call without a confirmed start",
       [] {
         sim::InstallRapi();
         sim::SetStart(sim::Start::kNever);
         Rapi rapi = Rapi::Load();
         platform::RAPIINIT init = {};
         rapi.Start(init);
         EXPECT_EQ(rapi.Open(kProbePath), platform::INVALID_HANDLE_VALUE);
       }},
      {"uninit without a start",
       [] {
         sim::InstallRapi();
         Rapi::Load().uninit();
       }},
      {"uninit after FreeLibrary",
       [] {
         sim::InstallRapi();
         Rapi rapi = Rapi::Load();
         platform::RAPIINIT init = {};
         rapi.Start(init);
         platform::FreeLibrary(rapi.module);
         rapi.uninit();
       }},
      {"entry after FreeLibrary",
       [] {
         sim::InstallRapi();
         Rapi rapi = Rapi::Load();
         platform::RAPIINIT init = {};
         rapi.Start(init);
         platform::FreeLibrary(rapi.module);
         rapi.deleteFile(kReportFile);
       }},
      {"device handle closed twice",
       [] {
         sim::InstallRapi();
         Rapi rapi = Rapi::Load();
         platform::RAPIINIT init = {};
         rapi.Start(init);
         platform::HANDLE file = rapi.Create(kReportFile);
         rapi.closeHandle(file);
         rapi.closeHandle(file);
       }},
      {"failed open closed", [] { platform::CloseHandle(platform::INVALID_HANDLE_VALUE); }},
      {"key closed twice",
       [] {
         sim::CreateKey(kServices);
         platform::HKEY key = nullptr;
         platform::RegOpenKeyExA(platform::HKEY_CURRENT_USER, kServices, 0, platform::KEY_READ,
                                 &key);
         platform::RegCloseKey(key);
         platform::RegCloseKey(key);
       }},
      {"heap block freed twice",
       [] {
         platform::HANDLE heap = platform::GetProcessHeap();
         void* block = platform::HeapAlloc(heap, 0, 8);
         platform::HeapFree(heap, 0, block);
         platform::HeapFree(heap, 0, block);
       }},
      {"heap block never allocated",
       [] {
         int local = 0;
         platform::HeapFree(platform::GetProcessHeap(), 0, &local);
       }},
  };
  for (const Case& c : cases) {
    sim::Reset();
    c.act();
    EXPECT_THAT(sim::Violations(), SizeIs(1)) << c.name;
  }
}

// ---------------------------------------------------------------------------------------------
// Heap

TEST_F(SimPlatformTest, FailedReAllocLeavesTheOldBlockIntact) {
  platform::HANDLE heap = platform::GetProcessHeap();
  char* block = static_cast<char*>(platform::HeapAlloc(heap, 0, 6));
  std::memcpy(block, "VURO7", 6);
  sim::FailAllocation(1);
  EXPECT_EQ(platform::HeapReAlloc(heap, 0, block, 4096), nullptr);
  EXPECT_STREQ(block, "VURO7");
  char* grown = static_cast<char*>(platform::HeapReAlloc(heap, 0, block, 4096));
  ASSERT_NE(grown, nullptr);
  EXPECT_STREQ(grown, "VURO7");
  EXPECT_EQ(sim::AllocationCount(), 2u);
  EXPECT_EQ(sim::LiveBlockCount(), 1u);
  platform::HeapFree(heap, 0, grown);
  EXPECT_EQ(sim::LiveBlockCount(), 0u);
  EXPECT_THAT(sim::Violations(), IsEmpty());
}

TEST_F(SimPlatformTest, BlocksOutliveResetWhichRestartsTheCounters) {
  platform::HANDLE heap = platform::GetProcessHeap();
  void* block = platform::HeapAlloc(heap, 0, 32);
  sim::Reset();
  EXPECT_EQ(sim::LiveBlockCount(), 0u);
  EXPECT_EQ(sim::AllocationCount(), 0u);
  EXPECT_EQ(platform::HeapFree(platform::GetProcessHeap(), 0, block), platform::TRUE);
  EXPECT_THAT(sim::Violations(), IsEmpty());
}

// ---------------------------------------------------------------------------------------------
// Code pages

int MapCase(platform::DWORD flags, const std::string& in, std::string& out) {
  out.assign(in.size(), '\0');
  return platform::LCMapStringA(platform::LOCALE_SYSTEM_DEFAULT, flags, in.data(),
                                static_cast<int>(in.size()), &out[0], static_cast<int>(in.size()));
}

TEST_F(SimPlatformTest, CodePagesReportTheirLeadBytes) {
  struct Case {
    platform::UINT codePage;
    platform::UINT maxCharSize;
    std::vector<platform::BYTE> leadBytes;
  };
  for (const Case& c : {Case{1252, 1, {0, 0}}, Case{932, 2, {0x81, 0x9F, 0xE0, 0xFC, 0, 0}}}) {
    sim::SetCodePage(c.codePage);
    EXPECT_EQ(platform::GetACP(), c.codePage);
    platform::CPINFO info = {};
    ASSERT_EQ(platform::GetCPInfo(c.codePage, &info), platform::TRUE);
    EXPECT_EQ(info.MaxCharSize, c.maxCharSize);
    EXPECT_EQ(std::vector<platform::BYTE>(info.LeadByte, info.LeadByte + c.leadBytes.size()),
              c.leadBytes);
  }
}

TEST_F(SimPlatformTest, CaseMappingFollowsTheCodePage) {
  struct Case {
    platform::UINT codePage;
    std::string lower;
    std::string upper;
    std::string lowerOfUpper;  // differs where no case pair exists
  };
  const Case cases[] = {
      {1252, "az\xE0\xFE\xF7\x9A\x9C\x9E\xFF", "AZ\xC0\xDE\xF7\x8A\x8C\x8E\x9F",
       "az\xE0\xFE\xF7\x9A\x9C\x9E\xFF"},
      {1252, "\xB5\xDF", "M\xDF", "m\xDF"},
      {932, "az\x82\x81\x82\x9A\x83\xBF\x83\xD6", "AZ\x82\x60\x82\x79\x83\x9F\x83\xB6",
       "az\x82\x81\x82\x9A\x83\xBF\x83\xD6"},
      {932, "\x84\x70\x84\x7E\x84\x80\x84\x91", "\x84\x40\x84\x4E\x84\x4F\x84\x60",
       "\x84\x70\x84\x7E\x84\x80\x84\x91"},
      // A trail byte that looks like a letter belongs to its character; 0xE0 is a lead byte.
      {932, "\x83\x61\xE0\x61", "\x83\x61\xE0\x61", "\x83\x61\xE0\x61"},
  };
  for (const Case& c : cases) {
    sim::SetCodePage(c.codePage);
    std::string upper;
    std::string back;
    EXPECT_EQ(MapCase(platform::LCMAP_UPPERCASE, c.lower, upper), static_cast<int>(c.lower.size()));
    EXPECT_EQ(upper, c.upper);
    EXPECT_EQ(MapCase(platform::LCMAP_LOWERCASE, upper, back), static_cast<int>(upper.size()));
    EXPECT_EQ(back, c.lowerOfUpper);
  }
}

TEST_F(SimPlatformTest, CaseMappingFailsForTooSmallBuffersAndOnRequestForDoubleBytes) {
  sim::SetCodePage(932);
  char out[4] = {};
  EXPECT_EQ(platform::LCMapStringA(platform::LOCALE_SYSTEM_DEFAULT, platform::LCMAP_UPPERCASE,
                                   "abc", 3, out, 2),
            0);
  sim::FailDoubleByteMapping(true);
  std::string mapped;
  EXPECT_EQ(MapCase(platform::LCMAP_UPPERCASE, "a\x82\x81", mapped), 0);
  EXPECT_EQ(MapCase(platform::LCMAP_UPPERCASE, "ab", mapped), 2);
  EXPECT_EQ(mapped, "AB");
}

// ---------------------------------------------------------------------------------------------
// Probe image rules

TEST(ProbeImageTest, OnlyTheExactImageIsValid) {
  const std::vector<std::uint8_t> image = probe_image::Make(8193);
  EXPECT_TRUE(probe_image::IsValid(image));
  EXPECT_TRUE(probe_image::IsValid(probe_image::Make(probe_image::kHeaderSize)));
  std::vector<std::uint8_t> swapped = image;  // the same bytes, two chunks in the wrong order
  std::swap_ranges(swapped.begin() + 16, swapped.begin() + 2064, swapped.begin() + 2064);
  std::vector<std::uint8_t> changed = image;
  changed[5000] ^= 1;
  for (const auto& damaged : {std::vector<std::uint8_t>(image.begin(), image.begin() + 8192),
                              swapped, changed, std::vector<std::uint8_t>()}) {
    EXPECT_FALSE(probe_image::IsValid(damaged));
  }
  EXPECT_THROW(probe_image::Make(probe_image::kHeaderSize - 1), std::invalid_argument);
}

}  // namespace
