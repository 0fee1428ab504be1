// ParseReport on arbitrary report texts. The first input byte chooses the machine: its lowest bit
// the code page (1252 or 932), its upper four bits an allocation to fail (1 to 6; any other value:
// none). The remaining bytes, cut at the first zero byte as a text value is, are the report text.
// The parse is held against the report format's rules, worked out on std::string.
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/device_connection.h"
#include "fuzz_machine.h"
#include "reference_text.h"
#include "text/ansi_text.h"
#include "text/text_error.h"

namespace {

const std::string kOpening = "<Model_Info><Model>";
const std::string kSeparator = "</Model><Serial_Num>";

std::string Of(const AnsiText& text) {
  return std::string(text.Data(), text.Length());
}

// Parses `text`, with the `failingAllocation`-th allocation of the parse failing when it is not 0.
void CheckParse(const reference::CodePageRules& rules, const std::string& text,
                unsigned failingAllocation) {
  const AnsiText input(text.data(), text.size());
  AnsiText model("left over from before");
  AnsiText serial("left over from before");
  const bool allocationFails = failingAllocation != 0;
  if (allocationFails) sim::FailAllocation(failingAllocation);
  int result = 0;
  try {
    result = DeviceConnection::ParseReport(input, model, serial);
  } catch (const TextError&) {
    // The text is passed by value: its copy, the first allocation, is made before the parser runs.
    fuzz::Require(failingAllocation == 1 && Of(model) == "left over from before" &&
                      Of(serial) == "left over from before",
                  "only the copy of the argument raises, before the parse", fuzz::Escaped(text));
    return;
  }

  const std::string detail = "code page " + std::to_string(rules.number) + ", text " +
                             fuzz::Escaped(text) + "\nmodel " + fuzz::Escaped(Of(model)) +
                             ", serial " + fuzz::Escaped(Of(serial)) +
                             (allocationFails ? ", with an allocation failing" : "");
  fuzz::Require(Of(input) == text, "the caller's text is unchanged", detail);
  fuzz::Require(result == (model.IsEmpty() ? 0 : 1), "the result tells whether a model was found",
                detail);
  fuzz::Require(reference::Find(rules, Of(model), kSeparator) == reference::kNotFound,
                "the model holds no separator", detail);

  const reference::Report expected = reference::ParseReport(rules, text);
  if (allocationFails) {
    // A parse cut short hands over each output whole or not at all.
    fuzz::Require(model.IsEmpty() || Of(model) == expected.model,
                  "a parse cut short leaves the model empty or whole", detail);
    fuzz::Require(serial.IsEmpty() || Of(serial) == expected.serial,
                  "a parse cut short leaves the serial empty or whole", detail);
    return;
  }
  if (reference::Find(rules, text, kOpening) == reference::kNotFound) {
    fuzz::Require(text.compare(0, model.Length(), Of(model)) == 0,
                  "without an opening marker the model is a prefix of the text", detail);
  }
  fuzz::Require(Of(model) == expected.model, "the model follows the format's rules",
                detail + "\nexpected model " + fuzz::Escaped(expected.model));
  fuzz::Require(Of(serial) == expected.serial, "the serial follows the format's rules",
                detail + "\nexpected serial " + fuzz::Escaped(expected.serial));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  reference::CodePageRules rules;
  rules.number = (data[0] & 1) != 0 ? 932 : 1252;
  const unsigned failingAllocation = data[0] >> 4 <= 6 ? data[0] >> 4 : 0;

  fuzz::PrepareMachine(rules.number);
  const std::string text =
      reference::BeforeZero(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  CheckParse(rules, text, failingAllocation);
  fuzz::RequireCleanMachine();
  return 0;
}
