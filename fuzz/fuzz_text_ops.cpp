// The text value's operations against the reference model: the input is a small program over four
// text registers, each held both as a text value and as a std::string, and after every step the
// two must agree. The first input byte chooses the machine: its lowest bit the code page (1252 or
// 932), the next bit a failing double-byte case mapping.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "fuzz_machine.h"
#include "platform/platform.h"
#include "reference_text.h"
#include "text/ansi_text.h"
#include "text/text_error.h"

namespace {

constexpr std::size_t kRegisters = 4;
constexpr std::size_t kMaxSteps = 64;
// Keeps a program of doublings from growing without bound; beyond the largest report text
// (6000 bytes) longer texts only slow the search down.
constexpr std::size_t kMaxLength = 8192;
// The most bytes of a piece that a failure report shows of a step.
constexpr std::size_t kShownBytes = 80;

enum class Step : std::uint8_t {
  kFind,
  kRemoveAll,
  kDelete,
  kMakeUpper,
  kAppendText,
  kConcatenate,
  kAssignBytes,
  kAppendBytes,
  kAssignPiece,
  kTruncate,
  kCopy,
  kMove,
  kEmpty,
  kMaxValue = kEmpty,
};

class Program {
 public:
  Program(const reference::CodePageRules& rules, FuzzedDataProvider& input)
      : rules_(rules), input_(input) {}

  void Run() {
    for (std::size_t step = 0; step < kMaxSteps && input_.remaining_bytes() > 0; ++step) {
      RunStep(input_.ConsumeEnum<Step>());
      CheckRegisters();
    }
  }

 private:
  std::size_t Register() { return input_.ConsumeIntegralInRange<std::size_t>(0, kRegisters - 1); }

  // A start or count for Delete: mostly small, sometimes the extremes.
  std::ptrdiff_t Offset(std::size_t length) {
    switch (input_.ConsumeIntegralInRange<int>(0, 7)) {
      case 0:
        return std::numeric_limits<std::ptrdiff_t>::min();
      case 1:
        return std::numeric_limits<std::ptrdiff_t>::max();
      case 2:
        return static_cast<std::ptrdiff_t>(length);
      case 3:
        return -1;
      default:
        return input_.ConsumeIntegral<std::int8_t>();
    }
  }

