// The rules of message version 21 (SLGA:21:0:0, SLLA:21:0:0, patient
// transport): what each record must hold before anything is written, the
// sums and repetitions of a whole invoice, and the segments the older
// versions do not know (UST, SKO, IMG, EVO, MWS).
//
// Every refusal names the invoice, the case, the trip and the position where
// there is one, and the field of the invoice document:
//   TSGBV Rechnung=2024-1101 Fall=187398 Fahrt=14.10.2024 Feld ZEIT1: ...

#include <algorithm>
#include <map>
#include <set>

#include "U_sgbv.h"
#include "lib/base/Cp1252.h"
#include "lib/base/Error.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

bool Blank(const std::string& s) { return Trim(s).empty(); }

bool AsciiUpper(char ch) { return ch >= 'A' && ch <= 'Z'; }
bool AsciiAlnum(char ch) { return AsciiUpper(ch) || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9'); }

bool IsCountryCode(const std::string& s) {
    return !s.empty() && s.size() <= 3 && std::all_of(s.begin(), s.end(), AsciiUpper);
}

// An address in Germany: no country code, or "D".
bool Domestic(const std::string& land) { return Blank(land) || Trim(land) == "D"; }

bool IsTime(const std::string& s) {
    return s.size() == 4 && IsDigits(s) && s.substr(0, 2) <= "23" && s.substr(2, 2) <= "59";
}

// An invoice number: letters and digits, with single "-" or "/" between
// them (not at the start or end, never two in a row).
bool IsInvoiceNumber(const std::string& s) {
    if (s.empty()) return false;
    bool lastWasMark = true;   // a mark may not open the number
    for (char ch : s) {
        const bool mark = ch == '-' || ch == '/';
        if (!mark && !AsciiAlnum(ch)) return false;
        if (mark && lastWasMark) return false;
        lastWasMark = mark;
    }
    return !lastWasMark;
}

// The refusals of one record; the place is put into words only when one
// is made.
class Refusal {
public:
    explicit Refusal(const TRechnung& r, const TAbrechFall* c = nullptr, const TLeistung* l = nullptr,
                     size_t position = 0)
        : r_(r), c_(c), l_(l), position_(position) {}
    [[noreturn]] void operator()(const char* field, const std::string& what) const {
        throw Error(TSgbv::Where(r_, c_, l_, position_) + " Feld " + field + ": " + what);
    }
    // A text that is written: no longer than max, only characters of the
    // billing file's character set (ISO 8859-1 without control characters).
    void Text(const char* field, const std::string& value, size_t max) const {
        std::string bad;
        if (!IsLatin1Text(value, &bad))
            (*this)(field, Format("Das Zeichen \"%s\" ist in Abrechnungsdaten nicht erlaubt.", {bad}));
        if (Utf8Length(value) > max)
            (*this)(field, Format("Der Text \"%s\" ist länger als %d Zeichen.", {value, int64_t(max)}));
    }
    void Required(const char* field, const std::string& value, const char* what) const {
        if (Blank(value)) (*this)(field, what);
    }
    void Digits(const char* field, const std::string& value, size_t count, const char* what) const {
        if (value.size() != count || !IsDigits(value)) (*this)(field, Format("%s \"%s\" ist ungültig.", {what, value}));
    }

private:
    const TRechnung& r_;
    const TAbrechFall* c_;
    const TLeistung* l_;
    size_t position_;
};

} // namespace

std::string TSgbv::Where(const TRechnung& r, const TAbrechFall* c, const TLeistung* l, size_t position) {
    std::string s = "TSGBV Rechnung=" + r.SaRechNr;
    if (c) s += " Fall=" + c->VONum;
    if (l) s += " Fahrt=" + FormatShortDate(l->Datum);
    if (position) s += " Position=" + IntToStr(int64_t(position));
    return s;
}

// ======================================================== records

