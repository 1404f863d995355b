#include "TripEntry.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "billing/InvoiceDocument.h"
#include "entry/InvoiceEntry.h"
#include "entry/MoneyRules.h"
#include "lib/base/Money.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

std::vector<FieldDef> ScratchFields() {
    return {FieldDef::Str("Tarif", 7),        FieldDef::Str("PosNum", 10), FieldDef::Flt("Menge"),
            FieldDef::Money("EPreis"),        FieldDef::Flt("KM"),         FieldDef::Str("Text", 70),
            FieldDef::Flt("USt"),             FieldDef::Flt("PCT_Abschlag"), FieldDef::Flt("ab_km"),
            FieldDef::Str("BPosNum", 6),      FieldDef::Flt("MwStSatz")};
}

// The quantity of a kilometre row for the trip's km: charged from its
// threshold on (0: from the first km).
double KmQuantity(double km, double abKm) { return abKm > 0 ? std::max(0.0, km - (abKm - 1)) : km; }

std::string TextOf(const Value& v) {
    const auto* s = std::get_if<std::string>(&v);
    return s ? *s : std::string();
}

void SetOrNull(Table& t, const char* field, const std::string& text) {
    if (text.empty())
        t.SetNull(field);
    else
        t.SetString(field, text);
}

} // namespace

TTripEntry::TTripEntry(TInvoiceEntry& entry) : entry_(entry), rows_(ScratchFields()) {}

void TTripEntry::Reset() {
    pickup = destination = TTripAddress();
    tariff_.clear();
    dates.clear();
    zeit1.clear();
    zeit2.clear();
    km = 0;
    wagenNr = 0;
    coPayment = 0;
    coPaymentLimit = true;
    coPaymentTyped = false;
    price_ = 0;
    rows_.EmptyTable();
}

void TTripEntry::BeginNewTrips() {
    mode_ = Mode::NewTrips;
    Table& c = *entry_.Cases();
    vonum_ = c.AsString("VONum");
    coPaymentShown_ = c.AsString("ZuzaKennz") == "3";
    coPaymentLimit = true;
    if (!Trim(c.AsString("Strasse")).empty())
        pickup = {c.AsString("Strasse"), c.AsString("Plz"), c.AsString("Ort"), "", ""};
    const TTemplateExtras& extras = entry_.TemplateExtras();
    if (!extras.ZStrasse.empty()) destination = {extras.ZStrasse, extras.ZPlz, extras.ZOrt, "", ""};
    const std::string remembered = entry_.RememberedTariff();
    const auto names = TariffNames();
    if (!remembered.empty() && std::find(names.begin(), names.end(), remembered) != names.end())
        ChooseTariff(remembered);
    ComputePrice();
}

void TTripEntry::BeginChange() {
    mode_ = Mode::Change;
    Table& c = *entry_.Cases();
    Table& t = *entry_.Trips();
    vonum_ = c.AsString("VONum");
    km = t.AsFloat("KM");
    coPayment = t.AsFloat("ZuZaBetrag");
    coPaymentShown_ = !t.AsString("ZuZaArt").empty();
    coPaymentLimit = t.AsString("ZuZaArt") == "02";
    coPaymentTyped = false;
    pickup = {t.AsString("VON_STRASSE"), t.AsString("VON_PLZ"), t.AsString("VON_ORT"), t.AsString("VON_LAND"), ""};
    destination = {t.AsString("NACH_STRASSE"), t.AsString("NACH_PLZ"), t.AsString("NACH_ORT"),
                   t.AsString("NACH_LAND"), ""};
    zeit1 = t.AsString("ZEIT1");
    zeit2 = t.AsString("ZEIT2");
    wagenNr = t.AsInteger("WagenNr");
    entry_.RememberedTariff().clear();
    const TDateTime datum = t.AsDateTime("Datum").DateOnly();
    dates = {datum};
    changedDate_ = DateText(datum);

    TdmVerwaltung& dm = entry_.Verwaltung();
    Table& ef = t.Nested(PositionNestName);
    for (ef.First(); !ef.Eof(); ef.Next()) {
        rows_.Append();
        for (const char* f : {"Tarif", "PosNum", "Menge", "EPreis", "Text", "USt", "BPosNum", "MwStSatz"})
            rows_.SetValue(f, ef.GetValue(f));
        const PositionKind kind = dm.KindOf(ef.AsString("PosNum"));
        if (std::round(kind.pctAbschlag) != 0) rows_.SetFloat("PCT_Abschlag", kind.pctAbschlag);
        if (std::round(kind.freikm) != 0) rows_.SetFloat("ab_km", kind.freikm);
        rows_.SetFloat("KM", 0);
        rows_.Post();
    }
    rows_.First();
    loadedPrice_ = ComputePrice();
}

