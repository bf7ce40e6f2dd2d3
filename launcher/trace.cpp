#include "launcher/trace.h"

namespace tessaro {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendEscaped(std::string& to, std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      to += "\\x";
      to += kHexDigits[byte >> 4];
      to += kHexDigits[byte & 0xf];
    } else {
      to += c;
    }
  }
}

const char* AnswerText(int answer) {
  switch (answer) {
    case kIdOk:
      return "OK";
    case kIdCancel:
      return "Cancel";
    case kIdRetry:
      return "Retry";
    default:
      return "another button";
  }
}

}  // namespace

void TraceLine(SystemInterface& system, std::initializer_list<TracePart> parts) {
  std::string line;
  for (const TracePart& part : parts) {
    if (part.form == TracePart::kAsIs) {
      line += part.text;
      continue;
    }
    if (part.form == TracePart::kQuoted) line += '"';
    AppendEscaped(line, part.text);
    if (part.form == TracePart::kQuoted) line += '"';
  }
  system.Trace(line);
}

std::string DecimalText(unsigned value) {
  char digits[10];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::string text;
  while (count != 0) text += digits[--count];
  return text;
}

int ShowTracedMessageBox(SystemInterface& system, unsigned messageId, const std::string& text,
                         unsigned style) {
  const int answer = system.ShowMessageBox(text, style);
  TraceLine(system, {"message ", DecimalText(messageId), " shown, answer ", AnswerText(answer)});
  return answer;
}

int ShowMessageBox(SystemInterface& system, unsigned messageId, unsigned style) {
  return ShowTracedMessageBox(system, messageId, system.LoadMessageText(messageId), style);
}

bool RunAndWaitTraced(SystemInterface& system, const std::string& commandLine) {
  // Traced before the wait too: the wait may last as long as an installation, and a viewer
  // then already shows what the launcher waits for.
  TraceLine(system, {"starting ", Escaped(commandLine)});
  std::optional<unsigned> exitCode;
  const bool started = system.RunAndWait(commandLine, exitCode);
  if (!started) {
    system.Trace("could not be started");
  } else if (exitCode) {
    TraceLine(system, {"ended with exit code ", DecimalText(*exitCode)});
  } else {
    system.Trace("ended, exit code not readable");
  }
  return started;
}

}  // namespace tessaro
