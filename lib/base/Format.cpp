#include "Format.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cmath>
#include <cstdio>

#include "Error.h"
#include "Strings.h"

namespace brenvo {

namespace {

// The decimal digits of |v| rounded to `decimals` places, half away from
// zero, working on the value's 15 significant digits (so that 2.675 rounds
// to 2.68 as a user expects). Returns integer and fraction digits.
void RoundDecimal(double v, int decimals, std::string& intDigits, std::string& fracDigits) {
    v = std::fabs(v);
    intDigits.clear();
    fracDigits.clear();
    if (v == 0.0 || !std::isfinite(v)) {
        intDigits = "0";
        fracDigits.assign(size_t(decimals), '0');
        return;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", v);
    // buf: d.dddddddddddddde[+-]XX
    std::string mant;
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p != '.') mant += *p;
    int exp = std::atoi(p + 1);
    // value = 0.mant × 10^(exp+1)
    int pointPos = exp + 1;            // digits before the decimal point
    int keep = pointPos + decimals;    // significant digits to keep
    std::string digits;
    if (keep < 0) {
        digits = "";
        keep = 0;
    } else if (keep >= int(mant.size())) {
        digits = mant + std::string(size_t(keep) - mant.size(), '0');
    } else {
        digits = mant.substr(0, size_t(keep));
        if (mant[size_t(keep)] >= '5') {
            int i = keep - 1;
            while (i >= 0 && digits[size_t(i)] == '9') {
                digits[size_t(i)] = '0';
                --i;
            }
            if (i >= 0) {
                ++digits[size_t(i)];
            } else {
                digits.insert(digits.begin(), '1');
                ++pointPos;
                ++keep;
            }
        }
    }
    // digits holds `keep` digits; the first pointPos of them are the integer part.
    if (pointPos <= 0) {
        intDigits = "0";
        std::string frac(size_t(-pointPos), '0');
        frac += digits;
        frac.resize(size_t(decimals), '0');
        fracDigits = frac;
    } else {
        if (int(digits.size()) < pointPos) digits.append(size_t(pointPos) - digits.size(), '0');
        intDigits = digits.substr(0, size_t(pointPos));
        fracDigits = digits.substr(size_t(pointPos));
        fracDigits.resize(size_t(decimals), '0');
    }
    size_t nz = intDigits.find_first_not_of('0');
    intDigits = nz == std::string::npos ? "0" : intDigits.substr(nz);
}

bool AllZero(const std::string& a, const std::string& b) {
    return a.find_first_not_of('0') == std::string::npos && b.find_first_not_of('0') == std::string::npos;
}

std::string GroupThousands(const std::string& digits) {
    std::string out;
    int n = int(digits.size());
    for (int i = 0; i < n; ++i) {
        out += digits[size_t(i)];
        int rest = n - 1 - i;
        if (rest > 0 && rest % 3 == 0) out += '.';
    }
    return out;
}

std::string FixedText(double v, int decimals, bool grouping) {
    std::string ip, fp;
    RoundDecimal(v, decimals, ip, fp);
    std::string s;
    if (v < 0 && !AllZero(ip, fp)) s = "-";
    s += grouping ? GroupThousands(ip) : ip;
    if (decimals > 0) s += "," + fp;
    return s;
}

std::string Pad(const std::string& s, int width, bool left) {
    if (width <= 0) return s;
    return left ? PadRight(s, size_t(width)) : PadLeft(s, size_t(width));
}

[[noreturn]] void BadFormat(std::string_view fmt) {
    throw Error("Ungültiges Format oder Argument: \"" + std::string(fmt) + "\"");
}

} // namespace

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args) {
    std::string out;
    auto it = args.begin();
    size_t i = 0;
    while (i < fmt.size()) {
        char c = fmt[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        ++i;
        if (i < fmt.size() && fmt[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        bool left = false;
        if (i < fmt.size() && fmt[i] == '-') {
            left = true;
            ++i;
        }
        int width = -1, prec = -1;
        if (i < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[i]))) {
            width = 0;
            while (i < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[i]))) width = width * 10 + (fmt[i++] - '0');
        }
        if (i < fmt.size() && fmt[i] == '.') {
            ++i;
            prec = 0;
            while (i < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[i]))) prec = prec * 10 + (fmt[i++] - '0');
        }
        if (i >= fmt.size()) BadFormat(fmt);
        char type = char(std::tolower(static_cast<unsigned char>(fmt[i++])));
        if (it == args.end()) BadFormat(fmt);
        const FormatArg& a = *it++;
        std::string piece;
        switch (type) {
        case 'd':
        case 'u': {
            if (!std::holds_alternative<int64_t>(a.v)) BadFormat(fmt);
            int64_t v = std::get<int64_t>(a.v);
            uint64_t mag = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
            std::string digits = std::to_string(mag);
            if (prec > int(digits.size())) digits.insert(0, size_t(prec) - digits.size(), '0');
            piece = (v < 0 ? "-" : "") + digits;
            break;
        }
        case 'x': {
            if (!std::holds_alternative<int64_t>(a.v)) BadFormat(fmt);
            char buf[32];
            std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(std::get<int64_t>(a.v)));
            piece = buf;
            if (prec > int(piece.size())) piece.insert(0, size_t(prec) - piece.size(), '0');
            break;
        }
        case 's': {
            if (std::holds_alternative<std::string>(a.v)) piece = std::get<std::string>(a.v);
            else if (std::holds_alternative<int64_t>(a.v)) piece = std::to_string(std::get<int64_t>(a.v));
            else BadFormat(fmt);
            if (prec >= 0) piece = Utf8Left(piece, size_t(prec));
            break;
        }
        case 'f':
        case 'n': {
            double v;
            if (std::holds_alternative<double>(a.v)) v = std::get<double>(a.v);
            else if (std::holds_alternative<int64_t>(a.v)) v = double(std::get<int64_t>(a.v));
            else BadFormat(fmt);
            piece = FixedText(v, prec < 0 ? 2 : prec, type == 'n');
            break;
        }
        case 'e':
        case 'g': {
            double v;
            if (std::holds_alternative<double>(a.v)) v = std::get<double>(a.v);
            else if (std::holds_alternative<int64_t>(a.v)) v = double(std::get<int64_t>(a.v));
            else BadFormat(fmt);
            char f[16], buf[64];
            std::snprintf(f, sizeof f, "%%.%d%c", prec < 0 ? (type == 'e' ? 15 : 15) : prec, type);
            std::snprintf(buf, sizeof buf, f, v);
            piece = ReplaceAll(buf, ".", ",");
            break;
        }
        default:
            BadFormat(fmt);
        }
        out += Pad(piece, width, left);
    }
    return out;
}

