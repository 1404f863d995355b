#include "Cp1252.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iconv.h>

#include "Error.h"
#include "Files.h"
#include "Strings.h"

namespace brenvo {

namespace {

// One conversion through iconv. On an unconvertible or invalid sequence the
// position in the input is handed to onBad, which appends a replacement to
// the output or throws; it returns how many input bytes to skip.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw Error(std::string("Zeichensatzumwandlung nicht verfügbar: ") + from + " nach " + to);
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    template <typename OnBad>
    std::string Convert(std::string_view in, OnBad onBad) {
        std::string out;
        out.reserve(in.size() + in.size() / 4 + 16);
        size_t pos = 0;
        char buf[4096];
        while (pos < in.size()) {
            char* src = const_cast<char*>(in.data() + pos);
            size_t srcLeft = in.size() - pos;
            char* dst = buf;
            size_t dstLeft = sizeof buf;
            size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf, size_t(dst - buf));
            pos = size_t(src - in.data());
            if (r == size_t(-1)) {
                if (errno == E2BIG) continue;
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
                pos += onBad(in, pos, out);
            }
        }
        return out;
    }

private:
    iconv_t cd_;
};

std::string DescribeChar(std::string_view s, size_t pos) {
    std::string ch = Utf8Left(s.substr(pos), 1);
    // code point for the message
    unsigned cp = 0;
    unsigned char c = static_cast<unsigned char>(ch[0]);
    if (c < 0x80) cp = c;
    else if ((c >> 5) == 6 && ch.size() >= 2) cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(ch[1]) & 0x3Fu);
    else if ((c >> 4) == 14 && ch.size() >= 3)
        cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(ch[1]) & 0x3Fu) << 6) | (static_cast<unsigned char>(ch[2]) & 0x3Fu);
    else if ((c >> 3) == 30 && ch.size() >= 4)
        cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(ch[1]) & 0x3Fu) << 12) |
             ((static_cast<unsigned char>(ch[2]) & 0x3Fu) << 6) | (static_cast<unsigned char>(ch[3]) & 0x3Fu);
    char buf[32];
    std::snprintf(buf, sizeof buf, "U+%04X", cp);
    if (!IsValidUtf8(ch)) return std::string("Byte ") + buf;
    return "\"" + ch + "\" (" + buf + ")";
}

// The converters are opened once per thread: opening one costs far more
// than converting a line.
Iconv& ToCp1252() {
    thread_local Iconv cv("WINDOWS-1252", "UTF-8");
    return cv;
}

Iconv& FromCp1252() {
    thread_local Iconv cv("UTF-8", "WINDOWS-1252");
    return cv;
}

bool IsAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Only ASCII and U+00A0 to U+00FF (the umlauts and ß among them), which
// windows-1252 holds at the same numbers: the text needs no converter.
bool IsAsciiOrUpperLatin1(std::string_view utf8) {
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) continue;
        if (i + 1 >= utf8.size()) return false;
        const auto b1 = static_cast<unsigned char>(utf8[i + 1]);
        if (!((b == 0xC2 && b1 >= 0xA0 && b1 <= 0xBF) || (b == 0xC3 && b1 >= 0x80 && b1 <= 0xBF))) return false;
        ++i;
    }
    return true;
}

// The windows-1252 bytes of such a text.
std::string UpperLatin1ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            out += char(b);
        } else {
            out += char(((b & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F));
            ++i;
        }
    }
    return out;
}

} // namespace

std::string Utf8ToCp1252(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    if (IsAsciiOrUpperLatin1(utf8)) return UpperLatin1ToCp1252(utf8);
    return ToCp1252().Convert(utf8, [](std::string_view in, size_t pos, std::string&) -> size_t {
        throw Error("Das Zeichen " + DescribeChar(in, pos) + " ist im Zeichensatz Windows-1252 nicht darstellbar.");
    });
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    if (IsAscii(bytes)) return std::string(bytes);
    // The five byte values windows-1252 leaves unassigned are taken as the
    // control characters of the same number, as Windows itself does.
    return FromCp1252().Convert(bytes, [](std::string_view in, size_t pos, std::string& out) -> size_t {
        unsigned char b = static_cast<unsigned char>(in[pos]);
        out += char(0xC0 | (b >> 6));
        out += char(0x80 | (b & 0x3F));
        return 1;
    });
}

