// Runs the benchmarks and prints their table; exits with 1 when any benchmark reported an error,
// so that a wrong count in a benchmark's own checks fails the run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

class ErrorCountingReporter : public benchmark::ConsoleReporter {
 public:
  explicit ErrorCountingReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) ++errors_;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  int Errors() const { return errors_; }

 private:
  int errors_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The table is coloured only on a terminal. Other formats go to a file: --benchmark_out=FILE
  // with --benchmark_out_format=json or csv.
  const bool terminal = isatty(fileno(stdout)) != 0;
  ErrorCountingReporter reporter(terminal ? benchmark::ConsoleReporter::OO_Defaults
                                          : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (reporter.Errors() != 0) {
    std::fprintf(stderr, "%d benchmark(s) reported an error\n", reporter.Errors());
    return 1;
  }
  return 0;
}
