#include "Strings.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace brenvo {

namespace {

bool IsTrimChar(unsigned char c) { return c <= ' '; }

// Decodes one UTF-8 sequence at s[i]; returns the code point and advances i.
// A malformed byte is taken as a code point of its own.
char32_t NextCodePoint(std::string_view s, size_t& i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) {
        ++i;
        return c;
    }
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k) {
        unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) {
            ++i;
            return c;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    i += len;
    return cp;
}

// Case mapping of the letters windows-1252 holds.
char32_t ToUpperCp(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
    if (c == 0xFF) return 0x178;   // ÿ → Ÿ
    if (c == 0x161) return 0x160;  // š → Š
    if (c == 0x153) return 0x152;  // œ → Œ
    if (c == 0x17E) return 0x17D;  // ž → Ž
    return c;
}

char32_t ToLowerCp(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
    if (c == 0x178) return 0xFF;
    if (c == 0x160) return 0x161;
    if (c == 0x152) return 0x153;
    if (c == 0x17D) return 0x17E;
    return c;
}

template <typename F>
std::string MapCase(std::string_view s, F f) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += char(f(c));
            ++i;
        } else {
            AppendUtf8(out, f(NextCodePoint(s, i)));
        }
    }
    return out;
}

} // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string TrimLeft(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && IsTrimChar(static_cast<unsigned char>(s[b]))) ++b;
    return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
    size_t e = s.size();
    while (e > 0 && IsTrimChar(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && IsTrimChar(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && IsTrimChar(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

std::string UpperCase(std::string_view s) { return MapCase(s, ToUpperCp); }
std::string LowerCase(std::string_view s) { return MapCase(s, ToLowerCp); }

int CompareText(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t ca, cb;
        unsigned char ua = static_cast<unsigned char>(a[i]), ub = static_cast<unsigned char>(b[j]);
        if (ua < 0x80) { ca = ua; ++i; } else { ca = NextCodePoint(a, i); }
        if (ub < 0x80) { cb = ub; ++j; } else { cb = NextCodePoint(b, j); }
        ca = ToUpperCp(ca);
        cb = ToUpperCp(cb);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

bool SameText(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

bool StartsText(std::string_view prefix, std::string_view s) {
    size_t i = 0, j = 0;
    while (i < prefix.size()) {
        if (j >= s.size()) return false;
        char32_t cp = ToUpperCp(NextCodePoint(prefix, i));
        char32_t cs = ToUpperCp(NextCodePoint(s, j));
        if (cp != cs) return false;
    }
    return true;
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool Contains(std::string_view s, std::string_view part) { return s.find(part) != std::string_view::npos; }

size_t Utf8Length(std::string_view s) {
    size_t n = 0, i = 0;
    while (i < s.size()) {
        NextCodePoint(s, i);
        ++n;
    }
    return n;
}

size_t Utf8LeftBytes(std::string_view s, size_t n) {
    size_t i = 0, k = 0;
    while (i < s.size() && k < n) {
        NextCodePoint(s, i);
        ++k;
    }
    return i;
}

std::string Utf8Left(std::string_view s, size_t n) { return std::string(s.substr(0, Utf8LeftBytes(s, n))); }

std::string Utf8Copy(std::string_view s, size_t start, size_t count) {
    if (start < 1) start = 1;
    size_t i = 0, k = 1;
    while (i < s.size() && k < start) {
        NextCodePoint(s, i);
        ++k;
    }
    if (count == std::string::npos) return std::string(s.substr(i));
    return Utf8Left(s.substr(i), count);
}

std::string Utf8Right(std::string_view s, size_t n) {
    size_t len = Utf8Length(s);
    if (n >= len) return std::string(s);
    return Utf8Copy(s, len - n + 1);
}

std::string PadRight(std::string_view s, size_t width, char fill) {
    std::string out(s);
    size_t len = Utf8Length(s);
    if (len < width) out.append(width - len, fill);
    return out;
}

std::string PadLeft(std::string_view s, size_t width, char fill) {
    size_t len = Utf8Length(s);
    std::string out;
    if (len < width) out.assign(width - len, fill);
    out += s;
    return out;
}

std::vector<std::string> Utf8Chars(std::string_view s) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        size_t b = i;
        NextCodePoint(s, i);
        out.emplace_back(s.substr(b, i - b));
    }
    return out;
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        // Runs of ASCII, eight bytes at a time.
        uint64_t word;
        while (i + sizeof word <= s.size()) {
            std::memcpy(&word, s.data() + i, sizeof word);
            if (word & 0x8080808080808080ULL) break;
            i += sizeof word;
        }
        if (i == s.size()) break;
        unsigned char c = static_cast<unsigned char>(s[i]);
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        if (len == 2 && c < 0xC2) return false;
        for (int k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

std::optional<int64_t> ParseInt(std::string_view s) {
    if (s.empty()) return std::nullopt;
    size_t i = 0;
    bool neg = false;
    if (s[0] == '+' || s[0] == '-') {
        neg = s[0] == '-';
        i = 1;
    }
    if (i >= s.size()) return std::nullopt;
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        uint64_t nv = v * 10 + uint64_t(s[i] - '0');
        if (nv / 10 != v || nv > uint64_t(INT64_MAX) + (neg ? 1 : 0)) return std::nullopt;
        v = nv;
    }
    return neg ? int64_t(0 - v) : int64_t(v);
}

int64_t StrToIntDef(std::string_view s, int64_t def) {
    auto v = ParseInt(s);
    return v ? *v : def;
}

bool IsDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

std::optional<double> ParseDecimal(std::string_view s) {
    std::string t = Trim(s);
    if (t.empty()) return std::nullopt;
    int marks = 0;
    for (char& c : t) {
        if (c == ',') c = '.';
        if (c == '.') ++marks;
        else if (!((c >= '0' && c <= '9') || c == '-' || c == '+' || c == 'e' || c == 'E')) return std::nullopt;
    }
    if (marks > 1) return std::nullopt;
    const char* b = t.data();
    if (*b == '+') ++b;
    double v = 0;
    auto r = std::from_chars(b, t.data() + t.size(), v);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
    return v;
}

std::string IntToStr(int64_t v) { return std::to_string(v); }

std::vector<std::string> Split(std::string_view s, char sep) {
    std::vector<std::string> out;
    size_t b = 0;
    while (true) {
        size_t e = s.find(sep, b);
        if (e == std::string_view::npos) {
            out.emplace_back(s.substr(b));
            break;
        }
        out.emplace_back(s.substr(b, e - b));
        b = e + 1;
    }
    return out;
}

std::string Join(const std::vector<std::string>& parts, std::string_view sep) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += sep;
        out += parts[i];
    }
    return out;
}

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
    if (from.empty()) return s;
    size_t pos = 0;
    while ((pos = s.find(from, pos)) != std::string::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
    }
    return s;
}

std::string ReplaceFirst(std::string s, std::string_view from, std::string_view to) {
    if (from.empty()) return s;
    size_t pos = s.find(from);
    if (pos != std::string::npos) s.replace(pos, from.size(), to);
    return s;
}

std::vector<std::string> SplitLines(std::string_view s) {
    std::vector<std::string> out;
    size_t b = 0, i = 0;
    while (i < s.size()) {
        if (s[i] == '\r' || s[i] == '\n') {
            out.emplace_back(s.substr(b, i - b));
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
            ++i;
            b = i;
        } else {
            ++i;
        }
    }
    if (b < s.size()) out.emplace_back(s.substr(b));
    return out;
}

} // namespace brenvo
