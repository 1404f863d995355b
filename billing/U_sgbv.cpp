#include "U_sgbv.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "InvoiceDocument.h"
#include "PositionBetrag.h"
#include "costbearer/U_SGBKTStore.h"
#include "lib/base/Cp1252.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Money.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"

namespace brenvo {

namespace {

const char* const kEscapeSet = ",?'+:";
const char* const kSlipBreak = "\r\n ";      // every slip line after the first starts with a blank
const std::string kLabelBlank(19, ' ');

bool Blank(const std::string& s) { return Trim(s).empty(); }

std::string Cut(const std::string& s, size_t n) { return Utf8Left(s, n); }

// Two texts of digits compared as numbers: both filled with "0" on the left
// to the longer length, then compared as texts.
int CompareNumberText(const std::string& a, const std::string& b) {
    size_t n = std::max(a.size(), b.size());
    size_t pa = n - a.size(), pb = n - b.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = i < pa ? '0' : static_cast<unsigned char>(a[i - pa]);
        unsigned char cb = i < pb ? '0' : static_cast<unsigned char>(b[i - pb]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return 0;
}

// The invoice list's order: cost bearer, then single-invoice number; records
// equal in both keep their load order.
bool InvoiceLess(const TRechnung* a, const TRechnung* b) {
    if (int c = a->IKKT.compare(b->IKKT)) return c < 0;
    if (int c = CompareNumberText(a->EinzelRechNr, b->EinzelRechNr)) return c < 0;
    return a->Seq < b->Seq;
}

// The case list's order: insurer IK, then prescription number.
bool CaseLess(const TAbrechFall* a, const TAbrechFall* b) {
    if (int c = a->IKPat.compare(b->IKPat)) return c < 0;
    if (int c = CompareNumberText(a->VONum, b->VONum)) return c < 0;
    return a->Seq < b->Seq;
}

// Checks the records in the list's order and empties the list. When a check
// fails, the records before the failed one leave the list as checked; the
// failed one and those after it stay for the next time.
template <typename T, typename Less, typename Check>
void CheckInListOrder(std::vector<T*>& unchecked, Less less, Check check) {
    std::sort(unchecked.begin(), unchecked.end(), less);
    for (size_t i = 0; i < unchecked.size(); ++i) {
        try {
            check(*unchecked[i]);
        } catch (...) {
            unchecked.erase(unchecked.begin(), unchecked.begin() + std::ptrdiff_t(i));
            throw;
        }
    }
    unchecked.clear();
}

// A document amount in cents: round(x × 100), half to even; refused when it
// does not fit the records' 32 bits.
int32_t Cents(double euro, const char* field, const std::string& owner) {
    double c = euro * 100.0;
    if (!std::isfinite(c) || c > 2147483647.0 || c < -2147483648.0)
        throw Error(Format("TSGBV Betrag zu groß. Feld=%s Wert=%s Rechnung=%s", {field, FloatToText(euro), owner}));
    return int32_t(RoundHalfEven(c));
}

// A rate or percentage in hundredths, R(x × 100); values far out of any
// range are held as a bound that every check refuses.
int64_t Hundredths(double x) {
    if (!std::isfinite(x) || std::fabs(x) > 1e9) return x < 0 ? -100000000000 : 100000000000;
    return RoundHalfEven(x * 100.0);
}

int32_t Fits32(int64_t v, const char* field, const std::string& owner) {
    if (v > INT32_MAX || v < INT32_MIN)
        throw Error(Format("TSGBV Betrag zu groß. Feld=%s Wert=%d Rechnung=%s", {field, v, owner}));
    return int32_t(v);
}

// The table's field as text; "" when the level has no such field.
std::string Text(const Table& t, const char* name, size_t capacity) { return Cut(t.AsString(name), capacity); }

// A field that tables of older layouts may lack: "" when missing.
std::string OptText(const Table& t, const char* name, size_t capacity) {
    return t.HasField(name) ? Text(t, name, capacity) : std::string();
}
bool OptNull(const Table& t, const char* name) { return !t.HasField(name) || t.IsNull(name); }

} // namespace

TSgbv::TSgbv(TSGBKTStore& ktStore, TEinrichtung einrichtung) : kt_(ktStore), einrichtung_(std::move(einrichtung)) {}

TSgbv::~TSgbv() = default;

// ======================================================== segment writer

void TSgbv::ClearElements() { elements_.clear(); }

namespace {
[[noreturn]] void FailTooLong(int maxLen, const std::string& label, std::string_view value) {
    throw Error(Format("TSGBV Wert zu lang. Len=%d Name=%s Value=%s", {maxLen, label, std::string(value)}));
}
} // namespace

void TSgbv::AddElement(int maxLen, const std::string& value, const std::string& label) {
    if (Utf8Length(value) > size_t(maxLen)) FailTooLong(maxLen, label, value);
    elements_.emplace_back(label, value);
}

void TSgbv::AddText(int maxLen, std::string_view raw, const std::string& label) {
    if (!v21_) return AddElement(maxLen, EscapeText(raw), label);
    if (Utf8Length(raw) > size_t(maxLen)) FailTooLong(maxLen, label, raw);
    elements_.emplace_back(label, EscapeText(raw));
}

void TSgbv::AddNumber(int oldMax, int intDigits, const std::string& formatted, const std::string& label) {
    if (!v21_) return AddElement(oldMax, formatted, label);
    size_t begin = formatted.starts_with('-') ? 1 : 0;
    size_t comma = formatted.find(',');
    if ((comma == std::string::npos ? formatted.size() : comma) - begin > size_t(intDigits))
        FailTooLong(intDigits, label, formatted);
    elements_.emplace_back(label, formatted);
}

void TSgbv::AddComposite(int oldMax, std::string_view a, int maxA, std::string_view b, int maxB,
                         const std::string& label) {
    if (!v21_) return AddElement(oldMax, EscapeText(a) + ":" + EscapeText(b), label);
    if (Utf8Length(a) > size_t(maxA)) FailTooLong(maxA, label, a);
    if (Utf8Length(b) > size_t(maxB)) FailTooLong(maxB, label, b);
    elements_.emplace_back(label, EscapeText(a) + ":" + EscapeText(b));
}

std::string TSgbv::ComposeSegment() const {
    if (elements_.empty()) throw Error("TSGBV ungültiges Segment");
    // Version 21 ends a segment right after its last element with content;
    // the older versions keep empty elements at the end.
    size_t n = elements_.size();
    if (v21_)
        while (n > 1 && elements_[n - 1].second.empty()) --n;
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += elements_[i].second;
        s += '+';
    }
    s.back() = '\'';
    return s;
}

void TSgbv::EmitSegment(const std::string& segment) {
    if (segment.empty()) throw Error("TSGBV Leeres Segment");
    segments_.push_back(segment);
    ++segmentCounter_;
}

std::string TSgbv::EscapeText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (std::strchr(kEscapeSet, c) && c != '\0') out += '?';
        out += c;
    }
    return out;
}

std::string TSgbv::ZeroPad(std::string_view v, int width) {
    std::string s = std::string(size_t(width), '0') + Trim(v);
    return s.substr(s.size() - size_t(width));
}

std::string TSgbv::ZeroPad(int64_t v, int width) { return ZeroPad(IntToStr(v), width); }

