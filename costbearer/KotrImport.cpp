#include "costbearer/KotrImport.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "costbearer/KTTables.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

// ---------------------------------------------------------------------------
// Code lists

// Order of the kinds of insurer: an IK found in several files takes its
// name and address from the first.
const std::vector<std::string> kKindOrder = {"AO", "BK", "IK", "BN", "LK", "EK"};

std::string KindName(const std::string& kind) {
    static const std::map<std::string, std::string> names = {
        {"AO", "AOK"},
        {"BK", "Betriebskrankenkassen"},
        {"IK", "Innungskrankenkassen"},
        {"BN", "Knappschaft-Bahn-See"},
        {"LK", "Landwirtschaftliche Krankenkasse"},
        {"EK", "Ersatzkassen"},
        {"GK", "Gesetzliche Krankenversicherung"},
        {"SB", "Sonstige Kostenträger"}};
    auto it = names.find(kind);
    return it == names.end() ? kind : it->second;
}

bool OneOf(const std::string& v, std::initializer_list<const char*> list) {
    for (const char* x : list)
        if (v == x) return true;
    return false;
}

bool IsStateCode(const std::string& v) {
    const int64_t n = StrToIntDef(v, 0);
    return v.size() == 2 && IsDigits(v) && n >= 1 && n <= 16;
}

// KV districts: the regions with the federal state they lie in ("" for the
// regions a link cannot be placed by), and their sub-districts.
struct KvDistrict {
    const char* code;
    const char* state;   // "" for the regions a link cannot be placed by
};
constexpr KvDistrict kKvRegions[] = {{"01", "01"}, {"02", "02"}, {"03", "04"}, {"17", "03"}, {"20", "05"},
                                     {"38", "05"}, {"46", "06"}, {"47", ""},   {"48", ""},   {"49", ""},
                                     {"50", ""},   {"55", ""},   {"60", ""},   {"61", ""},   {"62", ""},
                                     {"71", "09"}, {"72", "11"}, {"73", "10"}, {"78", "13"}, {"83", "12"},
                                     {"88", "15"}, {"93", "16"}, {"98", "14"}};
constexpr const char* kKvSubDistricts[] = {
    "06", "07", "08", "09", "10", "11", "12", "13", "14", "15", "16", "18", "19", "21", "24", "25", "27", "28",
    "31", "37", "39", "40", "41", "42", "43", "44", "45", "52", "53", "54", "56", "57", "58", "59", "63", "64",
    "65", "66", "67", "68", "69", "70", "79", "80", "81", "85", "86", "87", "89", "90", "91", "94", "95", "96"};

const KvDistrict* KvRegion(const std::string& code) {
    for (const KvDistrict& d : kKvRegions)
        if (code == d.code) return &d;
    return nullptr;
}

bool IsKvSubDistrict(const std::string& code) {
    for (const char* c : kKvSubDistricts)
        if (code == c) return true;
    return false;
}

// The provider kinds (Abrechnungscodes) of group "5" known when this was
// written; another two-character code is kept and named in the log.
bool IsKnownProviderCode(const std::string& c) {
    if (c.size() != 2) return false;
    if (IsDigits(c)) {
        const int n = int(StrToIntDef(c, -1));
        return n == 0 || n == 99 || (n >= 10 && n <= 34) || (n >= 40 && n <= 50) || (n >= 55 && n <= 57) ||
               (n >= 60 && n <= 63) || (n >= 65 && n <= 69) || (n >= 71 && n <= 76) || (n >= 90 && n <= 94);
    }
    return (c[0] == 'A' && c[1] >= '0' && c[1] <= '8') || c == "B1" || (c[0] == 'C' && c[1] >= '0' && c[1] <= '4');
}

bool IsCodeText(const std::string& c) {
    return c.size() == 2 && std::all_of(c.begin(), c.end(), [](char ch) {
               return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z');
           });
}

// Paper kinds of "Art der Datenlieferung" as bits.
enum : unsigned { kInvoice = 1, kVoucher = 2, kPrescription = 4, kEstimate = 8 };

unsigned PaperKinds(const std::string& lieferart) {
    if (lieferart == "21") return kInvoice;
    if (lieferart == "24") return kVoucher;
    if (lieferart == "26") return kPrescription;
    if (lieferart == "27") return kEstimate;
    if (lieferart == "28") return kInvoice | kPrescription | kEstimate;
    if (lieferart == "29") return kVoucher | kPrescription | kEstimate;
    return 0;
}

// The paper keys for a set of kinds: the group keys first.
std::vector<std::string> PaperKeys(unsigned kinds) {
    std::vector<std::string> keys;
    if (kinds == 0) return {"99"};
    constexpr unsigned k28 = kInvoice | kPrescription | kEstimate, k29 = kVoucher | kPrescription | kEstimate;
    if ((kinds & k28) == k28) {
        keys.push_back("28");
        kinds &= ~k28;
    } else if ((kinds & k29) == k29) {
        keys.push_back("29");
        kinds &= ~k29;
    }
    if (kinds & kInvoice) keys.push_back("21");
    if (kinds & kVoucher) keys.push_back("24");
    if (kinds & kPrescription) keys.push_back("26");
    if (kinds & kEstimate) keys.push_back("27");
    return keys;
}

// ---------------------------------------------------------------------------
// Texts

// Blanks and other white space as single blanks, none at the ends.
std::string CollapseBlanks(const std::string& s) {
    std::string out;
    bool blank = false;
    for (char c : s) {
        if (static_cast<unsigned char>(c) <= ' ') {
            blank = !out.empty();
        } else {
            if (blank) out += ' ';
            blank = false;
            out += c;
        }
    }
    return out;
}

// The name cut into lines of at most `width` characters, filled with whole
// words; a word longer than a line fills the rest of the current line and
// goes on in the next. A word is never broken at a hyphen.
std::vector<std::string> WrapWords(const std::string& text, size_t width) {
    std::vector<std::string> chunks;   // words and the blanks between them, last first
    {
        std::vector<std::string> words = Split(CollapseBlanks(text), ' ');
        for (size_t i = words.size(); i-- > 0;) {
            if (words[i].empty()) continue;
            if (!chunks.empty()) chunks.push_back(" ");
            chunks.push_back(words[i]);
        }
    }
    std::vector<std::string> lines;
    while (!chunks.empty()) {
        std::vector<std::string> line;
        size_t len = 0;
        if (chunks.back() == " " && !lines.empty()) chunks.pop_back();
        while (!chunks.empty()) {
            const size_t l = Utf8Length(chunks.back());
            if (len + l > width) break;
            line.push_back(chunks.back());
            chunks.pop_back();
            len += l;
        }
        if (!chunks.empty() && Utf8Length(chunks.back()) > width) {
            const size_t room = width > len ? width - len : 0;
            std::string& word = chunks.back();
            line.push_back(Utf8Left(word, room));
            word.erase(0, Utf8LeftBytes(word, room));
            len += room;
        }
        if (!line.empty() && line.back() == " ") line.pop_back();
        if (!line.empty()) lines.push_back(Join(line, ""));
    }
    return lines;
}