std::string TTripEntry::Title() const {
    if (mode_ == Mode::Change) return "Leistung v. " + changedDate_ + " ändern, Verordnung-Nr.: " + vonum_;
    return "Leistung(en) eingeben, Verordnung-Nr.: " + vonum_;
}

std::string TTripEntry::InsuredInfo() const { return entry_.RemarkHint(); }

// ---------------------------------------------------------------- dates

void TTripEntry::AddDate(TDateTime date) {
    date = date.DateOnly();
    if (date.IsNull() || std::find(dates.begin(), dates.end(), date) != dates.end()) return;
    dates.insert(std::upper_bound(dates.begin(), dates.end(), date), date);
}

void TTripEntry::AddWeekdays(TDateTime inMonth, int weekday) {
    const DateParts p = Decode(inMonth);
    for (int day = 1; day <= DaysInMonth(p.year, p.month); ++day) {
        const TDateTime d = EncodeDate(p.year, p.month, day);
        // DayOfWeek counts from Sunday = 1; the buttons from Monday = 1.
        const int mondayFirst = (DayOfWeek(d) + 5) % 7 + 1;
        if (weekday == 0 ? mondayFirst <= 5 : mondayFirst == weekday) AddDate(d);
    }
}

void TTripEntry::AddWorkingDays(TDateTime inMonth) { AddWeekdays(inMonth, 0); }

void TTripEntry::RemoveDate(size_t index) {
    if (index < dates.size()) dates.erase(dates.begin() + std::ptrdiff_t(index));
}

std::string TTripEntry::DateText(TDateTime date) { return FormatWeekdayDate(date); }

std::string TTripEntry::DatesLabel() const {
    return "    Leistungsdatum: " + IntToStr(int64_t(dates.size())) + " Termine";
}

// ---------------------------------------------------------------- tariff

std::vector<std::string> TTripEntry::TariffNames() {
    TdmVerwaltung& dm = entry_.Verwaltung();
    dm.OpenTarife();
    Table& t = dm.Tarife();
    std::vector<std::string> names;
    const int col = t.FieldIndex("Tarifbez");
    for (int i = 0; i < t.RecordCount(); ++i) names.push_back(TextOf(t.ValueAt(i, col)));
    return names;
}

void TTripEntry::ChooseTariff(const std::string& tarifbez) {
    rows_.EmptyTable();
    AddRowsOfTariff(tarifbez);
    tariff_ = tarifbez;
    entry_.RememberedTariff() = tarifbez;
    ComputePrice();
}

void TTripEntry::AddRowsOfTariff(const std::string& tarifbez) {
    TdmVerwaltung& dm = entry_.Verwaltung();
    dm.OpenTarife();
    Table& t = dm.Tarife();
    if (!t.Locate("Tarifbez", {Value(tarifbez)})) return;
    Table& positions = t.Nested(TdmVerwaltung::kTarifdetail);
    for (positions.First(); !positions.Eof(); positions.Next()) {
        const std::string art = positions.AsString("Art");
        const double abKm = positions.AsFloat("freikm");
        double menge = 0;
        if (art == "K" && km != 0)
            menge = KmQuantity(km, abKm);
        else if (art == "P" || art == "T")
            menge = 1;
        rows_.Append();
        rows_.SetString("Tarif", positions.AsString("Tarif"));
        rows_.SetString("PosNum", positions.AsString("PosNum"));
        rows_.SetFloat("EPreis", CentsToEuro(positions.AsInteger("EPreis")));
        rows_.SetString("Text", positions.AsString("Detailbez"));
        rows_.SetFloat("USt", positions.AsFloat("Ust"));
        rows_.SetFloat("PCT_Abschlag", positions.AsFloat("PCT_Abschlag"));
        rows_.SetFloat("ab_km", abKm);
        rows_.SetFloat("KM", 0);
        rows_.SetFloat("Menge", menge);
        rows_.Post();
    }
    rows_.First();
}

