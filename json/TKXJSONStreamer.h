// The JSON text reader: turns the host's JSON text into a value tree (json/TKXJSON.h).
//
// Input is 8-bit text read as bytes. It is lenient where the host strays from strict JSON:
//   - a leading UTF-8 byte order mark is skipped; every byte 0x00..0x20 is a blank;
//   - commas between elements and members are optional, and one trailing comma is allowed:
//     "[1 2]" and "[1,2,]" both read as (1, 2); "[1,,2]" and "[,1]" fail;
//   - numbers may carry a leading "+" and leading zeros: "+007" is 7; the point is always "."
//     whatever the locale; "1.", ".5" and "-" fail;
//   - strings: a backslash before a single quote gives the quote, before an unknown byte drops
//     both bytes; "\u20AC" stands for the euro sign's code-page byte; a string whose bytes are not
//     UTF-8 is read through the system code page (Windows-1252), decided string by string;
//   - the words true, false and null are lower case only, and need nothing after them;
//   - members with the same name are all kept, the name index giving the first;
//   - text after the first complete value is ignored: "{} x" reads as the empty object.
// Every failure gives no document (nullptr): a syntax error, a bad "\u" escape, a number too
// large for long double, nesting deeper than kMaxDepth containers. Nothing of a failed read
// survives and the caller cannot tell why (tests can: json/TKXJSONStreamerTesting.h). Only
// failures of the text are turned into no document; anything else (memory running out) is
// raised as it is.
//
// Ownership: the caller owns the returned root. A container root owns the arena from which the
// whole tree is drawn (see json/TKXJSON.h). Runs on the calling thread, state kept in the call.
#pragma once

#include <string>
#include <string_view>

#include "json/TKXJSON.h"
#include "util/Files.h"

namespace rb {

class TStream;
struct TJSONReadFailure;
namespace json_testing {
TKXJSONPtr ReadTextExplained(std::string_view text, TJSONReadFailure& failure);
}

class TKXJSONText {};

class TKXJSONStreamer : public TKXJSONText {
 public:
  // Arrays and objects nested deeper than this fail the read instead of exhausting the stack.
  static constexpr int kMaxDepth = 1000;

  static TKXJSONPtr ReadText(std::string_view text);
  // Everything from the stream's position to its end; no stream gives none.
  static TKXJSONPtr ReadStream(TStream* stream);
  // None for a path that is not an existing file. The file is opened for reading, sharing read
  // and write, with the attempts of retry (100, 100 ms apart); the last attempt's EFOpenError
  // propagates.
  static TKXJSONPtr ReadFile(const std::string& path, const RetryPolicy& retry = {});

 private:
  friend TKXJSONPtr json_testing::ReadTextExplained(std::string_view, TJSONReadFailure&);
  class Parser;
  // The read itself; a failure of the text raises the reader's own error.
  static TKXJSONPtr ReadTree(std::string_view text);
};

}  // namespace rb
