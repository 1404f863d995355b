#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace brenvo {

// printf-style formatting as the program's messages and reports use it:
// %s %d %u %x %f %e %g %n (with thousands separators) and %%, each with the
// optional flags "-", width and precision ("%-80s", "%9.9s", "%5.5d", "%5.2f").
// Numbers use the German decimal comma ("%5.2f" of 3.5 gives " 3,50");
// widths and the precision of %s count characters, not bytes.
// A precision on %d pads with zeros to that many digits.
struct FormatArg {
    std::variant<int64_t, double, std::string> v;
    FormatArg(int x) : v(int64_t(x)) {}
    FormatArg(unsigned x) : v(int64_t(x)) {}
    FormatArg(long x) : v(int64_t(x)) {}
    FormatArg(unsigned long x) : v(int64_t(x)) {}
    FormatArg(long long x) : v(int64_t(x)) {}
    FormatArg(unsigned long long x) : v(int64_t(x)) {}
    FormatArg(double x) : v(x) {}
    FormatArg(const char* s) : v(std::string(s)) {}
    FormatArg(std::string s) : v(std::move(s)) {}
    FormatArg(std::string_view s) : v(std::string(s)) {}
};

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args);

// Number patterns with '#', '0', ',' (thousands grouping) and '.' (decimal
// point), written with German separators: FormatFloat("###,##0.00", 1234.5)
// gives "1.234,50"; "#.00" of 0.5 gives ",50". Halves go away from zero on the
// value's 15-digit decimal form.
std::string FormatFloat(std::string_view pattern, double value);

// Digits of a real number rounded to `decimals` places, with "." as the mark
// and no grouping; the shortest form that reads back the same when decimals < 0.
std::string FloatToText(double value, int decimals = -1);

} // namespace brenvo
