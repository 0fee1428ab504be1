// The simulated machine as a whole: its state, the call log, fault injection and the breaches
// of the API contract.
#include "platform/sim/sim_platform.h"

#include <cstdint>
#include <stdexcept>
#include <utility>

#include "platform/sim/sim_state.h"

namespace sim {
namespace detail {

namespace {

// Handles are spaced like real kernel handles (multiples of 4) above the lowest 64 KiB, which
// Windows never maps, so that they can never be mistaken for a pointer into the heap.
constexpr std::uintptr_t kHandleBase = 0x4000;
constexpr std::uintptr_t kHandleStep = 4;
constexpr std::uintptr_t kHandleLimit = 0x10000;

}  // namespace

State& Machine() {
  static State state;
  return state;
}

void* HandleOf(Number number) {
  return reinterpret_cast<void*>(kHandleBase + kHandleStep * number);
}

std::optional<Number> NumberOf(const void* handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value < kHandleBase || value >= kHandleLimit || (value - kHandleBase) % kHandleStep != 0) {
    return std::nullopt;
  }
  return static_cast<Number>((value - kHandleBase) / kHandleStep);
}

Number NewNumber() {
  return Machine().nextNumber++;
}

std::optional<Fault> TakeFault(const std::string& name) {
  State& machine = Machine();
  const std::size_t index = machine.log.size();
  std::optional<Fault> fired;
  for (auto it = machine.faults.begin(); it != machine.faults.end();) {
    bool fires = false;
    if (it->byIndex) {
      fires = it->index == index;
    } else if (it->name == name) {
      fires = --it->remaining == 0;
    }
    if (fires) {
      if (!fired) fired = it->fault;
      it = machine.faults.erase(it);
    } else {
      ++it;
    }
  }
  return fired;
}

void Record(std::string name, std::vector<std::string> args, std::string result, bool heap) {
  Machine().log.push_back(Call{std::move(name), std::move(args), std::move(result), heap});
}

void Violation(const std::string& line) {
  Machine().violations.push_back(line);
}

std::string Dec(std::uint64_t value) {
  return std::to_string(value);
}
std::string DecSigned(std::int64_t value) {
  return std::to_string(value);
}
std::string Ptr(const void* pointer) {
  return pointer == nullptr ? "null" : "ptr";
}
std::string Str(const char* text) {
  return text == nullptr ? "null" : std::string(text);
}
std::string Bytes8(const char* bytes, std::size_t length) {
  return bytes == nullptr ? "null" : std::string(bytes, length);
}

std::string Utf8(const std::u16string& text) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Wide(const char16_t* text) {
  return text == nullptr ? "null" : Utf8(std::u16string(text));
}

std::string HandleText(const void* handle) {
  if (handle == nullptr) return "null";
  if (handle == platform::INVALID_HANDLE_VALUE) return "invalid";
  const std::optional<Number> number = NumberOf(handle);
  return number ? "h" + Dec(*number) : "h?";
}

std::string KeyText(platform::HKEY key) {
  if (key == nullptr) return "null";
  if (key == platform::HKEY_CURRENT_USER) return "HKCU";
  const std::optional<Number> number = NumberOf(key);
  return number ? "k" + Dec(*number) : "k?";
}

void CloseViolation(const std::string& call, const void* handle, const char* kind) {
  const std::optional<Number> number = NumberOf(handle);
  const std::string text = call == "RegCloseKey"
                               ? KeyText(static_cast<platform::HKEY>(const_cast<void*>(handle)))
                               : HandleText(handle);
  if (number && Machine().closed.count(*number) != 0) {
    Violation(call + ": " + text + " closed twice");
  } else {
    Violation(call + ": " + text + " is not an open " + kind);
  }
}

}  // namespace detail

using detail::Machine;

Bytes ToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}
std::string ToString(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

void Reset() {
  Machine() = detail::State{};
  detail::ResetHeapCounters();
  detail::ResetOutputBlockCounters();
}

const std::vector<Call>& Log() {
  return Machine().log;
}

std::vector<std::string> CallNames(bool withHeap) {
  std::vector<std::string> names;
  for (const Call& call : Machine().log) {
    if (withHeap || !call.heap) names.push_back(call.name);
  }
  return names;
}

std::vector<Call> CallsTo(const std::string& name) {
  std::vector<Call> calls;
  for (const Call& call : Machine().log) {
    if (call.name == name) calls.push_back(call);
  }
  return calls;
}

void ClearLog() {
  Machine().log.clear();
}

const std::vector<std::string>& Violations() {
  return Machine().violations;
}

void FailCall(std::size_t index, Fault fault) {
  detail::ArmedFault armed;
  armed.byIndex = true;
  armed.index = index;
  armed.fault = fault;
  Machine().faults.push_back(armed);
}

void FailNth(const std::string& name, int occurrence, Fault fault) {
  if (occurrence < 1) throw std::invalid_argument("FailNth counts occurrences from 1");
  detail::ArmedFault armed;
  armed.name = name;
  armed.remaining = occurrence;
  armed.fault = fault;
  Machine().faults.push_back(armed);
}

std::size_t NextCallIndex() {
  return Machine().log.size();
}

platform::DWORD Now() {
  return static_cast<platform::DWORD>(Machine().now);
}

}  // namespace sim