void TTripEntry::OverwriteLastRow(const TTripPositionRow& row) {
    if (rows_.IsEmpty()) rows_.Append();
    else {
        rows_.Last();
        rows_.Edit();
    }
    rows_.SetString("Tarif", row.tarif);
    rows_.SetString("PosNum", row.posNum);
    rows_.SetFloat("Menge", row.menge);
    rows_.SetFloat("EPreis", row.ePreis);
    rows_.SetFloat("USt", row.ust);
    rows_.SetString("Text", row.text);
    rows_.Post();
    ComputePrice();
}

void TTripEntry::SetKm(double newKm) {
    km = newKm;
    TdmVerwaltung& dm = entry_.Verwaltung();
    bool changed = false;
    Table::Bookmark current = rows_.GetBookmark();
    for (rows_.First(); !rows_.Eof(); rows_.Next()) {
        if (dm.KindOf(rows_.AsString("PosNum")).art != "K") continue;
        const double menge = KmQuantity(km, rows_.AsFloat("ab_km"));
        if (menge == rows_.AsFloat("Menge")) continue;
        rows_.Edit();
        rows_.SetFloat("Menge", menge);
        rows_.Post();
        changed = true;
    }
    if (current) rows_.GotoBookmark(current);
    if (changed) ComputePrice();
}

void TTripEntry::RowEdited() {
    if (!rows_.IsEmpty() && !rows_.IsNull("EPreis")) {
        const double cents = CentsToEuro(EuroToCents(rows_.AsFloat("EPreis")));
        if (cents != rows_.AsFloat("EPreis")) {
            rows_.Edit();
            rows_.SetFloat("EPreis", cents);
            rows_.Post();
        }
    }
    ComputePrice();
}

std::string TTripEntry::EntryColumn() {
    if (rows_.IsEmpty()) return "Menge";
    return entry_.Verwaltung().KindOf(rows_.AsString("PosNum")).art == "T" ? "EPreis" : "Menge";
}

void TTripEntry::SwapPlaces() { std::swap(pickup, destination); }

// ---------------------------------------------------------------- addresses

AddressLayout TTripEntry::LayoutOf(std::string_view setting) {
    return setting == kLayoutByInfo ? AddressLayout::ByInfo : AddressLayout::ByStreet;
}

AddressLayout TTripEntry::Layout() { return LayoutOf(entry_.Host().IniValue(kLayoutSetting)); }

std::string TTripEntry::AddressEntry(const TTripAddress& row, AddressLayout layout) {
    if (layout == AddressLayout::ByInfo) return row.info + "»" + row.strasse + "«" + row.plz + " |" + row.ort;
    return row.strasse + "»" + row.plz + "«" + row.ort + " |" + row.info;
}

std::optional<TTripAddress> TTripEntry::SplitAddressEntry(std::string_view text, AddressLayout layout) {
    const size_t open = text.find("»");
    if (open == std::string_view::npos) return std::nullopt;
    const size_t afterOpen = open + std::string_view("»").size();
    const size_t close = text.find("«", afterOpen);
    if (close == std::string_view::npos) return std::nullopt;
    const size_t afterClose = close + std::string_view("«").size();
    // The last part follows the first " |" after "«"; a remark may hold more.
    size_t bar = text.find(" |", afterClose);
    const std::string_view third = text.substr(afterClose, bar == std::string_view::npos ? bar : bar - afterClose);
    const std::string_view last = bar == std::string_view::npos ? std::string_view() : text.substr(bar + 2);
    const std::string_view first = text.substr(0, open);
    const std::string_view second = text.substr(afterOpen, close - afterOpen);
    TTripAddress a;
    if (layout == AddressLayout::ByInfo) {
        a.info = Trim(first);
        a.strasse = Trim(second);
        a.plz = Trim(third);
        a.ort = Trim(last);
    } else {
        a.strasse = Trim(first);
        a.plz = Trim(second);
        a.ort = Trim(third);
        a.info = Trim(last);
    }
    return a;
}