std::string TSgbv::FormatAmount(int64_t cents) {
    // Whole euros, decimal comma, two digits of cents; the sign stays also
    // for amounts between -1 and 0.
    uint64_t a = cents < 0 ? 0 - uint64_t(cents) : uint64_t(cents);
    std::string s = cents < 0 ? "-" : "";
    s += std::to_string(a / 100);
    s += ',';
    s += char('0' + (a % 100) / 10);
    s += char('0' + a % 10);
    return s;
}

std::string TSgbv::FormatQuantity(double x) { return FormatAmount(RoundHalfAway(x * 100.0)); }

std::string TSgbv::FormatDate(TDateTime d) { return FormatYYYYMMDD(d); }

std::string TSgbv::FormatTime(TDateTime d) { return FormatHHNN(d); }

namespace {
void AppendSegments(std::string& s, const std::vector<std::string>& segments) {
    size_t n = s.size();
    for (const auto& seg : segments) n += seg.size() + 2;
    s.reserve(n);
    for (const auto& seg : segments) {
        s += seg;
        s += "\r\n";
    }
}
} // namespace

std::string TSgbv::SegmentsText() const {
    std::string s;
    AppendSegments(s, segments_);
    return s;
}

std::string TSgbv::LogText() const {
    size_t n = 0;
    for (const auto& line : log_) n += line.size() + 8;
    std::string s;
    s.reserve(n);
    for (size_t i = 0; i < log_.size(); ++i) {
        // "%5.5d ": at least five digits
        std::string nr = std::to_string(i);
        if (nr.size() < 5) s.append(5 - nr.size(), '0');
        s += nr;
        s += ' ';
        s += log_[i];
        s += "\r\n";
    }
    AppendSegments(s, segments_);
    return s;
}

void TSgbv::Log(std::string line) { log_.push_back(std::move(line)); }

// ======================================================== life cycle

void TSgbv::Init(const std::string& version, const std::string& senderIK, TDateTime versionDate,
                 const std::string& recipientIK, int number, int64_t referenceSeed, int kind, int testIndicator,
                 const std::string& tempDir) {
    version_ = Utf8Left(version, 2);
    v21_ = version_ == "21";
    versionDate_ = versionDate;
    senderIK_ = senderIK;
    kind_ = kind;
    recipientIK_ = recipientIK;
    tempDir_ = tempDir;
    number_ = number;
    address_ = {};
    created_ = Now();

    // A kind other than single provider or billing centre would write an
    // empty billing file; it is refused.
    if (kind != 0 && kind != 1) throw Error(Format("TSGBV init Art %d unzulässig", {kind}));
    rechnungsart_ = kind == 0 ? 1 : 3;
    if (!DirectoryExists(tempDir)) throw Error("TSGBV init TempDir existiert nicht.");
    if (testIndicator < 0 || testIndicator > 2) throw Error("TSGBV Testindikator unbekannt");
    testIndicator_ = std::string(1, char('0' + testIndicator));

    messageCounter_ = 0;
    logicalFileName_ = "SL" + Utf8Copy(senderIK, 3, 6) + (kind == 0 ? "S" : "A") + Format("%2.2d", {number});

    reference_ = referenceSeed == -1 ? 0 : kt_.NextDtaRef(recipientIK, referenceSeed);

    if (version_ != "06" && version_ != "07" && version_ != "08" && version_ != "09" && !v21_)
        throw Error(Format("TSGBV init. Fehler. Version %s unzulässig", {version_}));
}

void TSgbv::SetHandle(const std::string& handle) {
    if (!handle_.empty()) throw Error("TSGBV.SetHandle Handle bereits gesetzt.");
    handle_ = handle;
    filePath_ = PathJoin(tempDir_, handle);
}

bool TSgbv::StatusRulesFrom20141001() const {
    static const int cut = EncodeDate(2014, 10, 1).DatePart();
    return v21_ || versionDate_.DatePart() >= cut;
}

// ======================================================== loading

void TSgbv::LoadRechnungen(InvoiceDocument& doc) { LoadRechnungen(doc.Rechnung()); }

void TSgbv::LoadRechnungen(Table& rechnungen) {
    for (rechnungen.First(); !rechnungen.Eof(); rechnungen.Next()) LoadOne(rechnungen);
    CheckData();
}

