#pragma once

// A reader of ini files as Windows programs write them (DAKOTA's list of
// acceptance offices): "[section]" lines, each followed by "key=value" lines.
//
// - Lines are trimmed; empty lines and lines starting with ';' or '#' are
//   skipped; lines before the first section and lines without '=' are ignored.
// - Section names and keys are compared ignoring letter case. A section name
//   that appears twice is one section (at its first place); of a key given
//   twice in a section the first value counts.
// - Values are trimmed; a value enclosed in double quotes loses them.
// - The text is UTF-8 (a byte-order mark is skipped) or, when it is not
//   valid UTF-8, windows-1252.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brenvo {

struct TIniSection {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Values;   // in file order

    // The value of the key; "" when the section has none.
    std::string Value(std::string_view key) const;
    bool HasValue(std::string_view key) const;
};

// The sections of an ini text, in file order.
std::vector<TIniSection> ParseIniText(std::string_view text);
// The sections of an ini file; fails with the reader's Error when the file
// cannot be read.
std::vector<TIniSection> ReadIniFile(const std::string& path);

} // namespace brenvo