// ---------------------------------------------------------------------------
// Validity

bool EndsBefore(const TDateTime& to, const TDateTime& day) { return !to.IsNull() && to < day; }

// The entry's period narrowed by a segment's own VDT.
void Narrow(const std::optional<KotrValidity>& own, TDateTime& from, TDateTime& to) {
    if (!own) return;
    if (own->From > from) from = own->From;
    if (!own->To.IsNull() && (to.IsNull() || own->To < to)) to = own->To;
}

std::string ValidityKey(const std::optional<KotrValidity>& own) {
    if (!own) return "";
    return FormatYYYYMMDD(own->From) + "-" + (own->To.IsNull() ? "" : FormatYYYYMMDD(own->To));
}

// ---------------------------------------------------------------------------
// The rows, as plain records until the tables are made

struct BaseRow {
    std::string ik, art, kurz, kassenart, name[4], asp;
    std::string isKT, isDaten, isDatenPhys, isPapier, isVerweis, verweise, ziel, final, kostentr, dtaref;
    TDateTime from, to;
    // Kept only for the DTAREF counter: its other columns as they were.
    std::map<std::string, Value> kept;
};

struct LinkRow {
    std::string ik, art, partner, land, bezirk, leart, lieferart, group, validityKey;
    TDateTime from, to;
};

struct AddressRow {
    std::string ik, art, plz, ort, strasse;
    TDateTime from, to;
};

struct ChannelRow {
    std::string ik, protokoll = "070", kanal, dakota = " ";
    std::string medium = "1", param = "00", zeichensatz = "I8", kompression;
    std::string benutzer, zeitVon = "0000", zeitBis = "2400", tage = "1";
    TDateTime from, to;
};

struct Entry {
    const KotrFile* file = nullptr;
    std::string ik, kurz, name, asp;
    TDateTime from, to;
    std::vector<AddressRow> addresses;
    std::optional<ChannelRow> mail;   // the first e-mail channel; its address may be empty
    std::vector<LinkRow> links;       // referrals, physical, logical recipients, then paper offices
};

struct FileCount {
    const KotrFile* file = nullptr;
    int messages = 0, entries = 0, cancelled = 0, expired = 0, skipped = 0;
};

// Reasons for leaving a link out, counted for the log.
using Counts = std::map<std::string, int>;

} // namespace

// ---------------------------------------------------------------------------

struct KotrImport::Impl {
    bool allLinks = false;
    TDateTime today;
    LogFn log;

    std::vector<KotrFile> files;
    std::vector<const KotrFile*> chosen;
    std::vector<FileCount> counts;
    std::vector<Entry> entries;
    std::vector<BaseRow> base;
    std::vector<LinkRow> links;
    std::vector<AddressRow> addresses;
    std::vector<ChannelRow> channels;
    bool built = false;

    Counts linksLeftOut, messagesSkipped;
    std::map<std::string, int> unknownCodes;
    int filtered = 0, duplicates = 0, segmentsExpired = 0;

    void Log(const std::string& text) const {
        if (log) log(LogPrefix + text);
    }

    void Choose();
    void ReadEntries(const KotrFile& file, FileCount& count);
    bool ReadEntry(const KotrFile& file, const KotrMessage& m, FileCount& count, Entry& e);
    void ReadLinks(const KotrMessage& m, Entry& e);
    std::optional<LinkRow> ReadLink(const KotrSegment& s, const Entry& e, std::string& paperKey,
                                    unsigned& paperKinds);
    void ReadChannels(const KotrMessage& m, Entry& e);
    void MapEntries();
    void ComputeBaseFlags();
};

KotrImport::KotrImport(bool allLinks, TDateTime today, LogFn log) : d_(std::make_unique<Impl>()) {
    d_->allLinks = allLinks;
    d_->today = today.DateOnly();
    d_->log = std::move(log);
}

KotrImport::~KotrImport() = default;

const std::vector<std::string>& KotrImport::TransportCodes() {
    static const std::vector<std::string> codes = {"00", "40", "46", "99"};
    return codes;
}

void KotrImport::ReadFile(const std::string& path) { AddFile(ReadKotrFile(path)); }

void KotrImport::AddFile(KotrFile file) {
    if (d_->built) throw Error("Die Kostenträgerdateien wurden schon übernommen.");
    d_->Log(Format("%s gelesen: %s, gültig ab %s, %d Nachrichten",
                   {file.DisplayName, KindName(file.Name.Kassenart), FormatDDMMYYYY(file.Name.ValidFrom),
                    int(file.Messages.size())}));
    d_->files.push_back(std::move(file));
}

// ---------------------------------------------------------------------------
// Choosing the files

void KotrImport::Impl::Choose() {
    if (files.empty()) throw Error("Keine Kostenträgerdatei angegeben.");
    for (const KotrFile& f : files)
        if (f.Name.Verfahren != "05")
            throw Error(Format("%s ist eine Kostenträgerdatei des Verfahrens %s, nicht der Sonstigen "
                               "Leistungserbringer (05). Es wurde nichts übernommen.",
                               {f.DisplayName, f.Name.Verfahren}));
    std::vector<std::string> kinds;
    for (const KotrFile& f : files)
        if (std::find(kinds.begin(), kinds.end(), f.Name.Kassenart) == kinds.end()) kinds.push_back(f.Name.Kassenart);
    auto rank = [](const std::string& kind) {
        auto it = std::find(kKindOrder.begin(), kKindOrder.end(), kind);
        return it == kKindOrder.end() ? kKindOrder.size() : size_t(it - kKindOrder.begin());
    };
    std::stable_sort(kinds.begin(), kinds.end(), [&](const std::string& a, const std::string& b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a < b;
    });

    for (const std::string& kind : kinds) {
        const KotrFile* best = nullptr;
        const KotrFile* future = nullptr;
        for (const KotrFile& f : files) {
            if (f.Name.Kassenart != kind) continue;
            if (f.Name.ValidFrom > today) {
                if (!future || f.Name.ValidFrom < future->Name.ValidFrom) future = &f;
                continue;
            }
            if (!best || f.Name.ValidFrom > best->Name.ValidFrom ||
                (f.Name.ValidFrom == best->Name.ValidFrom && f.Name.Version > best->Name.Version))
                best = &f;
        }
        if (!best)
            throw Error(Format("Für %s gilt noch keine der Dateien: %s gilt erst ab %s. Es wurde nichts übernommen.",
                               {KindName(kind), future->DisplayName, FormatDDMMYYYY(future->Name.ValidFrom)}));
        chosen.push_back(best);
        for (const KotrFile& f : files) {
            if (f.Name.Kassenart != kind || &f == best) continue;
            if (f.Name.ValidFrom > today)
                Log(Format("%s nicht verwendet: gilt erst ab %s.", {f.DisplayName, FormatDDMMYYYY(f.Name.ValidFrom)}));
            else
                Log(Format("%s nicht verwendet (gültig ab %s): es gilt %s (gültig ab %s).",
                           {f.DisplayName, FormatDDMMYYYY(f.Name.ValidFrom), best->DisplayName,
                            FormatDDMMYYYY(best->Name.ValidFrom)}));
        }
    }
    for (const std::string& kind : kKindOrder)
        if (std::find(kinds.begin(), kinds.end(), kind) == kinds.end())
            Log(Format("keine Datei für %s (%s): deren Kostenträger fehlen im neuen Verzeichnis.",
                       {KindName(kind), kind}));
}

