// The report parser: the model name and the serial number taken out of the probe's report, for
// every shape of report text, under a double-byte code page, and when storage runs out midway.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>

#include "device/device_connection.h"
#include "platform/sim/sim_platform.h"
#include "sim_test_support.h"
#include "text/ansi_text.h"

namespace {

using ::testing::AnyOf;
using ::testing::IsEmpty;

const std::string kOpening = "<Model_Info><Model>";
const std::string kSeparator = "</Model><Serial_Num>";
const std::string kClosing = "</Serial_Num>";
const std::string kReport = kOpening + "ABC" + kSeparator + "123" + kClosing;

std::string BytesOf(const AnsiText& text) {
  return std::string(text.Data(), text.Length());
}
AnsiText TextOf(const std::string& bytes) {
  return AnsiText(bytes.data(), bytes.size());
}

struct Parsed {
  int result;
  std::string model;
  std::string serial;
};

// Parses into outputs that hold text of their own, so that a parse that fails to overwrite them
// shows.
Parsed Parse(const std::string& report) {
  AnsiText model("stale model");
  AnsiText serial("stale serial");
  const int result = DeviceConnection::ParseReport(TextOf(report), model, serial);
  return {result, BytesOf(model), BytesOf(serial)};
}

struct ReportCase {
  const char* name;
  std::string report;
  std::string model;
  std::string serial;
  int result;
};

void ExpectParses(const ReportCase& c) {
  SCOPED_TRACE(c.name);
  const Parsed parsed = Parse(c.report);
  EXPECT_EQ(parsed.model, c.model);
  EXPECT_EQ(parsed.serial, c.serial);
  EXPECT_EQ(parsed.result, c.result);
}

class ReportParserTest : public SimTest {};

TEST_F(ReportParserTest, ParsesEveryShapeOfReport) {
  const std::string both = kOpening + "ABC" + kSeparator + "123" + kClosing;
  const std::string broken = kOpening + "ABC</Model>\r\n<Serial_Num>123";
  const std::string split = kOpening + "A" + kOpening + "BC" + kSeparator + "123";
  const ReportCase cases[] = {
      {"conforming", both, "ABC", "123", 1},
      {"further text after the closing marker", both + "\r\n", "ABC", "123", 1},
      {"no serial part", kOpening + "ABC</Model>", "", "", 0},
      {"a line break inside the separator", broken + kClosing, "", broken, 0},
      {"no opening marker", "ABC" + kSeparator + "123" + kClosing, "ABC",
       "ABC" + kSeparator + "123", 1},
      {"text before the opening marker", "xy" + both, "xyABC",
       "xy" + kOpening + "ABC" + kSeparator + "123", 1},
      {"empty model name", kOpening + kSeparator + "123" + kClosing, "", "123", 0},
      {"empty serial number", kOpening + "ABC" + kSeparator + kClosing, "ABC", "", 1},
      {"no closing marker", kOpening + "ABC" + kSeparator + "123", "ABC", "", 1},
      {"opening marker twice", kOpening + both, "ABC", kOpening + "123", 1},
      {"opening marker inside the model name", split + kClosing, "ABC", split, 1},
      {"separator inside the serial number",
       kOpening + "ABC" + kSeparator + "1" + kSeparator + "2" + kClosing, "ABC",
       "1" + kSeparator + "2", 1},
      {"markers in lower case", "<model_info><model>ABC</model><serial_num>123</serial_num>", "",
       "", 0},
      {"empty text", "", "", "", 0},
      {"a model name of one space", kOpening + " " + kSeparator + "123" + kClosing, " ", "123", 1},
      {"a line break ending the model name", kOpening + "ABC\r\n" + kSeparator + "123" + kClosing,
       "ABC\r\n", "123", 1},
      {"two reports in a row", both + kOpening + "ABC" + kSeparator + "456" + kClosing, "ABC",
       "123", 1},
  };
  for (const ReportCase& c : cases) ExpectParses(c);
}

// A marker counts only where it begins on a character boundary: a lead byte just before a marker
// takes the marker's first byte into its character. Each report is parsed under both code pages.
TEST_F(ReportParserTest, FindsMarkersOnlyOnCharacterBoundaries) {
  struct CodePageCase {
    platform::UINT codePage;
    ReportCase expected;
  };
  const std::string leadBeforeSeparator = kOpening + "AB\x83" + kSeparator + "123";
  const std::string leadBeforeOpening = "\x83" + kOpening + "ABC";
  const CodePageCase cases[] = {
      {932,
       {"a double-byte model name", kOpening + "\x82\x60\x82\x61" + kSeparator + "123" + kClosing,
        "\x82\x60\x82\x61", "123", 1}},
      {932,
       {"a lead byte value as a trail byte", kOpening + "\x81\x81" + kSeparator + "123" + kClosing,
        "\x81\x81", "123", 1}},
      {932,
       {"the separator inside a character", leadBeforeSeparator + kClosing, "", leadBeforeSeparator,
        0}},
      {1252,
       {"the same report, 0x83 a character of its own", leadBeforeSeparator + kClosing, "AB\x83",
        "123", 1}},
      {932,
       {"the opening marker inside a character", leadBeforeOpening + kSeparator + "123" + kClosing,
        leadBeforeOpening, leadBeforeOpening + kSeparator + "123", 1}},
      {1252,
       {"the same report, 0x83 a character of its own",
        leadBeforeOpening + kSeparator + "123" + kClosing,
        "\x83"
        "ABC",
        leadBeforeOpening + kSeparator + "123", 1}},
      {932,
       {"the closing marker inside a character",
        kOpening + "ABC" + kSeparator + "12\x83" + kClosing, "ABC", "", 1}},
      {1252,
       {"the same report, 0x83 a character of its own",
        kOpening + "ABC" + kSeparator + "12\x83" + kClosing, "ABC", "12\x83", 1}},
  };
  for (const CodePageCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "code page " << c.codePage);
    UseCodePage(c.codePage);
    ExpectParses(c.expected);
  }
}

