// What the emulated handheld needs besides its entry points: its settings from the environment,
// the call log, the mapping of device paths onto the host folder and small text helpers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rapi_emulator {

enum class StartMode { kNow, kLate, kNever };

// Reads an environment variable as UTF-16; empty when it is not set.
std::wstring WideEnv(const wchar_t* name);
// Reads an environment variable as bytes of the ANSI code page; nullopt when it is not set.
std::optional<std::string> AnsiEnv(const char* name);

// VURO_EMU_START; nullopt for an unknown value.
std::optional<StartMode> StartModeFromEnv();
// VURO_EMU_READ_CHUNK: the most bytes one CeReadFile hands out; 0 means no limit.
std::uint32_t ReadChunkLimit();
// VURO_EMU_OUTPUT_BLOCK=1: the probe hands out an output block.
bool HandsOutOutputBlock();
// The report the probe writes: VURO_EMU_REPORT_HEX, VURO_EMU_REPORT, or one built from
// VURO_EMU_MODEL and VURO_EMU_SERIAL.
std::vector<std::uint8_t> ReportBytes();

// The device folder (VURO_EMU_DEVICE), without a trailing separator; empty when not set.
std::wstring DeviceFolder();
// The host path standing for a device path: "\Windows\X" and "X" both lie below the device
// folder. Empty when there is no device folder or the path would leave it.
std::wstring HostPath(const char16_t* devicePath);

// Appends one line to the file named by VURO_EMU_LOG; does nothing when it is not set.
void Log(const std::string& line);

// Text for the log.
std::string Quoted(const char16_t* text);
std::string Hex32(std::uint32_t value);
std::string Pointer(const void* pointer);
std::string Utf8(const std::wstring& text);

bool EqualsIgnoringAsciiCase(const char16_t* a, const char16_t* b);

}  // namespace rapi_emulator