std::string Cp1252Representable(std::string_view utf8, bool* replaced) {
    if (IsAsciiOrUpperLatin1(utf8)) return std::string(utf8);
    bool any = false;
    const std::string bytes = ToCp1252().Convert(utf8, [&](std::string_view in, size_t pos, std::string& out) -> size_t {
        out += '?';
        any = true;
        return std::max<size_t>(1, Utf8Left(in.substr(pos), 1).size());
    });
    if (replaced && any) *replaced = true;
    return Cp1252ToUtf8(bytes);
}

bool IsCp1252Text(std::string_view utf8, std::string* offending) {
    if (IsAsciiOrUpperLatin1(utf8)) return true;
    bool ok = true;
    ToCp1252().Convert(utf8, [&](std::string_view in, size_t pos, std::string&) -> size_t {
        if (ok && offending) *offending = Utf8Left(in.substr(pos), 1);
        ok = false;
        return std::max<size_t>(1, Utf8Left(in.substr(pos), 1).size());
    });
    return ok;
}

bool IsLatin1Text(std::string_view utf8, std::string* offending) {
    for (size_t i = 0; i < utf8.size();) {
        const auto b0 = static_cast<unsigned char>(utf8[i]);
        // One byte 0x20 to 0x7E; two bytes C2 A0 to C3 BF are U+00A0 to U+00FF.
        const bool ok = b0 < 0x80 ? b0 >= 0x20 && b0 < 0x7F
                                  : i + 1 < utf8.size() &&
                                        (b0 == 0xC3 || (b0 == 0xC2 && static_cast<unsigned char>(utf8[i + 1]) >= 0xA0));
        if (!ok) {
            if (offending) *offending = Utf8Left(utf8.substr(i), 1);
            return false;
        }
        i += b0 < 0x80 ? 1 : 2;
    }
    return true;
}

std::string ToUtf8(std::string_view bytes, std::string_view encoding) {
    std::string enc = UpperCase(Trim(encoding));
    if (enc.empty() || enc == "UTF-8" || enc == "UTF8") {
        if (!IsValidUtf8(bytes)) throw Error("Der Text ist kein gültiges UTF-8.");
        return std::string(bytes);
    }
    if (enc == "WINDOWS-1252" || enc == "CP1252") return Cp1252ToUtf8(bytes);
    const char* from = nullptr;
    if (enc == "ISO-8859-1" || enc == "LATIN1" || enc == "ISO8859-1") from = "ISO-8859-1";
    else if (enc == "ISO-8859-15" || enc == "LATIN9" || enc == "ISO8859-15") from = "ISO-8859-15";
    else throw Error("Nicht unterstützte Zeichenkodierung: " + std::string(encoding));
    Iconv cv("UTF-8", from);
    return cv.Convert(bytes, [&](std::string_view, size_t, std::string&) -> size_t {
        throw Error("Der Text ist im Zeichensatz " + std::string(encoding) + " nicht lesbar.");
    });
}

void WriteCp1252Lines(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) {
        text += l;
        text += "\r\n";
    }
    WriteCp1252Text(path, text);
}

void WriteCp1252Text(const std::string& path, std::string_view utf8) {
    AtomicWriteFile(path, Utf8ToCp1252(utf8));
}

std::string ReadCp1252Text(const std::string& path) { return Cp1252ToUtf8(ReadFileBytes(path)); }

std::vector<std::string> ReadCp1252Lines(const std::string& path) { return SplitLines(ReadCp1252Text(path)); }

} // namespace brenvo
