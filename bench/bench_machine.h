// The simulated machine the benchmarks run on.
#pragma once

#include <cstddef>

#include "app/startup.h"
#include "platform/platform.h"
#include "platform/sim/sim_platform.h"

namespace bench {

// A fresh simulated machine under `codePage`, started up like the program: text storage comes
// from the simulated process heap, as in the tests.
inline void PrepareMachine(platform::UINT codePage) {
  sim::Reset();
  sim::SetCodePage(codePage);
  StartUp();
  sim::ClearLog();
}

// The simulation logs every heap call; clearing the log now and then keeps a long run's memory
// flat. Its cost is part of what is measured, spread over the calls it drops.
inline void KeepLogShort() {
  constexpr std::size_t kLongLog = 1 << 14;
  if (sim::Log().size() > kLongLog) sim::ClearLog();
}

}  // namespace bench
