#include "XmlScanner.h"

#include <algorithm>
#include <cstring>

#include "../base/Strings.h"
#include "TableImpl.h"

namespace brenvo::detail {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool IsNameChar(unsigned char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

const char* FindChar(const char* p, const char* end, char c) {
    return p < end ? static_cast<const char*>(std::memchr(p, c, size_t(end - p))) : nullptr;
}

const char* Find(const char* p, const char* end, std::string_view what) {
    auto it = std::search(p, end, what.begin(), what.end());
    return it == end ? nullptr : it;
}

} // namespace

bool IsXmlName(std::string_view s) {
    if (s.empty() || !IsNameStart(static_cast<unsigned char>(s[0]))) return false;
    for (char c : s)
        if (!IsNameChar(static_cast<unsigned char>(c))) return false;
    return true;
}

XmlScanner::XmlScanner(std::string_view text) : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}

void XmlScanner::Fail(const char* at, const char* what) const {
    size_t line = 1 + size_t(std::count(begin_, std::min(at, end_), '\n'));
    throw SyntaxError{line, what};
}

void XmlScanner::SkipSpace() {
    while (p_ < end_ && IsSpace(*p_)) ++p_;
}

std::string_view XmlScanner::ReadName() {
    const char* b = p_;
    if (p_ >= end_ || !IsNameStart(static_cast<unsigned char>(*p_))) return {};
    ++p_;
    while (p_ < end_ && IsNameChar(static_cast<unsigned char>(*p_))) ++p_;
    return std::string_view(b, size_t(p_ - b));
}

void XmlScanner::FinishTag() {
    std::string_view n, v;
    while (NextAttribute(n, v)) {
    }
}

XmlScanner::Event XmlScanner::Next() {
    if (inTag_) FinishTag();
    if (pendingEnd_) {
        pendingEnd_ = false;
        name_ = open_.back();
        open_.pop_back();
        return Event::End;
    }
    for (;;) {
        const char* lt = FindChar(p_, end_, '<');
        const char* textEnd = lt ? lt : end_;
        if (open_.empty()) {
            for (const char* q = p_; q < textEnd; ++q)
                if (!IsSpace(*q)) Fail(q, "Text außerhalb des Wurzelelements");
        }
        if (!lt) {
            if (!open_.empty()) Fail(end_, "ein Element ist nicht geschlossen");
            if (!rootSeen_) Fail(end_, "kein Element gefunden");
            p_ = end_;
            return Event::Eof;
        }
        p_ = lt;
        std::string_view rest(p_, size_t(end_ - p_));
        if (rest.starts_with("<?")) {
            const char* e = Find(p_ + 2, end_, "?>");
            if (!e) Fail(p_, "Verarbeitungsanweisung nicht abgeschlossen");
            p_ = e + 2;
            continue;
        }
        if (rest.starts_with("<!--")) {
            const char* e = Find(p_ + 4, end_, "-->");
            if (!e) Fail(p_, "Kommentar nicht abgeschlossen");
            p_ = e + 3;
            continue;
        }
        if (rest.starts_with("<![CDATA[")) {
            if (open_.empty()) Fail(p_, "CDATA außerhalb des Wurzelelements");
            const char* e = Find(p_ + 9, end_, "]]>");
            if (!e) Fail(p_, "CDATA nicht abgeschlossen");
            p_ = e + 3;
            continue;
        }
        if (rest.starts_with("<!DOCTYPE")) {
            if (rootSeen_) Fail(p_, "DOCTYPE an falscher Stelle");
            const char* gt = FindChar(p_, end_, '>');
            const char* br = FindChar(p_, end_, '[');
            if (!gt) Fail(p_, "DOCTYPE nicht abgeschlossen");
            if (br && br < gt) Fail(p_, "DOCTYPE mit eigenen Definitionen wird nicht unterstützt");
            p_ = gt + 1;
            continue;
        }
        if (rest.starts_with("<!")) Fail(p_, "unbekannte Deklaration");
        if (rest.starts_with("</")) {
            const char* at = p_;
            p_ += 2;
            std::string_view n = ReadName();
            SkipSpace();
            if (n.empty() || p_ >= end_ || *p_ != '>') Fail(at, "ungültiges Ende-Tag");
            ++p_;
            if (open_.empty() || open_.back() != n) Fail(at, "Ende-Tag passt nicht zum offenen Element");
            open_.pop_back();
            name_ = n;
            return Event::End;
        }
        const char* at = p_;
        ++p_;
        std::string_view n = ReadName();
        if (n.empty()) Fail(at, "ungültiger Elementname");
        if (open_.empty() && rootSeen_) Fail(at, "zweites Wurzelelement");
        rootSeen_ = true;
        open_.push_back(n);
        name_ = n;
        inTag_ = true;
        return Event::Start;
    }
}

