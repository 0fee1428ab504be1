// Text values: construction, value semantics, search and removal by whole characters, deletion,
// cutting, upper-casing in the adopted code page, and a text left as it was when storage fails.
#include "text/ansi_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "platform/sim/sim_platform.h"
#include "sim_test_support.h"
#include "text/text_error.h"

namespace {

using ::testing::Eq;
using ::testing::Property;
using ::testing::Throws;

constexpr std::size_t kNotFound = AnsiText::kNotFound;

std::string BytesOf(const AnsiText& text) {
  return std::string(text.Data(), text.Length());
}
AnsiText TextOf(const std::string& bytes) {
  return AnsiText(bytes.data(), bytes.size());
}

auto RaisesStatus(platform::HRESULT status) {
  return Throws<TextError>(Property(&TextError::Status, Eq(status)));
}

class AnsiTextTest : public SimTest {};

// Under code page 932: lead bytes 0x81-0x9F and 0xE0-0xFC start a double-byte character.
class AnsiTextDoubleByteTest : public SimTest {
 protected:
  void SetUp() override { UseCodePage(932); }
};

struct FindCase {
  const char* name;
  std::string text;
  std::string pattern;
  std::size_t at;
};

void ExpectFinds(const FindCase* cases, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(TextOf(cases[i].text).Find(TextOf(cases[i].pattern)), cases[i].at);
  }
}

struct RemoveCase {
  const char* name;
  std::string text;
  std::string pattern;
  std::string result;
};

void ExpectRemovals(const RemoveCase* cases, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(cases[i].name);
    AnsiText text = TextOf(cases[i].text);
    text.RemoveAll(TextOf(cases[i].pattern));
    EXPECT_EQ(BytesOf(text), cases[i].result);
  }
}

struct UpperCase {
  const char* name;
  std::string text;
  std::string upper;
};

void ExpectUpperCased(const UpperCase* cases, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(cases[i].name);
    AnsiText text = TextOf(cases[i].text);
    text.MakeUpper();
    EXPECT_EQ(BytesOf(text), cases[i].upper);
  }
}

TEST_F(AnsiTextTest, BuildsFromALiteralOrABufferUpToTheFirstZeroByte) {
  const AnsiText empty;
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_STREQ(empty.Data(), "");

  const AnsiText literal("VURO");
  EXPECT_EQ(literal.Length(), 4u);
  EXPECT_STREQ(literal.Data(), "VURO");

  EXPECT_EQ(BytesOf(AnsiText("AB\0CD", 5)), "AB");
  EXPECT_TRUE(AnsiText("\0AB", 3).IsEmpty());
  const AnsiText front("ABCDEF", 3);
  EXPECT_EQ(BytesOf(front), "ABC");
  EXPECT_EQ(front.Data()[3], '\0');
}

TEST_F(AnsiTextTest, CopiesAreIndependentOfTheirSource) {
  AnsiText source("abc");
  AnsiText copy(source);
  copy.MakeUpper();
  EXPECT_EQ(BytesOf(source), "abc");
  EXPECT_EQ(BytesOf(copy), "ABC");

  AnsiText assigned("a much longer text than the source");
  assigned = source;
  source.Delete(0, 1);
  EXPECT_EQ(BytesOf(assigned), "abc");
  EXPECT_EQ(BytesOf(source), "bc");

  const AnsiText& same = assigned;
  assigned = same;
  EXPECT_EQ(BytesOf(assigned), "abc");

  // Storage kept from a shorter assignment serves a longer one again.
  assigned = "abcdefgh";
  EXPECT_EQ(BytesOf(assigned), "abcdefgh");

  const AnsiText moved(std::move(copy));
  EXPECT_EQ(BytesOf(moved), "ABC");
  EXPECT_TRUE(AnsiText("abc") == AnsiText("abc"));
  EXPECT_TRUE(AnsiText("abc") != AnsiText("abd"));
  EXPECT_TRUE(AnsiText("ab") != AnsiText("abc"));
}

TEST_F(AnsiTextTest, JoinsPieces) {
  EXPECT_EQ(BytesOf(AnsiText("SDK[") + AnsiText("Vuro PDA") + "]"), "SDK[Vuro PDA]");
  EXPECT_TRUE((AnsiText() + AnsiText()).IsEmpty());

  AnsiText doubled("ab");
  doubled += doubled;
  EXPECT_EQ(BytesOf(doubled), "abab");

  // Many small pieces, so that the storage grows several times.
  AnsiText built;
  std::string expected;
  for (int piece = 0; piece < 500; ++piece) {
    const std::string digits = std::to_string(piece);
    built += digits.c_str();
    expected += digits;
  }
  EXPECT_EQ(BytesOf(built), expected);
}

