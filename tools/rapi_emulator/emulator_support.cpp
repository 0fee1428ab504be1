#include "emulator_support.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace rapi_emulator {
namespace {

constexpr char kDefaultModel[] = "VH7-A100";
constexpr char kDefaultSerial[] = "A100-0001";
constexpr char kModelOpen[] = "<Model_Info><Model>";
constexpr char kSeparator[] = "</Model><Serial_Num>";
constexpr char kSerialClose[] = "</Serial_Num>";

// Serialises log lines from the caller's thread and the late-start thread.
SRWLOCK logLock = SRWLOCK_INIT;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex digit pairs, white space between them allowed; nullopt on anything else.
std::optional<std::vector<std::uint8_t>> DecodeHex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return bytes;
}

bool HasDotDotPart(const std::wstring& path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    if (path.compare(start, end - start, L"..") == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::wstring WideEnv(const wchar_t* name) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return std::wstring();
  std::wstring value(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
  value.resize(length < needed ? length : 0);
  return value;
}

std::optional<std::string> AnsiEnv(const char* name) {
  SetLastError(ERROR_SUCCESS);
  const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::string value(needed, '\0');
  const DWORD length = GetEnvironmentVariableA(name, value.data(), needed);
  value.resize(length < needed ? length : 0);
  return value;
}

std::optional<StartMode> StartModeFromEnv() {
  const std::optional<std::string> mode = AnsiEnv("VURO_EMU_START");
  if (!mode || mode->empty() || *mode == "now") return StartMode::kNow;
  if (*mode == "late") return StartMode::kLate;
  if (*mode == "never") return StartMode::kNever;
  return std::nullopt;
}

std::uint32_t ReadChunkLimit() {
  const std::optional<std::string> limit = AnsiEnv("VURO_EMU_READ_CHUNK");
  if (!limit || limit->empty()) return 0;
  return static_cast<std::uint32_t>(std::strtoul(limit->c_str(), nullptr, 10));
}

bool HandsOutOutputBlock() {
  return AnsiEnv("VURO_EMU_OUTPUT_BLOCK").value_or("") == "1";
}

std::vector<std::uint8_t> ReportBytes() {
  if (const std::optional<std::string> hex = AnsiEnv("VURO_EMU_REPORT_HEX")) {
    if (std::optional<std::vector<std::uint8_t>> bytes = DecodeHex(*hex)) return *bytes;
    Log("VURO_EMU_REPORT_HEX is not hex; the report is empty");
    return {};
  }
  std::string report;
  if (const std::optional<std::string> raw = AnsiEnv("VURO_EMU_REPORT")) {
    report = *raw;
  } else {
    report = std::string(kModelOpen) + AnsiEnv("VURO_EMU_MODEL").value_or(kDefaultModel) +
             kSeparator + AnsiEnv("VURO_EMU_SERIAL").value_or(kDefaultSerial) + kSerialClose;
  }
  return std::vector<std::uint8_t>(report.begin(), report.end());
}

std::wstring DeviceFolder() {
  std::wstring folder = WideEnv(L"VURO_EMU_DEVICE");
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return folder;
}

std::wstring HostPath(const char16_t* devicePath) {
  const std::wstring folder = DeviceFolder();
  if (folder.empty() || devicePath == nullptr) return std::wstring();
  std::wstring relative(reinterpret_cast<const wchar_t*>(devicePath));
  for (wchar_t& c : relative) {
    if (c == L'/') c = L'\\';
  }
  while (!relative.empty() && relative.front() == L'\\') relative.erase(0, 1);
  if (relative.empty() || relative.find(L':') != std::wstring::npos || HasDotDotPart(relative)) {
    return std::wstring();
  }
  return folder + L'\\' + relative;
}

void Log(const std::string& line) {
  const std::wstring path = WideEnv(L"VURO_EMU_LOG");
  if (path.empty()) return;
  const std::string text = line + "\n";
  AcquireSRWLockExclusive(&logLock);
  const HANDLE file =
      CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
  }
  ReleaseSRWLockExclusive(&logLock);
}

std::string Quoted(const char16_t* text) {
  if (text == nullptr) return "null";
  return "\"" + Utf8(reinterpret_cast<const wchar_t*>(text)) + "\"";
}

std::string Hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
  return text;
}

std::string Pointer(const void* pointer) {
  if (pointer == nullptr) return "null";
  char text[32];
  std::snprintf(text, sizeof(text), "0x%llX",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer)));
  return text;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  const int needed =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string result(needed > 0 ? needed : 0, '\0');
  if (needed > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, result.data(), needed, nullptr, nullptr);
  }
  return result;
}

bool EqualsIgnoringAsciiCase(const char16_t* a, const char16_t* b) {
  const auto fold = [](char16_t c) -> char16_t { return (c >= u'A' && c <= u'Z') ? c + 32 : c; };
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (fold(*a) != fold(*b)) return false;
  }
  return *a == *b;
}

}  // namespace rapi_emulator