void TSgbv::LoadOne(Table& h) {
    Table& cases = h.Nested(CaseNestName);
    const bool hasGenArt = cases.HasField("GenArt");

    // An empty approval kind is derived from the spread of the trips: a
    // long-term approval (E2) for more than three trips or more than three
    // days between the first and the last trip, else a single one (E1).
    if (hasGenArt) {
        for (cases.First(); !cases.Eof(); cases.Next()) {
            if (!cases.AsString("GenArt").empty()) continue;
            double latest = EncodeDate(1900, 1, 1).Value(), earliest = EncodeDate(2099, 12, 31).Value();
            int count = 0;
            Table& trips = cases.Nested(TripNestName);
            for (trips.First(); !trips.Eof(); trips.Next()) {
                double d = trips.AsDateTime("Datum").Value();
                latest = std::max(latest, d);
                earliest = std::min(earliest, d);
                ++count;
            }
            cases.Edit();
            cases.SetString("GenArt", latest - earliest > 3.0 || count > 3 ? "E2" : "E1");
            cases.Post();
        }
    }

    auto rec = std::make_unique<TRechnung>();
    rec->IKLE = Text(h, "IKLE", 9);
    rec->IKKT = Text(h, "IKKT", 9);
    rec->IKPAT = Text(h, "IKPat", 9);
    rec->SaRechNr = Text(h, "SaRechNr", 14);
    rec->EinzelRechNr = Text(h, "EinzelRechNr", 6);
    rec->RechDatum = h.AsDateTime("RechDatum");
    rec->Name1 = Text(h, "Name1", 30);
    rec->Name2 = Text(h, "Name2", 30);
    rec->Name3 = Text(h, "Name3", 30);
    rec->Name4 = Text(h, "Name4", 30);
    rec->Steuernummer = OptText(h, "Steuernummer", 20);
    rec->UStBefreit = OptText(h, "UStBefreit", 1);
    if (!OptNull(h, "SkontoProzent") || !OptNull(h, "SkontoTage")) {
        rec->HasSkonto = true;
        rec->SkontoProzent = OptNull(h, "SkontoProzent") ? 0 : Hundredths(h.AsFloat("SkontoProzent"));
        rec->SkontoTage = OptNull(h, "SkontoTage") ? 0 : h.AsInteger("SkontoTage");
    }
    const std::string nr = rec->SaRechNr;
    rec->RBetragNetto = Cents(h.AsFloat("RBetragNetto"), "RBetragNetto", nr);
    rec->RBetragBrutto = Cents(h.AsFloat("RBetragBrutto"), "RBetragBrutto", nr);
    rec->RBetragZuZa = Cents(h.AsFloat("RBetragZuZa"), "RBetragZuZa", nr);
    Log(Format("Rechnung %s Brutto=%d ZuZa=%d ", {rec->SaRechNr, rec->RBetragBrutto, rec->RBetragZuZa}));
    TRechnung& r = AddRechnung(std::move(rec));

    for (cases.First(); !cases.Eof(); cases.Next()) {
        auto c = std::make_unique<TAbrechFall>();
        c->VersNum = Text(cases, "VersNum", 12);
        c->Status = Text(cases, "Status", 5);
        c->IKPat = Text(cases, "IKPat", 9);
        c->IKLE = Text(cases, "IKLE", 9);
        c->VONum = Text(cases, "VONum", 10);
        c->Nachname = Text(cases, "Nachname", 47);
        c->Vorname = Text(cases, "Vorname", 30);
        c->Geb = cases.AsDateTime("Geb");
        c->Strasse = Text(cases, "Strasse", 30);
        c->Plz = Text(cases, "Plz", 7);
        c->Ort = Text(cases, "Ort", 25);
        c->ArztN = Text(cases, "ArztN", 9);
        c->BSN = Text(cases, "BSN", 9);
        c->VODatum = cases.AsDateTime("VODatum");
        c->ZuzaKennz = Text(cases, "ZuzaKennz", 1);
        c->GenZeich = Text(cases, "GenZeich", 20);
        c->GenDatum = cases.AsDateTime("GenDatum");
        if (hasGenArt) {
            std::string g = cases.AsString("GenArt");
            if (!g.empty()) c->GenArt = PadRight(Utf8Left(g, 2), 2);
        }
        c->BetragBrutto = Cents(cases.AsFloat("BetragBrutto"), "BetragBrutto", nr);
        c->BetragZuZaSum = Cents(cases.AsFloat("BetragZuZaSum"), "BetragZuZaSum", nr);
        c->BetragZuZaPausch = Cents(cases.AsFloat("BetragZuZaPausch"), "BetragZuZaPausch", nr);
        if (v21_) {
            // The older versions write none of these.
            c->Land = OptText(cases, "Land", 3);
            c->Unfall = Text(cases, "Unfall", 1);
            c->BVG = Text(cases, "BVG", 1);
            c->BelegInfo = OptText(cases, "BelegInfo", 1);
            c->BesVersForm = OptText(cases, "BesVersForm", 25);
            c->EvoID = OptText(cases, "EVO_ID", 256);
            c->ImgJahr = OptText(cases, "IMG_Jahr", 4);
            c->ImgMonat = OptText(cases, "IMG_Monat", 2);
            c->ImgIK = OptText(cases, "IMG_IK", 9);
        }
        if (c->IKLE.empty()) {
            c->IKLE = r.IKLE;
            Log(Format(" Fall %s IKLE war leer. gesetzt auf %s", {c->Nachname, c->IKLE}));
        }
        Log(Format(" Fall %s Brutto=%d ZuZa=%d", {c->Nachname, c->BetragBrutto, c->BetragZuZaSum}));
        TAbrechFall& fall = AddAbrFall(std::move(c), r);

        Table& trips = cases.Nested(TripNestName);
        for (trips.First(); !trips.Eof(); trips.Next()) {
            auto l = std::make_unique<TLeistung>();
            l->LeistID = trips.AsInteger("LeistID");
            l->Datum = trips.AsDateTime("Datum");
            l->ZuZaArt = Text(trips, "ZuZaArt", 2);
            l->ZuZaBetrag = Cents(trips.AsFloat("ZuZaBetrag"), "ZuZaBetrag", nr);
            l->BruttoSum = Cents(trips.AsFloat("BruttoSum"), "BruttoSum", nr);
            l->VON_LAND = Text(trips, "VON_LAND", 3);
            l->VON_PLZ = Text(trips, "VON_PLZ", 7);
            l->VON_ORT = Text(trips, "VON_ORT", 25);
            l->VON_STRASSE = Text(trips, "VON_STRASSE", 30);
            l->NACH_LAND = Text(trips, "NACH_LAND", 3);
            l->NACH_PLZ = Text(trips, "NACH_PLZ", 7);
            l->NACH_ORT = Text(trips, "NACH_ORT", 25);
            l->NACH_STRASSE = Text(trips, "NACH_STRASSE", 30);
            double km = trips.AsFloat("KM");
            if (!std::isfinite(km) || std::fabs(km) > 1e9)
                throw Error(Format("TSGBV KM ungültig. Wert=%s Rechnung=%s", {FloatToText(km), nr}));
            l->KM = RoundHalfEven(km);
            l->HasKM = !trips.IsNull("KM");
            l->KMHundertstel = RoundHalfEven(km * 100.0);
            l->Zeit1 = Text(trips, "ZEIT1", 4);
            l->Zeit2 = Text(trips, "ZEIT2", 4);
            l->DAUER = trips.AsInteger("DAUER");
            l->HasDauer = !trips.IsNull("DAUER");
            l->IKLE = Text(trips, "IKLE", 9);
            l->EinzelReNr = trips.AsInteger("EinzelReNr");
            TLeistung& leistung = AddLeistung(std::move(l), fall);

            Table& pos = trips.Nested(PositionNestName);
            for (pos.First(); !pos.Eof(); pos.Next()) {
                auto p = std::make_unique<TTarifPosition>();
                std::string tarif = UpperCase(Trim(pos.AsString("Tarif")));
                size_t len = Utf8Length(tarif);
                if (len == 5) {
                    p->Abrechnungscode = "46";
                    p->TarifKennzeichen = tarif;
                } else if (len == 7) {
                    p->Abrechnungscode = Utf8Copy(tarif, 1, 2);
                    p->TarifKennzeichen = Utf8Copy(tarif, 3, 5);
                }
                p->PosNum = Text(pos, "PosNum", 10);
                double menge = pos.AsFloat("Menge"), ePreis = pos.AsFloat("EPreis");
                p->Menge = double(MengeHundertstel(menge)) / 100.0;
                p->EPreis = Cents(ePreis, "EPreis", nr);
                p->Betrag = Fits32(PositionBetragCents(ePreis, menge), "Betrag", nr);
                p->Datum = leistung.Datum;
                p->Text = Text(pos, "Text", 70);
                p->BPosNum = OptText(pos, "BPosNum", 6);
                if (!OptNull(pos, "MwStSatz")) p->MwStSatz = Hundredths(pos.AsFloat("MwStSatz"));
                if (v21_ && p->MwStSatz > 0 && p->MwStSatz < 10000)
                    p->MwSt = Fits32(PositionMwStCents(ePreis, menge, p->MwStSatz), "MwSt", nr);
                AddPosition(std::move(p), leistung);
            }
        }
    }
}

// ======================================================== per-record checks

bool TSgbv::ValidateValue(const std::string& value, bool numeric, bool mayBeEmpty, size_t maxLen) {
    bool blank = Blank(value);
    if (blank && !mayBeEmpty) return false;
    if (numeric && !blank && !IsDigits(value)) return false;
    return Utf8Length(value) <= maxLen;
}

TRechnung& TSgbv::AddRechnung(std::unique_ptr<TRechnung> r) {
    if (!ValidateValue(r->IKLE, true, false, 9)) throw Error("TSGBV IKLeistungsE ungültig Rechnung=" + r->SaRechNr);
    if (!ValidateValue(r->IKKT, true, false, 9))
        throw Error("TSGBV IKKostenträger ungültig Rechnung=" + r->SaRechNr);
    if (kind_ == 0 && r->IKLE != senderIK_)
        throw Error("TSGBV IKLeistungserbringer <> IKAbsender Rechnung=" + r->SaRechNr);
    if (v21_) CheckRechnung21(*r);
    r->Seq = invoices_.size();
    TRechnung& ref = *r;
    invoices_.push_back(std::move(r));
    invoiceOrder_.push_back(&ref);
    uncheckedInvoices_.push_back(&ref);
    return ref;
}

