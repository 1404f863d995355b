#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

// windows-1252 is the character set of everything the billing side writes.
// Conversion of a character that windows-1252 cannot hold fails with an Error
// that names the character; nothing is ever substituted silently.
std::string Utf8ToCp1252(std::string_view utf8);
// Only for texts meant for reading (the accompanying slip): every character
// windows-1252 cannot hold becomes "?", and `replaced` (when given) is set.
// The result is still UTF-8.
std::string Cp1252Representable(std::string_view utf8, bool* replaced = nullptr);
std::string Cp1252ToUtf8(std::string_view bytes);
// True when every character of the text exists in windows-1252; otherwise
// false, and `offending` (when given) receives the first character that does not.
bool IsCp1252Text(std::string_view utf8, std::string* offending = nullptr);
// True when every character is a printable character of ISO 8859-1 (the
// character set "UNOC" of billing files): U+0020 to U+007E and U+00A0 to
// U+00FF. Otherwise false, and `offending` receives the first other one.
bool IsLatin1Text(std::string_view utf8, std::string* offending = nullptr);
// Any of the encodings an XML declaration may name ("UTF-8", "ISO-8859-1",
// "ISO-8859-15", "windows-1252", compared ignoring case) to UTF-8.
std::string ToUtf8(std::string_view bytes, std::string_view encoding);

// Single-byte text files with CR LF line ends, written atomically.
// Each line is followed by CR LF (the last one too).
void WriteCp1252Lines(const std::string& path, const std::vector<std::string>& lines);
// The text is converted as it stands (line ends included).
void WriteCp1252Text(const std::string& path, std::string_view utf8);
// Reads a single-byte file into UTF-8, line ends kept as they are.
std::string ReadCp1252Text(const std::string& path);
std::vector<std::string> ReadCp1252Lines(const std::string& path);

} // namespace brenvo
