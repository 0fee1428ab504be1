// The simulated platform: an in-memory Windows that the tests link against in place of the win32
// backend. It behaves like the real API where the logic relies on it, records every platform call
// with its arguments, and lets a test arrange the registry, local files, the process heap, the
// code page, rapi.dll and a simulated handheld, and make any single call fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& text);
std::string ToString(const Bytes& bytes);

// ---------------------------------------------------------------------------------------------
// State as a whole

// Back to a fresh machine: code page 1252, an empty registry, no local files, program path
// "C:\Program Files\Vuro\vurodetect.exe", current folder "C:\Users\user\", no rapi.dll, an empty
// device, simulated time 0, an empty call log, no faults armed. Live heap blocks stay valid.
void Reset();

// ---------------------------------------------------------------------------------------------
// Call log

struct Call {
  std::string name;               // the Windows name: "RegOpenKeyExA", "CeCreateFile", "HeapAlloc"
  std::vector<std::string> args;  // each argument, see below
  std::string result;             // the value returned, in the same notation
  bool heap = false;              // HeapAlloc, HeapReAlloc, HeapFree, GetProcessHeap
};
// Notation: integers in decimal ("2147483648"), narrow and wide strings as their bytes (wide
// strings as UTF-8), pointers "null" or "ptr", handles "h<N>" with the simulation's number for
// the object, "invalid" for INVALID_HANDLE_VALUE, registry keys "HKCU" or "k<N>".

const std::vector<Call>& Log();
// The names of the logged calls in order; heap calls only when asked for.
std::vector<std::string> CallNames(bool withHeap = false);
// The logged calls of one name, in order.
std::vector<Call> CallsTo(const std::string& name);
void ClearLog();

// Breaches of the API contract seen so far, each described in one line: a handle closed twice or
// never opened, a Remote API call without a confirmed start, CeRapiUninit without a start or after
// FreeLibrary, an entry point called after its library was released, a heap block freed twice.
// Also: a heap or output block released that was never handed out, FreeLibrary of a module not
// loaded, a file handle used that is not open, and a wait that would never end.
const std::vector<std::string>& Violations();

// ---------------------------------------------------------------------------------------------
// Fault injection

enum class Fault {
  kFail,   // the call's failure result (see FailCall)
  kShort,  // ReadFile, CeReadFile, CeWriteFile: success, but half the bytes (rounded down);
           // a read of a single remaining byte still delivers it
};

// Makes the call with this index fail, counting every logged call from 0 since the last Reset or
// ClearLog, heap calls included. Failure results: HeapAlloc/HeapReAlloc null; registry calls
// ERROR_ACCESS_DENIED; LoadLibraryA/GetProcAddress null; WaitForSingleObject WAIT_TIMEOUT;
// CreateFileA/CeCreateFile INVALID_HANDLE_VALUE; ReadFile/CeReadFile/CeWriteFile/CeDeleteFile
// FALSE; GetFileSize/CeGetFileSize INVALID_FILE_SIZE; CeRapiInitEx/CeRapiInvoke E_FAIL (for
// CeRapiInitEx: no event handed out); GetModuleFileNameA 0 with nothing written; LCMapStringA 0;
// GetCPInfo FALSE; GetProcessHeap null; RestrictDllSearchPath FALSE. Calls whose result the logic
// ignores (closes, FreeLibrary, LocalFree, HeapFree, CeRapiUninit) and GetACP are logged and
// counted but behave normally. Fault::kShort on a call that has no short form acts as kFail.
// Several faults may be armed at once; each fires once.
void FailCall(std::size_t index, Fault fault = Fault::kFail);
// Makes the `occurrence`-th call (from 1) to `name` from now on fail; an occurrence below 1
// throws std::invalid_argument.
void FailNth(const std::string& name, int occurrence = 1, Fault fault = Fault::kFail);
// The index the next logged call will get.
std::size_t NextCallIndex();

// ---------------------------------------------------------------------------------------------
// Registry: HKEY_CURRENT_USER only. Key paths and value names compare without regard to ASCII
// letter case, as on Windows. Values hold bytes as delivered through the ANSI interface.

struct Value {
  platform::DWORD type = platform::REG_NONE;
  Bytes data;
  friend bool operator==(const Value& a, const Value& b) {
    return a.type == b.type && a.data == b.data;
  }
};

void CreateKey(const std::string& path);
void RemoveKey(const std::string& path);
bool KeyExists(const std::string& path);
// Creates the key when needed.
void SetValue(const std::string& path, const std::string& name, platform::DWORD type, Bytes data);
std::optional<Value> GetValue(const std::string& path, const std::string& name);
std::vector<std::string> ValueNames(const std::string& path);
// Keys opened and not yet closed.
int OpenKeyCount();

