#pragma once

// The insurers' rules for billing files of message version 21 (SLGA and
// SLLA for patient transport), taken from their field tables and written
// down here independently of the program, and a check of a whole billing
// file against them. Each problem found is one line of German text; an
// empty list means the file keeps every rule checked.
//
// Element notation of the table: "M" or "K" (mandatory or optional), then
// one part per component: AN (any text) or N (digits) with a length "5"
// (exactly), "..35" (at most) or "22..256", or D with the digits allowed
// before the decimal comma ("D..10" is "..10,2": two decimals always).

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace brenvo::test {

inline const std::map<std::string, std::vector<std::string>>& Version21SegmentTable() {
    static const std::map<std::string, std::vector<std::string>> table = {
        {"UNB", {"M AN3", "M AN4 N1", "M AN..35", "M AN..35", "M N8 N4", "M AN..14", "M AN1", "M AN..14", "M N1"}},
        {"UNH", {"M AN3", "M AN..14", "M AN..6 AN..3 AN..3 AN..2"}},
        {"UNT", {"M AN3", "M N6", "M AN..14"}},
        {"UNZ", {"M AN3", "M N6", "M AN..14"}},
        {"FKT SLGA", {"M AN3", "M N2", "K AN1", "M N9", "M N9", "K N9", "M N9"}},
        {"FKT SLLA", {"M AN3", "M N2", "K AN1", "M N9", "M N9", "M N9", "K N9"}},
        {"REC", {"M AN3", "M AN..14 AN..6", "M N8", "M N1"}},
        {"UST", {"M AN3", "M AN..20", "K AN1"}},
        {"SKO", {"M AN3", "M D..2", "M N..3"}},
        {"GES", {"M AN3", "M AN2", "M D..10", "M D..10", "K D..10"}},
        {"NAM", {"M AN3", "M AN..30", "K AN..30", "K AN..30", "K AN..70"}},
        {"INV", {"M AN3", "K AN..12", "K AN5", "K AN1", "M AN..10", "K AN..25"}},
        {"NAD", {"M AN3", "M AN..47", "M AN..30", "M N8", "K AN..30", "K AN..7", "K AN..25", "K AN..3"}},
        {"IMG", {"M AN3", "M N4", "M N2", "M AN9"}},
        {"EVO", {"M AN3", "M AN22..256"}},
        {"KTL", {"M AN3", "M N..3", "M AN..30", "K AN..7", "K AN..3", "K AN..25", "M AN..30", "M AN..7", "K AN..3",
                 "M AN..25"}},
        {"EKT", {"M AN3", "M AN2 AN5", "M AN..10", "M D..4", "M D..10", "M N8", "K D..4", "K N4", "K N4", "K N..4"}},
        {"TXT", {"M AN3", "M AN..70"}},
        {"MWS", {"M AN3", "M D..5", "M D..10"}},
        {"ZUK", {"M AN3", "M N..3", "M D..10", "K N2", "K D..10"}},
        {"ZKT", {"M AN3", "M AN..9", "M AN..9", "M N1", "K N8", "K N1", "K N1"}},
        {"SKZ", {"M AN3", "M AN..20", "M N8", "M AN2"}},
        {"BES", {"M AN3", "M D..10", "K D..10"}},
    };
    return table;
}

namespace v21 {

// A segment's data elements, each a list of components, release characters
// removed. False when a "?" ends the text.
inline bool SplitSegment(const std::string& s, std::vector<std::vector<std::string>>& out) {
    out.assign(1, {std::string()});
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '?') {
            if (++i == s.size()) return false;
            out.back().back() += s[i];
        } else if (s[i] == '+') {
            out.push_back({std::string()});
        } else if (s[i] == ':') {
            out.back().emplace_back();
        } else {
            out.back().back() += s[i];
        }
    }
    return true;
}

inline bool AllDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// "" when the component keeps the part's rule, else what is wrong.
inline std::string CheckPart(const std::string& rule, const std::string& v) {
    const bool decimal = rule[0] == 'D';
    const std::string len = rule.substr(rule.find_first_of("0123456789."));
    size_t min = 1, max = 0;
    if (size_t dots = len.find(".."); dots == std::string::npos) {
        min = max = std::stoul(len);
    } else {
        if (dots > 0) min = std::stoul(len.substr(0, dots));
        max = std::stoul(len.substr(dots + 2));
    }
    if (decimal) {
        std::string d = v[0] == '-' ? v.substr(1) : v;
        size_t comma = d.find(',');
        if (comma == std::string::npos || d.size() - comma != 3 || !AllDigits(d.substr(comma + 1)) ||
            (comma > 0 && !AllDigits(d.substr(0, comma))))
            return "\"" + v + "\" ist kein Betrag mit zwei Nachkommastellen";
        return comma > max ? "\"" + v + "\" hat mehr als " + std::to_string(max) + " Vorkommastellen" : "";
    }
    if (rule[0] == 'N' && !AllDigits(v)) return "\"" + v + "\" ist nicht numerisch";
    if (v.size() < min || v.size() > max) return "\"" + v + "\" hat die falsche Länge";
    return "";
}