TAbrechFall& TSgbv::AddAbrFall(std::unique_ptr<TAbrechFall> c, TRechnung& r) {
    auto fail = [&](const std::string& what) { throw Error("AbrechFall " + c->VONum + what); };
    if (Blank(c->BSN)) c->BSN = "999999999";
    if (Blank(c->ArztN)) c->ArztN = "999999999";
    if (!ValidateValue(c->IKPat, true, false, 9)) fail(" Vers.IK ungültig.");
    if (Blank(c->VONum)) fail(" Verordnungsnummer (VONum) fehlt.");
    if (Blank(c->Nachname)) fail(" Vers.Nachname ungültig.");
    if (Blank(c->Vorname)) fail(" Vers.Vorname ungültig.");
    if (!ValidateValue(c->Plz, false, true, 5)) fail(" Vers.Plz ungültig.");
    if (!ValidateValue(c->ArztN, true, true, 9)) fail(" ArztNummer ungültig.");
    if (!ValidateValue(c->ZuzaKennz, true, false, 1)) fail(" Zuzahlungskennzeichen fehlt.");
    // Version 21 knows the transitions 4 (to exempt) and 5 (to liable) too.
    if (c->ZuzaKennz > (v21_ ? "5" : "3")) fail(" Zuzahlungskennzeichen ungültig.");
    if (!c->Status.empty()) {
        if (StatusRulesFrom20141001()) {
            std::string s;
            for (char ch : c->Status)
                if (ch != ' ') s += ch;
            while (Utf8Length(s) < 5) s += '0';
            c->Status = s;
        } else {
            // The first character must be 1, 3, 5 or a blank; the fifth one
            // of the listed kinds (a shorter status has none and fails).
            std::vector<std::string> ch = Utf8Chars(c->Status);
            if (!Contains(" 1 3 5 ", ch[0])) fail(" VersStatus Stelle 1 ungültig");
            if (ch.size() < 5 || !Contains(" 1 4 6 7 8 9 M X A C K L D F S E N P ", ch[4]))
                fail(" VersStatus Stelle 5 ungültig");
        }
    }
    if (WithGenArt() && c->GenArt != "E1" && c->GenArt != "E2") fail(" GenArt nicht E1 oder E2");
    if ((Blank(c->Status) || Blank(c->VersNum)) && (Blank(c->Strasse) || Blank(c->Plz) || Blank(c->Ort)))
        fail(" Ersatzverfahren. Adresse fehlt oder nicht vollständig.");
    if (c->IKPat != r.IKPAT) fail(" Fall.PatIK <> Rechnung.IKKrankenkasse");
    if (v21_) CheckAbrFall21(*c, r);

    c->Rechnung = &r;
    c->Seq = cases_.size();
    TAbrechFall& ref = *c;
    cases_.push_back(std::move(c));
    caseOrder_.push_back(&ref);
    uncheckedCases_.push_back(&ref);
    r.Faelle.push_back(&ref);
    return ref;
}

TLeistung& TSgbv::AddLeistung(std::unique_ptr<TLeistung> l, TAbrechFall& c) {
    // Co-payments with the indicator 3 (liable); version 21 also with the
    // transitions 4 and 5, and only the kinds 01 to 04 of its key list.
    const bool liable = c.ZuzaKennz == "3" || (v21_ && (c.ZuzaKennz == "4" || c.ZuzaKennz == "5"));
    if (!liable && l->ZuZaBetrag != 0)
        throw Error("AddLeistung: Zuzahlungsbetrag<>0 trotz Zuzahlungskennzeichen befreit ua AbrFall=" + c.VONum);
    const bool kindKnown = v21_ ? l->ZuZaArt.size() == 2 && l->ZuZaArt >= "01" && l->ZuZaArt <= "04"
                                : !l->ZuZaArt.empty() && Contains(" 01 02 03 04 05 ", l->ZuZaArt);
    if (l->ZuZaBetrag != 0 && !kindKnown) throw Error("AddLeistung: ZuZaArt ungültig. AbrFall=" + c.VONum);
    const std::pair<const std::string*, const char*> required[] = {
        {&l->VON_PLZ, "AddLeistung: VO=%s Von-PLZ fehlt"},
        {&l->VON_ORT, "AddLeistung: VO=%s Von-Ort fehlt"},
        {&l->VON_STRASSE, "AddLeistung: VO=%s Von-Strasse fehlt"},
        {&l->NACH_PLZ, "AddLeistung: VO=%s Nach-PLZ fehlt"},
        {&l->NACH_ORT, "AddLeistung: VO=%s Nach-Ort fehlt"},
        {&l->NACH_STRASSE, "AddLeistung: VO=%s Nach-Strasse fehlt"},
    };
    for (const auto& [value, message] : required)
        if (Blank(*value)) throw Error(Format(message, {c.VONum}));
    if (v21_) CheckLeistung21(*l, c);

    l->Fall = &c;
    l->Rechnung = c.Rechnung;
    TLeistung& ref = *l;
    trips_.push_back(std::move(l));
    c.Leistungen.push_back(&ref);
    c.Rechnung->Leistungen.push_back(&ref);
    return ref;
}

TTarifPosition& TSgbv::AddPosition(std::unique_ptr<TTarifPosition> p, TLeistung& l) {
    if (!ValidateValue(p->Abrechnungscode, true, false, 2)) throw Error("Abrechnungscode ungültig.");
    if (!ValidateValue(p->TarifKennzeichen, false, false, 5)) throw Error("TarifKennzeichen ungültig.");
    if (Utf8Length(Trim(p->TarifKennzeichen)) != 5) throw Error("TarifKennzeichen ungültig. (Länge)");
    if (!ValidateValue(p->PosNum, false, false, 10)) throw Error("PosNummer ungültig.");
    if (v21_)
        CheckPosition21(*p, l);
    else if (p->MwStSatz != 0)
        throw Error(Where(*l.Rechnung, l.Fall, &l, l.Positionen.size() + 1) +
                    " Feld MwStSatz: Zugeschlagene Mehrwertsteuer wird erst ab Version 21 übermittelt.");
    p->Leistung = &l;
    TTarifPosition& ref = *p;
    positions_.push_back(std::move(p));
    l.Positionen.push_back(&ref);
    return ref;
}

// ======================================================== sums and checks

// The sums of a record depend only on the records below it, and those are
// all added in the same load; so each record is summed once, the first time
// the sums are computed after its load.
void TSgbv::ComputeSums() {
    for (; summedPositions_ < positions_.size(); ++summedPositions_) {
        const TTarifPosition& p = *positions_[summedPositions_];
        p.Leistung->PosSum += p.Betrag + p.MwSt;
    }
    for (; summedTrips_ < trips_.size(); ++summedTrips_) {
        const TLeistung& l = *trips_[summedTrips_];
        TAbrechFall& c = *l.Fall;
        c.SumBrutto += l.PosSum;
        c.SumZuZa += l.ZuZaBetrag;
        c.SumNetto = c.SumBrutto - c.SumZuZa;
    }
    for (; summedCases_ < cases_.size(); ++summedCases_) {
        TAbrechFall& c = *cases_[summedCases_];
        TRechnung& r = *c.Rechnung;
        c.SumZuZa += c.BetragZuZaPausch;
        r.SumBrutto += c.SumBrutto;
        r.SumZuZa += c.SumZuZa;
        r.SumNetto = r.SumBrutto - r.SumZuZa;
    }
}

