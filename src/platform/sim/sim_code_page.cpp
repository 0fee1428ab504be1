// The simulated ANSI code pages, 1252 and 932, with their lead bytes and case pairs, and the
// system's case mapping over them.
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_state.h"

namespace sim {
namespace detail {
namespace {

using platform::BYTE;
using platform::DWORD;
using platform::UINT;

constexpr UINT kWestern = 1252;
constexpr UINT kJapanese = 932;
constexpr UINT CP_ACP = 0;

bool IsKnownCodePage(UINT codePage) {
  return codePage == kWestern || codePage == kJapanese;
}

bool IsLeadByte(UINT codePage, BYTE byte) {
  return codePage == kJapanese &&
         ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}

BYTE AsciiUpper(BYTE byte) {
  return (byte >= 'a' && byte <= 'z') ? byte - 0x20 : byte;
}
BYTE AsciiLower(BYTE byte) {
  return (byte >= 'A' && byte <= 'Z') ? byte + 0x20 : byte;
}

// 1252 letters whose other case also lies in the code page, beyond ASCII.
struct BytePair {
  BYTE lower;
  BYTE upper;
};
constexpr BytePair kWesternPairs[] = {{0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}};
// The micro sign's capital is Greek capital mu, which 1252 lacks: Windows hands out its look-alike
// 'M', which lower-cases to 'm' and not back to the micro sign.
constexpr BYTE kMicroSign = 0xB5;
constexpr BYTE kMicroSignUpper = 'M';

BYTE WesternUpper(BYTE byte) {
  if (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7) return byte - 0x20;
  if (byte == kMicroSign) return kMicroSignUpper;
  for (const BytePair& pair : kWesternPairs) {
    if (byte == pair.lower) return pair.upper;
  }
  return AsciiUpper(byte);
}

BYTE WesternLower(BYTE byte) {
  if (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7) return byte + 0x20;
  for (const BytePair& pair : kWesternPairs) {
    if (byte == pair.upper) return pair.lower;
  }
  return AsciiLower(byte);
}

// 932 double-byte letters: a run of lower-case codes and the run of capitals it maps onto.
struct DoubleByteRun {
  unsigned firstLower;
  unsigned lastLower;
  unsigned firstUpper;
};
constexpr DoubleByteRun kJapaneseRuns[] = {
    {0x8281, 0x829A, 0x8260},  // full-width Latin a-z, A-Z
    {0x83BF, 0x83D6, 0x839F},  // Greek
    {0x8470, 0x847E, 0x8440},  // Cyrillic a to n (trail byte 0x7F is not used)
    {0x8480, 0x8491, 0x844F},  // Cyrillic o to ya
};

unsigned JapaneseMap(unsigned code, bool upper) {
  for (const DoubleByteRun& run : kJapaneseRuns) {
    const unsigned lastUpper = run.firstUpper + (run.lastLower - run.firstLower);
    if (upper && code >= run.firstLower && code <= run.lastLower) {
      return code - run.firstLower + run.firstUpper;
    }
    if (!upper && code >= run.firstUpper && code <= lastUpper) {
      return code - run.firstUpper + run.firstLower;
    }
  }
  return code;
}

bool HoldsDoubleByteCharacter(UINT codePage, const BYTE* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (IsLeadByte(codePage, text[i]) && i + 1 < length) return true;
  }
  return false;
}

// Maps `length` bytes character by character into `out`, which has room for as many.
void MapCase(UINT codePage, bool upper, const BYTE* in, std::size_t length, BYTE* out) {
  for (std::size_t i = 0; i < length; ++i) {
    if (IsLeadByte(codePage, in[i]) && i + 1 < length) {
      const unsigned code = JapaneseMap((unsigned{in[i]} << 8) | in[i + 1], upper);
      out[i] = static_cast<BYTE>(code >> 8);
      out[i + 1] = static_cast<BYTE>(code & 0xFF);
      ++i;
    } else if (codePage == kWestern) {
      out[i] = upper ? WesternUpper(in[i]) : WesternLower(in[i]);
    } else {
      out[i] = upper ? AsciiUpper(in[i]) : AsciiLower(in[i]);
    }
  }
}

int MapStringNow(DWORD flags, const char* source, int sourceLength, char* destination,
                 int destinationLength) {
  if (flags != platform::LCMAP_UPPERCASE && flags != platform::LCMAP_LOWERCASE) return 0;
  if (source == nullptr || sourceLength == 0 || sourceLength < -1) return 0;
  if (destinationLength < 0 || (destinationLength > 0 && destination == nullptr)) return 0;
  // -1: a zero-terminated text, the zero byte included in the count.
  const std::size_t length =
      sourceLength == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceLength);
  const UINT codePage = Machine().codePage;
  const auto* in = reinterpret_cast<const BYTE*>(source);
  if (Machine().failDoubleByteMapping && HoldsDoubleByteCharacter(codePage, in, length)) return 0;
  // A destination length of 0 asks for the length the mapping needs.
  if (destinationLength == 0) return static_cast<int>(length);
  if (static_cast<std::size_t>(destinationLength) < length) return 0;
  std::vector<BYTE> mapped(length);  // the source and the destination may be the same buffer
  MapCase(codePage, flags == platform::LCMAP_UPPERCASE, in, length, mapped.data());
  std::memcpy(destination, mapped.data(), length);
  return static_cast<int>(length);
}

platform::BOOL CodePageInfoNow(UINT codePage, platform::CPINFO* info) {
  if (codePage == CP_ACP) codePage = Machine().codePage;
  if (info == nullptr || !IsKnownCodePage(codePage)) return platform::FALSE;
  *info = platform::CPINFO{};
  info->DefaultChar[0] = '?';
  info->MaxCharSize = codePage == kJapanese ? 2 : 1;
  if (codePage == kJapanese) {
    const BYTE ranges[] = {0x81, 0x9F, 0xE0, 0xFC};
    std::memcpy(info->LeadByte, ranges, sizeof(ranges));
  }
  return platform::TRUE;
}

}  // namespace