std::vector<std::string> TTripEntry::AddressEntries() {
    TdmVerwaltung& dm = entry_.Verwaltung();
    dm.OpenAdressen();
    const AddressLayout layout = Layout();
    // A copy in the list's order: the table keeps its own.
    auto rows = dm.Adressen().Clone();
    rows->SetIndexFieldNames(layout == AddressLayout::ByInfo ? "bem;strasse;plz;ort" : "strasse;plz;ort");
    std::vector<std::string> entries;
    entries.reserve(size_t(rows->RecordCount()));
    for (rows->First(); !rows->Eof(); rows->Next())
        entries.push_back(AddressEntry(
            {rows->AsString("strasse"), rows->AsString("plz"), rows->AsString("ort"), "", rows->AsString("bem")},
            layout));
    return entries;
}

bool TTripEntry::TakeStreet(Side side, std::string_view text) {
    TTripAddress& place = Place(side);
    if (text.find("«") != std::string_view::npos && text.find("»") != std::string_view::npos)
        if (std::optional<TTripAddress> a = SplitAddressEntry(text, Layout())) {
            place.strasse = a->strasse;
            place.plz = a->plz;
            place.ort = a->ort;
            place.info = a->info;
            return true;
        }
    place.strasse = Trim(text);
    return false;
}

void TTripEntry::SwitchAddressLayout() {
    const std::string now = entry_.Host().IniValue(kLayoutSetting) == kLayoutByInfo ? kLayoutByStreet : kLayoutByInfo;
    entry_.Host().SetIniValue(kLayoutSetting, now);
    entry_.UI().ShowMessage(MessageKind::Information, "Auaswahl der Adressen: " + now);
}

bool TTripEntry::SaveAddress(Side side) {
    const TTripAddress& place = Place(side);
    if (!place.Complete()) return false;
    TdmVerwaltung& dm = entry_.Verwaltung();
    if (dm.LocateAdresse(place.plz, place.ort, place.strasse)) return false;
    std::string bem;
    if (!entry_.UI().InputQuery("Adresse speichern",
                                {"Strasse: \"" + place.strasse + "\"", "Plz....: \"" + place.plz + "\"",
                                 "Ort....: \"" + place.ort + "\""},
                                "Bemerkung/Info:", bem))
        return false;
    Table& a = dm.Adressen();
    a.Append();
    a.SetString("plz", place.plz);
    a.SetString("ort", place.ort);
    a.SetString("strasse", place.strasse);
    a.SetString("bem", bem);
    a.Post();
    return true;
}

// ---------------------------------------------------------------- price

void TTripEntry::KmFromRows() {
    TdmVerwaltung& dm = entry_.Verwaltung();
    double kmSum = 0, threshold = 0;
    for (int i = 0; i < rows_.RecordCount(); ++i) {
        const std::string posNum = TextOf(rows_.ValueAt(i, rows_.FieldIndex("PosNum")));
        if (dm.KindOf(posNum).art != "K") continue;
        const Value& menge = rows_.ValueAt(i, rows_.FieldIndex("Menge"));
        const Value& abKm = rows_.ValueAt(i, rows_.FieldIndex("ab_km"));
        kmSum += IsNullValue(menge) ? 0 : std::get<double>(menge);
        const double free = IsNullValue(abKm) ? 0 : std::get<double>(abKm);
        if (free > 0) {
            kmSum += free - 1;
            threshold += free - 1;
        }
    }
    if (kmSum > 0 && !(threshold > 0 && kmSum <= threshold)) km = kmSum;
}

double TTripEntry::ComputePrice() {
    TdmVerwaltung& dm = entry_.Verwaltung();
    PositionSum(rows_, ScratchRowKinds(dm), {}, DiscountRow::FirstWithPctInForce);
    price_ = CentsToEuro(TripAmountCents(rows_, true));
    KmFromRows();
    // New trips carry the proposal until the user types an amount; a
    // changed trip keeps its own until the cursor enters the field.
    if (mode_ == Mode::NewTrips && coPaymentShown_ && !coPaymentTyped) {
        const CoPaymentProposal p = ProposeCoPayment(price_);
        coPayment = p.amount;
        coPaymentLimit = p.zuZaArt == "02";
    }
    return price_;
}

