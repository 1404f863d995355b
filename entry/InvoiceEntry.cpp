#include "InvoiceEntry.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "entry/MoneyRules.h"
#include "entry/TripEntry.h"
#include "lib/Basics/GridColumns.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "lib/util_oracle/dbFieldOptimiser.h"

namespace brenvo {

namespace {

constexpr const char* kCaseOrder = "AbrFallID";
constexpr const char* kTripOrder = "Datum;LeistID";
constexpr const char* kTemplateNumber = "99999";

constexpr const char* kSaveFailed =
    "Beim Speichern der Änderungen ist ein Fehler aufgetreten.\r\rBitte überprüfen Sie die Eingaben.\r\r"
    "Wenn das Problem weiterhin auftritt, geben Sie eine neue Rechnung ein.\r";
constexpr const char* kApprovalIncomplete =
    "Wenn eine Genehmigung vorliegt, bitte alle Felder (Datum, Zeichen und Art) ausfüllen";
constexpr const char* kDeleteQuestion = "Datensatz löschen?";
constexpr const char* kMultiPersonSteps =
    "1. Verordnung für erste Person komplett eingeben \r\r2. Nächste Verordnung eingeben \r\r3. Diese Funktion "
    "wählen\r   Leistungsdaten der ersten Verordnung werden übernommen..";

const TDatumFieldOptimiser& DateFormatter() {
    static const TDatumFieldOptimiser f;
    return f;
}

// A date field that holds no date: null, or a value without a date part
// (what the date formatter leaves when the text is emptied).
bool NoDate(const Table& t, std::string_view field) {
    if (t.IsNull(field)) return true;
    return t.AsDateTime(field).DatePart() == 0;
}

bool Blank(const Table& t, std::string_view field) { return Trim(t.AsString(field)).empty(); }

// "Pflichtfelder ..." warnings: the lead, the list in angle brackets, the request.
std::string RequiredFieldsMessage(const std::string& lead, const std::string& list) {
    return lead + "\r\r<" + list + ">\r\rBitte korrigieren\r ";
}

const FieldDef* FindField(const Table& t, std::string_view name) {
    int i = t.FieldIndex(name);
    return i < 0 ? nullptr : &t.Field(i);
}

bool IsMoneyField(const FieldDef& f) { return f.type == FieldType::Float && SameText(f.subtype, "Money"); }

std::string NumberText(double v, bool money) {
    if (money) return FormatFloat("#,##0.00", v);
    return ReplaceAll(FloatToText(v), ".", ",");
}

const std::set<std::string, std::less<>>& EditableHeaderFields() {
    static const std::set<std::string, std::less<>> f = {
        "RechDatum", "Name1", "Name2", "Name3", "Name4", "IKLE", "IKKT",
        "Steuernummer", "UStBefreit", "SkontoProzent", "SkontoTage"};
    return f;
}

const std::set<std::string, std::less<>>& EditableCaseFields() {
    static const std::set<std::string, std::less<>> f = {
        "VONum",    "VODatum",  "ArztN",     "BSN",         "GenDatum", "GenZeich", "GenArt",
        "ZuzaKennz", "Nachname", "Vorname",  "Strasse",     "Plz",      "Ort",      "Geb",
        "VersNum",  "Status",   "FallInfo",  "Land",        "BelegInfo", "BesVersForm", "EVO_ID",
        "IMG_Jahr", "IMG_Monat", "IMG_IK",   "Unfall",      "BVG"};
    return f;
}

// Runs f with the positions of the tables restored afterwards.
struct RestoreRow {
    Table& t;
    Table::Bookmark mark;
    explicit RestoreRow(Table& table) : t(table), mark(table.GetBookmark()) {}
    ~RestoreRow() {
        if (mark && t.GetState() == Table::State::Browse) t.GotoBookmark(mark);
    }
};

} // namespace

TInvoiceEntry::TInvoiceEntry(TdmVerwaltung& dm, IUserInterface& ui, IInvoiceEntryHost& host)
    : dm_(dm), ui_(ui), host_(host) {
    InstallHooks();
}

TInvoiceEntry::~TInvoiceEntry() = default;

// ================================================================ opening

void TInvoiceEntry::Open(const std::string& path) {
    if (!path.empty() && !FileExists(path)) throw Error(Format("Datei %s nicht gefunden.", {path}));
    ClearExtras();
    remarkHint_ = kRemarkHint;
    deleteRequest_ = false;
    recomputeNeeded_ = false;
    if (path.empty()) {
        doc_ = InvoiceDocument();
        InstallHooks();
        open_ = false;
        path_.clear();
        title_.clear();
        caseCount_ = tripCount_ = 0;
    } else {
        Load(path);
        path_ = path;
    }
    mode_ = EntryMode::View;
    if (OnReset) OnReset();
}

void TInvoiceEntry::Load(const std::string& path) {
    InvoiceDocument fresh;
    fresh.LoadFromFile(path);
    // Whatever layout the file had, it is written back with GenArt.
    fresh.UpgradeLayout();
    doc_ = std::move(fresh);
    open_ = true;
    InstallHooks();
    OrderLevels();
    Table& h = Header();
    title_ = "Rechnung: " + (h.IsEmpty() ? std::string() : h.AsString("SaRechNr"));
    caseCount_ = tripCount_ = 0;
    if (Table* c = Cases()) {
        RestoreRow keep(*c);
        for (c->First(); !c->Eof(); c->Next()) {
            ++caseCount_;
            tripCount_ += c->Nested(TripNestName).RecordCount();
        }
    }
}

void TInvoiceEntry::InstallHooks() {
    Header().BeforePost = [this](Table& h) { BeforeHeaderPost(h); };
    if (Table* c = Cases()) c->BeforePost = [this](Table& t) { BeforeCasePost(t); };
}

// Cases in the order of their ids, trips by date and id; the first record
// of every level is the current one.
void TInvoiceEntry::OrderLevels() {
    Table& h = Header();
    for (h.First(); !h.Eof(); h.Next()) {
        Table& cases = h.Nested(CaseNestName);
        cases.SetIndexFieldNames(kCaseOrder);
        for (cases.First(); !cases.Eof(); cases.Next()) {
            Table& trips = cases.Nested(TripNestName);
            trips.SetIndexFieldNames(kTripOrder);
            for (trips.First(); !trips.Eof(); trips.Next()) trips.Nested(PositionNestName).First();
            trips.First();
        }
        cases.First();
    }
    h.First();
}

void TInvoiceEntry::SetMode(EntryMode mode) {
    mode_ = mode;
    if (mode == EntryMode::Edit) {
        dm_.OpenAdressen();
        dm_.OpenVersicherte();
    }
}

void TInvoiceEntry::PrepareNewInvoice(const TNewInvoiceHeader& n) {
    RequireEdit();
    Table& h = Header();
    if (h.IsEmpty() && h.GetState() == Table::State::Browse) throw Error("Die Rechnungsdatei enthält keine Rechnung.");
    BeginEdit(h);
    h.SetString("SaRechNr", n.SaRechNr);
    h.SetString("EinzelRechNr", n.EinzelRechNr);
    h.SetDateTime("RechDatum", n.RechDatum);
    h.SetString("IKLE", n.IKLE);
    h.SetString("Name1", n.Name1);
    h.SetString("Name2", n.Name2);
    h.SetString("Name3", n.Name3);
    h.SetString("IKKT", n.IKKT);
    title_ = "Rechnung: " + n.SaRechNr;
    Focus(InvoiceLevel::Rechnung, "RechDatum");
}

void TInvoiceEntry::Activate() {
    if (EditMode() && HasCase()) Recompute();
}

// ================================================================ levels

Table* TInvoiceEntry::Cases() {
    Table& h = Header();
    if (!h.Active() || (h.IsEmpty() && h.GetState() != Table::State::Insert)) return nullptr;
    return &h.Nested(CaseNestName);
}

Table* TInvoiceEntry::Trips() {
    Table* c = Cases();
    if (!c || (c->IsEmpty() && c->GetState() != Table::State::Insert)) return nullptr;
    return &c->Nested(TripNestName);
}

Table* TInvoiceEntry::Positions() {
    Table* t = Trips();
    if (!t || (t->IsEmpty() && t->GetState() != Table::State::Insert)) return nullptr;
    return &t->Nested(PositionNestName);
}

Table* TInvoiceEntry::Level(InvoiceLevel level) {
    switch (level) {
    case InvoiceLevel::Rechnung: return &Header();
    case InvoiceLevel::AbrFall: return Cases();
    case InvoiceLevel::Leistung: return Trips();
    case InvoiceLevel::Position: return Positions();
    }
    return nullptr;
}

bool TInvoiceEntry::HasCase() {
    Table* c = Cases();
    return c && (!c->IsEmpty() || c->GetState() == Table::State::Insert);
}

bool TInvoiceEntry::Editing(InvoiceLevel level) {
    Table* t = Level(level);
    return t && t->GetState() != Table::State::Browse;
}

int64_t TInvoiceEntry::CurrentCaseId() { return HasCase() ? Cases()->AsInteger("AbrFallID") : 0; }

// ================================================================ fields

std::string TInvoiceEntry::FieldText(InvoiceLevel level, std::string_view field) {
    Table* t = Level(level);
    if (!t || (t->IsEmpty() && t->GetState() == Table::State::Browse)) return "";
    const FieldDef* f = FindField(*t, field);
    if (!f) return "";
    const Value v = t->GetValue(field);
    if (IsNullValue(v)) return "";
    switch (f->type) {
    case FieldType::DateTime: return DateFormatter().ValueToText(v);
    case FieldType::Float: return NumberText(std::get<double>(v), IsMoneyField(*f));
    default: return t->AsString(field);
    }
}

bool TInvoiceEntry::IsEditableField(InvoiceLevel level, std::string_view field) {
    if (level == InvoiceLevel::Rechnung) return EditableHeaderFields().count(field) > 0;
    if (level == InvoiceLevel::AbrFall) return EditableCaseFields().count(field) > 0;
    return false;
}

void TInvoiceEntry::SetFieldText(InvoiceLevel level, std::string_view field, std::string_view text) {
    RequireEdit();
    if (!IsEditableField(level, field))
        throw Error(Format("Das Feld %s kann hier nicht geändert werden.", {std::string(field)}));
    if (level == InvoiceLevel::AbrFall && !HasCase() && !InsertCase()) return;
    Table* t = Level(level);
    if (!t) return;
    const FieldDef& f = *FindField(*t, field);

    // Converted first, so that a refusal leaves the field as it was. Codes
    // are capitals.
    std::string typed(text);
    if (field == "GenArt" || field == "Land" || field == "UStBefreit") typed = UpperCase(Trim(text));
    if (field == "GenArt" && !typed.empty() && typed != "E1" && typed != "E2") throw Error("Gültig: E1 oder E2");
    Value v = ParseCell(typed, f, t->GetValue(field));

    const Value current = t->GetValue(field);
    if (CompareValues(current, v) == 0) return;
    BeginEdit(*t);
    t->SetValue(field, std::move(v));
}

const std::vector<TCodeChoice>& TInvoiceEntry::Choices(std::string_view field) {
    static const std::vector<TCodeChoice> none;
    static const std::vector<TCodeChoice> zuzaKennz = {
        {"0", "0 Ohne"},
        {"1", "1 Befreit"},
        {"2", "2 Keine"},
        {"3", "3 Pflichtig"},
        {"4", "4 Übergang pflichtig zu befreit"},
        {"5", "5 Übergang befreit zu pflichtig"}};
    static const std::vector<TCodeChoice> genArt = {{"", ""}, {"E1", "E1 Einzelfall"}, {"E2", "E2 Langfristig"}};
    static const std::vector<TCodeChoice> unfall = {{"", ""},
                                                   {"1", "1 Arbeitsunfall, Wegeunfall, Berufskrankheit"},
                                                   {"2", "2 sonstige Unfallfolgen"},
                                                   {"3", "3 Sonstiges (BVFG, BEG, HHG, OEG, IfSG, SVG)"}};
    static const std::vector<TCodeChoice> bvg = {{"", ""}, {"6", "6 BVG/SER"}};
    static const std::vector<TCodeChoice> beleg = {
        {"", ""}, {"0", "0 keine Belege"}, {"1", "1 Belege per Post"}, {"2", "2 Belege elektronisch"}};
    if (field == "ZuzaKennz") return zuzaKennz;
    if (field == "GenArt") return genArt;
    if (field == "Unfall") return unfall;
    if (field == "BVG") return bvg;
    if (field == "BelegInfo") return beleg;
    return none;
}

std::string TInvoiceEntry::FieldHint(std::string_view field) {
    static const std::vector<std::pair<std::string_view, std::string_view>> hints = {
        {"VONum", "Verordnungsnummer.. "},
        {"VODatum", "Ausstellungsdatum der Verordnung"},
        {"ArztN", "Arztnummer, 9-stellig, 99999999"},
        {"BSN", "Betriebsstättennummer, 9-stellig, 999999999"},
        {"Nachname", kSurnameHint},
        {"Vorname", "Patient Vorname, 30 Stellen"},
        {"Strasse", "Patient Strasse, 30 Stellen"},
        {"Plz", "Patient PLZ, 7 Stellen"},
        {"Ort", "Patient Ort, 25 Stellen"},
        {"VersNum", "Patient Versichertennummer, 12 Stellen"},
        {"Status", "Patient Status, genau 5 Stellen, Beispiel: 50001"},
        {"Geb", "Patient Geburtsdatum"},
        {"GenDatum", "Genehmigungsdatum"},
        {"GenZeich", "Genehmigungszeichen"},
        {"GenArt", "GenehmigungsArt:\r\nE1=Einzelfall\r\nE2=Langfristig"},
        {"IKPat", "Patient IK der Krankenkasse"},
        {"ZuzaKennz",
         " 0 Gesetzlich keine Zuzahlung \r\n 1 Befreit \r\n 2 Keine Zuzahlung trotz Zahlungsaufforderung\r\n 3 "
         "Zuzahlungspflichtig"},
        {"Leistung",
         "Felder\r\n Datum der Leistung\r\n Preis der Leistung ( Gesamt )\r\n ZA Zuzahlung\r\n  01 Prozentual\r\n  "
         "02 Grenzbetrag \r\n ZBetrag\r\n  Zuzahlungsbetrag \r\n LE Leistungserbringer IK \r\n E-Re-Nr "
         "Einzelrechnungsnummer "},
    };
    for (const auto& [name, hint] : hints)
        if (name == field) return std::string(hint);
    // The fields of message version 21 name their rule.
    for (const InvoiceFieldNote& n : Version21FieldNotes())
        if (field == n.name && (n.level == InvoiceLevel::Rechnung || n.level == InvoiceLevel::AbrFall))
            return std::string(n.caption) + ": " + n.rule;
    return "";
}

// ================================================================ editing

void TInvoiceEntry::RequireEdit() const {
    if (!EditMode()) throw Error("Die Rechnung ist nur zur Ansicht geöffnet.");
    if (!open_) throw Error("Es ist keine Rechnung geöffnet.");
}

void TInvoiceEntry::BeginEdit(Table& t) {
    if (t.GetState() == Table::State::Browse) t.Edit();
}

bool TInvoiceEntry::StoreLevel(Table& t) {
    if (t.GetState() == Table::State::Browse) return true;
    try {
        t.Post();
    } catch (const TStoreRefused&) {
        return false;
    }
    recomputeNeeded_ = true;
    return true;
}

bool TInvoiceEntry::StorePendingEdits() {
    if (!StoreLevel(Header())) return false;
    Table* c = Cases();
    return !c || StoreLevel(*c);
}

void TInvoiceEntry::Focus(InvoiceLevel level, const std::string& field) {
    if (OnFocus) OnFocus(level, field);
}

void TInvoiceEntry::Refuse(InvoiceLevel level, const std::vector<std::pair<std::string, std::string>>& failures) {
    std::string list;
    for (const auto& f : failures) list += ", " + f.second;
    ui_.ShowMessage(MessageKind::Warning,
                    RequiredFieldsMessage("Folgende Pflichtfelder sind nicht ausgefüllt: ", Trim(list.substr(2))));
    Focus(level, failures.front().first);
    throw TStoreRefused();
}

void TInvoiceEntry::BeforeHeaderPost(Table& h) {
    if (h.IsNull("RechID") || h.AsInteger("RechID") == 99999) h.SetInteger("RechID", NextID("RechID"));
    h.SetString("IKPat", h.AsString("IKKT"));
    std::vector<std::pair<std::string, std::string>> failures;
    if (NoDate(h, "RechDatum")) failures.emplace_back("RechDatum", "Rechnungsdatum");
    if (Blank(h, "IKKT")) failures.emplace_back("IKKT", "IK-Kostenträger");
    if (Blank(h, "IKLE")) failures.emplace_back("IKLE", "IK-Leistungserbringer");
    if (Blank(h, "SaRechNr")) failures.emplace_back("SaRechNr", "Rechnungsnummer");
    if (!failures.empty()) Refuse(InvoiceLevel::Rechnung, failures);
}

void TInvoiceEntry::BeforeCasePost(Table& c) {
    Table& h = Header();
    if (Blank(c, "VONum")) c.SetString("VONum", IntToStr(NextID("VONum")));
    if (c.IsNull("AbrFallID")) c.SetInteger("AbrFallID", NextID("AbrFallID"));
    if (c.IsNull("ARechID")) c.SetInteger("ARechID", NextID("ARechID"));
    if (Blank(c, "IKLE")) c.SetString("IKLE", h.AsString("IKLE"));
    c.SetString("IKPat", h.AsString("IKKT"));
    if (!c.IsNull("GenDatum") && NoDate(c, "GenDatum")) c.SetNull("GenDatum");
    // The invoice number carries neither blanks nor a capital B.
    std::string number = h.AsString("SaRechNr");
    std::string cleaned;
    for (char ch : number)
        if (ch != ' ' && ch != 'B') cleaned += ch;
    if (cleaned != number) {
        BeginEdit(h);
        h.SetString("SaRechNr", cleaned);
    }

    std::vector<std::pair<std::string, std::string>> failures;
    if (NoDate(c, "VODatum")) failures.emplace_back("VODatum", "Verordnungsdatum");
    if (Blank(c, "VONum")) failures.emplace_back("VONum", "Verordnungsnummer");
    if (Blank(c, "Nachname")) failures.emplace_back("Nachname", "Nachname");
    if (Blank(c, "Vorname")) failures.emplace_back("Vorname", "Vorname");
    if (NoDate(c, "Geb")) failures.emplace_back("Geb", "Geb");
    if (Blank(c, "VersNum") && Blank(c, "Plz") && Blank(c, "Ort") && Blank(c, "Strasse"))
        failures.emplace_back("VersNum", "VersNum");
    if (Blank(c, "Status")) failures.emplace_back("Status", "Status");
    if (!failures.empty()) Refuse(InvoiceLevel::AbrFall, failures);
}

// ================================================================ header

bool TInvoiceEntry::StoreHeader() {
    RequireEdit();
    return StoreLevel(Header());
}

void TInvoiceEntry::CancelHeader() { Header().Cancel(); }

std::string TInvoiceEntry::KTName() {
    Table& h = Header();
    if (h.IsEmpty() && h.GetState() == Table::State::Browse) return "";
    try {
        return Utf8Left(host_.CostBearerName(h.AsString("IKKT")), 40);
    } catch (const std::exception&) {
        return "???";
    }
}

const std::vector<std::string>& TInvoiceEntry::CostBearerIKs() {
    if (iks_.empty()) {
        std::vector<TCostBearerChoice> all = host_.CostBearers();
        std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.ik < b.ik; });
        for (const auto& c : all) iks_.push_back(c.ik);
    }
    return iks_;
}