bool XmlScanner::NextAttribute(std::string_view& name, std::string_view& rawValue) {
    if (!inTag_) return false;
    const char* before = p_;
    SkipSpace();
    if (p_ >= end_) Fail(p_, "Tag nicht abgeschlossen");
    if (*p_ == '/') {
        if (p_ + 1 >= end_ || p_[1] != '>') Fail(p_, "ungültiges Zeichen im Tag");
        p_ += 2;
        inTag_ = false;
        pendingEnd_ = true;
        return false;
    }
    if (*p_ == '>') {
        ++p_;
        inTag_ = false;
        return false;
    }
    if (p_ == before) Fail(p_, "Leerzeichen vor dem Attribut fehlt");
    const char* at = p_;
    name = ReadName();
    if (name.empty()) Fail(at, "ungültiges Zeichen im Tag");
    SkipSpace();
    if (p_ >= end_ || *p_ != '=') Fail(p_, "\"=\" nach dem Attributnamen fehlt");
    ++p_;
    SkipSpace();
    if (p_ >= end_ || (*p_ != '"' && *p_ != '\'')) Fail(p_, "Attributwert ohne Anführungszeichen");
    char quote = *p_++;
    const char* e = FindChar(p_, end_, quote);
    if (!e) Fail(at, "Attributwert nicht abgeschlossen");
    if (FindChar(p_, e, '<')) Fail(at, "\"<\" in einem Attributwert");
    rawValue = std::string_view(p_, size_t(e - p_));
    p_ = e + 1;
    if (p_ < end_ && !IsSpace(*p_) && *p_ != '/' && *p_ != '>') Fail(p_, "ungültiges Zeichen im Tag");
    return true;
}

std::string_view XmlScanner::Decode(std::string_view raw, std::string& scratch) const {
    size_t i = 0;
    for (; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '&' || c == '\t' || c == '\n' || c == '\r') break;
    }
    if (i == raw.size()) return raw;
    scratch.assign(raw.data(), i);
    for (; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\r') {
            if (i + 1 < raw.size() && raw[i + 1] == '\n') continue;   // CR LF is one line end
            scratch += ' ';
        } else if (c == '\t' || c == '\n') {
            scratch += ' ';
        } else if (c != '&') {
            scratch += c;
        } else {
            size_t semi = raw.find(';', i);
            if (semi == std::string_view::npos || semi - i > 10) Fail(raw.data() + i, "ungültiges Zeichen \"&\"");
            std::string_view ent = raw.substr(i + 1, semi - i - 1);
            if (ent == "amp") scratch += '&';
            else if (ent == "lt") scratch += '<';
            else if (ent == "gt") scratch += '>';
            else if (ent == "quot") scratch += '"';
            else if (ent == "apos") scratch += '\'';
            else if (ent.size() > 1 && ent[0] == '#') {
                bool hex = ent[1] == 'x';
                std::string_view digits = ent.substr(hex ? 2 : 1);
                unsigned cp = 0;
                if (digits.empty()) Fail(raw.data() + i, "ungültiger Zeichenverweis");
                for (char d : digits) {
                    unsigned v;
                    if (d >= '0' && d <= '9') v = unsigned(d - '0');
                    else if (hex && d >= 'a' && d <= 'f') v = unsigned(d - 'a' + 10);
                    else if (hex && d >= 'A' && d <= 'F') v = unsigned(d - 'A' + 10);
                    else Fail(raw.data() + i, "ungültiger Zeichenverweis");
                    cp = cp * (hex ? 16 : 10) + v;
                    if (cp > 0x10FFFF) Fail(raw.data() + i, "ungültiger Zeichenverweis");
                }
                if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) Fail(raw.data() + i, "ungültiger Zeichenverweis");
                AppendUtf8(scratch, char32_t(cp));
            } else {
                Fail(raw.data() + i, "unbekannte Entität");
            }
            i = semi;
        }
    }
    return scratch;
}

void XmlScanner::SkipElement() {
    size_t depth = open_.size();
    while (open_.size() >= depth) {
        if (Next() == Event::Eof) return;
    }
}

} // namespace brenvo::detail
