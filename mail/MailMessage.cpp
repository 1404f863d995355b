#include "mail/MailMessage.h"

#include <cstdio>
#include <ctime>
#include <random>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

constexpr size_t kMaxLine = 78;        // header lines are folded to this length
constexpr size_t kEncodedChunk = 42;   // bytes per encoded word: "=?UTF-8?B?" + 56 + "?=" fits a line

struct MailAddress {
    std::string name;      // display name, may be empty
    std::string address;   // bare address
};

bool IsPlainAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// Control characters (line breaks above all) never reach a header line.
std::string WithoutControls(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return out;
}

// Splits an address list at "," and ";" that stand outside quotes and angle brackets.
std::vector<std::string> SplitAddressList(std::string_view text) {
    std::vector<std::string> parts;
    std::string cur;
    bool quoted = false, angle = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted && c == '\\' && i + 1 < text.size()) {
            cur += c;
            cur += text[++i];
            continue;
        }
        if (c == '"' && !angle) quoted = !quoted;
        else if (c == '<' && !quoted) angle = true;
        else if (c == '>' && !quoted) angle = false;
        else if ((c == ',' || c == ';') && !quoted && !angle) {
            parts.push_back(cur);
            cur.clear();
            continue;
        }
        cur += c;
    }
    parts.push_back(cur);
    return parts;
}

// One entry: "a@b.de" or "Name <a@b.de>" or "\"Name\" <a@b.de>".
// Returns false when the entry holds no usable address.
bool ParseEntry(std::string_view entry, MailAddress& out) {
    std::string e = Trim(entry);
    size_t lt = e.rfind('<');
    if (lt == std::string::npos) {
        out.name.clear();
        out.address = e;
    } else {
        if (e.empty() || e.back() != '>') return false;
        out.address = e.substr(lt + 1, e.size() - lt - 2);
        std::string name = Trim(std::string_view(e).substr(0, lt));
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
            std::string unq;
            for (size_t i = 1; i + 1 < name.size(); ++i) {
                if (name[i] == '\\' && i + 2 < name.size()) ++i;
                unq += name[i];
            }
            name = unq;
        }
        out.name = name;
    }
    return IsValidMailAddress(out.address);
}

std::vector<MailAddress> ParseAddressList(std::string_view text, const std::string& what) {
    std::vector<MailAddress> list;
    for (const std::string& part : SplitAddressList(text)) {
        if (Trim(part).empty()) continue;
        MailAddress a;
        if (!ParseEntry(part, a))
            throw Error("Ungültige " + what + ": \"" + Trim(part) + "\"");
        list.push_back(a);
    }
    return list;
}

// RFC 2047 encoded words ("=?UTF-8?B?...?="), each holding whole characters.
std::vector<std::string> EncodedWords(std::string_view text) {
    std::vector<std::string> words;
    std::string chunk;
    for (const std::string& ch : Utf8Chars(text)) {
        if (!chunk.empty() && chunk.size() + ch.size() > kEncodedChunk) {
            words.push_back("=?UTF-8?B?" + Base64Encode(chunk) + "?=");
            chunk.clear();
        }
        chunk += ch;
    }
    if (!chunk.empty()) words.push_back("=?UTF-8?B?" + Base64Encode(chunk) + "?=");
    return words;
}

// The words of a header text: kept as they are when plain ASCII, otherwise
// encoded words. A text that merely looks like an encoded word is encoded too.
std::vector<std::string> TextTokens(std::string_view text) {
    std::string clean = WithoutControls(text);
    if (IsPlainAscii(clean) && clean.find("=?") == std::string::npos)
        return Split(clean, ' ');
    return EncodedWords(clean);
}

// "Name: t1 t2 ..." folded before a token that would make the line longer
// than kMaxLine. An empty token (from two blanks in a row) is never put at a fold.
std::string HeaderLine(std::string_view name, const std::vector<std::string>& tokens) {
    std::string out(name);
    out += ':';
    size_t lineLen = out.size();
    bool first = true;
    for (const std::string& t : tokens) {
        if (!first && !t.empty() && lineLen + 1 + t.size() > kMaxLine) {
            out += "\r\n ";
            lineLen = 1;
        } else {
            out += ' ';
            ++lineLen;
        }
        out += t;
        lineLen += t.size();
        first = false;
    }
    out += "\r\n";
    return out;
}