// What the directory checks depend on besides the IKs: the day, and the sort
// orders, filters and sizes of the tables the lookups read.
std::string TSgbv::DirectoryFingerprint() {
    auto part = [](Table& t) {
        if (!t.Active()) return std::string("-");
        return t.IndexFieldNames() + "|" + t.Filter() + "|" + (t.Filtered() ? "1" : "0") + "|" +
               IntToStr(t.RecordCount());
    };
    return IntToStr(Today().DatePart()) + "#" + part(kt_.KTBase()) + "#" + part(kt_.KTZuordn());
}

void TSgbv::CheckData() {
    ComputeSums();
    // The lists count as sorted from here on; the sort itself is done when
    // the order is next needed.
    sortPending_ = true;
    sortedInvoices_ = invoiceOrder_.size();
    sortedCases_ = caseOrder_.size();

    // Records that passed keep passing as long as the directory answers the
    // same; when it might not, everything is checked again.
    std::string fingerprint = DirectoryFingerprint();
    if (fingerprint != checkedFingerprint_) {
        uncheckedCases_.clear();
        for (auto& c : cases_) uncheckedCases_.push_back(c.get());
        uncheckedInvoices_.clear();
        for (auto& r : invoices_) uncheckedInvoices_.push_back(r.get());
        checkedFingerprint_ = fingerprint;
    }

    for (; checkedTrips_ < trips_.size(); ++checkedTrips_) CheckTrip(*trips_[checkedTrips_]);

    CheckInListOrder(uncheckedCases_, CaseLess, [this](TAbrechFall& c) { CheckCase(c); });
    CheckInListOrder(uncheckedInvoices_, InvoiceLess, [this](TRechnung& r) { CheckInvoice(r); });
}

TSgbvRecords TSgbv::TakeRecords() {
    ComputeSums();
    TSgbvRecords out;
    out.Invoices = std::move(invoices_);
    out.Cases = std::move(cases_);
    out.Trips = std::move(trips_);
    out.Positions = std::move(positions_);
    out.Log = std::move(log_);
    ReleaseContent();
    return out;
}

void TSgbv::AddRecords(TSgbvRecords records) {
    // This engine's own records are summed before the counters move past
    // the new ones, which come summed.
    ComputeSums();
    // Invoices and cases take their place in this engine's lists, as their
    // Add functions give it.
    auto append = [](auto& from, auto& to, auto& order, auto& unchecked) {
        to.reserve(to.size() + from.size());
        for (auto& record : from) {
            record->Seq = to.size();
            order.push_back(record.get());
            unchecked.push_back(record.get());
            to.push_back(std::move(record));
        }
    };
    append(records.Invoices, invoices_, invoiceOrder_, uncheckedInvoices_);
    append(records.Cases, cases_, caseOrder_, uncheckedCases_);
    std::move(records.Trips.begin(), records.Trips.end(), std::back_inserter(trips_));
    std::move(records.Positions.begin(), records.Positions.end(), std::back_inserter(positions_));
    std::move(records.Log.begin(), records.Log.end(), std::back_inserter(log_));
    summedPositions_ = positions_.size();
    summedTrips_ = trips_.size();
    summedCases_ = cases_.size();
    CheckData();
}

void TSgbv::CheckTrip(const TLeistung& l) {
    if (l.BruttoSum != l.PosSum)
        throw Error("Summenprüfung Leistungen Rechnung=" + l.Rechnung->SaRechNr + " " + " Fall=" + l.Fall->VONum +
                    " Leistung=" + FormatShortDate(l.Datum) + Format("b1=%d b2=%d", {l.BruttoSum, l.PosSum}));
    if (v21_) CheckTripSums21(l);
}

void TSgbv::CheckCase(const TAbrechFall& c) {
    if (c.BetragBrutto != c.SumBrutto) throw Error("Summenprüfung Fälle Rechnungsbetrag");
    if (c.BetragZuZaSum != c.SumZuZa) throw Error("Summenprüfung Fälle Zuzabetrag");
    kt_.ValidateIK(c.IKPat, "IKPatient");
    if (c.IKPat != c.Rechnung->IKPAT) throw Error("Fall: PatientenIK nicht wie in Rechnung.");
}

void TSgbv::CheckInvoice(const TRechnung& r) {
    if (r.RBetragNetto != r.SumNetto)
        throw Error(Format("Summenprüfung Rechnung Netto: %d <> %d", {r.SumNetto, r.RBetragNetto}));
    if (r.RBetragBrutto != r.SumBrutto)
        throw Error(Format("Summenprüfung Rechnung Brutto: %d <> %d", {r.SumBrutto, r.RBetragBrutto}));
    if (r.RBetragZuZa != r.SumZuZa) throw Error("Summenprüfung Rechnung ZuZa");
    kt_.ValidateIK(r.IKKT, "IKKostenträger ");
    kt_.ValidateIK(r.IKPAT, "IKKrankenkasse");
    std::string found = kt_.GetDatenIKLog(r.IKKT, "", "", Now());
    if (found != recipientIK_)
        throw Error("TSGBV Rechnung: Daten-Empfaenger kann nicht bestätigt werden. Angegeben=" + recipientIK_ +
                    " gefunden=" + found);
    kt_.ValidateVerweis(r.IKPAT, r.IKKT);
    // A single provider's invoice is billed with the trips of its own IK
    // only; a trip of another provider (or without a provider IK) would be
    // lost, so the invoice is refused.
    if (rechnungsart_ == 1) {
        for (const TLeistung* l : r.Leistungen)
            if (Utf8Left(l->IKLE, 9) != Utf8Left(r.IKLE, 9))
                throw Error("TSGBV Leistung eines anderen Leistungserbringers. Rechnung=" + r.SaRechNr +
                            " Fall=" + l->Fall->VONum + " IKLE Leistung=" + l->IKLE + " IKLE Rechnung=" + r.IKLE);
    }
    PrepareLEListForRechnung(r);
    if (v21_) CheckInvoice21(r);
}

void TSgbv::PrepareLEListForRechnung(const TRechnung& r) {
    numberToIK_.clear();
    ikToNumber_.clear();
    for (const TLeistung* l : r.Leistungen) {
        std::string k = Format("%4.4d", {l->EinzelReNr});
        const std::string& i = l->IKLE;
        auto byNumber = numberToIK_.find(k);
        auto byIK = ikToNumber_.find(i);
        if (byNumber == numberToIK_.end() && byIK == ikToNumber_.end()) {
            numberToIK_.emplace(k, i);
            ikToNumber_.emplace(i, k);
            continue;
        }
        if (byNumber != numberToIK_.end() && byNumber->second != i)
            throw Error("PrepareLEListForRechnung: EinzelReNr und IKLE nicht konsistent(1)");
        if (byIK != ikToNumber_.end() && byIK->second != k)
            throw Error("PrepareLEListForRechnung: EinzelReNr und IKLE nicht konsistent(2) ");
    }
    if (numberToIK_.empty())
        throw Error("PrepareLEListForREchnung: Rechnung ohne Leistungen. Rechnung=" + r.SaRechNr);
    if (numberToIK_.begin()->first != "0001")
        throw Error("PrepareLEListForREchnung: Erste EinzelReNr ist nicht 1");
    if (StrToIntDef(numberToIK_.rbegin()->first, -1) != int64_t(numberToIK_.size()))
        throw Error("PrepareLEListForREchnung: Einzelrechnungsnummern nicht fortlaufend.");
}