const std::vector<std::string>& TInvoiceEntry::CostBearerNames() {
    if (names_.empty()) {
        std::vector<TCostBearerChoice> all = host_.CostBearers();
        std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.kurzBez < b.kurzBez; });
        for (const auto& c : all) names_.push_back(c.kurzBez + " {" + c.ik + "}");
    }
    return names_;
}

void TInvoiceEntry::SetCostBearerIK(std::string_view ik) {
    SetFieldText(InvoiceLevel::Rechnung, "IKKT", ik);
    host_.RememberCostBearer(Trim(ik));
}

void TInvoiceEntry::ChooseCostBearerName(std::string_view text) {
    const size_t open = text.find('{');
    if (open == std::string_view::npos) return;
    const size_t close = text.find('}', open);
    if (close == std::string_view::npos) return;
    SetCostBearerIK(text.substr(open + 1, close - open - 1));
}

// ================================================================ cases

bool TInvoiceEntry::InsertCase() {
    RequireEdit();
    Table* c = Cases();
    if (!c) return false;
    if (!StoreLevel(*c)) return false;
    // A case without provider IK is an unfinished one: it goes.
    for (c->First(); !c->Eof();) {
        if (Blank(*c, "IKLE"))
            c->Delete();
        else
            c->Next();
    }
    Table& h = Header();
    c->Append();
    c->SetString("IKLE", h.AsString("IKLE"));
    c->SetString("ZuzaKennz", "3");
    c->SetString("VONum", IntToStr(NextID("VONum")));
    c->SetInteger("AbrFallID", NextID("AbrFallID"));
    c->SetInteger("ARechID", NextID("ARechID"));
    c->SetString("IKPat", h.AsString("IKKT"));
    c->Nested(TripNestName).SetIndexFieldNames(kTripOrder);
    ClearExtras();
    Focus(InvoiceLevel::AbrFall, "VONum");
    return true;
}