std::string FormatFloat(std::string_view pattern, double value) {
    // Only the first section of a ';'-separated pattern is used.
    std::string_view pat = pattern.substr(0, pattern.find(';'));
    size_t first = pat.find_first_of("#0.,");
    size_t last = pat.find_last_of("#0.,");
    if (first == std::string_view::npos) return std::string(pat);
    std::string_view prefix = pat.substr(0, first);
    std::string_view suffix = pat.substr(last + 1);
    std::string_view body = pat.substr(first, last - first + 1);
    size_t dot = body.find('.');
    std::string_view intPart = body.substr(0, dot);
    std::string_view fracPart = dot == std::string_view::npos ? std::string_view() : body.substr(dot + 1);
    bool grouping = intPart.find(',') != std::string_view::npos;
    int minInt = 0;
    for (char c : intPart)
        if (c == '0') ++minInt;
    int fracRequired = 0, fracMax = 0;
    for (char c : fracPart) {
        if (c == '0') {
            ++fracMax;
            fracRequired = fracMax;
        } else if (c == '#') {
            ++fracMax;
        }
    }
    std::string ip, fp;
    RoundDecimal(value, fracMax, ip, fp);
    bool negative = value < 0 && !AllZero(ip, fp);
    while (int(fp.size()) > fracRequired && !fp.empty() && fp.back() == '0') fp.pop_back();
    if (ip == "0") ip.clear();
    if (int(ip.size()) < minInt) ip.insert(0, size_t(minInt) - ip.size(), '0');
    std::string s(prefix);
    if (negative) s += '-';
    s += grouping ? GroupThousands(ip) : ip;
    if (!fp.empty()) s += "," + fp;
    s += suffix;
    return s;
}

std::string FloatToText(double value, int decimals) {
    if (decimals < 0) {
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, value);
        return std::string(buf, r.ptr);
    }
    std::string ip, fp;
    RoundDecimal(value, decimals, ip, fp);
    std::string s;
    if (value < 0 && !AllZero(ip, fp)) s = "-";
    s += ip;
    if (decimals > 0) s += "." + fp;
    return s;
}

} // namespace brenvo