void TSgbv::CheckRechnung21(const TRechnung& r) const {
    const Refusal refuse(r);
    if (!IsInvoiceNumber(r.SaRechNr))
        refuse("SaRechNr", "Die Rechnungsnummer \"" + r.SaRechNr +
                               "\" darf nur Buchstaben, Ziffern und einzelne Gliederungszeichen - oder / enthalten, "
                               "nicht am Anfang oder Ende.");
    if (r.RechDatum.IsNull()) refuse("RechDatum", "Das Rechnungsdatum fehlt.");
    refuse.Digits("IKLE", r.IKLE, 9, "Das IK des Leistungserbringers");
    refuse.Digits("IKKT", r.IKKT, 9, "Das IK des Kostenträgers");
    refuse.Digits("IKPat", r.IKPAT, 9, "Das IK der Krankenkasse");
    refuse.Required("Name1", r.Name1, "Der Name des Rechnungsstellers fehlt.");
    refuse.Text("Name1", r.Name1, 30);
    refuse.Text("Name2", r.Name2, 30);
    refuse.Text("Name3", r.Name3, 30);
    refuse.Text("Name4", r.Name4, 70);
    refuse.Text("Steuernummer", r.Steuernummer, 20);
    if (!r.UStBefreit.empty() && r.UStBefreit != "J")
        refuse("UStBefreit", "Erlaubt ist nur \"J\" (befreit nach § 4 UStG) oder nichts.");
    if (r.UStBefreit == "J" && Blank(r.Steuernummer))
        refuse("Steuernummer", "Die Befreiung von der Umsatzsteuer wird mit der Steuernummer übermittelt; sie fehlt.");
    if (r.HasSkonto) {
        if (r.SkontoProzent <= 0 || r.SkontoProzent >= 10000)
            refuse("SkontoProzent", "Der Skonto-Satz muss über 0 und unter 100 Prozent liegen.");
        if (r.SkontoTage < 1 || r.SkontoTage > 999)
            refuse("SkontoTage", "Die Skonto-Frist muss 1 bis 999 Tage betragen.");
    }
}

void TSgbv::CheckAbrFall21(const TAbrechFall& c, const TRechnung& r) const {
    const Refusal refuse(r, &c);
    if (c.Geb.IsNull()) refuse("Geb", "Das Geburtsdatum fehlt.");
    refuse.Text("VersNum", c.VersNum, 12);
    refuse.Text("Status", c.Status, 5);
    refuse.Text("VONum", c.VONum, 10);
    refuse.Text("Nachname", c.Nachname, 47);
    refuse.Text("Vorname", c.Vorname, 30);
    refuse.Text("Strasse", c.Strasse, 30);
    refuse.Text("Plz", c.Plz, 7);
    refuse.Text("Ort", c.Ort, 25);
    refuse.Text("GenZeich", c.GenZeich, 20);
    refuse.Text("BesVersForm", c.BesVersForm, 25);
    refuse.Text("EVO_ID", c.EvoID, 256);
    if (!c.Land.empty() && !IsCountryCode(c.Land))
        refuse("Land", "\"" + c.Land + "\" ist kein Länderkennzeichen (1 bis 3 Großbuchstaben).");
    if (!Blank(c.Plz) && Domestic(c.Land) && (c.Plz.size() != 5 || !IsDigits(c.Plz)))
        refuse("Plz", "Eine Anschrift im Inland hat eine fünfstellige Postleitzahl, nicht \"" + c.Plz + "\".");
    if (!Blank(c.BSN) && !IsDigits(c.BSN)) refuse("BSN", "Die Betriebsstättennummer darf nur Ziffern enthalten.");
    if (!c.Unfall.empty() && c.Unfall != "1" && c.Unfall != "2" && c.Unfall != "3")
        refuse("Unfall", "Erlaubt sind 1, 2, 3 oder nichts, nicht \"" + c.Unfall + "\".");
    if (!c.BVG.empty() && c.BVG != "6") refuse("BVG", "Erlaubt ist 6 oder nichts, nicht \"" + c.BVG + "\".");
    if (!c.BelegInfo.empty() && c.BelegInfo != "0" && c.BelegInfo != "1" && c.BelegInfo != "2")
        refuse("BelegInfo", "Erlaubt sind 0, 1, 2 oder nichts, nicht \"" + c.BelegInfo + "\".");
    if (!Blank(c.EvoID) && Utf8Length(c.EvoID) < 22)
        refuse("EVO_ID", "Die ID der eVerordnung hat mindestens 22 Zeichen.");
    if (!Blank(c.ImgJahr) || !Blank(c.ImgMonat) || !Blank(c.ImgIK)) {
        refuse.Digits("IMG_Jahr", c.ImgJahr, 4, "Das Abrechnungsjahr des Images");
        refuse.Digits("IMG_Monat", c.ImgMonat, 2, "Der Abrechnungsmonat des Images");
        if (c.ImgMonat < "01" || c.ImgMonat > "12")
            refuse("IMG_Monat", "Der Abrechnungsmonat des Images \"" + c.ImgMonat + "\" ist ungültig.");
        refuse.Digits("IMG_IK", c.ImgIK, 9, "Das IK der Stelle des Images");
    }
    if (!Blank(c.GenZeich) && (c.GenDatum.IsNull() || c.GenDatum.Value() <= 0))
        refuse("GenDatum", "Zum Genehmigungszeichen fehlt das Datum der Genehmigung.");
    if (c.BetragZuZaPausch != 0)
        refuse("BetragZuZaPausch",
               "Eine pauschale Zuzahlung des Falls lässt sich nicht übermitteln; Zuzahlungen stehen bei den Fahrten.");
}