bool TInvoiceEntry::StoreCase() {
    RequireEdit();
    Table* c = Cases();
    return !c || StoreLevel(*c);
}

void TInvoiceEntry::CancelCase() {
    if (Table* c = Cases()) c->Cancel();
}

bool TInvoiceEntry::DeleteCase() {
    RequireEdit();
    Table* c = Cases();
    if (!c || c->IsEmpty() || c->GetState() != Table::State::Browse) return false;
    if (ui_.Ask(MessageKind::Confirmation, kDeleteQuestion, {Answer::Ok, Answer::Cancel}) != Answer::Ok) return false;
    BeginEdit(Header());
    c->Delete();
    recomputeNeeded_ = true;
    ClearExtras();
    return true;
}

void TInvoiceEntry::AfterCaseMove(int64_t before) {
    if (CurrentCaseId() != before) ClearExtras();
}

bool TInvoiceEntry::NextCase() {
    Table* c = Cases();
    if (!c) return false;
    const int64_t before = CurrentCaseId();
    try {
        c->Next();
    } catch (const TStoreRefused&) {
        return false;
    }
    AfterCaseMove(before);
    return CurrentCaseId() != before;
}

bool TInvoiceEntry::PriorCase() {
    Table* c = Cases();
    if (!c) return false;
    const int64_t before = CurrentCaseId();
    try {
        c->Prior();
    } catch (const TStoreRefused&) {
        return false;
    }
    AfterCaseMove(before);
    return CurrentCaseId() != before;
}

