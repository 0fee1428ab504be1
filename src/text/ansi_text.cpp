#include "text/ansi_text.h"

#include <cstring>
#include <utility>

#include "text/code_page.h"
#include "text/text_error.h"
#include "text/text_storage.h"

namespace {

std::size_t LengthBeforeZero(const char* bytes, std::size_t length) {
  const void* zero = std::memchr(bytes, 0, length);
  return zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - bytes)
                         : length;
}

}  // namespace

AnsiText::AnsiText(const char* literal) { Assign(literal, std::strlen(literal)); }

AnsiText::AnsiText(const char* bytes, std::size_t length) {
  Assign(bytes, LengthBeforeZero(bytes, length));
}

AnsiText::AnsiText(const AnsiText& other) { Assign(other.Data(), other.length_); }

AnsiText::AnsiText(AnsiText&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      length_(std::exchange(other.length_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

AnsiText& AnsiText::operator=(const AnsiText& other) {
  if (this != &other) Assign(other.Data(), other.length_);
  return *this;
}

AnsiText& AnsiText::operator=(AnsiText&& other) noexcept {
  if (this != &other) {
    ReleaseTextStorage(data_);
    data_ = std::exchange(other.data_, nullptr);
    length_ = std::exchange(other.length_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

AnsiText::~AnsiText() { ReleaseTextStorage(data_); }

AnsiText& AnsiText::operator+=(const AnsiText& other) {
  if (this == &other) {
    const AnsiText copy(other);
    Append(copy.Data(), copy.length_);
  } else {
    Append(other.Data(), other.length_);
  }
  return *this;
}

void AnsiText::Append(const char* bytes, std::size_t length) {
  length = LengthBeforeZero(bytes, length);
  if (length == 0) return;
  if (length > static_cast<std::size_t>(-1) / 2 - length_) throw TextError(platform::E_OUTOFMEMORY);
  const std::size_t needed = length_ + length;
  // Growing geometrically keeps a text built from many pieces linear in its length.
  if (needed > capacity_) Reserve(needed > 2 * capacity_ ? needed : 2 * capacity_);
  std::memcpy(data_ + length_, bytes, length);
  length_ = needed;
  data_[length_] = '\0';
}

void AnsiText::Assign(const char* bytes, std::size_t length) {
  if (length > capacity_) {
    // Allocate first, so that a failure leaves the text as it was.
    char* fresh = static_cast<char*>(AllocateTextStorage(length + 1));
    if (fresh == nullptr) throw TextError(platform::E_OUTOFMEMORY);
    ReleaseTextStorage(data_);
    data_ = fresh;
    capacity_ = length;
  }
  if (length != 0) std::memmove(data_, bytes, length);
  length_ = length;
  if (data_ != nullptr) data_[length_] = '\0';
}

void AnsiText::Reserve(std::size_t capacity) {
  void* block = data_ == nullptr ? AllocateTextStorage(capacity + 1)
                                 : ResizeTextStorage(data_, capacity + 1);
  if (block == nullptr) throw TextError(platform::E_OUTOFMEMORY);
  data_ = static_cast<char*>(block);
  capacity_ = capacity;
  data_[length_] = '\0';
}

std::size_t AnsiText::NextCharacter(std::size_t at) const {
  return at + CodePage::Active().CharLength(data_ + at, data_ + length_);
}

bool AnsiText::MatchesAt(std::size_t at, const AnsiText& pattern) const {
  return length_ - at >= pattern.length_ &&
         std::memcmp(data_ + at, pattern.data_, pattern.length_) == 0;
}

void AnsiText::MakeUpper() {
  const CodePage& codePage = CodePage::Active();
  for (std::size_t at = 0; at < length_; at = NextCharacter(at)) {
    char* character = data_ + at;
    if (codePage.CharLength(character, data_ + length_) == 1) {
      *character = static_cast<char>(codePage.UpperSingle(static_cast<unsigned char>(*character)));
      continue;
    }
    char upper[2];
    if (!codePage.UpperDouble(character, upper)) return;
    character[0] = upper[0];
    character[1] = upper[1];
  }
}

std::size_t AnsiText::Find(const AnsiText& pattern) const {
  if (pattern.length_ == 0) return 0;
  for (std::size_t at = 0; at < length_; at = NextCharacter(at)) {
    if (MatchesAt(at, pattern)) return at;
  }
  return kNotFound;
}

void AnsiText::RemoveAll(const AnsiText& pattern) {
  if (pattern.length_ == 0 || length_ < pattern.length_) return;
  if (this == &pattern) {
    Empty();
    return;
  }
  // Compacts in place: `kept` never overtakes `at`, so every comparison sees the original bytes.
  std::size_t kept = 0;
  std::size_t at = 0;
  while (at < length_) {
    if (MatchesAt(at, pattern)) {
      at += pattern.length_;
      continue;
    }
    const std::size_t next = NextCharacter(at);
    while (at < next) data_[kept++] = data_[at++];
  }
  length_ = kept;
  data_[length_] = '\0';
}

void AnsiText::Delete(std::ptrdiff_t start, std::ptrdiff_t count) {
  const std::size_t from = start < 0 ? 0 : static_cast<std::size_t>(start);
  if (from >= length_ || count <= 0) return;
  const std::size_t removed =
      static_cast<std::size_t>(count) < length_ - from ? static_cast<std::size_t>(count)
                                                       : length_ - from;
  std::memmove(data_ + from, data_ + from + removed, length_ - from - removed);
  length_ -= removed;
  data_[length_] = '\0';
}

void AnsiText::Truncate(std::size_t length) {
  if (length > length_) throw TextError(platform::E_INVALIDARG);
  length_ = length;
  if (data_ != nullptr) data_[length_] = '\0';
}

void AnsiText::Empty() { Truncate(0); }

bool operator==(const AnsiText& a, const AnsiText& b) {
  return a.length_ == b.length_ && std::memcmp(a.Data(), b.Data(), a.length_) == 0;
}

AnsiText operator+(const AnsiText& a, const AnsiText& b) {
  AnsiText joined(a);
  joined += b;
  return joined;
}