TEST_F(AnsiTextTest, FindsTheLeftmostOccurrence) {
  const FindCase cases[] = {
      {"leftmost of two", "xVUROVURO", "VURO", 1},
      {"at the start", "VURO", "VURO", 0},
      {"at the very end", "abcVURO", "VURO", 3},
      {"letter case matters", "vuro", "VURO", kNotFound},
      {"letters apart", "V U R O", "VURO", kNotFound},
      {"in another order", "ORUV", "VURO", kNotFound},
      {"cut at the end", "abcVUR", "VURO", kNotFound},
      {"pattern longer than the text", "VUR", "VURO", kNotFound},
      {"empty text", "", "VURO", kNotFound},
      {"empty pattern", "abc", "", 0},
      {"0x83 is a single character in 1252", "\x83VURO", "VURO", 1},
  };
  ExpectFinds(cases, std::size(cases));
}

TEST_F(AnsiTextDoubleByteTest, FindsOnlyOnCharacterBoundaries) {
  const FindCase cases[] = {
      {"V as the trail byte of 0x83", "\x83VURO", "VURO", kNotFound},
      {"the same after other characters", "ab\x83VURO", "VURO", kNotFound},
      {"a whole double-byte character before", "\x83VVURO", "VURO", 2},
      {"a lead byte value as the trail byte", "\x81\x81VURO", "VURO", 2},
      {"the third lead byte takes the V", "\x81\x81\x81VURO", "VURO", kNotFound},
      {"a double-byte pattern inside a character", "\x83\x83V", "\x83V", kNotFound},
      {"a double-byte pattern on a boundary", "x\x83V", "\x83V", 1},
      {"half-width katakana are single bytes", "\xB1VURO", "VURO", 1},
      {"a lead byte at the very end", "VURO\x83", "VURO", 0},
  };
  ExpectFinds(cases, std::size(cases));
}

TEST_F(AnsiTextDoubleByteTest, KeepsTheCodePageAdoptedAtStartUp) {
  sim::SetCodePage(1252);
  EXPECT_EQ(AnsiText("\x83VURO").Find("VURO"), kNotFound);
}

TEST_F(AnsiTextTest, RemovesEveryOccurrenceInOnePassWithoutOverlap) {
  const RemoveCase cases[] = {
      {"every occurrence", "VUROxVUROyVURO", "VURO", "xy"},
      {"text joined at a removal is not searched again", "aabcbc", "abc", "abc"},
      {"no overlap", "aaa", "aa", "a"},
      {"left to right", "ababa", "aba", "ba"},
      {"the whole text", "abcabc", "abc", ""},
      {"a part at the end stays", "abcab", "abc", "ab"},
      {"pattern longer than the text", "ab", "abc", "ab"},
      {"empty pattern", "abc", "", "abc"},
      {"empty text", "", "abc", ""},
  };
  ExpectRemovals(cases, std::size(cases));

  AnsiText itself("abc");
  itself.RemoveAll(itself);
  EXPECT_TRUE(itself.IsEmpty());
}

TEST_F(AnsiTextDoubleByteTest, RemovesOnlyOccurrencesOnCharacterBoundaries) {
  const RemoveCase cases[] = {
      {"V as a trail byte", "\x83VURO", "VURO", "\x83VURO"},
      {"only the occurrence on a boundary", "\x83VUROVURO", "VURO", "\x83VURO"},
      {"a double-byte pattern inside a character", "\x83\x83V\x83V", "\x83V", "\x83\x83V"},
      {"double-byte pattern", "x\x82\x60y\x82\x60", "\x82\x60", "xy"},
  };
  ExpectRemovals(cases, std::size(cases));
}

TEST_F(AnsiTextTest, DeletesARangeClampedToTheText) {
  struct DeleteCase {
    std::ptrdiff_t start;
    std::ptrdiff_t count;
    const char* result;
  };
  constexpr std::ptrdiff_t kHuge = PTRDIFF_MAX;
  const DeleteCase cases[] = {
      {0, 2, "cdef"},     {2, 2, "abef"},           {5, 1, "abcde"},  {0, 6, ""},
      {-3, 2, "cdef"},    {2, -1, "abcdef"},        {2, 0, "abcdef"}, {-1, -1, "abcdef"},
      {4, 10, "abcd"},    {3, kHuge, "abc"},        {-5, kHuge, ""},  {6, 1, "abcdef"},
      {100, 1, "abcdef"}, {kHuge, kHuge, "abcdef"},
  };
  for (const DeleteCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "start " << c.start << ", count " << c.count);
    AnsiText text("abcdef");
    text.Delete(c.start, c.count);
    EXPECT_EQ(BytesOf(text), c.result);
    EXPECT_EQ(text.Data()[text.Length()], '\0');
  }

  AnsiText empty;
  empty.Delete(0, 1);
  EXPECT_TRUE(empty.IsEmpty());
}

