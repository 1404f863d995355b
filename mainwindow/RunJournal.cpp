#include "mainwindow/RunJournal.h"

#include "lib/base/Error.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

constexpr std::string_view kHeader = "Brenvo-Verarbeitung 1";

// Fields are separated by tabs, records by line ends; a backslash, tab, CR
// or LF inside a text is written as \\, \t, \r, \n.
std::string Escape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

bool Unescape(std::string_view s, std::string& out) {
    out.clear();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (++i == s.size()) return false;
        switch (s[i]) {
        case '\\': out += '\\'; break;
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        default: return false;
        }
    }
    return true;
}

// A value with its kind in front: "-" null, "s" text, "i" integer, "f" real,
// "b" flag, "d" date-time (day count); numbers exactly as stored.
std::string EncodeValue(const Value& v) {
    struct Visitor {
        std::string operator()(std::monostate) const { return "-"; }
        std::string operator()(const std::string& s) const { return "s" + Escape(s); }
        std::string operator()(int64_t i) const { return "i" + IntToStr(i); }
        std::string operator()(double d) const { return "f" + FloatToText(d); }
        std::string operator()(bool b) const { return b ? "b1" : "b0"; }
        std::string operator()(TDateTime t) const { return t.IsNull() ? "-" : "d" + FloatToText(t.Value()); }
    };
    return std::visit(Visitor{}, v);
}

bool DecodeValue(std::string_view text, Value& v) {
    if (text.empty()) return false;
    const std::string_view rest = text.substr(1);
    switch (text[0]) {
    case '-': v = std::monostate{}; return rest.empty();
    case 's': {
        std::string s;
        if (!Unescape(rest, s)) return false;
        v = std::move(s);
        return true;
    }
    case 'i':
        if (auto i = ParseInt(rest)) return v = *i, true;
        return false;
    case 'f':
        if (auto d = ParseDecimal(rest)) return v = *d, true;
        return false;
    case 'b':
        if (rest != "0" && rest != "1") return false;
        v = rest == "1";
        return true;
    case 'd':
        if (auto d = ParseDecimal(rest)) return v = TDateTime::FromValue(*d), true;
        return false;
    }
    return false;
}

std::string RowText(const JournalRow& row) {
    std::string out;
    for (const auto& [name, value] : row) out += "\t" + Escape(name) + "=" + EncodeValue(value);
    return out;
}

bool ParseRow(const std::vector<std::string>& fields, size_t from, JournalRow& row) {
    row.clear();
    for (size_t i = from; i < fields.size(); ++i) {
        const size_t eq = fields[i].find('=');
        if (eq == std::string::npos) return false;
        std::string name;
        Value value;
        if (!Unescape(std::string_view(fields[i]).substr(0, eq), name) ||
            !DecodeValue(std::string_view(fields[i]).substr(eq + 1), value))
            return false;
        row.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

} // namespace

JournalRow RowOf(const Table& table) {
    JournalRow row;
    for (int i = 0; i < table.FieldCount(); ++i) {
        const FieldDef& f = table.Field(i);
        if (f.type == FieldType::Nested) continue;
        row.emplace_back(f.name, table.GetValue(i));
    }
    return row;
}

void FillRow(Table& table, const JournalRow& row) {
    for (const auto& [name, value] : row)
        if (table.HasField(name)) table.SetValue(name, value);
}

Value RowValue(const JournalRow& row, std::string_view column) {
    for (const auto& [name, value] : row)
        if (SameText(name, column)) return value;
    return Value();
}

std::string RunJournal::ToText() const {
    std::string out(kHeader);
    out += "\n";
    out += "Verzeichnisse\t" + Escape(ImportDir) + "\t" + Escape(InvoiceArchiveDir) + "\t" + Escape(TempDir) + "\t" +
           Escape(OrderArchiveDir) + "\n";
    out += "MAXTRANSFER\t" + IntToStr(MaxTransfer) + "\n";
    for (const Order& o : Orders)
        out += "Auftrag\t" + Escape(o.Handle) + "\t" + Escape(o.DtaRecipient) + "\t" + IntToStr(o.DtaRef) +
               RowText(o.Row) + "\n";
    for (const Invoice& inv : Invoices)
        out += "Rechnung\t" + Escape(inv.ImportName) + "\t" + Escape(inv.ArchiveName) + RowText(inv.Row) + "\n";
    out += "Ende\t" + IntToStr(int64_t(Orders.size())) + "\t" + IntToStr(int64_t(Invoices.size())) + "\n";
    return out;
}

RunJournal RunJournal::FromText(std::string_view text, const std::string& path) {
    auto broken = [&path](const std::string& why) {
        return Error("Die Datei " + path + " ist kein vollständiges Verarbeitungsprotokoll (" + why + ").");
    };
    RunJournal j;
    bool dirs = false, counter = false, end = false;
    int lineNo = 0;
    size_t start = 0;
    while (start < text.size()) {
        const size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) throw broken("letzte Zeile unvollständig");
        const std::string line(text.substr(start, nl - start));
        start = nl + 1;
        ++lineNo;
        if (end) throw broken("Zeile " + IntToStr(lineNo) + " nach dem Ende");
        if (lineNo == 1) {
            if (line != kHeader) throw broken("Kopfzeile");
            continue;
        }
        const std::vector<std::string> f = Split(line, '\t');
        bool ok = false;
        if (f[0] == "Verzeichnisse" && f.size() == 5) {
            ok = Unescape(f[1], j.ImportDir) && Unescape(f[2], j.InvoiceArchiveDir) && Unescape(f[3], j.TempDir) &&
                 Unescape(f[4], j.OrderArchiveDir);
            dirs = true;
        } else if (f[0] == "MAXTRANSFER" && f.size() == 2) {
            const auto n = ParseInt(f[1]);
            ok = n && *n >= INT32_MIN && *n <= INT32_MAX;
            if (ok) j.MaxTransfer = int32_t(*n);
            counter = true;
        } else if (f[0] == "Auftrag" && f.size() >= 4) {
            Order o;
            const auto ref = ParseInt(f[3]);
            ok = Unescape(f[1], o.Handle) && Unescape(f[2], o.DtaRecipient) && ref && ParseRow(f, 4, o.Row);
            if (ok) {
                o.DtaRef = *ref;
                j.Orders.push_back(std::move(o));
            }
        } else if (f[0] == "Rechnung" && f.size() >= 3) {
            Invoice inv;
            ok = Unescape(f[1], inv.ImportName) && Unescape(f[2], inv.ArchiveName) && ParseRow(f, 3, inv.Row);
            if (ok) j.Invoices.push_back(std::move(inv));
        } else if (f[0] == "Ende" && f.size() == 3) {
            ok = ParseInt(f[1]) == int64_t(j.Orders.size()) && ParseInt(f[2]) == int64_t(j.Invoices.size());
            end = true;
        }
        if (!ok) throw broken("Zeile " + IntToStr(lineNo));
    }
    if (!dirs || !counter || !end) throw broken("Ende fehlt");
    return j;
}

} // namespace brenvo
