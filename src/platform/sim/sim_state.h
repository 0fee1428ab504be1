// The simulated machine's state and the helpers every area of the simulation shares: handle
// numbering, the call log with its notation, armed faults and contract breaches. Private to the
// files of src/platform/sim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_platform.h"

namespace sim::detail {

// Win32 results the seam does not declare because the logic never looks at them.
constexpr platform::LONG ERROR_INVALID_HANDLE = 6;
constexpr platform::LONG ERROR_KEY_DELETED = 1018;

// Every object of the simulation gets a number; its handle is a fixed function of the number
// that no real pointer, null or INVALID_HANDLE_VALUE can equal. The process heap and the rapi.dll
// module keep their numbers for the life of the process.
using Number = unsigned;
constexpr Number kProcessHeapNumber = 1;
constexpr Number kRapiModuleNumber = 2;
constexpr Number kFirstObjectNumber = 3;

void* HandleOf(Number number);
// The number of a simulation handle, or nullopt for any other value.
std::optional<Number> NumberOf(const void* handle);

struct OpenKey {
  std::string path;
  platform::DWORD access = 0;
};

struct LocalFile {
  std::string path;  // resolved against the current folder when it was set
  Bytes content;
};

struct LocalHandle {
  Bytes content;  // the file as it was when opened
  std::size_t position = 0;
};

struct DeviceHandle {
  std::u16string path;
  platform::DWORD access = 0;
  std::size_t position = 0;
};

struct Event {
  std::optional<std::uint64_t> signalledAt;  // nullopt: never signalled
};

struct RegistryKey {
  std::string path;                          // as created
  std::map<std::string, std::string> names;  // folded name -> name as set
  std::map<std::string, Value> values;       // folded name -> value
};

struct ArmedFault {
  bool byIndex = false;
  std::size_t index = 0;  // byIndex
  std::string name;       // otherwise: the call name and the matching calls still to let pass
  int remaining = 0;
  Fault fault = Fault::kFail;
};

// Everything Reset returns to a fresh machine. The heap and the output blocks live apart, since
// their blocks outlive a Reset.
struct State {
  std::vector<Call> log;
  std::vector<std::string> violations;
  std::vector<ArmedFault> faults;

  Number nextNumber = kFirstObjectNumber;
  std::set<Number> closed;  // numbers of objects closed, to tell "twice" from "never opened"

  // Registry, by folded path.
  std::map<std::string, RegistryKey> keys;
  std::map<Number, OpenKey> openKeys;

  // The program and local files.
  std::optional<std::string> modulePath = std::string("C:\\Program Files\\Vuro\\vurodetect.exe");
  std::string currentFolder = "C:\\Users\\user\\";
  std::vector<LocalFile> localFiles;
  std::map<Number, LocalHandle> localHandles;

  // Code page.
  platform::UINT codePage = 1252;
  bool failDoubleByteMapping = false;

  // rapi.dll and the handheld.
  bool rapiInstalled = false;
  std::set<std::string> removedEntries;
  int loads = 0;
  Start start = Start::kAtOnce;
  platform::DWORD readChunkLimit = 0;
  bool handOutOutputBlock = false;
  Bytes report = ToBytes("<Model_Info><Model>VURO-7</Model><Serial_Num>SN0001</Serial_Num>");
  std::map<std::u16string, Bytes> deviceFiles;
  std::map<Number, DeviceHandle> deviceHandles;
  int startCount = 0;
  bool started = false;
  std::optional<Number> startEvent;  // the event of the latest start
  bool startConfirmed = false;       // a wait on startEvent succeeded
  platform::HRESULT startResult = platform::S_OK;
  std::map<Number, Event> events;
  std::uint64_t now = 0;
};

State& Machine();

// Whether `byte` begins a double-byte character in the code page now set.
bool IsActiveLeadByte(unsigned char byte);

// An output block for CeRapiInvoke holding `content`, released by LocalFree; null when no memory.
void* NewOutputBlock(const Bytes& content);

// Called by Reset for the areas whose state lives outside State.
void ResetHeapCounters();
void ResetOutputBlockCounters();

// Checks the armed faults against the call about to run; the fault that fires, if any. Call once
// at the start of every logged call, before Record.
std::optional<Fault> TakeFault(const std::string& name);
void Record(std::string name, std::vector<std::string> args, std::string result, bool heap = false);
void Violation(const std::string& line);
Number NewNumber();

// Notation of the call log.
std::string Dec(std::uint64_t value);
std::string DecSigned(std::int64_t value);
std::string Ptr(const void* pointer);
std::string Str(const char* text);
std::string Bytes8(const char* bytes, std::size_t length);
std::string Wide(const char16_t* text);
std::string Utf8(const std::u16string& text);
std::string HandleText(const void* handle);
std::string KeyText(platform::HKEY key);

// Closing: a line in Violations for a handle that is not open under this kind.
void CloseViolation(const std::string& call, const void* handle, const char* kind);

}  // namespace sim::detail
