#include "script/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/fixtures.h"

namespace ssa {
namespace {

// Texts with NUL bytes are "..."sv literals, so their length is exact. A NUL
// followed by a digit is written "\000", so the digit is not read into the escape.
using namespace std::string_view_literals;

// Quotes a byte string with its NUL and control bytes visible.
std::string show(std::string_view text) { return testing::PrintToString(std::string(text)); }

TEST(TrimTest, Table) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"  abc \r\n", "abc"},
      {"\tabc ", "\tabc"},
      {" a b ", "a b"},
      {"abc", "abc"},
      {" a", "a"},
      {"a ", "a"},
      {"\r\nabc\n\r", "abc"},
      // Tab is not trimmable.
      {" \t ", "\t"},
      {"\t", "\t"},
      // Only trimmable bytes: the last one stays.
      {"   ", " "},
      {" ", " "},
      {" \r\n", "\n"},
      {"\r\n ", " "},
      {"", ""},
      // One byte stays whatever it is.
      {"\n", "\n"},
      {"x", "x"},
      // NUL is trimmable at the ends and ordinary inside.
      {"\0abc\0"sv, "abc"},
      {"a\0b"sv, "a\0b"sv},
      {"\0 a\0b \0"sv, "a\0b"sv},
      {"\0"sv, "\0"sv},
      {" \r\n\0"sv, "\0"sv},
      {"\0\0"sv, "\0"sv},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trim(c.text), c.expected) << "text " << show(c.text);
  }
}

TEST(TrimTest, ReturnsViewIntoItsArgument) {
  const std::string text = "  abc  ";
  const std::string_view trimmed = trim(text);
  EXPECT_EQ(trimmed.data(), text.data() + 2);
  EXPECT_EQ(trimmed.size(), 3u);
}

TEST(TokenizeTest, Table) {
  struct Case {
    std::string_view delimiters;
    std::string_view text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {",", "a,b,,c,", {"a", "b", "c"}},
      {",", " x , y ", {"x", "y"}},
      {",", "a, ,b", {"a", " ", "b"}},
      {",", "a,,b", {"a", "b"}},
      {",", ",,,", {}},
      {",", "", {}},
      {",", "abc", {"abc"}},
      {",", ",a", {"a"}},
      {",", "   ,x", {" ", "x"}},
      {"\r\n", "L1\r\nL2\n\nL3\r", {"L1", "L2", "L3"}},
      {"\r\n", "\r\n\r\n", {}},
      {"\r\n", "a\rb\nc\r\nd", {"a", "b", "c", "d"}},
      {"\r\n", "  \n x\t\n", {" ", "x\t"}},
      // NUL bytes are trimmed at the ends of a piece, kept inside.
      {",", "a\0,b"sv, {"a", "b"}},
      {",", "\0,\0"sv, {std::string("\0", 1), std::string("\0", 1)}},
      {",", "a\0b,c"sv, {std::string("a\0b", 3), "c"}},
      // A NUL in the delimiter set is a delimiter like any other byte.
      {"\0"sv, "a\0b\0\0c"sv, {"a", "b", "c"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tokenize(c.delimiters, c.text), c.expected)
        << "delimiters " << show(c.delimiters) << " text " << show(c.text);
  }
}

TEST(ParseLeadingDigitsTest, Table) {
  struct Case {
    std::string_view text;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"12.5", 12},
      {" 20", 0},
      {"-5", 0},
      {"+5", 0},
      {"abc", 0},
      {"", 0},
      {"007", 7},
      {"20pt", 20},
      {"4294967295", 4294967295u},
      // Wraps modulo 2^32.
      {"4294967296", 0},
      {"4294967306", 10},
      {"1\0 2"sv, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseLeadingDigits(c.text), c.expected) << "text " << show(c.text);
  }
}

TEST(RelativeFontSizeTest, Table) {
  for (const auto& [text, expected] : fixtures::kRelativeFontSizes) {
    EXPECT_EQ(relativeFontSize(text), expected) << "text " << show(text);
  }
}

TEST(ConvertColourTest, Table) {
  for (const auto& [text, expected] : fixtures::kColours) {
    EXPECT_EQ(convertColour(text), expected) << "text " << show(text);
  }
}

TEST(ReorderHexColourTest, Table) {
  struct Case {
    std::string_view digits;
    std::string expected;
  };
  const Case cases[] = {
      {"12", "120000"},
      {"3412", "123400"},
      {"563412", "123456"},
      {"", ""},
      {"1", ""},
      {"123", ""},
      {"12345", ""},
      {"1234567", ""},
      {"12345678", ""},
      {"1234567890", ""},
      // Neither checked to be hexadecimal nor changed in case.
      {"zz", "zz0000"},
      {"ab", "ab0000"},
      {"c0ffee", "eeffc0"},
      {"\0\0"sv, std::string(2, '\0') + "0000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reorderHexColour(c.digits), c.expected) << "digits " << show(c.digits);
  }
}

TEST(DecimalColourTest, Table) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"255", "FF0000"},
      {"65280", "00FF00"},
      {"16711680", "0000FF"},
      {"16777215", "FFFFFF"},
      {"1234567", "87D612"},
      {"0", "000000"},
      {"0255", "FF0000"},
      {"-1", "FFFFFF"},
      {"-256", "00FFFF"},
      {"+65280", "00FF00"},
      {"-0", "000000"},
      // The top byte is ignored.
      {"16777216", "000000"},
      {"12abc", "0C0000"},
      {"0x00FF00", "000000"},
      // White space as "%d" skips it.
      {" \t\n\v\f\r255", "FF0000"},
      {"abc", ""},
      {"", ""},
      {" ", ""},
      {"+", ""},
      {"-", ""},
      {"+-1", ""},
      {"- 1", ""},
      // NUL is not white space, and it ends the number.
      {"\000255"sv, ""},
      {"25\0005"sv, "190000"},
      // The 32-bit limits, and clamping beyond them.
      {"2147483647", "FFFFFF"},
      {"-2147483648", "000000"},
      {"2147483648", "FFFFFF"},
      {"4294967296", "FFFFFF"},
      {"99999999999999999999999", "FFFFFF"},
      {"-2147483649", "000000"},
      {"-4294967295", "000000"},
      {"-99999999999999999999999", "000000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decimalColour(c.text), c.expected) << "text " << show(c.text);
  }
}

TEST(OverrideColourTest, Table) {
  struct Case {
    std::string_view block;
    std::string expected;
  };
  const Case cases[] = {
      {"{\\c&HFF8000&}", "0080FF"},
      {"{\\1c&HFF8000&}", "0080FF"},
      {"{\\c&HFF&}", "FF0000"},
      {"{\\c&HF&}", ""},
      {"{\\c16777215}", "FFFFFF"},
      {"{\\3c&HFF8000&}", ""},
      {"{\\1c&H0000FF&}", "FF0000"},
      {"{\\c&H80FF&}", "FF8000"},
      {"{\\C&HFF8000&}", ""},
      {"{\\b1\\c&HFF&}", ""},
      // No closing brace.
      {"{\\c&HFF8000&", ""},
      // The colour text ends at the first closing brace.
      {"{\\c255}abc}", "FF0000"},
      {"{\\c}{\\c&HFF&}", ""},
      {"{\\c&HFF8000&\\b1}", ""},
      {"{\\1c255}", ""},
      {"{\\c  255}", "FF0000"},
      {"{\\c&H\0\0&}"sv, std::string(2, '\0') + "0000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(overrideColour(c.block), c.expected) << "block " << show(c.block);
  }
}

}  // namespace
}  // namespace ssa