bool TInvoiceEntry::GotoCase(int64_t abrFallId) {
    Table* c = Cases();
    if (!c) return false;
    const int64_t before = CurrentCaseId();
    bool found = false;
    try {
        found = c->Locate("AbrFallID", {Value(abrFallId)});
    } catch (const TStoreRefused&) {
        return false;
    }
    AfterCaseMove(before);
    return found;
}

void TInvoiceEntry::EnteringPrescriptionNumber() {
    if (EditMode() && open_ && !HasCase()) InsertCase();
}

void TInvoiceEntry::EnterInCostBearerName() {
    if (!EditMode() || !open_) return;
    Table* c = Cases();
    if (!c || c->GetState() != Table::State::Browse) return;
    if (c->IsEmpty() || Blank(*c, "IKLE")) InsertCase();
}

void TInvoiceEntry::ClearExtras() { extras_ = TTemplateExtras(); }

// ================================================================ trips

bool TInvoiceEntry::CanAddTrips() { return EditMode() && open_ && HasCase(); }

bool TInvoiceEntry::CanChangeTrip() {
    Table* t = EditMode() && open_ ? Trips() : nullptr;
    return t && !t->IsEmpty();
}

void TInvoiceEntry::InitNewTrip(Table& trips) {
    Table& c = *Cases();
    if (c.AsString("ZuzaKennz") == "3") trips.SetString("ZuZaArt", "02");
    trips.SetValue("LAbrFallID", c.GetValue("AbrFallID"));
    trips.SetValue("LRechID", c.GetValue("ARechID"));
    trips.SetInteger("LeistID", NextID("LeistID"));
    trips.Nested(PositionNestName);   // the trip's positions exist from the start
}

