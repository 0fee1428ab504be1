// The simulated machine the fuzz targets run on, made fresh for every input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/sim/sim_platform.h"
#include "text/code_page.h"
#include "text/text_storage.h"

namespace fuzz {

// A fresh simulated machine under `codePage`, started up as the program starts: its ANSI code
// page adopted and text storage bound to its heap. Adopting a code page costs two case mappings
// per byte value, so it is done again only when the code page changes; the simulation's tables
// never change, so the adopted one stays true to the machine.
inline void PrepareMachine(platform::UINT codePage) {
  static platform::UINT adopted = 0;
  sim::Reset();
  sim::SetCodePage(codePage);
  if (adopted != codePage) {
    CodePage::AdoptAnsiCodePage();
    adopted = codePage;
  }
  CreateTextStorage();
  sim::ClearLog();
}

// Ends the process with a report when a check does not hold, so that libFuzzer keeps the input.
inline void Require(bool holds, const char* check, const std::string& detail = std::string()) {
  if (holds) return;
  std::fprintf(stderr, "\nCHECK FAILED: %s\n%s\n", check, detail.c_str());
  std::abort();
}

// The bytes as C escapes, for the reports of failed checks.
inline std::string Escaped(const std::string& bytes) {
  std::string out = "\"";
  for (const unsigned char byte : bytes) {
    if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
      out += static_cast<char>(byte);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof(hex), "\\x%02X", byte);
      out += hex;
    }
  }
  return out + "\"";
}

// No breach of the API contract and no heap block of the simulated process left behind.
inline void RequireCleanMachine() {
  std::string breaches;
  for (const std::string& line : sim::Violations()) breaches += line + "\n";
  Require(sim::Violations().empty(), "no breach of the API contract", breaches);
  Require(sim::LiveBlockCount() == 0, "every text block released",
          std::to_string(sim::LiveBlockCount()) + " blocks live");
}

}  // namespace fuzz