inline void CheckSegment(const std::string& tag, const std::string& message, const std::string& text, int line,
                         std::vector<std::string>& problems) {
    auto problem = [&](const std::string& what) {
        problems.push_back("Zeile " + std::to_string(line) + " " + tag + ": " + what);
    };
    const auto& table = Version21SegmentTable();
    auto rule = table.find(tag + " " + message);
    if (rule == table.end()) rule = table.find(tag);
    if (rule == table.end()) return problem("unbekanntes Segment");
    std::vector<std::vector<std::string>> elements;
    if (!SplitSegment(text, elements)) return problem("Aufhebungszeichen am Ende");
    const auto& rules = rule->second;
    if (elements.size() > rules.size()) problem("zu viele Datenelemente");
    if (elements.size() > 1 && elements.back().size() == 1 && elements.back()[0].empty())
        problem("leeres Datenelement am Segmentende");
    for (size_t i = 0; i < rules.size(); ++i) {
        std::vector<std::string> parts;
        std::istringstream words(rules[i].substr(2));
        for (std::string part; words >> part;) parts.push_back(part);
        const bool present = i < elements.size() && !(elements[i].size() == 1 && elements[i][0].empty());
        const std::string where = "Element " + std::to_string(i + 1);
        if (!present) {
            if (rules[i][0] == 'M') problem(where + ": Muss-Feld fehlt");
            continue;
        }
        if (elements[i].size() != parts.size()) {
            problem(where + ": " + std::to_string(elements[i].size()) + " statt " + std::to_string(parts.size()) +
                    " Bestandteile");
            continue;
        }
        for (size_t p = 0; p < parts.size(); ++p)
            if (std::string what = CheckPart(parts[p], elements[i][p]); !what.empty()) problem(where + ": " + what);
    }
}

} // namespace v21