void TInvoiceEntry::InitNewPosition(Table& positions, const Table& trips) {
    positions.SetInteger("MEINEID", NextID("MEINEID"));
    positions.SetValue("EFAbrFallID", trips.GetValue("LAbrFallID"));
    positions.SetValue("EFRechID", trips.GetValue("LRechID"));
    positions.SetValue("EFLeistID", trips.GetValue("LeistID"));
}

bool TInvoiceEntry::RunTripWindow(TTripEntry& entry) {
    const int64_t caseId = CurrentCaseId();
    Table* trips = Trips();
    const int64_t tripId = trips && !trips->IsEmpty() ? trips->AsInteger("LeistID") : 0;
    const TripEntryResult result = EditTrips(entry);
    if (result == TripEntryResult::Cancelled) {
        entry.Cancel();
        return false;
    }
    recomputeNeeded_ = true;
    NeuLaden();
    GotoCase(caseId);
    if (entry.GetMode() == TTripEntry::Mode::Change && tripId)
        if (Table* t = Trips()) t->Locate("LeistID", {Value(tripId)});
    Focus(InvoiceLevel::Leistung, "");
    return true;
}

bool TInvoiceEntry::AddTrips() {
    if (!CanAddTrips() || !EditTrips) return false;
    // Trips belong to a stored case.
    if (!StoreCase()) return false;
    TTripEntry entry(*this);
    entry.Reset();
    entry.BeginNewTrips();
    return RunTripWindow(entry);
}