// ---------------------------------------------------------------------------
// Reading the entries

bool KotrImport::Impl::ReadEntry(const KotrFile& file, const KotrMessage& m, FileCount& count, Entry& e) {
    auto skip = [&](const std::string& why) {
        ++count.skipped;
        ++messagesSkipped[why];
        return false;
    };
    if (m.Type != "KOTR" || StrToIntDef(m.Version, 99) > 2) return skip("andere Nachrichtenart");
    const KotrSegment* idk = nullptr;
    const KotrSegment* fkt = nullptr;
    const KotrSegment* nam = nullptr;
    for (const KotrSegment& s : m.Segments) {
        if (s.Tag == "IDK" && !idk) idk = &s;
        if (s.Tag == "FKT" && !fkt) fkt = &s;
        if (s.Tag == "NAM" && !nam) nam = &s;
    }
    const std::string function = fkt->Element(1);
    if (function == "03") {
        ++count.cancelled;
        return false;
    }
    if (!OneOf(function, {"01", "02", "04"})) return skip("Verarbeitungskennzeichen " + function);

    const KotrValidity& v = idk->Validity ? *idk->Validity : *fkt->Validity;
    const TDateTime listDate = file.Name.ValidFrom;
    if (EndsBefore(v.To, listDate)) {
        ++count.expired;
        return false;
    }
    if (idk->Element(2) != "99") return skip("Art der Institution " + idk->Element(2));

    e.file = &file;
    e.ik = idk->Element(1);
    e.kurz = idk->Element(3);
    e.from = v.From > listDate ? v.From : listDate;
    e.to = v.To;
    {
        std::vector<std::string> parts;
        for (size_t i = 2; i <= nam->ElementCount(); ++i) parts.push_back(nam->Element(i));
        e.name = Join(parts, " ");
    }

    // The first contact, by sequence number.
    std::vector<const KotrSegment*> contacts;
    for (const KotrSegment& s : m.Segments)
        if (s.Tag == "ASP") contacts.push_back(&s);
    std::stable_sort(contacts.begin(), contacts.end(), [](const KotrSegment* a, const KotrSegment* b) {
        return StrToIntDef(a->Element(1), INT32_MAX) < StrToIntDef(b->Element(1), INT32_MAX);
    });
    if (!contacts.empty()) {
        const KotrSegment& c = *contacts.front();
        std::vector<std::string> parts;
        for (const std::string& part : {c.Element(4), c.Element(5), c.Element(2).empty() ? "" : "Tel. " + c.Element(2)})
            if (!part.empty()) parts.push_back(part);
        e.asp = Utf8Left(Join(parts, ", "), 60);
    }

    for (const KotrSegment& s : m.Segments) {
        if (s.Tag != "ANS") continue;
        const std::string kind = s.Element(1), street = s.Element(4);
        if (!OneOf(kind, {"1", "2", "3"})) continue;
        if (s.Validity && EndsBefore(s.Validity->To, listDate)) {
            ++segmentsExpired;
            continue;
        }
        AddressRow a;
        a.ik = e.ik;
        a.art = (kind == "1" || kind == "2") && !street.empty() ? kind : "3";
        std::string digits;
        for (char c : s.Element(2)) {
            if (c < '0' || c > '9') break;
            digits += c;
        }
        const size_t nonZero = std::min(digits.find_first_not_of('0'), digits.size());
        a.plz = PadLeft(digits.substr(nonZero), 5, '0');
        a.ort = Trim(s.Element(3));
        if (a.art == "1") {
            a.strasse = Trim(street);
        } else if (a.art == "2") {
            a.strasse = CollapseBlanks(street);
            if (!StartsText("postfach", a.strasse)) a.strasse = "Postfach " + a.strasse;
        }
        a.from = e.from;
        a.to = e.to;
        Narrow(s.Validity, a.from, a.to);
        e.addresses.push_back(std::move(a));
    }
    if (e.addresses.empty()) return skip("keine Anschrift");

    ReadLinks(m, e);
    ReadChannels(m, e);
    return true;
}