void TSgbv::CheckLeistung21(const TLeistung& l, const TAbrechFall& c) const {
    const Refusal refuse(*c.Rechnung, &c, &l);
    if (c.Leistungen.size() >= 999) refuse("Datum", "Ein Fall hat höchstens 999 Fahrten.");
    if (l.Datum.IsNull()) refuse("Datum", "Das Datum der Fahrt fehlt.");
    const std::pair<const char*, const std::string*> texts[] = {
        {"VON_STRASSE", &l.VON_STRASSE}, {"VON_ORT", &l.VON_ORT}, {"NACH_STRASSE", &l.NACH_STRASSE},
        {"NACH_ORT", &l.NACH_ORT}};
    const size_t widths[] = {30, 25, 30, 25};
    for (size_t i = 0; i < std::size(texts); ++i) refuse.Text(texts[i].first, *texts[i].second, widths[i]);
    const struct {
        const char* landField;
        const std::string& land;
        const char* plzField;
        const std::string& plz;
    } places[] = {{"VON_LAND", l.VON_LAND, "VON_PLZ", l.VON_PLZ}, {"NACH_LAND", l.NACH_LAND, "NACH_PLZ", l.NACH_PLZ}};
    for (const auto& p : places) {
        if (!p.land.empty() && !IsCountryCode(p.land))
            refuse(p.landField, "\"" + p.land + "\" ist kein Länderkennzeichen (1 bis 3 Großbuchstaben).");
        refuse.Text(p.plzField, p.plz, 7);
        if (Domestic(p.land) && (p.plz.size() != 5 || !IsDigits(p.plz)))
            refuse(p.plzField, "Ein Ort im Inland hat eine fünfstellige Postleitzahl, nicht \"" + p.plz + "\".");
    }
    if (!l.Zeit1.empty() && !IsTime(l.Zeit1)) refuse("ZEIT1", "\"" + l.Zeit1 + "\" ist keine Uhrzeit HHMM.");
    if (!l.Zeit2.empty() && !IsTime(l.Zeit2)) refuse("ZEIT2", "\"" + l.Zeit2 + "\" ist keine Uhrzeit HHMM.");
    if (l.HasDauer && (l.DAUER < 0 || l.DAUER > 9999)) refuse("DAUER", "Die Dauer beträgt 0 bis 9999 Minuten.");
    if (l.HasKM && (l.KMHundertstel < 0 || l.KMHundertstel >= 1000000))
        refuse("KM", "Die Kilometer liegen zwischen 0 und 9999,99.");
}

void TSgbv::CheckPosition21(const TTarifPosition& p, const TLeistung& l) const {
    const Refusal refuse(*l.Rechnung, l.Fall, &l, l.Positionen.size() + 1);
    if (p.Abrechnungscode < "41" || p.Abrechnungscode > "49")
        refuse("Tarif", "Der Abrechnungscode \"" + p.Abrechnungscode +
                            "\" gehört nicht zu Krankentransportleistungen (41 bis 49).");
    if (!IsDigits(p.TarifKennzeichen.substr(0, 2)))
        refuse("Tarif", "Das Tarifkennzeichen \"" + p.TarifKennzeichen + "\" beginnt nicht mit dem Tarifbereich.");
    const std::string& nr = Blank(p.BPosNum) ? p.PosNum : p.BPosNum;
    if (nr.size() != 6 || !IsDigits(nr))
        refuse(Blank(p.BPosNum) ? "PosNum" : "BPosNum",
               "\"" + nr + "\" ist keine sechsstellige bundeseinheitliche Positionsnummer.");
    if (p.Menge <= -10000 || p.Menge >= 10000) refuse("Menge", "Die Menge hat höchstens vier Stellen vor dem Komma.");
    refuse.Text("Text", p.Text, 70);
    if (p.MwStSatz < 0 || p.MwStSatz >= 10000)
        refuse("MwStSatz", "Der Mehrwertsteuersatz muss zwischen 0 und 100 Prozent liegen.");
}

