#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

// All texts inside the program are UTF-8. Lengths and widths count
// characters (code points), as the single-byte files of the outside world do.

std::string Trim(std::string_view s);        // removes blanks and control characters at both ends
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// Letter case of ASCII and of the letters of windows-1252 (ä→Ä, é→É, ...).
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);             // equal ignoring case
int CompareText(std::string_view a, std::string_view b);           // <0, 0, >0 ignoring case
bool StartsText(std::string_view prefix, std::string_view s);      // prefix ignoring case
bool StartsWith(std::string_view s, std::string_view prefix);
bool EndsWith(std::string_view s, std::string_view suffix);
bool Contains(std::string_view s, std::string_view part);

size_t Utf8Length(std::string_view s);
// The first n characters (all of s when it is shorter).
std::string Utf8Left(std::string_view s, size_t n);
// The length in bytes of the first n characters.
size_t Utf8LeftBytes(std::string_view s, size_t n);
// Characters from position start (1-based) on, at most count of them.
std::string Utf8Copy(std::string_view s, size_t start, size_t count = std::string::npos);
std::string Utf8Right(std::string_view s, size_t n);
std::string PadRight(std::string_view s, size_t width, char fill = ' ');  // to width characters
std::string PadLeft(std::string_view s, size_t width, char fill = ' ');
// Splits a UTF-8 text into its characters.
std::vector<std::string> Utf8Chars(std::string_view s);
bool IsValidUtf8(std::string_view s);
// Appends the UTF-8 bytes of one code point.
void AppendUtf8(std::string& out, char32_t cp);

// Numbers read from text: an optional sign followed by decimal digits and
// nothing else (no blanks); anything else is not a number.
std::optional<int64_t> ParseInt(std::string_view s);
int64_t StrToIntDef(std::string_view s, int64_t def);
bool IsDigits(std::string_view s);            // non-empty and only 0-9
// A real number with "." or "," as decimal mark; nullopt when not one.
std::optional<double> ParseDecimal(std::string_view s);

std::string IntToStr(int64_t v);
std::vector<std::string> Split(std::string_view s, char sep);
std::string Join(const std::vector<std::string>& parts, std::string_view sep);
std::string ReplaceAll(std::string s, std::string_view from, std::string_view to);
std::string ReplaceFirst(std::string s, std::string_view from, std::string_view to);
// Lines of a text, split at CR LF, LF or CR; a line end after the last line adds no empty line.
std::vector<std::string> SplitLines(std::string_view s);

} // namespace brenvo
