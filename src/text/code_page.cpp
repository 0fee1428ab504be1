#include "text/code_page.h"

namespace {

CodePage activeCodePage;

// Maps `length` bytes through the system's case mapping; true when it yields the same length.
bool MapCase(platform::DWORD flags, const char* in, char* out, int length) {
  return platform::LCMapStringA(platform::LOCALE_SYSTEM_DEFAULT, flags, in, length, out, length) ==
         length;
}

}  // namespace

void CodePage::AdoptAnsiCodePage() {
  CodePage adopted;
  adopted.number_ = platform::GetACP();
  adopted.AdoptLeadBytes();
  adopted.AdoptCasePairs();
  activeCodePage = adopted;
}

const CodePage& CodePage::Active() { return activeCodePage; }

void CodePage::AdoptLeadBytes() {
  platform::CPINFO info = {};
  if (!platform::GetCPInfo(number_, &info)) return;
  for (int pair = 0; pair + 1 < 12 && info.LeadByte[pair] != 0; pair += 2) {
    for (int byte = info.LeadByte[pair]; byte <= info.LeadByte[pair + 1]; ++byte) {
      leadByte_[byte] = true;
    }
  }
}

// A single byte gets an upper-case counterpart only when the two form a case pair: the system
// upper-cases the byte to the other and lower-cases the other back. This keeps out letters whose
// capital has no place in the code page and arrives as a look-alike or a default character.
void CodePage::AdoptCasePairs() {
  for (int byte = 0; byte < 256; ++byte) upper_[byte] = static_cast<unsigned char>(byte);
  for (int byte = 1; byte < 256; ++byte) {
    if (leadByte_[byte]) continue;
    const char lower = static_cast<char>(byte);
    char upper = 0;
    char back = 0;
    if (!MapCase(platform::LCMAP_UPPERCASE, &lower, &upper, 1) || upper == lower) continue;
    if (leadByte_[static_cast<unsigned char>(upper)]) continue;
    if (MapCase(platform::LCMAP_LOWERCASE, &upper, &back, 1) && back == lower) {
      upper_[byte] = static_cast<unsigned char>(upper);
    }
  }
}

bool CodePage::UpperDouble(const char in[2], char out[2]) const {
  return MapCase(platform::LCMAP_UPPERCASE, in, out, 2) &&
         IsLeadByte(static_cast<unsigned char>(out[0]));
}