std::vector<std::string> AddressTokens(const std::vector<MailAddress>& list) {
    std::vector<std::string> tokens;
    for (size_t i = 0; i < list.size(); ++i) {
        const MailAddress& a = list[i];
        if (!a.name.empty()) {
            std::string clean = WithoutControls(a.name);
            if (IsPlainAscii(clean) && clean.find("=?") == std::string::npos) {
                std::string q = "\"";
                for (char c : clean) {
                    if (c == '"' || c == '\\') q += '\\';
                    q += c;
                }
                tokens.push_back(q + "\"");
            } else {
                for (std::string& w : EncodedWords(clean)) tokens.push_back(std::move(w));
            }
            tokens.push_back("<" + a.address + ">" + (i + 1 < list.size() ? "," : ""));
        } else {
            tokens.push_back(a.address + (i + 1 < list.size() ? "," : ""));
        }
    }
    return tokens;
}

// A MIME parameter on a line of its own: quoted when plain ASCII and short,
// otherwise as RFC 2231 UTF-8 value, split into numbered sections when long.
std::string MimeParam(std::string_view attr, std::string_view value) {
    std::string clean = WithoutControls(value);
    if (IsPlainAscii(clean)) {
        std::string q;
        for (char c : clean) {
            if (c == '"' || c == '\\') q += '\\';
            q += c;
        }
        std::string line = " " + std::string(attr) + "=\"" + q + "\"";
        if (line.size() < kMaxLine) return ";\r\n" + line;
    }
    static const char* hex = "0123456789ABCDEF";
    std::vector<std::string> pieces(1);   // percent triplets never split
    for (unsigned char c : clean) {
        std::string piece;
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
            std::string_view("!#$&+-.^_`|~").find(char(c)) != std::string_view::npos) {
            piece = char(c);
        } else {
            piece = {'%', hex[c >> 4], hex[c & 15]};
        }
        if (pieces.back().size() + piece.size() > 50) pieces.emplace_back();
        pieces.back() += piece;
    }
    if (pieces.size() == 1)
        return ";\r\n " + std::string(attr) + "*=UTF-8''" + pieces[0];
    std::string out;
    for (size_t i = 0; i < pieces.size(); ++i) {
        out += ";\r\n " + std::string(attr) + "*" + std::to_string(i) + "*=";
        if (i == 0) out += "UTF-8''";
        out += pieces[i];
    }
    return out;
}

std::string WrapLines(const std::string& s, size_t width) {
    std::string out;
    for (size_t i = 0; i < s.size(); i += width) {
        out += s.substr(i, width);
        out += "\r\n";
    }
    return out;
}

// Quoted-printable (RFC 2045) of a text; its line ends become hard CR LF
// line ends, long lines get soft breaks, blanks at a line end are encoded.
// The result carries no line end of its own after the last line.
std::string QuotedPrintable(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    bool first = true;
    for (const std::string& line : SplitLines(text)) {
        if (!first) out += "\r\n";
        first = false;
        std::string cur;
        for (size_t i = 0; i < line.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(line[i]);
            bool last = i + 1 == line.size();
            std::string tok;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last))
                tok = char(c);
            else
                tok = {'=', hex[c >> 4], hex[c & 15]};
            if (cur.size() + tok.size() > 75) {
                out += cur + "=\r\n";
                cur.clear();
            }
            cur += tok;
        }
        out += cur;
    }
    if (!text.empty() && (text.back() == '\n' || text.back() == '\r')) out += "\r\n";
    return out;
}

std::string RandomHex(int bytes) {
    static std::random_device rd;
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < bytes; ++i) {
        unsigned v = rd() & 0xFF;
        s += hex[v >> 4];
        s += hex[v & 15];
    }
    return s;
}

} // namespace