std::string TSgbv::StatusKey(const TAbrechFall& c) const {
    if (Blank(c.Status)) return "99";
    std::vector<std::string> ch = Utf8Chars(c.Status);
    if (StatusRulesFrom20141001()) {
        if (ch[0] == "1") return "11";
        if (ch[0] == "3") return "31";
        if (ch[0] == "5") return "51";
        return "99";
    }
    if (ch.size() < 5) return "99";
    const std::string& fifth = ch[4];
    if (fifth.size() != 1) return "99";
    char f = fifth[0];
    if (f == '7' || f == '8') return "07";
    if (f == '4' || f == '6') return "99";
    if (std::string_view("1ADEKMS").find(f) != std::string_view::npos) return ch[0] + "1";
    if (std::string_view("9CFLNPX").find(f) != std::string_view::npos) return ch[0] + "9";
    return "99";
}

void TSgbv::EnsureOrder() {
    if (!sortPending_) return;
    // The last CheckData sorted the lists as they were then; records added
    // later stand behind them in load order.
    auto sortUpTo = [](auto& list, size_t n, auto less) { std::sort(list.begin(), list.begin() + std::ptrdiff_t(n), less); };
    sortUpTo(invoiceOrder_, sortedInvoices_, InvoiceLess);
    sortUpTo(caseOrder_, sortedCases_, CaseLess);
    sortPending_ = false;
}

const std::vector<TRechnung*>& TSgbv::Rechnungen() {
    EnsureOrder();
    return invoiceOrder_;
}

const std::vector<TAbrechFall*>& TSgbv::Faelle() {
    EnsureOrder();
    return caseOrder_;
}

// ======================================================== messages

void TSgbv::WriteUNB() {
    ClearElements();
    AddElement(6, "UNB", "UNB.0000");
    AddElement(6, "UNOC:3", "UNB.0001");
    AddElement(35, EscapeText(senderIK_), "UNB.0002");
    AddElement(35, EscapeText(recipientIK_), "UNB.0003");
    AddElement(13, FormatDate(created_) + ":" + FormatTime(created_), "UNB.0004");
    AddElement(14, ZeroPad(reference_, 5), "UNB.0020");
    AddElement(1, "E", "UNB.0005");
    AddElement(14, EscapeText(logicalFileName_), "UNB.0026");
    AddElement(1, EscapeText(testIndicator_), "UNB.0035");
    EmitSegment(ComposeSegment());
}

void TSgbv::WriteUNZ() {
    ClearElements();
    AddElement(3, "UNZ", "UNZ.0000");
    AddElement(6, ZeroPad(messageCounter_, 6), "UNZ.0036");
    AddElement(14, ZeroPad(reference_, 5), "UNZ.0020");
    EmitSegment(ComposeSegment());
}

void TSgbv::WriteUNH(const char* type) {
    ++messageCounter_;
    segmentCounter_ = 0;
    ClearElements();
    AddElement(3, "UNH", "UNH.001");
    AddElement(14, ZeroPad(messageCounter_, 5), "UNH.002");
    AddElement(15, Format("%s:%s:0:0", {type, version_}), "UNH.003");
    EmitSegment(ComposeSegment());
}

void TSgbv::WriteUNT() {
    ++segmentCounter_;
    ClearElements();
    AddElement(3, "UNT", "UNT.001");
    AddElement(14, ZeroPad(segmentCounter_, 6), "UNT.002");
    AddElement(14, ZeroPad(messageCounter_, 5), "UNT.003");
    EmitSegment(ComposeSegment());
    segmentCounter_ = 0;
}

void TSgbv::WriteFKTSlga(const TRechnung& r, bool collective) {
    ClearElements();
    AddElement(3, "FKT", "FKT.01");
    AddElement(2, "01", "FKT.02");
    AddElement(1, collective ? "J" : "", "FKT.03");
    AddText(9, collective ? senderIK_ : r.IKLE, "FKT.04");
    AddText(9, r.IKKT, "FKT.05");
    AddText(9, r.IKPAT, "FKT.06");
    AddText(9, senderIK_, "FKT.07");
    EmitSegment(ComposeSegment());
}

void TSgbv::WriteFKTSlla(const TRechnung& r) {
    ClearElements();
    AddElement(3, "FKT", "FKT.01");
    AddElement(2, "01", "FKT.02");
    AddElement(1, "", "FKT.03");
    AddText(9, r.IKLE, "FKT.04");
    AddText(9, r.IKKT, "FKT.05");
    AddText(9, r.IKPAT, "FKT.06");
    if (kind_ == 1) AddText(9, senderIK_, "FKT.07");
    EmitSegment(ComposeSegment());
}

void TSgbv::WriteREC(const TRechnung& r, const std::string& einzel) {
    ClearElements();
    AddElement(3, "REC", "REC.01");
    AddComposite(21, r.SaRechNr, 14, einzel, 6, "REC.02");
    AddElement(8, FormatDate(r.RechDatum), "REC.03");
    AddElement(1, IntToStr(rechnungsart_), "REC.04");
    EmitSegment(ComposeSegment());
}

// The three status-sum tables, refilled from the given trips: each trip adds
// to "00" and then to the key of its case's status; keys keep the order in
// which they were first added.
void TSgbv::FillStatusSums(const std::vector<TLeistung*>& trips) {
    statusSums_.clear();
    auto add = [this](const std::string& key, int64_t b, int64_t z) {
        auto it = std::find_if(statusSums_.begin(), statusSums_.end(), [&](const StatusSum& s) { return s.key == key; });
        if (it == statusSums_.end()) it = statusSums_.insert(statusSums_.end(), StatusSum{key});
        it->netto += b - z;
        it->brutto += b;
        it->zuza += z;
    };
    for (const TLeistung* l : trips) {
        std::string key = StatusKey(*l->Fall);
        add("00", l->BruttoSum, l->ZuZaBetrag);
        add(key, l->BruttoSum, l->ZuZaBetrag);
    }
}

void TSgbv::WriteGES(const TRechnung& r, const std::string* filter) {
    std::vector<TLeistung*> trips;
    for (TLeistung* l : r.Leistungen)
        if (!filter || l->IKLE == *filter) trips.push_back(l);
    FillStatusSums(trips);
    for (const StatusSum& s : statusSums_) {
        ClearElements();
        AddElement(3, "GES", "GES.01");
        AddElement(2, s.key, "GES.02");
        AddNumber(14, 10, FormatAmount(s.netto), "GES.03");
        AddNumber(14, 10, FormatAmount(s.brutto), "GES.04");
        AddNumber(14, 10, FormatAmount(s.zuza), "GES.05");
        EmitSegment(ComposeSegment());
    }
}

void TSgbv::WriteNAM(const TRechnung& r) {
    ClearElements();
    AddElement(3, "NAM", "NAM.01");
    AddText(30, r.Name1, "NAM.02");
    AddText(30, r.Name2, "NAM.03");
    AddText(30, r.Name3, "NAM.04");
    AddText(v21_ ? 70 : 30, r.Name4, "NAM.05");
    EmitSegment(ComposeSegment());
}

