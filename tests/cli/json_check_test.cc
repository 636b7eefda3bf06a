// The strict JSON reader itself: it must refuse what a JSON text may not
// hold, and decode what it may, or the tests that rely on it prove nothing.
#include "tests/cli/json_check.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct JsonCheckRow {
  const char* what;
  std::string text;
  bool valid;
};

TEST(CliJsonCheckTest, AcceptsOnlyJson) {
  const JsonCheckRow rows[] = {
      {"empty object", "{}", true},
      {"blanks around everything", " { \"a\" : 1 , \"b\" : \"x\" } ", true},
      {"numbers", "{\"a\":0,\"b\":-12,\"c\":1.5,\"d\":2e10,\"e\":3.25E-2}", true},
      {"escapes", R"({"a":"\" \\ \/ \b \f \n \r \t \u00e9 \ud83d\ude00"})", true},
      {"UTF-8 as it is", "{\"a\":\"caf\xC3\xA9\"}", true},
      {"nothing", "", false},
      {"an array", "[1]", false},
      {"a trailing comma", "{\"a\":1,}", false},
      {"a name twice", "{\"a\":1,\"a\":2}", false},
      {"a bare word", "{\"a\":true}", false},
      {"a leading zero", "{\"a\":01}", false},
      {"a bare full stop", "{\"a\":1.}", false},
      {"an exponent without digits", "{\"a\":1e}", false},
      {"a plus sign", "{\"a\":+1}", false},
      {"single quotes", "{'a':1}", false},
      {"a raw line feed", "{\"a\":\"x\ny\"}", false},
      {"a raw tab", "{\"a\":\"x\ty\"}", false},
      {"an unknown escape", R"({"a":"\x41"})", false},
      {"a short \\u", R"({"a":"\u12"})", false},
      {"a lone high surrogate", R"({"a":"\ud83d x"})", false},
      {"a lone low surrogate", R"({"a":"\ude00"})", false},
      {"not UTF-8", "{\"a\":\"caf\xE9\"}", false},
      {"an unclosed string", "{\"a\":\"x}", false},
      {"text after the object", "{} x", false},
  };
  for (const JsonCheckRow& row : rows) {
    const cli_test::JsonObject object = cli_test::readJsonObject(row.text);
    EXPECT_EQ(object.valid, row.valid) << row.what << ": " << object.error;
  }
}

TEST(CliJsonCheckTest, DecodesStringsAndKeepsNumbersAsWritten) {
  const cli_test::JsonObject object =
      cli_test::readJsonObject(R"({"n":-1.50,"s":"a\"b\u00e9\ud83d\ude00\n"})");
  ASSERT_TRUE(object.valid) << object.error;
  EXPECT_EQ(object.numbers.at("n"), "-1.50");
  EXPECT_EQ(object.strings.at("s"), "a\"b\xC3\xA9\xF0\x9F\x98\x80\n");
}

}  // namespace
