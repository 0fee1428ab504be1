// The simulated process heap and the local heap of the Remote API's output blocks: real memory
// with a registry of live blocks, so that leaks, double frees and stale pointers show.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_state.h"

namespace sim {
namespace detail {
namespace {

using platform::DWORD;
using platform::SIZE_T;

constexpr DWORD HEAP_ZERO_MEMORY = 0x8;
// Fresh memory and released memory are filled with these, as a debugging heap does, so that code
// relying on zeroed or on released memory reads visibly wrong bytes.
constexpr unsigned char kFreshFill = 0xCD;
constexpr unsigned char kReleasedFill = 0xDD;

// A registry of live blocks that survives Reset: a test may hold a block across it. Each Reset
// starts a new generation, and the counters look at the current generation only.
struct BlockRegistry {
  struct Block {
    std::size_t size = 0;
    unsigned generation = 0;
  };
  std::map<void*, Block> live;
  std::set<void*> released;  // addresses freed and not handed out again
  unsigned generation = 0;

  void* Allocate(std::size_t size, unsigned blockGeneration) {
    void* memory = std::malloc(std::max<std::size_t>(size, 1));
    if (memory == nullptr) return nullptr;
    live[memory] = Block{size, blockGeneration};
    released.erase(memory);
    return memory;
  }

  void Release(void* memory) {
    const auto it = live.find(memory);
    std::memset(memory, kReleasedFill, it->second.size);
    live.erase(it);
    // Recorded before the block goes, so that the address is never used after it is freed.
    released.insert(memory);
    std::free(memory);
  }

  std::size_t LiveCount() const {
    return static_cast<std::size_t>(std::count_if(live.begin(), live.end(), [this](const auto& b) {
      return b.second.generation == generation;
    }));
  }
};

BlockRegistry& Heap() {
  static BlockRegistry heap;
  return heap;
}

BlockRegistry& OutputBlocks() {
  static BlockRegistry blocks;
  return blocks;
}

struct AllocationCounters {
  std::size_t successes = 0;
  std::vector<std::size_t> failuresDue;  // attempts still to go before each armed failure
};

AllocationCounters& Counters() {
  static AllocationCounters counters;
  return counters;
}

// Counts one allocation attempt against the armed failures; true when this one must fail.
bool AllocationFails() {
  bool fails = false;
  auto& due = Counters().failuresDue;
  for (auto it = due.begin(); it != due.end();) {
    if (--*it == 0) {
      fails = true;
      it = due.erase(it);
    } else {
      ++it;
    }
  }
  return fails;
}

bool IsProcessHeap(platform::HANDLE heap) {
  return heap == HandleOf(kProcessHeapNumber);
}

void* AllocateNow(platform::HANDLE heap, DWORD flags, SIZE_T bytes, bool faulted) {
  if (!IsProcessHeap(heap)) {
    Violation("HeapAlloc: " + HandleText(heap) + " is not the process heap");
    return nullptr;
  }
  if (AllocationFails() || faulted) return nullptr;
  void* memory = Heap().Allocate(bytes, Heap().generation);
  if (memory == nullptr) return nullptr;
  std::memset(memory, (flags & HEAP_ZERO_MEMORY) != 0 ? 0 : kFreshFill, bytes);
  ++Counters().successes;
  return memory;
}

// Always moves the block, so that a pointer kept to the old one reads released memory.
void* ReallocateNow(platform::HANDLE heap, DWORD flags, void* memory, SIZE_T bytes, bool faulted) {
  if (!IsProcessHeap(heap)) {
    Violation("HeapReAlloc: " + HandleText(heap) + " is not the process heap");
    return nullptr;
  }
  const auto old = Heap().live.find(memory);
  if (old == Heap().live.end()) {
    Violation("HeapReAlloc: " + Ptr(memory) + " is not a live heap block");
    return nullptr;
  }
  if (AllocationFails() || faulted) return nullptr;
  const BlockRegistry::Block block = old->second;
  void* moved = Heap().Allocate(bytes, block.generation);
  if (moved == nullptr) return nullptr;
  const std::size_t kept = std::min(block.size, bytes);
  std::memcpy(moved, memory, kept);
  std::memset(static_cast<unsigned char*>(moved) + kept,
              (flags & HEAP_ZERO_MEMORY) != 0 ? 0 : kFreshFill, bytes - kept);
  Heap().Release(memory);
  ++Counters().successes;
  return moved;
}

platform::BOOL FreeNow(platform::HANDLE heap, void* memory) {
  if (!IsProcessHeap(heap)) {
    Violation("HeapFree: " + HandleText(heap) + " is not the process heap");
    return platform::FALSE;
  }
  if (memory == nullptr) return platform::TRUE;
  if (Heap().live.count(memory) == 0) {
    Violation(Heap().released.count(memory) != 0 ? "HeapFree: a block freed twice"
                                                 : "HeapFree: a block never allocated");
    return platform::FALSE;
  }
  Heap().Release(memory);
  return platform::TRUE;
}

platform::HLOCAL LocalFreeNow(platform::HLOCAL memory) {
  if (memory == nullptr) return nullptr;
  if (OutputBlocks().live.count(memory) == 0) {
    Violation(OutputBlocks().released.count(memory) != 0
                  ? "LocalFree: an output block released twice"
                  : "LocalFree: a block the Remote API never handed out");
    return memory;
  }
  OutputBlocks().Release(memory);
  return nullptr;
}

}  // namespace

void* NewOutputBlock(const Bytes& content) {
  void* block = OutputBlocks().Allocate(content.size(), OutputBlocks().generation);
  if (block != nullptr && !content.empty()) std::memcpy(block, content.data(), content.size());
  return block;
}

void ResetHeapCounters() {
  ++Heap().generation;
  Counters() = AllocationCounters{};
}

void ResetOutputBlockCounters() {
  ++OutputBlocks().generation;
}

}  // namespace detail

void FailAllocation(std::size_t n) {
  if (n < 1) throw std::invalid_argument("FailAllocation counts allocations from 1");
  detail::Counters().failuresDue.push_back(n);
}

std::size_t AllocationCount() {
  return detail::Counters().successes;
}
std::size_t LiveBlockCount() {
  return detail::Heap().LiveCount();
}
int LiveOutputBlockCount() {
  return static_cast<int>(detail::OutputBlocks().LiveCount());
}

}  // namespace sim