TEST_F(AnsiTextTest, TruncatesWithinItsLengthOnly) {
  AnsiText text("abcdef");
  text.Truncate(6);
  EXPECT_EQ(BytesOf(text), "abcdef");
  text.Truncate(3);
  EXPECT_EQ(BytesOf(text), "abc");
  EXPECT_STREQ(text.Data(), "abc");

  EXPECT_THAT([&] { text.Truncate(4); }, RaisesStatus(platform::E_INVALIDARG));
  EXPECT_EQ(BytesOf(text), "abc");

  text.Empty();
  EXPECT_TRUE(text.IsEmpty());
  EXPECT_STREQ(text.Data(), "");

  AnsiText never;
  never.Truncate(0);
  never.Empty();
  EXPECT_THAT([&] { never.Truncate(1); }, RaisesStatus(platform::E_INVALIDARG));
}

TEST_F(AnsiTextTest, StorageFailureRaisesAndLeavesTheTextAsItWas) {
  {
    AnsiText text("abc");
    const AnsiText longer("abcdefgh");

    sim::FailAllocation(1);
    EXPECT_THAT([] { AnsiText fresh("xyz"); }, RaisesStatus(platform::E_OUTOFMEMORY));

    sim::FailAllocation(1);
    EXPECT_THAT([&] { text = longer; }, RaisesStatus(platform::E_OUTOFMEMORY));
    EXPECT_EQ(BytesOf(text), "abc");

    sim::FailAllocation(1);
    EXPECT_THAT([&] { text += longer; }, RaisesStatus(platform::E_OUTOFMEMORY));
    EXPECT_EQ(BytesOf(text), "abc");

    sim::FailAllocation(1);
    EXPECT_THAT([&] { text += text; }, RaisesStatus(platform::E_OUTOFMEMORY));
    EXPECT_EQ(BytesOf(text), "abc");

    sim::FailAllocation(2);
    EXPECT_THAT([&] { (void)(text + longer); }, RaisesStatus(platform::E_OUTOFMEMORY));
    EXPECT_EQ(BytesOf(text), "abc");
    EXPECT_EQ(BytesOf(longer), "abcdefgh");

    // Once storage can be had again, the text carries on.
    text += "d";
    EXPECT_EQ(BytesOf(text), "abcd");
  }
  EXPECT_EQ(sim::LiveBlockCount(), 0u);
  EXPECT_THAT(sim::Violations(), testing::IsEmpty());
}

TEST_F(AnsiTextTest, UpperCasesLettersWithCasePairsInCodePage1252) {
  const UpperCase cases[] = {
      {"ASCII", "vuro pda 100!", "VURO PDA 100!"},
      {"mixed case", "VuRo", "VURO"},
      {"accented letters", "\xE0\xE9\xF6\xFE", "\xC0\xC9\xD6\xDE"},
      {"y with diaeresis", "\xFF", "\x9F"},
      {"s, oe and z with caron", "\x9A\x9C\x9E", "\x8A\x8C\x8E"},
      {"sharp s, micro sign and division sign stay", "\xDF\xB5\xF7", "\xDF\xB5\xF7"},
      {"capitals stay", "ABC\xC0\x8A\x9F", "ABC\xC0\x8A\x9F"},
      {"empty", "", ""},
  };
  ExpectUpperCased(cases, std::size(cases));
}

TEST_F(AnsiTextDoubleByteTest, UpperCasesDoubleByteCharactersAsOne) {
  const UpperCase cases[] = {
      {"ASCII", "vuro", "VURO"},
      {"full-width Latin letters", "\x82\x81\x82\x9A", "\x82\x60\x82\x79"},
      {"full-width capitals stay", "\x82\x60", "\x82\x60"},
      {"Greek", "\x83\xBF", "\x83\x9F"},
      {"a trail byte that reads as 'r' stays", "\x83r", "\x83r"},
      {"mixed", "r\x82\x81z\x83r", "R\x82\x60Z\x83r"},
      {"a lead byte at the very end stays", "ab\x82", "AB\x82"},
      {"half-width katakana stay", "\xB1\xB2", "\xB1\xB2"},
  };
  ExpectUpperCased(cases, std::size(cases));
}

TEST_F(AnsiTextDoubleByteTest, StopsAtADoubleByteCharacterTheSystemCannotMap) {
  sim::FailDoubleByteMapping(true);
  const UpperCase cases[] = {
      {"the rest stays", "xy\x82\x81xy", "XY\x82\x81xy"},
      {"at the start", "\x82\x81x", "\x82\x81x"},
      {"no double-byte character", "abc", "ABC"},
      {"only a lead byte at the end", "a\x82", "A\x82"},
  };
  ExpectUpperCased(cases, std::size(cases));
  sim::FailDoubleByteMapping(false);

  // The second double-byte character fails: the first is done, the rest stays.
  AnsiText text("\x82\x81r\x82\x82s");
  sim::FailNth("LCMapStringA", 2);
  text.MakeUpper();
  EXPECT_EQ(BytesOf(text), "\x82\x60R\x82\x82s");
}

}  // namespace
