// The support trace: one line per decision of the run, read with a debug-output viewer. Lines are
// joined from pieces only: text from TS_INF or the registry never becomes a format.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

#include "launcher/system_interface.h"

namespace tessaro {

// One piece of a trace line. Only the launcher's own words go in as they are: a string literal,
// a number, a message's name. Text from outside (a file, the registry, a path) has no way in but
// Escaped or Quoted: control bytes and DEL become \xNN, so that a line feed in a registry value
// cannot start a line of its own and every byte that decided something shows. So do a backslash
// before an "x", a double quote inside a quoted value, and a double-byte lead byte that has no
// plain byte after it: no value can read as an escape, as two values, or swallow its quote.
class TracePart {
 public:
  // Implicit: a line reads as the list of its pieces.
  template <std::size_t N>
  TracePart(const char (&literal)[N]) : text_(literal), value_(N - 1) {}
  // A filled buffer is outside text, however it was declared.
  template <std::size_t N>
  TracePart(char (&buffer)[N]) = delete;
  TracePart(unsigned number) : value_(number), form_(kNumber) {}

  friend TracePart Escaped(std::string_view value);
  friend TracePart Quoted(std::string_view value);
  friend TracePart MessageName(unsigned messageId);
  friend void TraceLine(SystemInterface& system, std::initializer_list<TracePart> parts);

 private:
  enum Form : unsigned char { kAsIs, kNumber, kMessage, kEscaped, kQuoted };
  TracePart(std::string_view text, Form form)
      : text_(text.data()), value_(text.size()), form_(form) {}
  TracePart(unsigned number, Form form) : value_(number), form_(form) {}

  // Kept small: every line builds its pieces in place.
  const char* text_ = nullptr;
  std::size_t value_ = 0;  // the text's length, or the number
  Form form_ = kAsIs;
};

// A value from outside, escaped.
inline TracePart Escaped(std::string_view value) { return {value, TracePart::kEscaped}; }
// The same in double quotes, so that an empty value or a trailing blank shows.
inline TracePart Quoted(std::string_view value) { return {value, TracePart::kQuoted}; }
// "message <id>", as every line that names a box says it.
inline TracePart MessageName(unsigned messageId) { return {messageId, TracePart::kMessage}; }
// One of two pieces: a choice between two of the launcher's own texts stays a piece of its own.
inline TracePart Either(bool condition, TracePart ifTrue, TracePart ifFalse) {
  return condition ? ifTrue : ifFalse;
}

// Hands the pieces, joined, to the trace as one line: the one way into the trace.
void TraceLine(SystemInterface& system, std::initializer_list<TracePart> parts);

// A box's answer by its button's name, which support reads without Windows' answer numbers.
TracePart AnswerText(int answer);

}  // namespace tessaro