// ======================================================== sums and repetitions

void TSgbv::CheckTripSums21(const TLeistung& l) const {
    const Refusal refuse(*l.Rechnung, l.Fall, &l);
    if (l.ZuZaBetrag < 0) refuse("ZuZaBetrag", "Die Zuzahlung darf nicht negativ sein.");
    if (l.ZuZaBetrag > l.PosSum)
        refuse("ZuZaBetrag", "Die Zuzahlung " + FormatAmount(l.ZuZaBetrag) + " ist höher als der Preis der Fahrt " +
                                 FormatAmount(l.PosSum) + ".");
}

void TSgbv::CheckInvoice21(const TRechnung& r) const {
    // A prescription number identifies its case within the invoice of one
    // provider.
    std::map<std::pair<std::string, std::string>, const TAbrechFall*> seen;
    for (const TAbrechFall* c : r.Faelle) {
        std::set<std::string> providers;
        for (const TLeistung* l : c->Leistungen) providers.insert(l->IKLE);
        for (const std::string& ik : providers) {
            auto [it, fresh] = seen.emplace(std::make_pair(ik, c->VONum), c);
            if (!fresh)
                Refusal(r, c)("VONum", "Die Belegnummer " + c->VONum + " hat schon ein anderer Fall der Rechnung.");
        }
    }
    // VAT added to net prices makes a tax invoice: it needs the tax number
    // and cannot be exempt.
    for (const TLeistung* l : r.Leistungen)
        for (const TTarifPosition* p : l->Positionen) {
            if (p->MwStSatz <= 0) continue;
            if (Blank(r.Steuernummer))
                Refusal{r}("Steuernummer", "Positionen mit zugeschlagener Mehrwertsteuer verlangen die Steuernummer.");
            if (r.UStBefreit == "J")
                Refusal{r}("UStBefreit",
                                  "Eine von der Umsatzsteuer befreite Rechnung kann keine Mehrwertsteuer zuschlagen.");
        }
}

// ======================================================== segments

void TSgbv::WriteUST(const TRechnung& r) {
    if (Blank(r.Steuernummer)) return;
    ClearElements();
    AddElement(3, "UST", "UST.01");
    AddText(20, r.Steuernummer, "UST.02");
    AddText(1, r.UStBefreit, "UST.03");
    EmitSegment(ComposeSegment());
}

void TSgbv::WriteSKO(const TRechnung& r) {
    if (!r.HasSkonto) return;
    ClearElements();
    AddElement(3, "SKO", "SKO.01");
    AddNumber(5, 2, FormatAmount(r.SkontoProzent), "SKO.02");
    AddElement(3, IntToStr(r.SkontoTage), "SKO.03");
    EmitSegment(ComposeSegment());
}

void TSgbv::WriteIMG(const TAbrechFall& c) {
    if (Blank(c.ImgJahr)) return;
    ClearElements();
    AddElement(3, "IMG", "IMG.01");
    AddElement(4, c.ImgJahr, "IMG.02");
    AddElement(2, c.ImgMonat, "IMG.03");
    AddText(9, c.ImgIK, "IMG.04");
    EmitSegment(ComposeSegment());
}

void TSgbv::WriteEVO(const TAbrechFall& c) {
    if (Blank(c.EvoID)) return;
    ClearElements();
    AddElement(3, "EVO", "EVO.01");
    AddText(256, c.EvoID, "EVO.02");
    EmitSegment(ComposeSegment());
}

void TSgbv::WriteMWS(const TTarifPosition& p) {
    if (p.MwStSatz <= 0) return;
    ClearElements();
    AddElement(3, "MWS", "MWS.01");
    AddNumber(8, 5, FormatAmount(p.MwStSatz), "MWS.02");
    AddNumber(14, 10, FormatAmount(p.MwSt), "MWS.03");
    EmitSegment(ComposeSegment());
}

} // namespace brenvo
