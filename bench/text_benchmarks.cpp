// ParseReport and the text value's operations on report texts from 60 bytes (a short report) over
// 6000 bytes (the largest report the model query takes) up to 600 KB, to show how the cost grows:
// each family reports its fitted complexity. Text storage is the simulated process heap, as in the
// tests, so a text that allocates pays for the simulation's bookkeeping and its call log too.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "bench_machine.h"
#include "device/device_connection.h"
#include "text/ansi_text.h"

namespace {

const std::string kOpening = "<Model_Info><Model>";
const std::string kSeparator = "</Model><Serial_Num>";
const std::string kClosing = "</Serial_Num>";
const std::string kSerial = "123456";

// Report sizes in bytes.
void ReportSizes(benchmark::internal::Benchmark* family) {
  for (const std::int64_t size : {60, 600, 6000, 60000, 600000}) family->Arg(size);
  family->Complexity(benchmark::oN);
}

enum class Letters {
  kSingleByte,  // code page 1252, lower-case ASCII and accented letters
  kDoubleByte,  // code page 932, full-width lower-case Latin letters (two bytes each)
};

platform::UINT CodePageOf(Letters letters) {
  return letters == Letters::kSingleByte ? 1252 : 932;
}

// `length` bytes of lower-case letters; whole characters, so a double-byte run may end one short.
std::string LowerCaseText(Letters letters, std::size_t length) {
  std::string text;
  text.reserve(length);
  for (std::size_t i = 0; text.size() < length; ++i) {
    if (letters == Letters::kSingleByte) {
      text += static_cast<char>(i % 3 == 2 ? 0xE0 + i % 26 : 'a' + i % 26);
    } else if (text.size() + 2 <= length) {
      text += '\x82';
      text += static_cast<char>(0x81 + i % 26);
    } else {
      text += 'x';
    }
  }
  return text;
}

// A conforming report of `size` bytes whose model name takes the room left by the markers.
std::string ConformingReport(Letters letters, std::size_t size) {
  const std::size_t markers =
      kOpening.size() + kSeparator.size() + kSerial.size() + kClosing.size();
  return kOpening + LowerCaseText(letters, size > markers ? size - markers : 1) + kSeparator +
         kSerial + kClosing;
}

// A report of `size` bytes where an opening marker stands before every model letter: the parse
// removes one every 20 bytes.
std::string MarkerDenseReport(std::size_t size) {
  std::string text;
  while (text.size() + kOpening.size() + 1 + kSeparator.size() + kSerial.size() + kClosing.size() <
         size) {
    text += kOpening + "m";
  }
  return text + kSeparator + kSerial + kClosing;
}

void Finish(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.SetComplexityN(static_cast<std::int64_t>(bytes));
}

void ParseReport(benchmark::State& state, const std::string& report, platform::UINT codePage) {
  bench::PrepareMachine(codePage);
  const AnsiText text(report.data(), report.size());
  AnsiText model;
  AnsiText serial;
  for (auto _ : state) {
    benchmark::DoNotOptimize(DeviceConnection::ParseReport(text, model, serial));
    bench::KeepLogShort();
  }
  if (model.IsEmpty()) state.SkipWithError("the report yielded no model name");
  Finish(state, report.size());
}

void BM_ParseReport_Conforming1252(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  ParseReport(state, ConformingReport(Letters::kSingleByte, size), 1252);
}
BENCHMARK(BM_ParseReport_Conforming1252)->Apply(ReportSizes);

void BM_ParseReport_Conforming932(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  ParseReport(state, ConformingReport(Letters::kDoubleByte, size), 932);
}
BENCHMARK(BM_ParseReport_Conforming932)->Apply(ReportSizes);

void BM_ParseReport_MarkerDense(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  ParseReport(state, MarkerDenseReport(size), 1252);
}
BENCHMARK(BM_ParseReport_MarkerDense)->Apply(ReportSizes);

// A search that scans the whole text and finds nothing.
void Find(benchmark::State& state, Letters letters) {
  bench::PrepareMachine(CodePageOf(letters));
  const std::string content = LowerCaseText(letters, static_cast<std::size_t>(state.range(0)));
  const AnsiText text(content.data(), content.size());
  const AnsiText pattern(kSeparator.c_str());
  for (auto _ : state) benchmark::DoNotOptimize(text.Find(pattern));
  if (text.Find(pattern) != AnsiText::kNotFound) state.SkipWithError("the pattern was found");
  Finish(state, content.size());
}
void BM_Find_Absent1252(benchmark::State& state) {
  Find(state, Letters::kSingleByte);
}
void BM_Find_Absent932(benchmark::State& state) {
  Find(state, Letters::kDoubleByte);
}
BENCHMARK(BM_Find_Absent1252)->Apply(ReportSizes);
BENCHMARK(BM_Find_Absent932)->Apply(ReportSizes);

// Each iteration copies the text (one allocation) and works on the copy.
template <typename Operation>
void OnCopy(benchmark::State& state, platform::UINT codePage, const std::string& content,
            Operation operation) {
  bench::PrepareMachine(codePage);
  const AnsiText text(content.data(), content.size());
  for (auto _ : state) {
    AnsiText copy(text);
    operation(copy);
    benchmark::DoNotOptimize(copy.Data());
    bench::KeepLogShort();
  }
  Finish(state, content.size());
}

void BM_RemoveAll_MarkerDense(benchmark::State& state) {
  const AnsiText marker(kOpening.c_str());
  OnCopy(state, 1252, MarkerDenseReport(static_cast<std::size_t>(state.range(0))),
         [&](AnsiText& copy) { copy.RemoveAll(marker); });
}
BENCHMARK(BM_RemoveAll_MarkerDense)->Apply(ReportSizes);

void BM_Delete_Front(benchmark::State& state) {
  OnCopy(state, 1252,
         ConformingReport(Letters::kSingleByte, static_cast<std::size_t>(state.range(0))),
         [](AnsiText& copy) { copy.Delete(0, 19); });
}
BENCHMARK(BM_Delete_Front)->Apply(ReportSizes);

void BM_MakeUpper_1252(benchmark::State& state) {
  OnCopy(state, 1252, LowerCaseText(Letters::kSingleByte, static_cast<std::size_t>(state.range(0))),
         [](AnsiText& copy) { copy.MakeUpper(); });
}
BENCHMARK(BM_MakeUpper_1252)->Apply(ReportSizes);

// Every double-byte character goes through the simulated system's case mapping, a logged call.
void BM_MakeUpper_932(benchmark::State& state) {
  OnCopy(state, 932, LowerCaseText(Letters::kDoubleByte, static_cast<std::size_t>(state.range(0))),
         [](AnsiText& copy) { copy.MakeUpper(); });
}
BENCHMARK(BM_MakeUpper_932)->Apply(ReportSizes);

// A text built from 60-byte pieces, as the model query joins the chunks it reads.
void BM_Append_Pieces(benchmark::State& state) {
  bench::PrepareMachine(1252);
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::string piece = LowerCaseText(Letters::kSingleByte, 60);
  for (auto _ : state) {
    AnsiText text;
    while (text.Length() < size) text.Append(piece.data(), piece.size());
    benchmark::DoNotOptimize(text.Data());
    bench::KeepLogShort();
  }
  Finish(state, size);
}
BENCHMARK(BM_Append_Pieces)->Apply(ReportSizes);

void BM_Concatenate_Halves(benchmark::State& state) {
  bench::PrepareMachine(1252);
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::string half = LowerCaseText(Letters::kSingleByte, size / 2);
  const AnsiText a(half.data(), half.size());
  const AnsiText b(half.data(), half.size());
  for (auto _ : state) {
    const AnsiText joined = a + b;
    benchmark::DoNotOptimize(joined.Data());
    bench::KeepLogShort();
  }
  Finish(state, 2 * half.size());
}
BENCHMARK(BM_Concatenate_Halves)->Apply(ReportSizes);

}  // namespace