namespace platform {

using namespace sim::detail;

HANDLE GetProcessHeap() {
  const std::optional<sim::Fault> fault = TakeFault("GetProcessHeap");
  HANDLE heap = fault ? nullptr : HandleOf(kProcessHeapNumber);
  Record("GetProcessHeap", {}, HandleText(heap), true);
  return heap;
}

void* HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  const std::optional<sim::Fault> fault = TakeFault("HeapAlloc");
  std::vector<std::string> args = {HandleText(heap), Dec(flags), Dec(bytes)};
  void* memory = AllocateNow(heap, flags, bytes, fault.has_value());
  Record("HeapAlloc", std::move(args), Ptr(memory), true);
  return memory;
}

void* HeapReAlloc(HANDLE heap, DWORD flags, void* memory, SIZE_T bytes) {
  const std::optional<sim::Fault> fault = TakeFault("HeapReAlloc");
  std::vector<std::string> args = {HandleText(heap), Dec(flags), Ptr(memory), Dec(bytes)};
  void* moved = ReallocateNow(heap, flags, memory, bytes, fault.has_value());
  Record("HeapReAlloc", std::move(args), Ptr(moved), true);
  return moved;
}

BOOL HeapFree(HANDLE heap, DWORD flags, void* memory) {
  TakeFault("HeapFree");  // counted, but a release always does its work
  std::vector<std::string> args = {HandleText(heap), Dec(flags), Ptr(memory)};
  const BOOL freed = FreeNow(heap, memory);
  Record("HeapFree", std::move(args), Dec(static_cast<unsigned>(freed)), true);
  return freed;
}

HLOCAL LocalFree(HLOCAL memory) {
  TakeFault("LocalFree");  // counted, but a release always does its work
  std::vector<std::string> args = {Ptr(memory)};
  const HLOCAL left = LocalFreeNow(memory);
  Record("LocalFree", std::move(args), Ptr(left));
  return left;
}

}  // namespace platform
