#include "print_line.h"

#include <gtest/gtest.h>

namespace {

TEST(PrintLineTest, Conversions) {
  struct Case {
    const char* name;
    std::string got, want;
  };
  const Case cases[] = {
      {"narrow", FormatLine("v%s (x)\n", {"1.7"}), "v1.7 (x)\n"},
      {"number", FormatLine("%d|%d", {int32_t{-1}, int32_t{1400}}), "-1|1400"},
      {"wide Latin-1 as bytes", FormatLine("%S", {u"caf\u00E9\u0001\u00FF"}), "caf\xE9\x01\xFF"},
      {"above U+00FF is ?", FormatLine("%S", {u"a\u0100\u20ACb"}), "a??b"},
      {"surrogate pair is ??", FormatLine("%S", {u"\U0001F600"}), "??"},
      {"wide stops at NUL", FormatLine("[%S]", {u"ab\0cd"}), "[ab]"},
      {"percent", FormatLine("100%%", {}), "100%"},
      {"launch failure line",
       FormatLine("\t %s Error Code %d: %S\n", {"\t Failed to launch process", int32_t{2},
                                                u"The system cannot find the file specified.\r\n"}),
       "\t \t Failed to launch process Error Code 2: The system cannot find the file "
       "specified.\r\n\n"},
      {"two wide",
       FormatLine("\t Error deleting registry : %S\\%S\n", {u"Software\\Nakora", u"DrvA"}),
       "\t Error deleting registry : Software\\Nakora\\DrvA\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
}

TEST(PrintLineTest, MissingOrMismatchedArgumentsNeverReadPastThem) {
  EXPECT_EQ(FormatLine("%S and %d", {}), "%S and %d");
  EXPECT_EQ(FormatLine("%d", {"text"}), "(?)");
  EXPECT_EQ(FormatLine("%S", {static_cast<const char16_t*>(nullptr)}), "(null)");
}

}  // namespace
