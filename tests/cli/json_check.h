// A strict reader of one JSON text (RFC 8259) of the shape subrite-host's
// JSON lines have: an object whose members are strings and numbers.
//   object  = ws "{" ws [member *(ws "," ws member)] ws "}" ws
//   member  = string ws ":" ws (string / number)
//   string  = quotation mark, then characters other than the quotation
//             mark, the backslash and U+0000 to U+001F, or escapes (\" \\ \/
//             \b \f \n \r \t \uXXXX, a surrogate only in a pair), in valid
//             UTF-8, then a quotation mark
//   number  = ["-"] ("0" / 1-9 *DIGIT) ["." 1*DIGIT] [("e"/"E") ["+"/"-"] 1*DIGIT]
// A name may not come twice.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace cli_test {

struct JsonObject {
  bool valid = false;
  std::string error;                           // what broke the form, with its byte offset
  std::map<std::string, std::string> strings;  // string members, decoded to UTF-8
  std::map<std::string, std::string> numbers;  // number members, as written
};

JsonObject readJsonObject(std::string_view text);

}  // namespace cli_test
