#include "listing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "phase_test.h"

namespace {

using ListingTest = PhaseTest;  // for its scratch directory

std::vector<WString> ReadAll(const char* name) {
  ListingStream stream;
  OpenListing(stream, name);
  std::vector<WString> lines;
  WString line;
  while (ReadLine(stream, line)) lines.push_back(line);
  EXPECT_FALSE(ReadLine(stream, line)) << "a finished stream must stay finished";
  CloseListing(stream);
  return lines;
}

TEST_F(ListingTest, ReadsLinesByteForCharacter) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<WString> lines;
  };
  const Case cases[] = {
      {"empty file", "", {}},
      {"CRLF drops the CR", "a\r\nb\r\n", {u"a", u"b"}},
      {"lone CR stays", "a\rb\n\r", {u"a\rb", u"\r"}},
      {"CR CR LF keeps one CR", "a\r\r\n", {u"a\r"}},
      {"last line without LF", "one\ntwo", {u"one", u"two"}},
      {"empty lines between LFs", "\n\nx\n", {u"", u"", u"x"}},
      // devcon prints a Ctrl+Z within a name that a device chose.
      {"Ctrl+Z mid-line is text",
       "a\nbc\x1A"
       "d\nkept\n",
       {u"a", u"bc\u001Ad", u"kept"}},
      {"Ctrl+Z first is text",
       "\x1A"
       "after\n",
       {u"\u001Aafter"}},
      {"CR before Ctrl+Z stays", "a\r\x1A", {u"a\r\u001A"}},
      {"NUL stays in the line", std::string("a\0b\n", 4), {WString(u"a\0b", 3)}},
      {"high bytes map to the same value", "caf\xE9\xFF\x80\n", {u"caf\u00E9\u00FF\u0080"}},
      {"BOM is not special", "\xEF\xBB\xBFid\n", {u"\u00EF\u00BB\u00BFid"}},
      {"UTF-16 BOM is bytes too",
       "\xFF\xFE"
       "a\n",
       {u"\u00FF\u00FEa"}},
  };
  for (const Case& c : cases) {
    WriteFile("listing.txt", c.bytes);
    EXPECT_EQ(ReadAll("listing.txt"), c.lines) << c.name;
  }
}

TEST_F(ListingTest, LinesLongerThanTheBufferAndCrlfAcrossItsEdge) {
  // A CR at the end of one buffer and its LF at the start of the next.
  std::string first(kListingBufferSize - 1, 'x');
  std::string second(3 * kListingBufferSize, 'y');
  WriteFile("long.txt", first + "\r\n" + second + "\r\r\n");
  std::vector<WString> lines = ReadAll("long.txt");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], WString(first.size(), u'x'));
  EXPECT_EQ(lines[1], WString(second.size(), u'y') + u"\r");

  // A Ctrl+Z in a later buffer ends nothing either.
  WriteFile("late.txt", std::string(kListingBufferSize + 5, 'z') +
                            "\x1A"
                            "after\nlast\n");
  lines = ReadAll("late.txt");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), kListingBufferSize + 11);
  EXPECT_EQ(lines[1], u"last");
}

TEST_F(ListingTest, MissingFileGivesNoLines) {
  EXPECT_TRUE(ReadAll("no-such-file.txt").empty());
  ListingStream stream;
  WString line = u"stale";
  EXPECT_FALSE(ReadLine(stream, line)) << "a stream never opened is failed";
}

TEST(TextTest, ReadField) {
  struct Case {
    const char* name;
    WString line;
    size_t start;
    size_t result;
    WString field;  // expected, starting from "before"
  };
  const Case cases[] = {
      {"trimmed name before the bar", u"  nkdev.inf   |rest", 0, 14, u"nkdev.inf"},
      {"no delimiter leaves the field", u"no bar here", 0, kNotFound, u"before"},
      {"start past the end", u"a|b", 4, kNotFound, u"before"},
      {"start at the end", u"a|", 2, kNotFound, u"before"},
      {"delimiter at the start", u"|x", 0, 0, u""},
      {"second field", u"a | b |", 3, 6, u"b"},
      {"inner blanks stay", u" a b |", 0, 5, u"a b"},
      {"tabs are not trimmed", u"\ta\t|", 0, 3, u"\ta\t"},
  };
  for (const Case& c : cases) {
    WString field = u"before";
    EXPECT_EQ(ReadField(c.line, field, u"|", c.start), c.result) << c.name;
    EXPECT_EQ(field, c.field) << c.name;
  }
}

TEST(TextTest, TrimSpaces) {
  struct Case {
    WString in, out;
  };
  const Case cases[] = {
      {u"", u""},           {u"    ", u""},           {u"\ta ", u"\ta"},
      {u"  a b  ", u"a b"}, {u"\r x \r", u"\r x \r"}, {u"\u00A0x\u00A0", u"\u00A0x\u00A0"},
  };
  for (const Case& c : cases) {
    WString text = c.in;
    TrimSpaces(text);
    EXPECT_EQ(text, c.out);
  }
}

TEST(TextTest, FindAndSubstring) {
  struct Case {
    WString text, needle;
    size_t start, result;
  };
  const Case cases[] = {
      {u"\u4E4E", u"N", 0, kNotFound},  // the byte of 'N' inside other units
      {u"\u4E00N", u"N", 0, 1},
      {u"\u004E\u4E00", u"N\u4E00", 0, 0},
      {u"NNakora", u"Nakora", 0, 1},
      {u"Nakor", u"Nakora", 0, kNotFound},
      {u"abc", u"", 3, 3},
      {u"abc", u"", 4, kNotFound},
      {WString(u"a\0b", 3), WString(u"\0b", 2), 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Find(c.text, c.needle, c.start), c.result);
    EXPECT_EQ(Find(c.text, c.needle, c.start), c.text.find(c.needle, c.start));
  }
  EXPECT_EQ(Find(u"abcabc", u"bc"), 1u);
  EXPECT_EQ(Find(u"abcabc", u"bc", 2), 4u);
  EXPECT_EQ(Find(u"abc", u"C"), kNotFound) << "case-sensitive";
  EXPECT_EQ(Find(u"abc", u"a", 3), kNotFound);
  EXPECT_EQ(Find(u"abc", u"a", 99), kNotFound);
  EXPECT_EQ(Substring(u"abcdef", 2, 2), u"cd");
  EXPECT_EQ(Substring(u"abcdef", 2), u"cdef");
  EXPECT_EQ(Substring(u"abc", 3), u"");
}

}  // namespace