  void RunStep(Step step) {
    const std::size_t a = Register();
    const std::size_t b = Register();
    const std::size_t c = Register();
    AnsiText& text = texts_[a];
    std::string& model = models_[a];
    switch (step) {
      case Step::kFind: {
        const std::size_t found = text.Find(texts_[b]);
        const std::size_t expected = reference::Find(rules_, model, models_[b]);
        Expect(found == (expected == reference::kNotFound ? AnsiText::kNotFound : expected), "Find",
               a, b, std::to_string(found) + " instead of " + std::to_string(expected));
        break;
      }
      case Step::kRemoveAll: {
        const std::string pattern = models_[b];
        text.RemoveAll(texts_[b]);
        model = reference::RemoveAll(rules_, model, pattern);
        last_ = "RemoveAll of register " + std::to_string(b) + " " + Shown(pattern);
        break;
      }
      case Step::kDelete: {
        const std::ptrdiff_t start = Offset(model.size());
        const std::ptrdiff_t count = Offset(model.size());
        text.Delete(start, count);
        model = reference::Delete(model, start, count);
        last_ = "Delete(" + std::to_string(start) + ", " + std::to_string(count) + ")";
        break;
      }
      case Step::kMakeUpper:
        text.MakeUpper();
        model = reference::MakeUpper(rules_, model);
        last_ = "MakeUpper";
        break;
      case Step::kAppendText:
        if (model.size() + models_[b].size() > kMaxLength) break;
        text += texts_[b];
        model += std::string(models_[b]);  // a copy first: b may be a itself
        last_ = "+= register " + std::to_string(b);
        break;
      case Step::kConcatenate:
        if (models_[b].size() + models_[c].size() > kMaxLength) break;
        text = texts_[b] + texts_[c];
        model = models_[b] + models_[c];
        last_ = "registers " + std::to_string(b) + " + " + std::to_string(c);
        break;
      case Step::kAssignBytes: {
        const std::string bytes = input_.ConsumeRandomLengthString(256);
        text = AnsiText(bytes.data(), bytes.size());
        model = reference::BeforeZero(bytes);
        last_ = "made from " + Shown(bytes);
        break;
      }
      case Step::kAppendBytes: {
        const std::string bytes = input_.ConsumeRandomLengthString(256);
        if (model.size() + bytes.size() > kMaxLength) break;
        text.Append(bytes.data(), bytes.size());
        model += reference::BeforeZero(bytes);
        last_ = "Append " + Shown(bytes);
        break;
      }
      case Step::kAssignPiece: {
        // A piece of another register, so that patterns that occur come up often.
        const std::string source = models_[b];
        const std::size_t from = input_.ConsumeIntegralInRange<std::size_t>(0, source.size());
        const std::size_t length =
            input_.ConsumeIntegralInRange<std::size_t>(0, source.size() - from);
        text = AnsiText(texts_[b].Data() + from, length);
        model = source.substr(from, length);
        last_ = "piece [" + std::to_string(from) + ", +" + std::to_string(length) +
                ") of register " + std::to_string(b);
        break;
      }
      case Step::kTruncate: {
        const std::size_t length = input_.ConsumeIntegralInRange<std::size_t>(0, model.size() + 2);
        bool raised = false;
        try {
          text.Truncate(length);
        } catch (const TextError& error) {
          raised = error.Status() == platform::E_INVALIDARG;
        }
        Expect(raised == (length > model.size()), "Truncate", a, a,
               "raised " + std::to_string(raised) + " for " + std::to_string(length));
        if (!raised) model.resize(length);
        last_ = "Truncate(" + std::to_string(length) + ")";
        break;
      }
      case Step::kCopy:
        text = texts_[b];
        model = std::string(models_[b]);
        last_ = "copy of register " + std::to_string(b);
        break;
      case Step::kMove:
        if (a == b) break;  // a moved-from value is only required to be valid
        text = std::move(texts_[b]);
        model = std::move(models_[b]);
        texts_[b] = AnsiText();
        models_[b].clear();
        last_ = "moved from register " + std::to_string(b);
        break;
      case Step::kEmpty:
        text.Empty();
        model.clear();
        last_ = "Empty";
        break;
    }
    lastRegister_ = a;
  }

  void CheckRegisters() const {
    for (std::size_t r = 0; r < kRegisters; ++r) {
      const AnsiText& text = texts_[r];
      const std::string held(text.Data(), text.Length());
      if (held == models_[r] && text.Data()[text.Length()] == '\0' &&
          std::memchr(text.Data(), 0, text.Length()) == nullptr) {
        continue;
      }
      Expect(false, "register contents", r, r,
             "holds " + fuzz::Escaped(held) + " instead of " + fuzz::Escaped(models_[r]) +
                 " after " + last_ + " on register " + std::to_string(lastRegister_));
    }
  }

  // The beginning of a piece, for describing a step.
  static std::string Shown(const std::string& bytes) {
    return fuzz::Escaped(bytes.substr(0, kShownBytes)) + (bytes.size() > kShownBytes ? "..." : "");
  }

  void Expect(bool holds, const char* what, std::size_t a, std::size_t b,
              const std::string& how) const {
    if (holds) return;
    std::string registers;
    for (std::size_t r = 0; r < kRegisters; ++r) {
      registers += "  register " + std::to_string(r) + ": " + fuzz::Escaped(models_[r]) + "\n";
    }
    fuzz::Require(false, what,
                  "code page " + std::to_string(rules_.number) +
                      (rules_.doubleByteMappingFails ? " (double-byte mapping failing)" : "") +
                      ", registers " + std::to_string(a) + " and " + std::to_string(b) + ": " +
                      how + "\nreference registers before the check:\n" + registers);
  }

  const reference::CodePageRules rules_;
  FuzzedDataProvider& input_;
  std::array<AnsiText, kRegisters> texts_;
  std::array<std::string, kRegisters> models_;
  std::string last_ = "nothing";
  std::size_t lastRegister_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  reference::CodePageRules rules;
  rules.number = (data[0] & 1) != 0 ? 932 : 1252;
  rules.doubleByteMappingFails = (data[0] & 2) != 0;

  fuzz::PrepareMachine(rules.number);
  sim::FailDoubleByteMapping(rules.doubleByteMappingFails);
  {
    FuzzedDataProvider input(data + 1, size - 1);
    Program(rules, input).Run();
  }
  fuzz::RequireCleanMachine();
  return 0;
}
