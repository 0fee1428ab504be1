// The common ground of the tests: a fresh simulated machine, started up as the program starts.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/startup.h"
#include "platform/sim/sim_platform.h"

// A fresh simulated Windows with code page 1252, started up like the program, with an empty log.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { UseCodePage(1252); }

  // Switches the machine to another ANSI code page and adopts it, as a start-up under it would.
  static void UseCodePage(platform::UINT codePage) {
    sim::Reset();
    sim::SetCodePage(codePage);
    StartUp();
    sim::ClearLog();
  }
};