bool TInvoiceEntry::ChangeTrip() {
    if (!CanChangeTrip() || !EditTrips) return false;
    if (!StoreCase()) return false;
    TTripEntry entry(*this);
    entry.Reset();
    entry.BeginChange();
    return RunTripWindow(entry);
}

bool TInvoiceEntry::DeleteTrip() {
    RequireEdit();
    Table* t = Trips();
    if (!t || t->IsEmpty()) return false;
    t->Delete();
    recomputeNeeded_ = true;
    return true;
}

bool TInvoiceEntry::IsTripListEditable(std::string_view field) {
    return field == "WagenNr" || field == "BruttoSum" || field == "ZuZaBetrag" || field == "KM";
}

void TInvoiceEntry::EditTripCell(std::string_view field, std::string_view text) {
    RequireEdit();
    if (!IsTripListEditable(field))
        throw Error(Format("Das Feld %s kann in der Liste nicht geändert werden.", {std::string(field)}));
    Table* t = Trips();
    if (!t || t->IsEmpty()) return;
    Value v = ParseCell(text, *FindField(*t, field), t->GetValue(field));
    const TripListValues remembered = RememberTripListValues(*t);
    t->Edit();
    t->SetValue(field, std::move(v));
    StoreTripFromList(*t, Cases()->AsString("ZuzaKennz"), remembered, dm_, ui_);
    recomputeNeeded_ = true;
}

// ================================================================ saving

bool TInvoiceEntry::HasPendingChanges() { return open_ && Header().HasChanges(); }

void TInvoiceEntry::ApprovalCheck() {
    if (!HasCase()) return;
    const bool date = !FieldText(InvoiceLevel::AbrFall, "GenDatum").empty();
    const bool mark = !Blank(*Cases(), "GenZeich");
    const bool kind = !Blank(*Cases(), "GenArt");
    if (date == mark && mark == kind) return;
    ui_.ShowMessage(MessageKind::Warning,
                    RequiredFieldsMessage("Pflichtfelder sind nicht ausgefüllt: ", kApprovalIncomplete));
}

bool TInvoiceEntry::Save() {
    if (!HasPendingChanges()) return true;
    ApprovalCheck();
    try {
        doc_.SaveToFile(path_);
    } catch (const std::exception&) {
        // The file is as it was; the changes stay here to be saved again.
        ui_.ShowMessage(MessageKind::Warning, kSaveFailed);
        return false;
    }
    Header().MergeChangeLog();
    return true;
}

bool TInvoiceEntry::Speichern() {
    RequireEdit();
    int64_t caseId = 0, tripId = 0, positionId = 0;
    if (HasCase()) caseId = Cases()->AsInteger("AbrFallID");
    if (Table* t = Trips(); t && !t->IsEmpty()) tripId = t->AsInteger("LeistID");
    if (Table* p = Positions(); p && !p->IsEmpty()) positionId = p->AsInteger("MEINEID");
    if (!StorePendingEdits() || !Save()) return false;

    Load(path_);
    if (OnReset) OnReset();
    if (caseId > 0) GotoCase(caseId);
    if (Table* t = Trips(); t && tripId > 0) t->Locate("LeistID", {Value(tripId)});
    if (Table* p = Positions(); p && positionId > 0) p->Locate("MEINEID", {Value(positionId)});
    return true;
}

bool TInvoiceEntry::NeuLaden() {
    RequireEdit();
    if (!StorePendingEdits()) return false;
    // Changes that could not be written stay, so that nothing typed is lost.
    if (!Save()) return false;
    const int64_t caseId = CurrentCaseId();
    Load(path_);
    if (OnReset) OnReset();
    if (caseId > 0) GotoCase(caseId);
    return true;
}

bool TInvoiceEntry::SpeichernUndExit() {
    RequireEdit();
    return StorePendingEdits() && Recompute() && Save();
}

bool TInvoiceEntry::PrepareShortPrint() { return SpeichernUndExit(); }

bool TInvoiceEntry::PrepareDetailedPrint() {
    RequireEdit();
    return StorePendingEdits() && Save();
}

