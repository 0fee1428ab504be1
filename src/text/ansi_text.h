// A text value: a byte string in the system's ANSI code page with value semantics. It never holds
// a zero byte; positions and lengths count bytes from 0. Storage comes from the process heap;
// running out of it raises TextError(E_OUTOFMEMORY).
#pragma once

#include <cstddef>

class AnsiText {
 public:
  static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

  AnsiText() noexcept = default;
  // The bytes up to the terminating zero byte.
  AnsiText(const char* literal);  // NOLINT(google-explicit-constructor): texts read as literals
  // The first `length` bytes of `bytes`, or those before a zero byte among them.
  AnsiText(const char* bytes, std::size_t length);
  AnsiText(const AnsiText& other);
  AnsiText(AnsiText&& other) noexcept;
  AnsiText& operator=(const AnsiText& other);
  AnsiText& operator=(AnsiText&& other) noexcept;
  ~AnsiText();

  std::size_t Length() const { return length_; }
  bool IsEmpty() const { return length_ == 0; }
  // The bytes, followed by a zero byte.
  const char* Data() const { return data_ != nullptr ? data_ : ""; }

  AnsiText& operator+=(const AnsiText& other);
  // Appends the first `length` bytes of `bytes`, or those before a zero byte among them.
  void Append(const char* bytes, std::size_t length);

  // Upper-cases every character in the code page, keeping the length. A double-byte character
  // that the system cannot map leaves it and the rest of the text as they are.
  void MakeUpper();

  // The position of the leftmost occurrence of `pattern` that begins on a character boundary, or
  // kNotFound. An empty pattern is found at 0.
  std::size_t Find(const AnsiText& pattern) const;

  // Removes every occurrence of `pattern` found in one pass from left to right, without overlap;
  // text that comes together at a removal is not searched again. An empty pattern changes nothing.
  void RemoveAll(const AnsiText& pattern);

  // Deletes `count` bytes from `start`. A negative start or count counts as 0, and a range that
  // runs past the end stops there.
  void Delete(std::ptrdiff_t start, std::ptrdiff_t count);

  // Keeps the first `length` bytes; a length beyond the text raises TextError(E_INVALIDARG).
  void Truncate(std::size_t length);

  void Empty();

  friend bool operator==(const AnsiText& a, const AnsiText& b);
  friend bool operator!=(const AnsiText& a, const AnsiText& b) { return !(a == b); }

 private:
  void Assign(const char* bytes, std::size_t length);
  void Reserve(std::size_t capacity);
  std::size_t NextCharacter(std::size_t at) const;
  bool MatchesAt(std::size_t at, const AnsiText& pattern) const;

  char* data_ = nullptr;  // length_ bytes and a zero byte, or null while nothing is stored
  std::size_t length_ = 0;
  std::size_t capacity_ = 0;  // bytes available for characters, the zero byte not counted
};

AnsiText operator+(const AnsiText& a, const AnsiText& b);