// One link, or nullopt when it is left out (the reason counted). A paper
// link's merge key and paper kinds are handed back for merging.
std::optional<LinkRow> KotrImport::Impl::ReadLink(const KotrSegment& s, const Entry& e, std::string& paperKey,
                                                  unsigned& paperKinds) {
    const std::string art = s.Element(1), group = s.Element(3), office = s.Element(4), lieferart = s.Element(5),
                      medium = s.Element(6), state = s.Element(7), kv = s.Element(8), code = s.Element(9),
                      tariff = s.Element(10), subProcedure = s.Element(11);
    auto leaveOut = [&](const std::string& why) -> std::optional<LinkRow> {
        ++linksLeftOut[why];
        return std::nullopt;
    };
    if (!OneOf(art, {"00", "01", "02", "03", "09"})) return leaveOut("Art der Verknüpfung " + art);
    if (art == "00") return leaveOut("keine Verknüpfung möglich (00)");
    if (!group.empty() && group != "5" && group != "6") return leaveOut("Leistungserbringergruppe " + group);
    if (!lieferart.empty() && !OneOf(lieferart, {"07", "21", "24", "26", "27", "28", "29"}))
        return leaveOut("Art der Datenlieferung " + lieferart);
    if ((art == "02" || art == "03") && lieferart != "07")
        return leaveOut("Datenannahmestelle ohne Art der Datenlieferung 07");
    if (art == "09" && lieferart == "07") return leaveOut("Papierannahmestelle mit Art der Datenlieferung 07");
    if (!medium.empty() && !OneOf(medium, {"1", "2", "3", "4", "5", "6", "7", "9"}))
        return leaveOut("Übermittlungsmedium " + medium);
    if (!state.empty() && state != "99" && !IsStateCode(state)) return leaveOut("Bundesland " + state);
    const KvDistrict* region = kv.empty() ? nullptr : KvRegion(kv);
    if (!kv.empty() && !region && !IsKvSubDistrict(kv)) return leaveOut("KV-Bezirk " + kv);
    if (!kv.empty() && (!region || region->state[0] == 0)) return leaveOut("KV-Bezirk unterhalb der Landesebene");
    if (!code.empty() && group != "5" && group != "6") return leaveOut("Abrechnungscode ohne Leistungserbringergruppe");
    if (!code.empty() && !IsCodeText(code)) return leaveOut("Abrechnungscode " + code);
    if (!office.empty()) return leaveOut("nur für eine Abrechnungsstelle");
    if (!tariff.empty()) return leaveOut("nur für ein Tarifkennzeichen");
    if (!subProcedure.empty()) return leaveOut("nur für das Unterverfahren " + subProcedure);
    if (s.Validity && EndsBefore(s.Validity->To, e.file->Name.ValidFrom)) {
        ++segmentsExpired;
        return std::nullopt;
    }
    if (group == "5" && !code.empty() && !IsKnownProviderCode(code)) ++unknownCodes[code];

    LinkRow r;
    r.ik = e.ik;
    r.art = art;
    r.partner = s.Element(2);
    r.group = group;
    if (kv == "38" || kv == "20") {
        r.land = "05";
        r.bezirk = kv;
    } else if (region) {
        r.land = region->state;
        r.bezirk = "99";
    } else {
        r.land = IsStateCode(state) ? state : "99";
        r.bezirk = "99";
    }
    r.leart = !code.empty() ? code : group == "5" ? "00" : "99";
    r.lieferart = "99";
    r.from = e.from;
    r.to = e.to;
    Narrow(s.Validity, r.from, r.to);
    r.validityKey = ValidityKey(s.Validity);
    if (art == "09") {
        const std::string groupCode = group.empty() ? "" : group + ":" + (code.empty() ? "00" : code);
        paperKey = r.partner + "|" + groupCode + "|" + r.validityKey;
        paperKinds = PaperKinds(lieferart);
    }
    return r;
}

void KotrImport::Impl::ReadLinks(const KotrMessage& m, Entry& e) {
    std::vector<LinkRow> byKind[3];   // "01", "02", "03"
    struct Paper {
        std::string key;
        LinkRow first;
        unsigned kinds = 0;
    };
    std::vector<Paper> paper;
    for (const KotrSegment& s : m.Segments) {
        if (s.Tag != "VKG") continue;
        std::string paperKey;
        unsigned kinds = 0;
        std::optional<LinkRow> r = ReadLink(s, e, paperKey, kinds);
        if (!r) continue;
        if (r->art == "09") {
            auto it = std::find_if(paper.begin(), paper.end(), [&](const Paper& p) { return p.key == paperKey; });
            if (it == paper.end()) paper.push_back({paperKey, std::move(*r), kinds});
            else it->kinds |= kinds;
        } else {
            byKind[r->art == "01" ? 0 : r->art == "02" ? 1 : 2].push_back(std::move(*r));
        }
    }
    for (auto& rows : byKind)
        for (LinkRow& r : rows) e.links.push_back(std::move(r));
    for (Paper& p : paper)
        for (const std::string& key : PaperKeys(p.kinds)) {
            LinkRow r = p.first;
            r.lieferart = key;
            e.links.push_back(std::move(r));
        }
}

// The first e-mail channel of the entry: channels belong to the medium
// (UEM) before them and count within it.
void KotrImport::Impl::ReadChannels(const KotrMessage& m, Entry& e) {
    struct Channel {
        const KotrSegment* dfu;
        int medium;   // position of its UEM, -1 before any
        const KotrSegment* uem;
    };
    std::vector<Channel> found;
    int medium = -1;
    const KotrSegment* uem = nullptr;
    for (const KotrSegment& s : m.Segments) {
        if (s.Tag == "UEM") {
            ++medium;
            uem = &s;
        } else if (s.Tag == "DFU" && s.Element(2) == "070" &&
                   (s.Element(6).empty() || OneOf(s.Element(6), {"1", "2", "3"}))) {
            found.push_back({&s, medium, uem});
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Channel& a, const Channel& b) {
        if (a.medium != b.medium) return a.medium < b.medium;
        return StrToIntDef(a.dfu->Element(1), INT32_MAX) < StrToIntDef(b.dfu->Element(1), INT32_MAX);
    });
    const TDateTime listDate = e.file->Name.ValidFrom;
    for (const Channel& c : found) {
        const KotrSegment& s = *c.dfu;
        if ((s.Validity && EndsBefore(s.Validity->To, listDate)) ||
            (c.uem && c.uem->Validity && EndsBefore(c.uem->Validity->To, listDate))) {
            ++segmentsExpired;
            continue;
        }
        ChannelRow r;
        r.ik = e.ik;
        r.kanal = Trim(s.Element(7));
        r.benutzer = s.Element(3);
        if (!s.Element(4).empty()) r.zeitVon = s.Element(4);
        if (!s.Element(5).empty()) r.zeitBis = s.Element(5);
        if (!s.Element(6).empty()) r.tage = s.Element(6);
        // The validity of the IK's first entry, narrowed by the channel's own.
        r.from = TDateTime();
        r.to = TDateTime();
        if (c.uem) Narrow(c.uem->Validity, r.from, r.to);
        Narrow(s.Validity, r.from, r.to);
        e.mail = std::move(r);
        return;
    }
}

void KotrImport::Impl::ReadEntries(const KotrFile& file, FileCount& count) {
    count.file = &file;
    for (const KotrMessage& m : file.Messages) {
        ++count.messages;
        Entry e;
        if (!ReadEntry(file, m, count, e)) continue;
        ++count.entries;
        entries.push_back(std::move(e));
    }
}

// ---------------------------------------------------------------------------
// Entries into rows