// Checks a whole billing file (the bytes as written): character set and
// line ends, escapes, the envelope and its counts, the order of segments in
// each message, the field table above, and the order of messages for the
// file's Rechnungsart.
inline std::vector<std::string> Version21Problems(const std::string& bytes) {
    using namespace v21;
    std::vector<std::string> problems;
    auto problem = [&](const std::string& what) { problems.push_back(what); };
    for (unsigned char ch : bytes)
        if ((ch < 0x20 && ch != '\r' && ch != '\n') || (ch >= 0x7F && ch < 0xA0))
            return {"Zeichen außerhalb von ISO 8859-1: " + std::to_string(int(ch))};
    if (bytes.size() < 3 || bytes.compare(bytes.size() - 3, 3, "'\r\n") != 0) problem("Dateiende ohne '\\r\\n");

    // Segments, one per line, each ending with an apostrophe that is not released.
    std::vector<std::vector<std::vector<std::string>>> segs;
    std::vector<std::string> tags, texts;
    for (size_t at = 0, line = 1; at < bytes.size(); ++line) {
        size_t end = bytes.find("\r\n", at);
        if (end == std::string::npos) end = bytes.size();
        std::string seg = bytes.substr(at, end - at);
        at = end + 2;
        size_t releases = 0;
        for (size_t i = seg.size(); i > 1 && seg[i - 2] == '?'; --i) ++releases;
        bool inner = false;
        for (size_t i = 0; i + 1 < seg.size(); ++i) {
            if (seg[i] == '?') ++i;
            else if (seg[i] == '\'' || seg[i] == '\n' || seg[i] == '\r') inner = true;
        }
        if (seg.empty() || seg.back() != '\'' || releases % 2 || inner)
            problem("Zeile " + std::to_string(line) + ": kein einzelnes Segment mit Endezeichen");
        texts.push_back(!seg.empty() && seg.back() == '\'' ? seg.substr(0, seg.size() - 1) : seg);
        segs.emplace_back();
        SplitSegment(texts.back(), segs.back());
        tags.push_back(segs.back()[0][0]);
        if (tags.back().empty()) return {"Zeile " + std::to_string(line) + ": leere Zeile"};
    }
    if (tags.empty() || tags.front() != "UNB" || tags.back() != "UNZ") return {"Datei nicht von UNB bis UNZ"};
    const auto el = [&](size_t s, size_t e, size_t c = 0) -> std::string {
        return e < segs[s].size() && c < segs[s][e].size() ? segs[s][e][c] : std::string();
    };
    CheckSegment("UNB", "", texts.front(), 1, problems);
    CheckSegment("UNZ", "", texts.back(), int(texts.size()), problems);

    struct Message {
        std::string type, seq;
        size_t first, last;   // the segments between UNH and UNT
    };
    std::vector<Message> messages;
    for (size_t s = 1; s + 1 < tags.size(); ++s) {
        if (tags[s] != "UNH") {
            problem("Segment " + tags[s] + " außerhalb einer Nachricht");
            continue;
        }
        size_t t = s + 1;
        while (t + 1 < tags.size() && tags[t] != "UNT" && tags[t] != "UNH") ++t;
        if (tags[t] != "UNT") return {"Nachricht " + el(s, 1) + " ohne UNT"};
        Message m{el(s, 2, 0), "", s + 1, t - 1};
        CheckSegment("UNH", "", texts[s], int(s + 1), problems);
        CheckSegment("UNT", "", texts[t], int(t + 1), problems);
        const std::string number = std::to_string(messages.size() + 1);
        if (el(s, 1) != std::string(5 - number.size(), '0') + number) problem("UNH " + el(s, 1) + " nicht fortlaufend");
        if ((m.type != "SLGA" && m.type != "SLLA") || el(s, 2, 1) != "21" || el(s, 2, 2) != "0" || el(s, 2, 3) != "0")
            problem("UNH " + el(s, 1) + ": Nachrichtenkennung " + texts[s]);
        if (std::stoul(el(t, 1)) != t - s + 1 || el(t, 2) != el(s, 1)) problem("UNT " + el(s, 1) + " passt nicht");
        for (size_t i = m.first; i <= m.last; ++i) {
            CheckSegment(tags[i], m.type, texts[i], int(i + 1), problems);
            m.seq += tags[i] + " ";
        }
        static const std::regex slga("FKT REC (UST )?(SKO ){0,9}(GES ){2,9}NAM ");
        static const std::regex slla("FKT REC (INV NAD (IMG )?(EVO )?(KTL (EKT (TXT )?(MWS )?)+(ZUK )?)+ZKT (SKZ )?BES )+");
        if (!std::regex_match(m.seq, m.type == "SLGA" ? slga : slla))
            problem("UNH " + el(s, 1) + ": Segmentfolge " + m.seq);
        messages.push_back(m);
        s = t;
    }
    if (messages.size() != std::stoul(el(tags.size() - 1, 1)) || el(tags.size() - 1, 2) != el(0, 5))
        problem("UNZ passt nicht zu UNB und den Nachrichten");

    // One Rechnungsart; each provider's SLGA followed by its SLLA with the
    // same REC; trips numbered from 1 in each case.
    const std::string art = messages.empty() ? "" : el(messages[0].first + 1, 3);
    for (size_t i = 0; i < messages.size(); ++i) {
        const Message& m = messages[i];
        if (el(m.first + 1, 3) != art) problem("mehr als eine Rechnungsart in der Datei");
        if (m.type == "SLGA" && el(m.first, 2) != "J" &&
            (i + 1 == messages.size() || messages[i + 1].type != "SLLA" || texts[m.first + 1] != texts[messages[i + 1].first + 1]))
            problem("SLGA " + std::to_string(i + 1) + " ohne passende SLLA");
        if (m.type == "SLLA" && (i == 0 || messages[i - 1].type != "SLGA"))
            problem("SLLA " + std::to_string(i + 1) + " ohne SLGA davor");
        int ktl = 0;
        for (size_t s = m.first; s <= m.last; ++s) {
            if (tags[s] == "INV") ktl = 0;
            if (tags[s] == "KTL" && el(s, 1) != std::to_string(++ktl)) problem("KTL " + el(s, 1) + " nicht fortlaufend");
            if (tags[s] == "ZUK" && el(s, 1) != std::to_string(ktl)) problem("ZUK " + el(s, 1) + " nicht zur Fahrt davor");
        }
    }
    if (art != "1" && art != "3") problem("Rechnungsart " + art);
    if (art == "3" && (messages.empty() || el(messages[0].first, 2) != "J"))
        problem("Rechnungsart 3 ohne Sammelrechnung am Anfang");
    return problems;
}

} // namespace brenvo::test