// ================================================================ sums

bool TInvoiceEntry::Recompute() {
    if (!EditMode() || !open_) return false;
    try {
        RecomputeResult r = RecomputeInvoice(Header());
        caseCount_ = r.cases;
        tripCount_ = r.trips;
        recomputeNeeded_ = false;
        return true;
    } catch (const TStoreRefused&) {
        // The user has been told; the sums are as far as they got.
        recomputeNeeded_ = true;
        return false;
    }
}

std::string TInvoiceEntry::CountText() const {
    return IntToStr(caseCount_) + " Verord. mit " + IntToStr(tripCount_) + " Fahrten";
}

// ================================================================ closing

void TInvoiceEntry::Close() {
    if (open_) {
        // What was not saved is dropped; the file's own values decide.
        if (Table* c = Cases()) c->Cancel();
        Table& h = Header();
        h.Cancel();
        h.CancelUpdates();
        if (!h.IsEmpty()) {
            h.First();
            if (Trim(h.AsString("SaRechNr")) == kTemplateNumber && NoDate(h, "RechDatum")) deleteRequest_ = true;
        }
    }
    doc_ = InvoiceDocument();
    InstallHooks();
    open_ = false;
    path_.clear();
    if (OnReset) OnReset();
    dm_.FlushAdressen();
    dm_.FlushVersicherte();
}

// ================================================================ templates

bool TInvoiceEntry::SurnameMatchesTemplate(std::string_view typed) {
    if (!EditMode() || Trim(typed).empty()) return false;
    return dm_.HasVorlageWithPrefix(typed);
}

bool TInvoiceEntry::ApplyTemplate() {
    RequireEdit();
    Table& v = dm_.Versicherte();
    if (!v.Active() || v.IsEmpty()) return false;
    if (!HasCase() && !InsertCase()) return false;
    Table& c = *Cases();
    Table& h = Header();
    BeginEdit(c);
    const std::string ikPat = Trim(v.AsString("IKPat"));
    if (!ikPat.empty()) c.SetString("IKPat", ikPat);
    for (const char* f : {"VersNum", "Status", "Nachname", "Vorname", "Geb", "Strasse", "Plz", "Ort", "ArztN", "BSN",
                          "ZuzaKennz", "GenZeich", "GenDatum"})
        c.SetValue(f, v.GetValue(f));
    const bool approval = !Blank(v, "GenZeich") || !NoDate(v, "GenDatum");
    c.SetValue("GenArt", approval ? Value(std::string("E2")) : Value());

    if (!Blank(v, "IKLE")) {
        if (!ikPat.empty() && ikPat != Trim(h.AsString("IKKT"))) {
            const Answer a = ui_.Ask(MessageKind::Confirmation,
                                     "Die IK Nummer der Vorlage unterscheidet sich von der Kostenträger-IK Nummer der "
                                     "Rechnung!\r\rKostenträger IK - anpassen?\r ",
                                     {Answer::Yes, Answer::No});
            if (a == Answer::Yes) {
                BeginEdit(h);
                h.SetString("IKKT", ikPat);
                c.SetString("IKPat", ikPat);
            }
        } else if (ikPat == Trim(h.AsString("IKKT"))) {
            c.SetString("IKPat", ikPat);
        }
    }

    extras_ = {v.AsString("ZStrasse"), v.AsString("ZPlz"), v.AsString("ZOrt"), v.AsString("bem")};
    if (!extras_.bem.empty()) {
        ui_.ShowMessage(MessageKind::Information, extras_.bem);
        remarkHint_ = extras_.bem;
    }
    Focus(InvoiceLevel::AbrFall, "VONum");
    return true;
}

bool TInvoiceEntry::SaveAsTemplate() {
    RequireEdit();
    if (!HasCase()) return false;
    Table& c = *Cases();
    Table& v = dm_.Versicherte();
    dm_.OpenVersicherte();
    // Saved over the whole table, whatever the template window filters.
    dm_.SetVorlagenFilter("");
    const TDateTime geb = c.AsDateTime("Geb");
    const std::string vorname = c.AsString("Vorname"), nachname = c.AsString("Nachname"),
                      versNum = c.AsString("VersNum");
    if (dm_.LocateVorlage(versNum, nachname, vorname, geb)) {
        const std::string question = "Bestehende Vorlage aktualisieren?\r\r<" + vorname + " " + nachname +
                                     " Geb.: " + FieldText(InvoiceLevel::AbrFall, "Geb") + " VersNr. " + versNum +
                                     ">\r\r( \"Nein\" legt eine neue Vorlage an..)\r ";
        if (ui_.Ask(MessageKind::Confirmation, question, {Answer::Yes, Answer::No}) == Answer::Yes)
            v.Edit();
        else
            v.Append();
    } else {
        v.Append();
    }
    for (const char* f : {"AbrFallID", "IKPat", "VersNum", "Status", "VONum", "Nachname", "Vorname", "Geb", "Strasse",
                          "Plz", "Ort", "ArztN", "BSN", "VODatum", "ZuzaKennz", "Unfall", "BVG", "GenZeich",
                          "GenDatum"})
        v.SetValue(f, c.GetValue(f));
    v.SetValue("IKLE", c.GetValue("IKPat"));

    // The places of the current trip: the one that is not the patient's
    // home is the usual destination.
    if (Table* t = Trips(); t && !t->IsEmpty() && !Blank(*t, "VON_STRASSE") && !Blank(*t, "NACH_STRASSE")) {
        if (Blank(v, "Strasse")) {
            v.SetString("Strasse", t->AsString("VON_STRASSE"));
            v.SetString("Plz", t->AsString("VON_PLZ"));
            v.SetString("Ort", t->AsString("VON_ORT"));
        }
        const bool homeIsStart = v.AsString("Strasse") != t->AsString("NACH_STRASSE");
        const char* side = homeIsStart ? "NACH_" : "VON_";
        v.SetString("ZStrasse", t->AsString(std::string(side) + "STRASSE"));
        v.SetString("ZPlz", t->AsString(std::string(side) + "PLZ"));
        v.SetString("ZOrt", t->AsString(std::string(side) + "ORT"));
    }
    v.Post();
    ui_.ShowMessage(MessageKind::Information, "Vorlage wurde gespeichert.");
    return true;
}