bool IsActiveLeadByte(unsigned char byte) {
  return IsLeadByte(Machine().codePage, byte);
}

}  // namespace detail

void SetCodePage(platform::UINT codePage) {
  if (!detail::IsKnownCodePage(codePage)) {
    throw std::invalid_argument("the simulation knows code pages 1252 and 932");
  }
  detail::Machine().codePage = codePage;
}

void FailDoubleByteMapping(bool fail) {
  detail::Machine().failDoubleByteMapping = fail;
}

}  // namespace sim

namespace platform {

using namespace sim::detail;

UINT GetACP() {
  TakeFault("GetACP");  // counted; the code page cannot fail to be known
  const UINT codePage = Machine().codePage;
  Record("GetACP", {}, Dec(codePage));
  return codePage;
}

BOOL GetCPInfo(UINT codePage, CPINFO* info) {
  const std::optional<sim::Fault> fault = TakeFault("GetCPInfo");
  std::vector<std::string> args = {Dec(codePage), Ptr(info)};
  const BOOL known = fault ? FALSE : CodePageInfoNow(codePage, info);
  Record("GetCPInfo", std::move(args), Dec(static_cast<unsigned>(known)));
  return known;
}

int LCMapStringA(LCID locale, DWORD flags, const char* source, int sourceLength, char* destination,
                 int destinationLength) {
  const std::optional<sim::Fault> fault = TakeFault("LCMapStringA");
  const std::size_t logged =
      source == nullptr || sourceLength < -1
          ? 0
          : (sourceLength == -1 ? std::strlen(source) : static_cast<std::size_t>(sourceLength));
  std::vector<std::string> args = {Dec(locale),
                                   Dec(flags),
                                   Bytes8(source, logged),
                                   DecSigned(sourceLength),
                                   Ptr(destination),
                                   DecSigned(destinationLength)};
  const int written =
      fault ? 0 : MapStringNow(flags, source, sourceLength, destination, destinationLength);
  Record("LCMapStringA", std::move(args), DecSigned(written));
  return written;
}

}  // namespace platform
