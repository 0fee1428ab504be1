// A simulated desktop with rapi.dll installed and a handheld that answers at once.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "sim_test_support.h"

inline const std::u16string kDeviceProbe = u"\\Windows\\KOLTInfo.dll";
inline const std::u16string kReportFile = u"koltout.txt";
// Beside the program that the simulated machine runs by default.
inline const std::string kLocalProbe = "C:\\Program Files\\Vuro\\KOLTInfo.dll";

class DeviceTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::InstallRapi();
  }

  static sim::Bytes PutLocalProbe(std::size_t size) {
    sim::Bytes image = size == 0 ? sim::Bytes() : sim::ProbeImage(size);
    sim::SetLocalFile(kLocalProbe, image);
    return image;
  }
  static void PutDeviceProbe() { sim::SetDeviceFile(kDeviceProbe, sim::ProbeImage(4096)); }

  // The names of the logged calls that begin with `prefix`, in order.
  static std::vector<std::string> CallsStartingWith(const std::string& prefix) {
    std::vector<std::string> names = sim::CallNames();
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const std::string& name) { return name.rfind(prefix, 0) != 0; }),
                names.end());
    return names;
  }
  static std::vector<std::string> DeviceCalls() { return CallsStartingWith("Ce"); }

  // Nothing left open anywhere, and no breach of the API contract.
  static void ExpectAllClosed() {
    EXPECT_EQ(sim::OpenKeyCount(), 0);
    EXPECT_EQ(sim::OpenLocalFileCount(), 0);
    EXPECT_EQ(sim::OpenDeviceFileCount(), 0);
    EXPECT_EQ(sim::LiveOutputBlockCount(), 0);
    EXPECT_EQ(sim::Violations(), std::vector<std::string>());
  }
};