// ================================================================ multi-person transport

bool TInvoiceEntry::MultiPersonTransport() {
    RequireEdit();
    if (!EditTrips) return false;
    if (caseCount_ <= 1) {
        ui_.ShowMessage(MessageKind::Information, std::string("Mehrpersonentransporte:\r\r") + kMultiPersonSteps);
        return false;
    }
    const std::string vonum = Cases()->AsString("VONum");
    if (!Speichern()) return false;
    Recompute();
    Table* c = Cases();
    if (!c || c->IsEmpty()) return false;
    c->First();
    ClearExtras();
    if (c->AsString("VONum") == vonum) {
        ui_.ShowMessage(MessageKind::Information,
                        std::string("Mehrpersonentransporte:\r\rFunktion kann nur ausgeführt werden, wenn Sie eine "
                                    "weitere Verordnung aktivieren.\r\r") +
                            kMultiPersonSteps);
        return false;
    }

    // What the first person's trips say.
    std::vector<TDateTime> dates;
    TTripAddress destination;
    std::string zeit1, zeit2;
    double km = 0;
    std::optional<TTripPositionRow> position;
    Table& trips = c->Nested(TripNestName);
    for (trips.First(); !trips.Eof(); trips.Next()) {
        const TDateTime d = trips.AsDateTime("Datum").DateOnly();
        if (std::find(dates.begin(), dates.end(), d) == dates.end()) dates.push_back(d);
    }
    trips.First();
    if (!trips.IsEmpty()) {
        destination = {trips.AsString("NACH_STRASSE"), trips.AsString("NACH_PLZ"), trips.AsString("NACH_ORT"),
                       trips.AsString("NACH_LAND"), ""};
        zeit1 = trips.AsString("ZEIT1");
        zeit2 = trips.AsString("ZEIT2");
        km = trips.AsFloat("KM");
        Table& ef = trips.Nested(PositionNestName);
        ef.First();
        if (!ef.IsEmpty())
            position = TTripPositionRow{ef.AsString("Tarif"), ef.AsString("PosNum"), ef.AsString("Text"),
                                        ef.AsFloat("Menge"), ef.AsFloat("EPreis"), ef.AsFloat("USt")};
    }

    // Back to the other person's case.
    if (!c->Locate("VONum", {Value(vonum)})) return false;
    TTripEntry entry(*this);
    entry.Reset();
    const std::string remembered = rememberedTariff_;
    rememberedTariff_.clear();   // the tariff of earlier entries is not chosen again here
    entry.BeginNewTrips();
    rememberedTariff_ = remembered;
    for (const TDateTime& d : dates) entry.AddDate(d);
    entry.destination = destination;
    entry.zeit1 = zeit1;
    entry.zeit2 = zeit2;
    entry.km = km;
    if (position) {
        const PositionKind kind = dm_.KindOf(position->posNum);
        if (!kind.tarifbez.empty()) {
            entry.ChooseTariff(kind.tarifbez);
            entry.OverwriteLastRow(*position);
        }
    }
    entry.ComputePrice();
    return RunTripWindow(entry);
}

// ================================================================ keyboard

const std::vector<std::string>& TInvoiceEntry::EnterFlow() {
    static const std::vector<std::string> flow = {
        "RechDatum", "Name1",    "Name2",  "Name3",   "Name4",    "IKLE", "IKKT",    "KTName",
        "VONum",     "VODatum",  "ArztN",  "BSN",     "GenDatum", "GenZeich", "GenArt", "ZuzaKennz",
        "Nachname",  "Vorname",  "Strasse", "Plz",    "Ort",      "Geb",  "VersNum", "Status",
        "btnLeistungNeu"};
    return flow;
}

std::string TInvoiceEntry::NextInFlow(std::string_view field) {
    const auto& flow = EnterFlow();
    auto it = std::find(flow.begin(), flow.end(), field);
    if (it == flow.end() || it + 1 == flow.end()) return "";
    return *(it + 1);
}

} // namespace brenvo
