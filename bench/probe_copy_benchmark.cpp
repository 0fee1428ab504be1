// The probe copy to the simulated handheld: a forced EnsureProbe over a connected device for probe
// files from 8 KiB to 8 MiB. Besides the throughput it counts, for every copy, the CeWriteFile
// calls (one per 8192-byte chunk, the size divided by 8192 rounded up) and the allocations after
// the local path was built (none); a wrong count ends the benchmark with an error.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "bench_machine.h"
#include "device/device_connection.h"
#include "platform/sim/sim_platform.h"

namespace {

constexpr std::size_t kChunk = 8192;
// Beside the program the simulated machine runs by default.
const char kLocalProbe[] = "C:\\Program Files\\Vuro\\KOLTInfo.dll";
const std::u16string kDeviceProbe = u"\\Windows\\KOLTInfo.dll";
// The local path is the copy's one allocation.
constexpr std::size_t kPathAllocations = 1;

std::size_t CallCount(const std::string& name) {
  std::size_t count = 0;
  for (const sim::Call& call : sim::Log()) count += call.name == name ? 1 : 0;
  return count;
}

// The simulation numbers every handle it hands out from a limited range, so a long run starts a
// fresh machine now and then, outside the timing.
constexpr std::int64_t kCopiesPerMachine = 1000;

// A fresh machine with rapi.dll, the local probe file and the device connected.
bool PrepareCopy(DeviceConnection& device, const sim::Bytes& image) {
  device.Close();
  bench::PrepareMachine(1252);
  sim::InstallRapi();
  sim::SetLocalFile(kLocalProbe, image);
  return device.EnsureConnected() == 1;
}

void BM_ProbeCopy(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::size_t expectedWrites = (size + kChunk - 1) / kChunk;
  const sim::Bytes image = sim::ProbeImage(size);
  DeviceConnection device;
  if (!PrepareCopy(device, image)) {
    state.SkipWithError("the simulated device did not connect");
    return;
  }

  std::size_t writes = 0;
  std::size_t allocations = 0;
  std::int64_t copies = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (++copies % kCopiesPerMachine == 0 && !PrepareCopy(device, image)) {
      state.SkipWithError("the simulated device did not connect again");
      break;
    }
    sim::ClearLog();
    const std::size_t allocatedBefore = sim::AllocationCount();
    state.ResumeTiming();

    const int copied = device.EnsureProbe(1);

    state.PauseTiming();
    writes = CallCount("CeWriteFile");
    allocations = sim::AllocationCount() - allocatedBefore - kPathAllocations;
    state.ResumeTiming();
    if (copied != 1) {
      state.SkipWithError("EnsureProbe(1) did not report the copy");
      break;
    }
    if (writes != expectedWrites) {
      state.SkipWithError(("CeWriteFile called " + std::to_string(writes) + " times, not " +
                           std::to_string(expectedWrites))
                              .c_str());
      break;
    }
    if (allocations != 0) {
      state.SkipWithError((std::to_string(allocations) + " allocations during the copy").c_str());
      break;
    }
  }
  device.Close();
  if (!state.error_occurred()) {
    const auto onDevice = sim::GetDeviceFile(kDeviceProbe);
    if (!onDevice || !sim::IsValidProbe(*onDevice) || onDevice->size() != size) {
      state.SkipWithError("the device's copy differs from the local file");
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["CeWriteFile"] = static_cast<double>(writes);
  state.counters["allocs"] = static_cast<double>(allocations);
}
// 8 KiB to 8 MiB by fours, and two sizes that end in a partial chunk.
BENCHMARK(BM_ProbeCopy)
    ->RangeMultiplier(4)
    ->Range(8 << 10, 8 << 20)
    ->Arg(8193)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