bool IsValidMailAddress(std::string_view address) {
    if (address.empty()) return false;
    for (unsigned char c : address) {
        if (c <= 0x20 || c >= 0x7F) return false;
        if (std::string_view("<>()[],;:\"\\").find(char(c)) != std::string_view::npos) return false;
    }
    size_t at = address.find('@');
    return at != std::string_view::npos && at > 0 && at + 1 < address.size() &&
           address.find('@', at + 1) == std::string_view::npos;
}

std::string EnvelopeAddress(std::string_view entry) {
    MailAddress a;
    if (!ParseEntry(entry, a)) throw Error("Ungültige Email-Adresse: \"" + Trim(entry) + "\"");
    return a.address;
}

std::string Base64Encode(std::string_view bytes) {
    static const char* tbl = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 |
                     uint8_t(bytes[i + 2]);
        out += tbl[v >> 18];
        out += tbl[(v >> 12) & 63];
        out += tbl[(v >> 6) & 63];
        out += tbl[v & 63];
    }
    if (i < bytes.size()) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += tbl[v >> 18];
        out += tbl[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? tbl[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string FormatMailDate(TDateTime localTime) {
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    DateParts p = Decode(localTime);
    std::time_t t = std::time_t(ToTimeT(localTime));
    std::tm tm{};
    localtime_r(&t, &tm);
    long off = tm.tm_gmtoff / 60;
    char sign = off < 0 ? '-' : '+';
    if (off < 0) off = -off;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  days[DayOfWeek(localTime) - 1], p.day, months[p.month - 1], p.year, p.hour,
                  p.minute, p.second, sign, off / 60, off % 60);
    return buf;
}

MailMessage BuildMailMessage(const MailContent& content) {
    std::vector<MailAddress> from = ParseAddressList(content.sender, "Absenderadresse");
    if (from.empty()) throw Error("Keine Absenderadresse angegeben.");
    if (from.size() > 1) throw Error("Ungültige Absenderadresse: \"" + Trim(content.sender) + "\"");
    std::vector<MailAddress> to = ParseAddressList(content.recipient, "Empfängeradresse");
    if (to.empty()) throw Error("Keine Empfängeradresse angegeben.");
    std::vector<MailAddress> bcc = ParseAddressList(content.bcc, "Bcc-Adresse");

    MailMessage msg;
    msg.envelopeFrom = from[0].address;
    for (const auto& a : to) msg.recipients.push_back(a.address);
    for (const auto& a : bcc) msg.recipients.push_back(a.address);

    const std::string boundary = "=_brenvo_" + RandomHex(12);
    const std::string domain = from[0].address.substr(from[0].address.find('@') + 1);
    TDateTime date = content.date.IsNull() ? Now() : content.date;

    std::string& d = msg.data;
    d += "Date: " + FormatMailDate(date) + "\r\n";
    d += HeaderLine("From", AddressTokens(from));
    d += HeaderLine("Sender", AddressTokens(from));
    d += HeaderLine("Reply-To", AddressTokens(from));
    d += HeaderLine("To", AddressTokens(to));
    d += HeaderLine("Subject", TextTokens(content.subject));
    d += "Message-ID: <" + FormatYYYYMMDDHHNNSS(date) + "." + RandomHex(8) + "@" + domain + ">\r\n";
    d += "MIME-Version: 1.0\r\n";
    d += "Content-Type: multipart/mixed;\r\n boundary=\"" + boundary + "\"\r\n";
    d += "\r\n";
    d += "--" + boundary + "\r\n";
    d += "Content-Type: text/plain; charset=UTF-8\r\n";
    d += "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
    d += QuotedPrintable(content.body) + "\r\n";   // that line end belongs to the boundary
    for (const MailAttachment& att : content.attachments) {
        if (!FileExists(att.path)) continue;
        std::string bytes = ReadFileBytes(att.path);
        std::string name = att.name.empty() ? ExtractFileName(att.path) : att.name;
        d += "--" + boundary + "\r\n";
        d += "Content-Type: application/octet-stream" + MimeParam("name", name) + "\r\n";
        d += "Content-Transfer-Encoding: base64\r\n";
        d += "Content-Disposition: attachment" + MimeParam("filename", name) + "\r\n\r\n";
        d += WrapLines(Base64Encode(bytes), 76);
    }
    d += "--" + boundary + "--\r\n";
    return msg;
}

} // namespace brenvo