void KotrImport::Impl::MapEntries() {
    // Links: filtered, identical ones once, then ordered for the lookups.
    std::unordered_set<std::string> seen;
    const std::vector<std::string>& transport = TransportCodes();
    for (Entry& e : entries)
        for (LinkRow& r : e.links) {
            if (!allLinks && r.art != "01" &&
                std::find(transport.begin(), transport.end(), r.leart) == transport.end()) {
                ++filtered;
                continue;
            }
            std::string key = r.ik + "|" + r.art + "|" + r.partner + "|" + r.land + "|" + r.bezirk + "|" + r.leart +
                              "|" + r.lieferart + "|" + r.validityKey;
            if (!seen.insert(std::move(key)).second) {
                ++duplicates;
                continue;
            }
            links.push_back(r);
        }

    // One KT_BASE row per IK, from its first entry.
    std::map<std::string, const Entry*> first;
    for (const Entry& e : entries) first.emplace(e.ik, &e);
    std::map<std::string, const ChannelRow*> mail;
    for (const Entry& e : entries)
        if (e.mail && !e.mail->kanal.empty()) mail.emplace(e.ik, &*e.mail);
    for (const auto& [ik, e] : first) {
        BaseRow b;
        b.ik = ik;
        b.art = "99";
        b.kurz = Utf8Left(Trim(e->kurz), 30);
        b.kassenart = e->file->Name.Kassenart;
        std::vector<std::string> lines = WrapWords(e->name, 30);
        if (lines.size() > 4) {
            std::vector<std::string> rest(lines.begin() + 3, lines.end());
            lines.resize(3);
            lines.push_back(Utf8Left(Join(rest, " "), 30));
        }
        for (size_t i = 0; i < lines.size(); ++i) b.name[i] = lines[i];
        b.asp = e->asp;
        b.from = e->from;
        b.to = e->to;
        base.push_back(std::move(b));
        for (const AddressRow& a : e->addresses) addresses.push_back(a);
        auto m = mail.find(ik);
        if (m != mail.end()) {
            ChannelRow c = *m->second;
            TDateTime from = e->from, to = e->to;
            if (!c.from.IsNull() || !c.to.IsNull()) Narrow(KotrValidity{c.from, c.to}, from, to);
            c.from = from;
            c.to = to;
            channels.push_back(std::move(c));
        }
    }
    ComputeBaseFlags();

    std::stable_sort(links.begin(), links.end(), [](const LinkRow& a, const LinkRow& b) {
        if (a.ik != b.ik) return a.ik < b.ik;
        if (a.art != b.art) return a.art < b.art;
        if (a.leart != b.leart) return a.leart < b.leart;
        if (a.land != b.land) return a.land < b.land;
        if (a.bezirk != b.bezirk) return a.bezirk < b.bezirk;
        return a.from < b.from;
    });
}

void KotrImport::Impl::ComputeBaseFlags() {
    std::unordered_map<std::string, const LinkRow*> firstReferral;
    std::unordered_set<std::string> selfReferral, referralToOther, referralTarget, daten, datenPhys, papier;
    std::unordered_map<std::string, int> referredBy;
    for (const LinkRow& r : links) {
        if (r.art == "01") {
            firstReferral.emplace(r.ik, &r);
            referralTarget.insert(r.partner);
            if (r.partner == r.ik) {
                selfReferral.insert(r.ik);
            } else {
                referralToOther.insert(r.ik);
                ++referredBy[r.partner];
            }
        } else if (r.art == "03") {
            daten.insert(r.partner);
        } else if (r.art == "02") {
            datenPhys.insert(r.partner);
        } else if (r.art == "09") {
            papier.insert(r.partner);
        }
    }
    std::unordered_set<std::string> inDirectory, costBearers;
    for (const BaseRow& b : base) {
        inDirectory.insert(b.ik);
        const bool ownReferral = firstReferral.count(b.ik) > 0;
        if (selfReferral.count(b.ik) || (!ownReferral && referralTarget.count(b.ik))) costBearers.insert(b.ik);
    }
    auto flag = [](bool on) { return std::string(on ? "T" : "F"); };
    auto next = [&](const std::string& ik) -> const std::string* {
        auto it = firstReferral.find(ik);
        return it == firstReferral.end() ? nullptr : &it->second->partner;
    };
    for (BaseRow& b : base) {
        const bool isKT = costBearers.count(b.ik) > 0;
        b.isKT = flag(isKT);
        b.isVerweis = flag(referralToOther.count(b.ik) > 0);
        b.isDaten = flag(daten.count(b.ik) > 0);
        b.isDatenPhys = flag(datenPhys.count(b.ik) > 0);
        b.isPapier = flag(papier.count(b.ik) > 0);
        b.verweise = IntToStr(referredBy.count(b.ik) ? referredBy[b.ik] : 0);
        const std::string* target = next(b.ik);
        b.ziel = target ? *target : "";

        // The end of the chain of first referrals.
        b.final.clear();
        if (target) {
            std::vector<std::string> visited = {b.ik};
            std::string c = b.ik;
            while (true) {
                const std::string* n = next(c);
                if (!n || *n == c) {
                    b.final = c;
                    break;
                }
                if (std::find(visited.begin(), visited.end(), *n) != visited.end()) {
                    b.final = *n;
                    break;
                }
                visited.push_back(*n);
                c = *n;
            }
        }
        // The first cost bearer on that chain.
        b.kostentr.clear();
        if (isKT) {
            b.kostentr = b.ik;
        } else {
            std::vector<std::string> visited = {b.ik};
            std::string c = b.ik;
            while (true) {
                const std::string* n = next(c);
                if (!n || *n == c || !inDirectory.count(*n) ||
                    std::find(visited.begin(), visited.end(), *n) != visited.end())
                    break;
                if (costBearers.count(*n)) {
                    b.kostentr = *n;
                    break;
                }
                visited.push_back(*n);
                c = *n;
            }
        }
    }
}

void KotrImport::Build() {
    Impl& d = *d_;
    if (d.built) throw Error("Die Kostenträgerdateien wurden schon übernommen.");
    d.Choose();
    d.counts.resize(d.chosen.size());
    for (size_t i = 0; i < d.chosen.size(); ++i) d.ReadEntries(*d.chosen[i], d.counts[i]);
    d.MapEntries();
    d.built = true;

    for (const FileCount& c : d.counts)
        d.Log(Format("%s (%s, gültig ab %s): %d Einträge übernommen, %d storniert, %d nicht mehr gültig, "
                     "%d übersprungen",
                     {c.file->DisplayName, KindName(c.file->Name.Kassenart), FormatDDMMYYYY(c.file->Name.ValidFrom),
                      c.entries, c.cancelled, c.expired, c.skipped}));
    for (const auto& [why, n] : d.messagesSkipped) d.Log(Format("%d Einträge übersprungen: %s", {n, why}));
    for (const auto& [why, n] : d.linksLeftOut)
        if (n > 0) d.Log(Format("%d Verknüpfungen nicht übernommen: %s", {n, why}));
    if (d.segmentsExpired > 0)
        d.Log(Format("%d Verknüpfungen, Anschriften oder Kanäle nicht mehr gültig", {d.segmentsExpired}));
    if (!d.unknownCodes.empty()) {
        std::vector<std::string> parts;
        for (const auto& [code, n] : d.unknownCodes) parts.push_back(Format("%s (%d)", {code, n}));
        d.Log("Verknüpfungen mit unbekanntem Abrechnungscode übernommen: " + Join(parts, ", "));
    }
    if (d.duplicates > 0) d.Log(Format("%d doppelte Verknüpfungen nur einmal übernommen", {d.duplicates}));
    if (d.filtered > 0)
        d.Log(Format("%d Verknüpfungen für andere Leistungserbringer als Krankentransport und Taxi "
                     "(Abrechnungscodes 00, 40, 46, 99) nicht übernommen",
                     {d.filtered}));
}