// One SLGA message: the collective invoice of a billing centre, or the
// invoice of one provider (filter) with its single-invoice number. Version
// 21 adds the tax data to the provider's invoice and the cash discount to
// the invoice that is paid: the provider's for a single provider, the
// collective one for a billing centre.
void TSgbv::WriteSLGA(const TRechnung& r, bool collective, const std::string& einzel, const std::string* filter) {
    WriteUNH("SLGA");
    WriteFKTSlga(r, collective);
    WriteREC(r, einzel);
    if (v21_) {
        if (!collective) WriteUST(r);
        if (collective == (kind_ == 1)) WriteSKO(r);
    }
    WriteGES(r, filter);
    WriteNAM(r);
    WriteUNT();
}

void TSgbv::WriteSLLA(const TRechnung& r, const std::string& filter, const std::string& einzel,
                      const std::vector<TAbrechFall*>& faelle) {
    WriteFKTSlla(r);
    WriteREC(r, einzel);
    const int lfdMax = version_ == "06" ? 2 : 3;
    for (TAbrechFall* c : faelle) {
        std::vector<TLeistung*> trips;
        for (TLeistung* l : c->Leistungen)
            if (l->IKLE == filter) trips.push_back(l);
        if (trips.empty()) continue;

        ClearElements();
        AddElement(3, "INV", "INV.01");
        AddText(12, c->VersNum, "INV.02");
        AddText(5, c->Status, "INV.03");
        AddText(1, c->BelegInfo, "INV.04");   // empty before version 21
        AddText(10, c->VONum, "INV.05");
        if (v21_) AddText(25, c->BesVersForm, "INV.06");
        EmitSegment(ComposeSegment());

        ClearElements();
        AddElement(3, "NAD", "NAD.01");
        AddText(47, c->Nachname, "NAD.02");
        AddText(30, c->Vorname, "NAD.03");
        AddElement(8, FormatDate(c->Geb), "NAD.04");
        AddText(30, c->Strasse, "NAD.05");
        AddText(7, c->Plz, "NAD.06");
        AddText(25, c->Ort, "NAD.07");
        AddText(3, c->Land, "NAD.08");
        EmitSegment(ComposeSegment());

        if (v21_) {
            WriteIMG(*c);
            WriteEVO(*c);
        }

        int lfd = 0;
        for (TLeistung* lp : trips) {
            TLeistung& l = *lp;
            l.LfdNr = ++lfd;
            ClearElements();
            AddElement(3, "KTL", "KTL.01");
            AddElement(lfdMax, IntToStr(l.LfdNr), "KTL.02");
            AddText(30, l.VON_STRASSE, "KTL.03");
            AddText(7, l.VON_PLZ, "KTL.04");
            AddText(3, l.VON_LAND, "KTL.05");
            AddText(25, l.VON_ORT, "KTL.06");
            AddText(30, l.NACH_STRASSE, "KTL.07");
            AddText(7, l.NACH_PLZ, "KTL.08");
            AddText(3, l.NACH_LAND, "KTL.09");
            AddText(25, l.NACH_ORT, "KTL.10");
            EmitSegment(ComposeSegment());

            // Version 21: the km with their decimals and the duration only
            // when the document gives them.
            const std::string km = !v21_ ? FormatQuantity(double(l.KM)) : l.HasKM ? FormatAmount(l.KMHundertstel) : "";
            const std::string dauer = !v21_ || (l.HasDauer && l.DAUER > 0) ? IntToStr(l.DAUER) : "";
            for (const TTarifPosition* p : l.Positionen) {
                ClearElements();
                AddElement(3, "EKT", "EKT.01");
                AddComposite(8, p->Abrechnungscode, 2, p->TarifKennzeichen, 5, "EKT.02");
                AddText(10, v21_ && !Blank(p->BPosNum) ? p->BPosNum : p->PosNum, "EKT.03");
                AddNumber(8, 4, FormatQuantity(p->Menge), "EKT.04");
                AddNumber(14, 10, FormatAmount(p->EPreis), "EKT.05");
                AddElement(8, FormatDate(p->Datum), "EKT.06");
                AddNumber(14, 4, km, "EKT.07");
                AddText(4, l.Zeit1, "EKT.08");
                AddText(4, l.Zeit2, "EKT.09");
                AddElement(4, dauer, "EKT.10");
                EmitSegment(ComposeSegment());
                if (!p->Text.empty()) {
                    ClearElements();
                    AddElement(3, "TXT", "TXT.01");
                    AddText(70, p->Text, "TXT.02");
                    EmitSegment(ComposeSegment());
                }
                if (v21_) WriteMWS(*p);
            }
            if (l.ZuZaBetrag != 0) {
                ClearElements();
                AddElement(3, "ZUK", "ZUK.01");
                AddElement(lfdMax, IntToStr(l.LfdNr), "ZUK.02");
                AddNumber(14, 10, FormatAmount(l.PosSum), "ZUK.03");
                AddText(2, l.ZuZaArt, "ZUK.04");
                AddNumber(14, 10, FormatAmount(l.ZuZaBetrag), "ZUK.05");
                EmitSegment(ComposeSegment());
            }
        }

        ClearElements();
        AddElement(3, "ZKT", "ZKT.01");
        AddText(9, Blank(c->BSN) ? std::string("999999999") : c->BSN, "ZKT.02");
        AddText(9, Trim(c->ArztN), "ZKT.03");
        AddText(1, c->ZuzaKennz, "ZKT.04");
        AddElement(8, FormatDate(c->VODatum), "ZKT.05");
        AddText(1, c->Unfall, "ZKT.06");
        AddText(1, c->BVG, "ZKT.07");
        EmitSegment(ComposeSegment());

        if (!c->GenZeich.empty() && !c->GenDatum.IsNull() && c->GenDatum.Value() > 0) {
            ClearElements();
            AddElement(3, "SKZ", "SKZ.01");
            AddText(20, c->GenZeich, "SKZ.02");
            AddElement(8, FormatDate(c->GenDatum), "SKZ.03");
            if (WithGenArt()) AddText(2, c->GenArt, "SKZ.04");
            EmitSegment(ComposeSegment());
        }

        FillStatusSums(trips);
        ClearElements();
        AddElement(3, "BES", "BES.01");
        AddNumber(14, 10, FormatAmount(statusSums_.front().brutto), "BES.02");
        AddNumber(14, 10, FormatAmount(statusSums_.front().zuza), "BES.03");
        EmitSegment(ComposeSegment());
    }
}

void TSgbv::TakeAddressFrom(const TRechnung& r) {
    if (!address_[0].empty()) return;
    address_ = {r.Name1, r.Name2, r.Name3, r.Name4};
}

void TSgbv::Generate() {
    ComputeSums();
    EnsureOrder();
    const std::vector<TRechnung*> invoices = invoiceOrder_;
    // The cases of each invoice in the order of the case list.
    std::vector<std::vector<TAbrechFall*>> casesOf(invoices_.size());
    for (TAbrechFall* c : caseOrder_) casesOf[c->Rechnung->Seq].push_back(c);

    if (rechnungsart_ == 1) {
        WriteUNB();
        for (TRechnung* r : invoices) {
            TakeAddressFrom(*r);
            const std::string filter = r->IKLE;
            WriteSLGA(*r, false, "0", &filter);
            WriteUNH("SLLA");
            WriteSLLA(*r, filter, "0", casesOf[r->Seq]);
            WriteUNT();
        }
        WriteUNZ();
    } else if (rechnungsart_ == 3) {
        WriteUNB();
        for (TRechnung* r : invoices) {
            WriteSLGA(*r, true, "0", nullptr);
            TakeAddressFrom(*r);
            PrepareLEListForRechnung(*r);
            const std::map<std::string, std::string> singles = numberToIK_;
            for (const auto& [number, ik] : singles) {
                r->IKLE = ik;
                r->EinzelRechNr = Cut(IntToStr(StrToIntDef(number, 0)), 6);
                WriteSLGA(*r, false, r->EinzelRechNr, &ik);
                WriteUNH("SLLA");
                WriteSLLA(*r, ik, r->EinzelRechNr, casesOf[r->Seq]);
                WriteUNT();
            }
        }
        WriteUNZ();
    }
}