// Whatever allocation fails, the parse raises nothing, and each output is either complete or
// empty: a parse cut short never passes report text off as a model name.
TEST_F(ReportParserTest, KeepsOnlyCompleteResultsWhenStorageRunsOut) {
  std::size_t allocations = 0;
  {
    AnsiText model;
    AnsiText serial;
    AnsiText text = TextOf(kReport);
    const std::size_t before = sim::AllocationCount();
    ASSERT_EQ(DeviceConnection::ParseReport(std::move(text), model, serial), 1);
    allocations = sim::AllocationCount() - before;
  }
  ASSERT_GT(allocations, 0u);

  for (std::size_t failing = 1; failing <= allocations; ++failing) {
    SCOPED_TRACE(testing::Message() << "allocation " << failing << " of " << allocations);
    {
      AnsiText model("stale model");
      AnsiText serial("stale serial");
      AnsiText text = TextOf(kReport);
      sim::FailAllocation(failing);
      int result = -1;
      EXPECT_NO_THROW(result = DeviceConnection::ParseReport(std::move(text), model, serial));
      EXPECT_EQ(result, model.IsEmpty() ? 0 : 1);
      EXPECT_THAT(BytesOf(model), AnyOf("", "ABC"));
      EXPECT_THAT(BytesOf(serial), AnyOf("", "123"));
      if (failing == 1) {
        EXPECT_EQ(result, 0);
      }
      // The last allocation serves the serial number: the model name found before it stays.
      if (failing == allocations) {
        EXPECT_EQ(BytesOf(model), "ABC");
        EXPECT_EQ(result, 1);
      }
    }
    EXPECT_EQ(sim::LiveBlockCount(), 0u);
  }
  EXPECT_THAT(sim::Violations(), IsEmpty());
}

}  // namespace