// ---------------------------------------------------------------------------
// What outlives the import

namespace {

std::string CellText(Table& t, int column) {
    if (column < 0) return "";
    return t.AsString(column);
}

TDateTime CellDate(Table& t, int column) {
    if (column < 0) return TDateTime();
    const Value& v = t.GetValue(column);
    if (const auto* d = std::get_if<TDateTime>(&v)) return *d;
    if (const auto* s = std::get_if<std::string>(&v)) {
        if (auto d = ParseDDMMYYYY(Trim(*s))) return *d;
        if (auto d = ParseYYYYMMDD(Trim(*s).substr(0, 8))) return *d;
    }
    return TDateTime();
}

} // namespace

void KotrImport::CarryOver(Table& currentBase, Table& currentTransfer) {
    Impl& d = *d_;
    if (!d.built) throw Error("Die Kostenträgerdateien sind noch nicht übernommen.");

    // DTAREF counters.
    if (currentBase.Active() && currentBase.HasField("DTAREF")) {
        AllRows all(currentBase);
        std::map<std::string, BaseRow*> rows;
        for (BaseRow& b : d.base) rows.emplace(b.ik, &b);
        const int cIK = currentBase.FieldIndex("K_IK"), cRef = currentBase.FieldIndex("DTAREF");
        int kept = 0;
        std::vector<std::string> gone;
        std::vector<BaseRow> added;
        for (currentBase.First(); !currentBase.Eof(); currentBase.Next()) {
            const std::string ik = Trim(CellText(currentBase, cIK));
            const std::string ref = Trim(CellText(currentBase, cRef));
            if (ik.empty() || ref.empty()) continue;
            auto it = rows.find(ik);
            if (it != rows.end()) {
                // The first row of an IK found twice holds its counter.
                if (it->second && it->second->dtaref.empty()) {
                    it->second->dtaref = ref;
                    ++kept;
                }
                continue;
            }
            // The files no longer name it: a row keeps its counter.
            BaseRow b;
            b.ik = ik;
            b.dtaref = ref;
            b.isKT = b.isDaten = b.isDatenPhys = b.isPapier = b.isVerweis = "F";
            b.verweise = "0";
            for (const char* column : {"KT_ART", "KT_KURZBEZ", "KT_KASSENART", "KT_NAME1", "KT_NAME2", "KT_NAME3",
                                       "KT_NAME4"}) {
                const int c = currentBase.FieldIndex(column);
                if (c >= 0 && !currentBase.IsNull(c)) b.kept[column] = currentBase.AsString(c);
            }
            b.from = CellDate(currentBase, currentBase.FieldIndex("KT_VALIDFROM"));
            const TDateTime oldTo = CellDate(currentBase, currentBase.FieldIndex("KT_VALIDTO"));
            const TDateTime yesterday = IncDays(d.today, -1);
            b.to = !oldTo.IsNull() && oldTo < yesterday ? oldTo : yesterday;
            gone.push_back(ik);
            rows.emplace(ik, nullptr);
            added.push_back(std::move(b));
        }
        if (kept > 0) d.Log(Format("DTAREF von %d IK übernommen", {kept}));
        if (!added.empty()) {
            d.Log(Format("%d IK mit DTAREF nicht mehr in den Dateien, ihre Zeile bleibt (gültig bis %s): %s",
                         {int(gone.size()), FormatDDMMYYYY(IncDays(d.today, -1)), Join(gone, ", ")}));
            for (BaseRow& b : added) d.base.push_back(std::move(b));
            std::stable_sort(d.base.begin(), d.base.end(),
                             [](const BaseRow& a, const BaseRow& b) { return a.ik < b.ik; });
        }
    }

    // Channels: the rows of "Annahmestellen lesen" and the DAKOTA marks.
    if (currentTransfer.Active()) {
        AllRows all(currentTransfer);
        std::map<std::string, ChannelRow*> rows;
        for (ChannelRow& c : d.channels) rows.emplace(c.ik, &c);
        std::set<std::string> marked;
        std::vector<ChannelRow> kept;
        auto col = [&](const char* name) { return currentTransfer.FieldIndex(name); };
        const int cIK = col("K_IK"), cKanal = col("DFU_KANAL"), cMark = col("DAKOTA");
        for (currentTransfer.First(); !currentTransfer.Eof(); currentTransfer.Next()) {
            const std::string ik = Trim(CellText(currentTransfer, cIK));
            const std::string mark = Trim(CellText(currentTransfer, cMark));
            if (ik.empty() || !OneOf(mark, {"1", "2", "3"})) continue;
            auto it = rows.find(ik);
            if (it != rows.end()) {
                // DAKOTA's list named this IK: with the same address as the
                // row ("2", "3") or another ("1").
                if (!marked.insert(ik).second) continue;
                const bool same =
                    UpperCase(Trim(CellText(currentTransfer, cKanal))) == UpperCase(Trim(it->second->kanal));
                it->second->dakota = mark != "1" && same ? "2" : "1";
                continue;
            }
            if (mark != "3") continue;
            ChannelRow c;
            c.ik = ik;
            auto text = [&](const char* name) { return CellText(currentTransfer, col(name)); };
            c.protokoll = text("DFU_PROTOKOLL");
            c.kanal = text("DFU_KANAL");
            c.dakota = text("DAKOTA");
            c.medium = text("UEM_MEDIUM");
            c.param = text("UEM_PARAM");
            c.zeichensatz = text("UEM_ZEICHENSATZ");
            c.kompression = text("UEM_KOMPRIMIERUNG");
            c.benutzer = text("DFU_BENUTZER");
            c.zeitVon = text("DFU_ZEITVON");
            c.zeitBis = text("DFU_ZEITBIS");
            c.tage = text("DFU_TAGE");
            c.from = CellDate(currentTransfer, col("DFU_VALIDFROM"));
            c.to = CellDate(currentTransfer, col("DFU_VALIDTO"));
            kept.push_back(std::move(c));
        }
        if (!kept.empty()) {
            d.Log(Format("%d Übermittlungsdaten aus \"Annahmestellen lesen\" behalten", {int(kept.size())}));
            for (ChannelRow& c : kept) d.channels.push_back(std::move(c));
            std::stable_sort(d.channels.begin(), d.channels.end(),
                             [](const ChannelRow& a, const ChannelRow& b) { return a.ik < b.ik; });
        }
    }
}

