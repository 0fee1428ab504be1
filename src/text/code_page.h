// The system's ANSI code page, adopted once at start-up: its number, its lead bytes, the
// upper-case counterparts of its single-byte letters, and upper-casing of its double-byte
// characters through the system's case mapping.
#pragma once

#include <cstddef>

#include "platform/platform.h"

class CodePage {
 public:
  // Queries the operating system for its ANSI code page and makes it the active one.
  static void AdoptAnsiCodePage();
  static const CodePage& Active();

  platform::UINT Number() const { return number_; }
  bool IsLeadByte(unsigned char byte) const { return leadByte_[byte]; }
  unsigned char UpperSingle(unsigned char byte) const { return upper_[byte]; }

  // The length in bytes of the character at `at`: 2 for a lead byte with a byte after it before
  // `end`, otherwise 1.
  std::size_t CharLength(const char* at, const char* end) const {
    return (IsLeadByte(static_cast<unsigned char>(*at)) && end - at >= 2) ? 2 : 1;
  }

  // Upper-cases one double-byte character through the system's case mapping. False when the
  // mapping fails or would not yield one double-byte character; `out` is then unspecified.
  bool UpperDouble(const char in[2], char out[2]) const;

 private:
  void AdoptLeadBytes();
  void AdoptCasePairs();

  platform::UINT number_ = 0;
  bool leadByte_[256] = {};
  unsigned char upper_[256] = {};
};
