#include "launcher/trace.h"

#include "launcher/decimal_text.h"

namespace tessaro {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Whether the byte at `i` cannot stand as itself: a control byte or DEL; in a quoted value the
// quote that would seem to end it; a backslash that would seem to start an escape. Other
// backslashes stay, so that paths read as paths.
bool MustEscape(std::string_view text, std::size_t i, bool quoted) {
  const auto byte = static_cast<unsigned char>(text[i]);
  if (byte < 0x20 || byte == 0x7f) return true;
  if (byte == '"') return quoted;
  return byte == '\\' && i + 1 < text.size() && text[i + 1] == 'x';
}

void AppendHexEscape(std::string& to, char c) {
  const auto byte = static_cast<unsigned char>(c);
  to += "\\x";
  to += kHexDigits[byte >> 4];
  to += kHexDigits[byte & 0xf];
}

void AppendEscaped(std::string& to, std::string_view text, bool quoted,
                   const LeadByteTable& leadBytes) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (leadBytes[static_cast<unsigned char>(text[i])]) {
      // A lead byte left bare before an escape (or before the closing quote) would join the
      // escape's backslash, or the quote, into one character in a double-byte viewer.
      if (i + 1 < text.size() && !MustEscape(text, i + 1, quoted)) {
        to += text[i];
        to += text[++i];
      } else {
        AppendHexEscape(to, text[i]);
      }
    } else if (MustEscape(text, i, quoted)) {
      AppendHexEscape(to, text[i]);
    } else {
      to += text[i];
    }
  }
}

}  // namespace

TracePart AnswerText(int answer) {
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

void TraceLine(SystemInterface& system, std::initializer_list<TracePart> parts) {
  std::string line;
  LeadByteTable leadBytes;
  bool leadBytesKnown = false;
  for (const TracePart& part : parts) {
    switch (part.form_) {
      case TracePart::kAsIs:
        line.append(part.text_, part.value_);
        continue;
      case TracePart::kMessage:
        line += "message ";
        [[fallthrough]];
      case TracePart::kNumber:
        line += DecimalText(static_cast<unsigned>(part.value_));
        continue;
      case TracePart::kEscaped:
      case TracePart::kQuoted:
        break;
    }
    if (!leadBytesKnown) {
      leadBytes = system.AnsiLeadBytes();
      leadBytesKnown = true;
    }
    const bool quoted = part.form_ == TracePart::kQuoted;
    if (quoted) line += '"';
    AppendEscaped(line, std::string_view(part.text_, part.value_), quoted, leadBytes);
    if (quoted) line += '"';
  }
  system.Trace(line);
}

}  // namespace tessaro