// ---------------------------------------------------------------------------------------------
// The running program and local files. Paths compare without regard to ASCII letter case; a path
// without a drive letter or a leading separator is taken relative to the current folder.

// The path GetModuleFileNameA reports for the program; nullopt: it reports none (returns 0).
// A path of 260 bytes or more behaves as on Windows: the buffer gets the first size-1 bytes and a
// zero byte, and the size is returned.
void SetModulePath(std::optional<std::string> path);
void SetCurrentFolder(const std::string& folder);
void SetLocalFile(const std::string& path, Bytes content);
void RemoveLocalFile(const std::string& path);
// Local file handles opened and not yet closed.
int OpenLocalFileCount();

// ---------------------------------------------------------------------------------------------
// Process heap (HeapAlloc, HeapReAlloc, HeapFree on GetProcessHeap()).

// The `n`-th allocation (HeapAlloc or HeapReAlloc, from 1) from now on returns null; n of 0
// throws std::invalid_argument. HeapReAlloc always moves the block; fresh bytes are 0xCD unless
// HEAP_ZERO_MEMORY is asked for, released ones 0xDD.
void FailAllocation(std::size_t n);
// Successful HeapAlloc and HeapReAlloc calls since the last Reset.
std::size_t AllocationCount();
// Blocks allocated and not yet freed.
std::size_t LiveBlockCount();

// ---------------------------------------------------------------------------------------------
// Code pages: 1252 (single-byte; accented letters have case pairs) and 932 (lead bytes 0x81-0x9F
// and 0xE0-0xFC; ASCII letters and the double-byte full-width Latin, Greek and Cyrillic letters
// have case pairs). GetACP, GetCPInfo and LCMapStringA follow the chosen one.

// Any other number throws std::invalid_argument. LCMapStringA with a destination length of 0
// returns the length the mapping needs, as on Windows.
void SetCodePage(platform::UINT codePage);
// While set, LCMapStringA fails (returns 0) for any text that holds a double-byte character.
void FailDoubleByteMapping(bool fail);

// ---------------------------------------------------------------------------------------------
// rapi.dll and the simulated handheld

enum class Start {
  kAtOnce,        // the event is signalled at once; result code S_OK
  kLate,          // the event is signalled 2500 ms after the start: a 2000 ms wait times out
  kNever,         // the event is never signalled
  kFailedResult,  // the event is signalled at once, but the result code is E_FAIL: device
                  // calls then fail (no breach is recorded, the start was confirmed)
  kNoEvent,       // no event handle is handed out (left null); returns E_FAIL
};

// Makes "rapi.dll" loadable (any letter case), with all nine entry points.
void InstallRapi();
void UninstallRapi();
// GetProcAddress finds no entry point of this name; "" restores all nine.
void RemoveRapiEntry(const std::string& name);
void SetStart(Start start);
// CeReadFile hands out at most this many bytes per call; 0: as many as asked for.
void SetReadChunkLimit(platform::DWORD bytes);
// While set, a successful CeRapiInvoke hands out an output block that the caller must release
// with LocalFree. The block holds a copy of the report, and the output size its length.
void SetInvokeOutputBlock(bool handOut);

// The bytes a valid probe writes as "koltout.txt".
void SetReport(const std::string& report);
// A valid probe image of `size` bytes (at least 12): a header the simulation recognises,
// followed by filler. Any other content, a cut or an extended copy included, is a damaged probe.
Bytes ProbeImage(std::size_t size);
bool IsValidProbe(const Bytes& content);

// Device files, by their wide path exactly as the Remote API is handed it. A file held open
// cannot be deleted with CeDeleteFile, as on Windows CE.
void SetDeviceFile(const std::u16string& path, Bytes content);
void RemoveDeviceFile(const std::u16string& path);
std::optional<Bytes> GetDeviceFile(const std::u16string& path);
// Device file handles opened and not yet closed.
int OpenDeviceFileCount();

// rapi.dll loads not yet released by FreeLibrary.
int LoadedLibraryCount();
// CeRapiInitEx calls so far, and whether the Remote API is started (a call that handed out an
// event and no CeRapiUninit after it).
int StartCount();
bool RemoteApiStarted();
// Output blocks handed out by CeRapiInvoke and not yet released with LocalFree.
int LiveOutputBlockCount();

// Simulated time in milliseconds; only WaitForSingleObject advances it, by the time it waited.
platform::DWORD Now();

}  // namespace sim