// ---------------------------------------------------------------------------
// The tables

namespace {

// The values of one row; empty texts and null dates stay null.
using Cells = std::vector<std::pair<const char*, Value>>;

void Add(Cells& row, const char* column, const std::string& v) {
    if (!v.empty()) row.emplace_back(column, v);
}

void Add(Cells& row, const char* column, TDateTime v) {
    if (!v.IsNull()) row.emplace_back(column, v);
}

// Makes the table with the program's columns, each text column widened to
// its longest value (nothing the files say is cut), and adds the rows.
void Fill(Table& t, std::vector<FieldDef> fields, const std::vector<Cells>& rows) {
    std::unordered_map<std::string, size_t> position;
    for (size_t i = 0; i < fields.size(); ++i) position.emplace(fields[i].name, i);
    for (const Cells& row : rows)
        for (const auto& [column, v] : row)
            if (const auto* text = std::get_if<std::string>(&v)) {
                FieldDef& f = fields.at(position.at(column));
                if (f.type == FieldType::String) f.width = std::max(f.width, int(Utf8Length(*text)));
            }
    t.CreateDataSet(std::move(fields));
    for (const Cells& row : rows) {
        t.Append();
        for (const auto& [column, v] : row) t.SetValue(column, v);
        t.Post();
    }
    t.MergeChangeLog();
}

Cells BaseCells(const BaseRow& b) {
    Cells c;
    Add(c, "K_IK", b.ik);
    if (!b.kept.empty()) {
        for (const auto& [column, v] : b.kept) c.emplace_back(column.c_str(), v);
    } else {
        Add(c, "KT_ART", b.art);
        Add(c, "KT_KURZBEZ", b.kurz);
        Add(c, "KT_KASSENART", b.kassenart);
        Add(c, "KT_NAME1", b.name[0]);
        Add(c, "KT_NAME2", b.name[1]);
        Add(c, "KT_NAME3", b.name[2]);
        Add(c, "KT_NAME4", b.name[3]);
        Add(c, "KT_ASP", b.asp);
    }
    Add(c, "ISKT", b.isKT);
    Add(c, "ISDATEN", b.isDaten);
    Add(c, "ISDATENPHYS", b.isDatenPhys);
    Add(c, "ISPAPIER", b.isPapier);
    Add(c, "ISVERWEIS", b.isVerweis);
    Add(c, "VERWEISE", b.verweise);
    Add(c, "ZIELVERWEIS", b.ziel);
    Add(c, "FINAL_IK", b.final);
    Add(c, "KOSTENTR_IK", b.kostentr);
    Add(c, "KT_VALIDFROM", b.from);
    Add(c, "KT_VALIDTO", b.to);
    Add(c, "DTAREF", b.dtaref);
    return c;
}

Cells LinkCells(const LinkRow& r) {
    Cells c;
    Add(c, "K_IK", r.ik);
    Add(c, "Z_ART", r.art);
    Add(c, "IK_PARTNER", r.partner);
    Add(c, "Z_LESTANDORTLAND", r.land);
    Add(c, "Z_LESTANDORTBEZIRK", r.bezirk);
    Add(c, "Z_LEART", r.leart);
    Add(c, "Z_DATENLIEFERART", r.lieferart);
    Add(c, "Z_VALIDFROM", r.from);
    Add(c, "Z_VALIDTO", r.to);
    Add(c, "Z_LEGRUPPE", r.group.empty() ? "5" : r.group);
    Add(c, "ISDATEN", r.art == "02" || r.art == "03" ? "T" : "F");
    Add(c, "ISPAPIER", r.art == "09" ? "T" : "F");
    return c;
}

Cells AddressCells(const AddressRow& a) {
    Cells c;
    Add(c, "K_IK", a.ik);
    Add(c, "ANS_ART", a.art);
    Add(c, "ANS_PLZ", a.plz);
    Add(c, "ANS_ORT", a.ort);
    Add(c, "ANS_STRASSE", a.strasse);
    Add(c, "ANS_VALIDFROM", a.from);
    Add(c, "ANS_VALIDTO", a.to);
    return c;
}

Cells ChannelCells(const ChannelRow& r) {
    Cells c;
    Add(c, "K_IK", r.ik);
    Add(c, "DFU_PROTOKOLL", r.protokoll);
    Add(c, "DFU_KANAL", r.kanal);
    Add(c, "DFU_VALIDFROM", r.from);
    Add(c, "DFU_VALIDTO", r.to);
    Add(c, "DAKOTA", r.dakota);
    Add(c, "UEM_MEDIUM", r.medium);
    Add(c, "UEM_PARAM", r.param);
    Add(c, "UEM_ZEICHENSATZ", r.zeichensatz);
    Add(c, "UEM_KOMPRIMIERUNG", r.kompression);
    Add(c, "DFU_BENUTZER", r.benutzer);
    Add(c, "DFU_ZEITVON", r.zeitVon);
    Add(c, "DFU_ZEITBIS", r.zeitBis);
    Add(c, "DFU_TAGE", r.tage);
    return c;
}

template <class Row>
std::vector<Cells> AllCells(const std::vector<Row>& rows, Cells (*cells)(const Row&)) {
    std::vector<Cells> out;
    out.reserve(rows.size());
    for (const Row& r : rows) out.push_back(cells(r));
    return out;
}

} // namespace

CostBearerTables KotrImport::Tables() const {
    const Impl& d = *d_;
    if (!d.built) throw Error("Die Kostenträgerdateien sind noch nicht übernommen.");
    CostBearerTables t;
    Fill(t.KTBase, KTBaseFields(), AllCells(d.base, BaseCells));
    Fill(t.KTZuordn, KTZuordnFields(), AllCells(d.links, LinkCells));
    Fill(t.KTAnschrift, KTAnschriftFields(), AllCells(d.addresses, AddressCells));
    Fill(t.KTTransfer, KTTransferFields(), AllCells(d.channels, ChannelCells));
    std::vector<Cells> keys;
    for (const TKTKeyEntry& e : FederalStateKeys())
        keys.push_back({{"KTS_SNAME", std::string("KT804")}, {"KTS_KEY", std::string(e.Key)},
                        {"KTS_TEXT", std::string(e.Text)}});
    Fill(t.KTKey, KTKeyFields(), keys);
    return t;
}