// ======================================================== files

std::string TSgbv::InterchangeText() const { return Utf8ToCp1252(SegmentsText()); }

void TSgbv::WriteFiles(std::optional<std::string> interchange) {
    if (filePath_.empty()) throw Error("TSGBV WriteFiles Handle nicht gesetzt.");
    // All three texts are made before anything is written, so that a failing
    // slip lookup leaves no half set of files behind. The slip comes first:
    // what it had to change goes into the log.
    std::string slip = Utf8ToCp1252(GetBegleitzettel());
    std::string segments = interchange ? std::move(*interchange) : InterchangeText();
    std::string log = Utf8ToCp1252(LogText());
    AtomicWriteFile(filePath_, segments);
    AtomicWriteFile(filePath_ + ".LOG", log);
    AtomicWriteFile(filePath_ + ".BGL", slip);
}

void TSgbv::ReleaseContent() {
    // Swapped with empty ones, so that the capacity goes too.
    auto release = [](auto& container) { std::decay_t<decltype(container)>().swap(container); };
    release(elements_);
    release(segments_);
    release(log_);
    release(statusSums_);
    release(invoiceOrder_);
    release(caseOrder_);
    release(uncheckedCases_);
    release(uncheckedInvoices_);
    // Positions and trips point to their cases and invoices: the records go
    // from the leaves up.
    release(positions_);
    release(trips_);
    release(cases_);
    release(invoices_);
    numberToIK_.clear();
    ikToNumber_.clear();
    sortPending_ = false;
    sortedInvoices_ = sortedCases_ = 0;
    summedPositions_ = summedTrips_ = summedCases_ = 0;
    checkedTrips_ = 0;
    checkedFingerprint_.clear();
    segmentCounter_ = messageCounter_ = 0;
}

std::string TSgbv::GetBegleitzettel() {
    EnsureOrder();
    // A name or address of the directory may hold a character windows-1252
    // cannot (a typographic hyphen, say). The slip is only read: such a
    // character stands there as "?", and the log names the IK once.
    std::vector<std::string> replacedFor;
    auto fromDirectory = [&replacedFor](const std::string& ik, const std::string& text) {
        bool replaced = false;
        std::string shown = Cp1252Representable(text, &replaced);
        if (replaced && std::find(replacedFor.begin(), replacedFor.end(), ik) == replacedFor.end())
            replacedFor.push_back(ik);
        return shown;
    };
    auto kurzBez = [&](const std::string& ik) { return fromDirectory(ik, kt_.GetKurzBez(ik)); };

    std::string addressIK = recipientIK_;
    std::string name = fromDirectory(recipientIK_, kt_.GetIKPretty(recipientIK_, false));
    if (!invoiceOrder_.empty()) {
        TKTInfo info = kt_.GetKTInfo(invoiceOrder_.front()->IKKT, einrichtung_.EINR_LAND, einrichtung_.EINR_BEZIRK,
                                     Today());
        if (!info.PapierIK.empty()) {
            name = fromDirectory(info.PapierIK, kt_.GetIKPretty(info.PapierIK, false));
            addressIK = info.PapierIK;
        }
    }
    const std::string address = fromDirectory(addressIK, kt_.GetAnschrift(addressIK, "3"));
    // Postcode, town and street, split at blanks: the first word, the second
    // word and the rest.
    auto splitAt = [](const std::string& s, std::string& before, std::string& after) {
        size_t p = s.find(' ');
        before = p == std::string::npos ? "" : s.substr(0, p);
        after = p == std::string::npos ? s : s.substr(p + 1);
    };
    std::string first, rest, second, street;
    splitAt(address, first, rest);
    splitAt(rest, second, street);

    const std::string lb = kSlipBreak;
    const std::string indent = "    ";
    std::string t = " ";
    for (int i = 0; i < 11; ++i) t += lb;
    t += indent + name + lb;
    t += indent + street + lb;
    t += indent + first + " " + second + lb;
    for (int i = 0; i < 6; ++i) t += lb;
    t += "Begleitzettel" + lb + "-------------" + lb + lb;
    if (!transferName_.empty()) t += Format("Transfer           %s", {transferName_}) + lb + lb;
    t += "Empfänger          " + recipientIK_ + " " + kurzBez(recipientIK_) + lb + lb;

    auto addressBlock = [&]() {
        t += kLabelBlank + address_[0] + lb;
        for (int i = 1; i < 4; ++i)
            if (!address_[size_t(i)].empty()) t += kLabelBlank + address_[size_t(i)] + lb;
        t += lb;
    };
    if (rechnungsart_ == 3) {
        t += "Abrechnungszentrum " + senderIK_ + lb;
        addressBlock();
    }
    t += lb;

    std::vector<std::vector<TAbrechFall*>> casesOf(invoices_.size());
    for (TAbrechFall* c : caseOrder_) casesOf[c->Rechnung->Seq].push_back(c);

    const TRechnung* prev = nullptr;
    for (const TRechnung* r : invoiceOrder_) {
        if (!prev || r->IKLE != prev->IKLE) {
            if (rechnungsart_ == 1) {
                t += "Leistungserbringer " + senderIK_ + lb;
                addressBlock();
            } else if (rechnungsart_ != 3) {
                throw Error("GetBegleitzettel: Rechnungsart ungültig.");
            }
        }
        if (!prev || r->IKKT != prev->IKKT)
            t += "     Kostenträger  " + r->IKKT + " " + kurzBez(r->IKKT) + lb;
        t += "     Rechnung      " + r->SaRechNr + lb;
        t += "     Rechnungdatum " + FormatDateTimeDE(r->RechDatum) + lb;
        t += "     Forderung     " + PadLeft(FormatAmount(r->RBetragNetto), 5) + " Eur" + lb;
        t += "     Krankenkasse  " + r->IKPAT + " " + kurzBez(r->IKPAT) + lb;
        int k = 0;
        for (const TAbrechFall* c : casesOf[r->Seq])
            t += "     Beleg/Verord. " + Format("%2.2d ", {++k}) + Format("%10.10s", {c->VONum}) + " " +
                 Format("%10.10s", {FormatDateTimeDE(c->VODatum)}) + " " + c->Nachname + lb;
        t += lb;
        t += "     Anzahl Belege    " + IntToStr(int64_t(casesOf[r->Seq].size())) + lb;
        prev = r;
    }
    for (const std::string& ik : replacedFor)
        Log(Format("Begleitzettel: Angaben zu IK %s enthalten Zeichen, die Windows-1252 nicht darstellen kann; "
                   "auf dem Begleitzettel stehen sie als \"?\".",
                   {ik}));
    return t;
}

} // namespace brenvo
