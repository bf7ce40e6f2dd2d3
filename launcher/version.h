#pragma once

#include <string>
#include <string_view>

namespace tessaro {

// Reads a number the way the C runtime's "%d" does: leading white space, an optional sign,
// then digits up to the first non-digit; 0 when no digit follows. Values outside int are
// clamped to INT_MIN / INT_MAX so that an over-long field still compares consistently.
int ReadDecimalField(std::string_view text);

// Removes the leading field (and its ".") from `text` and returns its value.
int TakeVersionField(std::string& text);

// True when the two dotted versions differ. Only the installed version's fields are walked.
bool VersionsDiffer(std::string packageVersion, std::string installedVersion);

}  // namespace tessaro