// ---------------------------------------------------------------------------
// The record of an import, and rows changed by hand

namespace {

constexpr const char* kRecordHead = "Brenvo Kostenträger-Import 1";

uint64_t Fnv(std::string_view bytes, uint64_t h = 1469598103934665603ull) {
    for (char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

std::string Hex(uint64_t v) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

struct RowPrint {
    std::string table, ik, hash;
    bool operator<(const RowPrint& o) const {
        return std::tie(table, ik, hash) < std::tie(o.table, o.ik, o.hash);
    }
};

// One print per row of the three tables the maintenance view edits:
// every column but the counters and marks that change without a hand;
// the rows of "Annahmestellen lesen" are left out.
std::vector<RowPrint> RowPrints(Table& base, Table& anschrift, Table& transfer) {
    std::vector<RowPrint> prints;
    auto add = [&](const char* name, Table& t, const char* ignored) {
        if (!t.Active()) return;
        AllRows all(t);
        std::vector<std::pair<std::string, int>> columns;
        for (int i = 0; i < t.FieldCount(); ++i)
            if (!SameText(t.Field(i).name, ignored)) columns.emplace_back(UpperCase(t.Field(i).name), i);
        std::sort(columns.begin(), columns.end());
        const int ik = t.FieldIndex("K_IK"), mark = t.FieldIndex("DAKOTA");
        std::string text;
        for (t.First(); !t.Eof(); t.Next()) {
            if (std::string(name) == "KT_TRANSFER" && mark >= 0 && Trim(t.AsString(mark)) == "3") continue;
            text.clear();
            for (const auto& [column, i] : columns) {
                text += column;
                text += '=';
                if (!t.IsNull(i)) text += t.AsString(i);
                text += '\x1f';
            }
            prints.push_back({name, ik >= 0 ? t.AsString(ik) : "", Hex(Fnv(text))});
        }
    };
    add("KT_BASE", base, "DTAREF");
    add("KT_ANSCHRIFT", anschrift, "");
    add("KT_TRANSFER", transfer, "DAKOTA");
    return prints;
}

} // namespace

void KotrImport::Write(const std::string& dir) const {
    const Impl& d = *d_;
    CostBearerTables t = Tables();
    if (!DirectoryExists(dir) && !ForceDirectories(dir))
        throw Error("Verzeichnis kann nicht angelegt werden: " + dir);
    FileSetReplace set(dir, KtDirectoryFiles::Journal);
    const std::string zuordn = t.KTZuordn.SaveToXml();
    set.Stage(KtDirectoryFiles::Base, t.KTBase.SaveToXml());
    set.Stage(KtDirectoryFiles::Zuordn, zuordn);
    set.Stage(KtDirectoryFiles::Anschrift, t.KTAnschrift.SaveToXml());
    set.Stage(KtDirectoryFiles::Transfer, t.KTTransfer.SaveToXml());
    set.Stage(KtDirectoryFiles::Key, t.KTKey.SaveToXml());

    std::string record = std::string(kRecordHead) + "\n";
    record += "Datum " + FormatDDMMYYYY(d.today) + "\n";
    record += std::string("Alle ") + (d.allLinks ? "T" : "F") + "\n";
    for (const KotrFile* f : d.chosen) record += "Datei " + f->DisplayName + "\n";
    record += "KT_ZUORDN " + Hex(Fnv(zuordn)) + "\n";
    for (const RowPrint& p : RowPrints(t.KTBase, t.KTAnschrift, t.KTTransfer))
        record += "R " + p.table + " " + p.ik + " " + p.hash + "\n";
    set.Stage(KtDirectoryFiles::Record, record);
    set.Commit();
    d.Log(Format("geschrieben: KT_BASE %d Zeilen, KT_ZUORDN %d, KT_ANSCHRIFT %d, KT_TRANSFER %d, KT_KEY %d",
                 {t.KTBase.RecordCount(), t.KTZuordn.RecordCount(), t.KTAnschrift.RecordCount(),
                  t.KTTransfer.RecordCount(), t.KTKey.RecordCount()}));
}

std::vector<std::string> KotrImport::HandEditedIKs(const std::string& dir, Table& base, Table& anschrift,
                                                   Table& transfer) {
    std::set<std::string> iks;
    const std::string recordPath = PathJoin(dir, KtDirectoryFiles::Record);
    const std::string zuordnPath = PathJoin(dir, KtDirectoryFiles::Zuordn);
    std::multiset<RowPrint> recorded;
    bool valid = false;
    if (FileExists(recordPath) && FileExists(zuordnPath)) {
        const std::vector<std::string> lines = SplitLines(ReadFileBytes(recordPath));
        const std::string zuordn = "KT_ZUORDN " + Hex(Fnv(ReadFileBytes(zuordnPath)));
        valid = !lines.empty() && lines[0] == kRecordHead;
        bool sameDirectory = false;
        for (const std::string& line : lines) {
            if (line == zuordn) sameDirectory = true;
            if (!StartsWith(line, "R ")) continue;
            std::vector<std::string> p = Split(line, ' ');
            if (p.size() == 4) recorded.insert({p[1], p[2], p[3]});
        }
        // Another directory (from an update or a backup) replaced the imported one.
        valid = valid && sameDirectory;
    }
    if (valid) {
        for (RowPrint& p : RowPrints(base, anschrift, transfer)) {
            auto it = recorded.find(p);
            if (it != recorded.end()) recorded.erase(it);
            else iks.insert(p.ik);
        }
        for (const RowPrint& p : recorded) iks.insert(p.ik);
    } else if (base.Active()) {
        AllRows all(base);
        const int ik = base.FieldIndex("K_IK");
        const int own[] = {base.FieldIndex("DATEN_IK"), base.FieldIndex("DATENPHYS_IK"), base.FieldIndex("PAPIER_IK")};
        for (base.First(); !base.Eof(); base.Next())
            for (int c : own) {
                const std::string v = c >= 0 ? Trim(base.AsString(c)) : "";
                if (!v.empty() && v != "*") iks.insert(base.AsString(ik));
            }
    }
    iks.erase("");
    return std::vector<std::string>(iks.begin(), iks.end());
}

FileSetRecovery RecoverCostBearerFiles(const std::string& dir) {
    return RecoverFileSet(dir, KtDirectoryFiles::Journal,
                          {KtDirectoryFiles::Base, KtDirectoryFiles::Zuordn, KtDirectoryFiles::Anschrift,
                           KtDirectoryFiles::Transfer, KtDirectoryFiles::Key, KtDirectoryFiles::Record});
}

} // namespace brenvo