void TTripEntry::EnteringCoPayment() {
    if (!coPaymentShown_) return;
    ComputePrice();
    if (coPaymentTyped || (mode_ == Mode::Change && price_ == loadedPrice_)) return;
    const CoPaymentProposal p = ProposeCoPayment(price_);
    coPayment = p.amount;
    coPaymentLimit = p.zuZaArt == "02";
}

double TTripEntry::InvoiceAmount() const { return price_ - (coPaymentShown_ ? coPayment : 0); }

// ---------------------------------------------------------------- writing

void TTripEntry::FlushAddresses() { entry_.Verwaltung().FlushAdressen(); }

void TTripEntry::Cancel() { FlushAddresses(); }

bool TTripEntry::Save(bool withReturnTrips) {
    IUserInterface& ui = entry_.UI();
    ComputePrice();
    bool ok = true;
    auto fail = [&](const char* message) {
        ui.ShowMessage(MessageKind::Warning, message);
        ok = false;
    };
    if (mode_ == Mode::NewTrips && dates.empty()) fail(kNoDate);
    if (!pickup.Complete() || !destination.Complete()) fail(kNoPlaces);
    if (price_ == 0) fail(kNoPrice);
    if (rows_.IsEmpty()) fail(kNoRows);
    FlushAddresses();
    if (!ok) return false;

    Table& trips = *entry_.Trips();
    if (mode_ == Mode::Change) {
        trips.Edit();
        WriteTrip(trips, pickup, destination);
        return true;
    }
    for (int leg = 0; leg < (withReturnTrips ? 2 : 1); ++leg) {
        const TTripAddress& from = leg == 0 ? pickup : destination;
        const TTripAddress& to = leg == 0 ? destination : pickup;
        for (const TDateTime& d : dates) {
            trips.Append();
            entry_.InitNewTrip(trips);
            trips.SetDateTime("Datum", d);
            WriteTrip(trips, from, to);
        }
    }
    return true;
}

void TTripEntry::WriteTrip(Table& trips, const TTripAddress& from, const TTripAddress& to) {
    const double zuza = coPaymentShown_ ? CentsToEuro(EuroToCents(coPayment)) : 0.0;
    trips.SetFloat("ZuZaBetrag", zuza);
    if (zuza != 0)
        trips.SetString("ZuZaArt", coPaymentLimit ? "02" : "01");
    else
        trips.SetNull("ZuZaArt");
    trips.SetFloat("BruttoSum", price_);
    trips.SetFloat("KM", km);
    SetOrNull(trips, "ZEIT1", zeit1);
    SetOrNull(trips, "ZEIT2", zeit2);
    SetOrNull(trips, "VON_STRASSE", from.strasse);
    SetOrNull(trips, "VON_PLZ", from.plz);
    SetOrNull(trips, "VON_ORT", from.ort);
    SetOrNull(trips, "VON_LAND", from.land);
    SetOrNull(trips, "NACH_STRASSE", to.strasse);
    SetOrNull(trips, "NACH_PLZ", to.plz);
    SetOrNull(trips, "NACH_ORT", to.ort);
    SetOrNull(trips, "NACH_LAND", to.land);
    trips.SetString("IKLE", entry_.Header().AsString("IKLE"));
    trips.SetInteger("EinzelReNr", 1);
    if (wagenNr != 0)
        trips.SetInteger("WagenNr", wagenNr);
    else
        trips.SetNull("WagenNr");
    trips.Post();
    WritePositions(trips);
}

void TTripEntry::WritePositions(Table& trips) {
    Table& ef = trips.Nested(PositionNestName);
    ef.SetFiltered(false);
    while (!ef.IsEmpty()) {
        ef.First();
        ef.Delete();
    }
    for (rows_.First(); !rows_.Eof(); rows_.Next()) {
        if (!(rows_.AsFloat("Menge") > 0)) continue;
        ef.Append();
        entry_.InitNewPosition(ef, trips);
        for (const char* f : {"Tarif", "PosNum", "Menge", "EPreis", "Text", "USt", "BPosNum", "MwStSatz"})
            ef.SetValue(f, rows_.GetValue(f));
        ef.Post();
    }
}

} // namespace brenvo
