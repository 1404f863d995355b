#include "costbearer/KotrFile.h"

#include <array>
#include <cctype>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

const std::string kNone;

bool IsUpperLetter(char c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ISO 8859-1 into UTF-8, byte by byte. A text that is valid UTF-8 already
// (a file saved again by an editor) stays as it is.
std::string ToUtf8(std::string_view bytes) {
    bool high = false;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) {
            high = true;
            break;
        }
    if (!high || IsValidUtf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 16);
    for (char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

// Length in bytes of the UTF-8 character starting with c.
size_t CharBytes(unsigned char c) { return c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4; }

struct Separators {
    char component = ':';
    char element = '+';
    char release = '?';
    char terminator = '\'';
};

class Reader {
public:
    Reader(std::string text, std::string name) : text_(std::move(text)), name_(std::move(name)) {}

    [[noreturn]] void FailAt(int line, int number, std::string_view tag, const std::string& problem) const {
        throw Error(Format("%s: Zeile %d, Segment %d (%s): %s", {name_, line, number, tag, problem}));
    }
    [[noreturn]] void FailAt(const KotrSegment& s, const std::string& problem) const {
        FailAt(s.Line, s.Number, s.Tag, problem);
    }
    [[noreturn]] void Fail(const std::string& problem) const { throw Error(name_ + ": " + problem); }

    std::vector<KotrSegment> Tokenize() {
        if (StartsWith(text_, "\xEF\xBB\xBF")) pos_ = 3;   // a byte-order mark an editor may have added
        if (text_.compare(pos_, 3, "UNA") == 0) {
            if (text_.size() < pos_ + 9) Fail("Datei unvollständig: UNA ist nicht vollständig.");
            sep_.component = text_[pos_ + 3];
            sep_.element = text_[pos_ + 4];
            sep_.release = text_[pos_ + 6];
            sep_.terminator = text_[pos_ + 8];
            pos_ += 9;
        }
        SkipLineBreaks();
        if (text_.compare(pos_, 3, "UNB") != 0 || pos_ + 3 >= text_.size() || text_[pos_ + 3] != sep_.element)
            Fail("Die Datei ist keine Kostenträgerdatei (KOTR): sie beginnt nicht mit UNA oder UNB.");
        std::vector<KotrSegment> segments;
        while (true) {
            SkipLineBreaks();
            if (pos_ >= text_.size()) break;
            segments.push_back(NextSegment(int(segments.size()) + 1));
        }
        return segments;
    }

private:
    void SkipLineBreaks() {
        while (pos_ < text_.size() && (text_[pos_] == '\r' || text_[pos_] == '\n')) {
            if (text_[pos_] == '\n') ++line_;
            ++pos_;
        }
    }

    KotrSegment NextSegment(int number) {
        KotrSegment s;
        s.Line = line_;
        s.Number = number;
        std::vector<std::vector<std::string>> elements(1, std::vector<std::string>(1));
        while (true) {
            if (pos_ >= text_.size()) {
                const std::string tag = elements[0][0].substr(0, 3);
                FailAt(s.Line, number, tag, "Datei unvollständig: das Segment ist nicht abgeschlossen (Segmentende " +
                                                std::string(1, sep_.terminator) + " fehlt).");
            }
            const char c = text_[pos_];
            if (c == sep_.release) {
                if (pos_ + 1 >= text_.size()) {   // nothing left to release: reported as unfinished
                    pos_ = text_.size();
                    continue;
                }
                const size_t n = CharBytes(static_cast<unsigned char>(text_[pos_ + 1]));
                elements.back().back().append(text_, pos_ + 1, n);
                pos_ += 1 + n;
            } else if (c == sep_.terminator) {
                ++pos_;
                break;
            } else if (c == sep_.element) {
                elements.emplace_back(1);
                ++pos_;
            } else if (c == sep_.component) {
                elements.back().emplace_back();
                ++pos_;
            } else if (c == '\r' || c == '\n') {
                FailAt(s.Line, number, elements[0][0].substr(0, 3),
                       "Das Segment endet ohne Segmentende " + std::string(1, sep_.terminator) + ".");
            } else {
                elements.back().back() += c;
                ++pos_;
            }
        }
        s.Tag = elements[0][0];
        if (s.Tag.size() != 3 || !IsUpperLetter(s.Tag[0]) || !IsUpperLetter(s.Tag[1]) || !IsUpperLetter(s.Tag[2]) ||
            elements[0].size() != 1)
            FailAt(s.Line, number, Utf8Left(s.Tag, 10), "Ungültige Segmentkennung \"" + Utf8Left(s.Tag, 20) + "\".");
        elements.erase(elements.begin());
        s.Elements = std::move(elements);
        return s;
    }

    std::string text_;
    std::string name_;
    Separators sep_;
    size_t pos_ = 0;
    int line_ = 1;
};

bool IsDateText(const std::string& s) { return s.size() == 8 && IsDigits(s) && ParseYYYYMMDD(s).has_value(); }

// The validity of a VDT segment; a broken date fails.
KotrValidity ReadValidity(const Reader& r, const KotrSegment& vdt) {
    const std::string from = vdt.Element(1), to = vdt.Element(2);
    if (!IsDateText(from)) r.FailAt(vdt, "\"" + from + "\" ist kein Datum (JJJJMMTT).");
    KotrValidity v;
    v.From = *ParseYYYYMMDD(from);
    if (!to.empty()) {
        if (!IsDateText(to)) r.FailAt(vdt, "\"" + to + "\" ist kein Datum (JJJJMMTT).");
        v.To = *ParseYYYYMMDD(to);
    }
    return v;
}

// The checks of a message's segments that decide whether it can be read at all.
void CheckKotrMessage(const Reader& r, const KotrMessage& m, const KotrSegment& unh) {
    int idk = 0, fkt = 0, nam = 0;
    bool validity = false;
    for (const KotrSegment& s : m.Segments) {
        if (!IsKotrBodyTag(s.Tag)) r.FailAt(s, "Unbekanntes Segment in einer KOTR-Nachricht.");
        if (s.Tag == "IDK") {
            ++idk;
            const std::string ik = s.Element(1);
            if (ik.size() != 9 || !IsDigits(ik)) r.FailAt(s, "\"" + ik + "\" ist keine IK (neun Ziffern).");
            if (s.Element(2).empty()) r.FailAt(s, "Die Art der Institution fehlt.");
            validity = validity || s.Validity.has_value();
        } else if (s.Tag == "FKT") {
            ++fkt;
            if (s.Element(1).empty()) r.FailAt(s, "Das Verarbeitungskennzeichen fehlt.");
            validity = validity || s.Validity.has_value();
        } else if (s.Tag == "NAM") {
            ++nam;
        } else if (s.Tag == "VKG") {
            const std::string partner = s.Element(2);
            if (s.Element(1).empty()) r.FailAt(s, "Die Art der Verknüpfung fehlt.");
            if (partner.size() != 9 || !IsDigits(partner))
                r.FailAt(s, "\"" + partner + "\" ist keine IK (neun Ziffern).");
        } else if (s.Tag == "ANS") {
            const std::string plz = s.Element(2);
            if (s.Element(1).empty()) r.FailAt(s, "Die Art der Anschrift fehlt.");
            if (plz.empty() || !IsDigit(plz[0])) r.FailAt(s, "\"" + plz + "\" ist keine Postleitzahl.");
        } else if (s.Tag == "UEM") {
            if (s.Element(1).empty()) r.FailAt(s, "Das Übermittlungsmedium fehlt.");
        } else if (s.Tag == "DFU") {
            if (s.Element(2).empty()) r.FailAt(s, "Das Übertragungsprotokoll fehlt.");
        }
    }
    const char* missing = idk == 0 ? "IDK" : fkt == 0 ? "FKT" : nam == 0 ? "NAM" : !validity ? "VDT" : nullptr;
    if (missing) r.FailAt(unh, Format("Der Nachricht fehlt das Segment %s.", {missing}));
    if (idk > 1) r.FailAt(unh, "Die Nachricht enthält mehr als ein IDK-Segment.");
}

// Body segments of one message: VDTs folded into the segment before them.
void AddBodySegment(const Reader& r, KotrMessage& m, KotrSegment&& s, bool kotr) {
    if (kotr && s.Tag == "VDT") {
        if (m.Segments.empty()) r.FailAt(s, "VDT ohne vorangehendes Segment.");
        KotrSegment& owner = m.Segments.back();
        if (owner.Validity) r.FailAt(s, "Zweites VDT-Segment für dasselbe Segment.");
        owner.Validity = ReadValidity(r, s);
        return;
    }
    m.Segments.push_back(std::move(s));
}

std::string Count(size_t n) { return IntToStr(int64_t(n)); }

} // namespace

// ---------------------------------------------------------------------------

std::optional<KotrFileName> KotrFileName::Parse(std::string_view name) {
    std::string n = UpperCase(name);
    if (n.size() == 12 && n[8] == '.') n.erase(8, 1);
    if (n.size() != 11) return std::nullopt;
    KotrFileName f;
    f.Kassenart = n.substr(0, 2);
    f.Verfahren = n.substr(2, 2);
    const std::string period = n.substr(4, 2), year = n.substr(6, 2);
    if (!IsUpperLetter(f.Kassenart[0]) || !IsUpperLetter(f.Kassenart[1])) return std::nullopt;
    for (char c : f.Verfahren)
        if (!IsUpperLetter(c) && !IsDigit(c)) return std::nullopt;
    if (!IsDigits(year) || n[8] != 'K' || (n[9] != 'E' && n[9] != 'D' && n[9] != 'X') || !IsDigit(n[10]))
        return std::nullopt;
    int month;
    if (period[0] == 'Q' && period[1] >= '1' && period[1] <= '4')
        month = (period[1] - '1') * 3 + 1;
    else if (IsDigits(period) && StrToIntDef(period, 0) >= 1 && StrToIntDef(period, 0) <= 12)
        month = int(StrToIntDef(period, 0));
    else
        return std::nullopt;
    f.ValidFrom = EncodeDate(2000 + int(StrToIntDef(year, 0)), month, 1);
    f.Format = char(n[9] - 'A' + 'a');
    f.Version = n[10] - '0';
    return f;
}

std::string KotrSegment::Element(size_t i) const {
    if (i == 0 || i > Elements.size()) return "";
    const std::vector<std::string>& parts = Elements[i - 1];
    return parts.size() == 1 ? parts[0] : Join(parts, ":");
}

const std::string& KotrSegment::Component(size_t i, size_t j) const {
    if (i == 0 || i > Elements.size() || j == 0 || j > Elements[i - 1].size()) return kNone;
    return Elements[i - 1][j - 1];
}

bool IsKotrBodyTag(std::string_view tag) {
    static constexpr std::array<std::string_view, 10> kTags = {"IDK", "VDT", "FKT", "KTO", "VKG",
                                                               "NAM", "ANS", "ASP", "UEM", "DFU"};
    for (std::string_view t : kTags)
        if (t == tag) return true;
    return false;
}

KotrFile ReadKotrFile(const std::string& path) { return ParseKotrFile(ReadFileBytes(path), path); }

KotrFile ParseKotrFile(std::string_view bytes, const std::string& path) {
    KotrFile file;
    file.Path = path;
    file.DisplayName = ExtractFileName(path);
    Reader r(ToUtf8(bytes), file.DisplayName);
    std::vector<KotrSegment> segments = r.Tokenize();

    // UNB
    const KotrSegment& unb = segments.front();
    if (!StartsWith(unb.Component(1, 1), "UNO"))
        r.FailAt(unb, "Unbekannte Syntax \"" + unb.Element(1) + "\" (erwartet UNOC).");
    const std::string& date = unb.Component(4, 1);
    if (!(date.size() == 6 || date.size() == 8) || !IsDigits(date))
        r.FailAt(unb, "\"" + date + "\" ist kein Datum (JJMMTT oder JJJJMMTT).");
    file.Sender = unb.Element(2);
    const std::string reference = unb.Element(5);
    auto name = KotrFileName::Parse(unb.Element(7));
    if (!name) name = KotrFileName::Parse(file.DisplayName);
    if (!name)
        r.FailAt(unb, "Die Datei ist keine Kostenträgerdatei (KOTR): UNB nennt keinen Dateinamen der Form "
                      "KKVVPPJJ.keN (\"" + unb.Element(7) + "\").");
    file.Name = *name;

    // UNH ... UNT, then UNZ
    size_t i = 1;
    bool closed = false;
    while (i < segments.size()) {
        KotrSegment& s = segments[i];
        if (closed) r.FailAt(s, "Segment nach dem Dateiende (UNZ).");
        if (s.Tag == "UNZ") {
            if (StrToIntDef(s.Element(1), -1) != int64_t(file.Messages.size()))
                r.FailAt(s, "UNZ nennt " + s.Element(1) + " Nachrichten, die Datei enthält " +
                                Count(file.Messages.size()) + ".");
            if (s.Element(2) != reference)
                r.FailAt(s, "Die Dateinummer \"" + s.Element(2) + "\" weicht von UNB (\"" + reference + "\") ab.");
            closed = true;
            ++i;
            continue;
        }
        if (s.Tag != "UNH") r.FailAt(s, "Segment außerhalb einer Nachricht (UNH fehlt).");
        const KotrSegment unh = std::move(s);
        KotrMessage m;
        m.Type = unh.Component(2, 1);
        m.Version = unh.Component(2, 2);
        m.Line = unh.Line;
        // Messages of another type or a later version are kept as they are
        // (the import passes them by); only these are checked.
        const bool kotr = m.Type == "KOTR" && StrToIntDef(m.Version, 99) <= 2;
        size_t count = 1;
        ++i;
        while (true) {
            if (i >= segments.size())
                r.FailAt(unh, "Datei unvollständig: die Nachricht " + unh.Element(1) + " endet nicht mit UNT.");
            KotrSegment& b = segments[i];
            if (b.Tag == "UNH" || b.Tag == "UNZ")
                r.FailAt(b, "Die Nachricht " + unh.Element(1) + " endet nicht mit UNT.");
            ++count;
            ++i;
            if (b.Tag == "UNT") {
                if (StrToIntDef(b.Element(1), -1) != int64_t(count))
                    r.FailAt(b, "UNT nennt " + b.Element(1) + " Segmente, die Nachricht hat " + Count(count) + ".");
                if (b.Element(2) != unh.Element(1))
                    r.FailAt(b, "Die Nachrichtenreferenz \"" + b.Element(2) + "\" weicht von UNH (\"" +
                                    unh.Element(1) + "\") ab.");
                break;
            }
            AddBodySegment(r, m, std::move(b), kotr);
        }
        if (kotr) CheckKotrMessage(r, m, unh);
        file.Messages.push_back(std::move(m));
    }
    if (!closed) {
        const KotrSegment& last = segments.back();
        r.FailAt(last, "Datei unvollständig: das Dateiende (UNZ) fehlt.");
    }
    return file;
}

} // namespace brenvo
