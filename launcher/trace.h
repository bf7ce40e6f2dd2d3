// The support trace: one line per decision of the run, read with a debug-output viewer. Lines are
// joined from pieces only: text from TS_INF or the registry never becomes a format.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "launcher/system_interface.h"

namespace tessaro {

// One piece of a trace line. Pieces that come from outside (a file, the registry, a path) are
// escaped: control bytes and DEL become \xNN, so that a line feed in a registry value cannot
// start a line of its own and every byte that decided something shows. So do a backslash
// before an "x", a double quote inside a quoted value, and a double-byte lead byte that has no
// plain byte after it: no value can read as an escape, as two values, or swallow its quote.
struct TracePart {
  enum Form { kAsIs, kEscaped, kQuoted };
  // Implicit: a line reads as the list of its pieces.
  TracePart(const char* piece) : text(piece) {}
  TracePart(const std::string& piece) : text(piece) {}
  TracePart(std::string_view piece, Form pieceForm) : text(piece), form(pieceForm) {}
  std::string_view text;
  Form form = kAsIs;
};

// A value from outside, escaped.
inline TracePart Escaped(std::string_view value) { return {value, TracePart::kEscaped}; }
// The same in double quotes, so that an empty value or a trailing blank shows.
inline TracePart Quoted(std::string_view value) { return {value, TracePart::kQuoted}; }

// Hands the pieces, joined, to the trace as one line.
void TraceLine(SystemInterface& system, std::initializer_list<TracePart> parts);

// `value` in decimal digits.
std::string DecimalText(unsigned value);

// A box's answer as the trace names it: "OK", "Cancel", "Retry" or "another button".
const char* AnswerText(int answer);

// Shows a box with a message already loaded and traces the answer.
int ShowTracedMessageBox(SystemInterface& system, unsigned messageId, const std::string& text,
                         unsigned style);

// Shows a message of the string table by its id and traces the answer.
int ShowMessageBox(SystemInterface& system, unsigned messageId, unsigned style);

// Runs a command line through RunAndWait and traces its start and end; the result is
// RunAndWait's, the exit code only goes into the trace.
bool RunAndWaitTraced(SystemInterface& system, const std::string& commandLine);

}  // namespace tessaro
