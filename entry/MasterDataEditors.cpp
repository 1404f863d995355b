#include "MasterDataEditors.h"

#include <algorithm>
#include <optional>

#include "lib/base/Error.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

std::shared_ptr<const TFieldOptimiser> Dates() {
    static const auto f = std::make_shared<const TDatumFieldOptimiser>();
    return f;
}

std::shared_ptr<const TFieldOptimiser> Currency() {
    static const auto f = std::make_shared<const TWaehrungFieldOptimiser>();
    return f;
}

// Every column hidden, then the listed ones shown in the given order, editable.
struct Shown {
    const char* field;
    const char* caption;
    int width;
    ColumnAlign align = ColumnAlign::Left;
};

TGridColumns Columns(const std::vector<FieldDef>& fields, std::initializer_list<Shown> shown) {
    TGridColumns all = TGridColumns::FromFields(fields);
    std::vector<TGridColumn> ordered;
    for (const Shown& s : shown) {
        TGridColumn* c = all.Find(s.field);
        if (!c) continue;
        c->Caption = s.caption;
        c->Width = s.width;
        c->Align = s.align;
        c->Editable = true;
        ordered.push_back(*c);
    }
    for (const TGridColumn& c : all.All()) {
        if (std::none_of(ordered.begin(), ordered.end(), [&](const TGridColumn& o) { return o.Field == c.Field; })) {
            TGridColumn hidden = c;
            hidden.Visible = false;
            ordered.push_back(hidden);
        }
    }
    return TGridColumns(std::move(ordered));
}

const TGridColumn& ColumnOf(const TGridColumns& columns, const std::string& field) {
    for (const TGridColumn& c : columns.All())
        if (SameText(c.Field, field) && c.Editable) return c;
    throw Error(Format("Die Spalte %s kann nicht geändert werden.", {field}));
}

bool Ask(IUserInterface& ui) {
    return ui.Ask(MessageKind::Confirmation, kDeleteRowQuestion, {Answer::Ok, Answer::Cancel}) == Answer::Ok;
}

// Rows whose every field is empty (inserted and never filled) are dropped.
void DropEmptyRows(Table& t) {
    if (!t.Active()) return;
    if (t.GetState() != Table::State::Browse) t.Post();
    for (t.First(); !t.Eof();) {
        bool empty = true;
        for (int i = 0; i < t.FieldCount() && empty; ++i) {
            const Value& v = t.GetValue(i);
            if (const auto* s = std::get_if<std::string>(&v))
                empty = Trim(*s).empty();
            else
                empty = IsNullValue(v);
        }
        if (empty)
            t.Delete();
        else
            t.Next();
    }
    t.First();
}

std::string TextAt(const Table& t, int row, int col) {
    const Value& v = t.ValueAt(row, col);
    const auto* s = std::get_if<std::string>(&v);
    return s ? *s : std::string();
}

} // namespace

// ================================================================ tariffs

TTarifeEditor::TTarifeEditor(TdmVerwaltung& dm) : dm_(dm) {}

void TTarifeEditor::Open() { dm_.OpenTarife(); }

Table* TTarifeEditor::Positions() {
    Table& t = Tarife();
    if (!t.Active() || t.IsEmpty()) return nullptr;
    return &t.Nested(TdmVerwaltung::kTarifdetail);
}

TGridColumns TTarifeEditor::TarifColumns() { return Columns(TdmVerwaltung::TarifeFields(), {{"Tarifbez", "Tarif", 330}}); }

TGridColumns TTarifeEditor::PositionColumns() {
    TGridColumns c = Columns(TdmVerwaltung::TarifdetailFields(), {{"Detailbez", "Bezeichnung", 250},
                                                                 {"Tarif", "TarifNum", 70},
                                                                 {"PosNum", "PosNum", 70},
                                                                 {"EPreis", "EPreis", 80, ColumnAlign::Right},
                                                                 {"Art", "Art", 40, ColumnAlign::Center},
                                                                 {"Ust", "Ust", 50, ColumnAlign::Right},
                                                                 {"PCT_Abschlag", "% Abschlag", 75, ColumnAlign::Right},
                                                                 {"freikm", "gilt ab Km", 70, ColumnAlign::Right}});
    c.Find("EPreis")->Optimiser = Currency();
    c.Find("Art")->Choices = Kinds();
    for (const char* f : {"Ust", "PCT_Abschlag", "freikm"}) {
        c.Find(f)->Format = ColumnFormat::Amount;
        c.Find(f)->Pattern = "##.##";
    }
    return c;
}

std::string TTarifeEditor::PositionsHeading() {
    Table& t = Tarife();
    const std::string name = t.Active() && !t.IsEmpty() ? t.AsString("Tarifbez") : std::string();
    return "Leistungspositionen für Tarif " + name;
}

const std::vector<std::string>& TTarifeEditor::Legend() {
    static const std::vector<std::string> lines = {
        "Art:  \"K\" = Kilometer (eingegeben km werden übernommen) ",
        "Art:  \"P\" = Pauschal (vorgegebene Anzahl = 1)",
        "Art:  \"W\" = Wartezeit oder \"S\" Sonstiges (= seltene Fälle, vorgegebene Anzahl = 0 )",
        "Art:  \"X\" = eXtra (Abschlag in % angeben. Betrag wird berechnet wenn Anzahl=1",
        "Art:  \"T\" = Taxameter- (Uhr-) Preis, Einzelpreis wird direkt eingegeben - keine Berechnung mit \"Anzahl\""};
    return lines;
}

const std::vector<std::string>& TTarifeEditor::Kinds() {
    static const std::vector<std::string> kinds = {"K", "P", "W", "S", "X", "T"};
    return kinds;
}

void TTarifeEditor::InsertTarif() {
    Table& t = Tarife();
    std::string name = "Neuer Tarif";
    auto taken = [&](const std::string& n) {
        const int col = t.FieldIndex("Tarifbez");
        for (int i = 0; i < t.RecordCount(); ++i)
            if (SameText(TextAt(t, i, col), n)) return true;
        return false;
    };
    for (int i = 2; taken(name); ++i) name = "Neuer Tarif " + IntToStr(i);
    t.Append();
    t.SetString("Tarifbez", name);
    t.Post();
}

bool TTarifeEditor::DeleteTarif(IUserInterface& ui) {
    Table& t = Tarife();
    if (!t.Active() || t.IsEmpty() || !Ask(ui)) return false;
    t.Delete();
    return true;
}

void TTarifeEditor::InsertPosition() {
    Table* p = Positions();
    if (!p) return;
    p->Append();
    p->SetString("Art", "P");
    p->SetInteger("EPreis", 0);
    p->Post();
}

bool TTarifeEditor::DeletePosition(IUserInterface& ui) {
    Table* p = Positions();
    if (!p || p->IsEmpty() || !Ask(ui)) return false;
    p->Delete();
    return true;
}

void TTarifeEditor::SetTarifCell(const std::string& field, std::string_view text) {
    Table& t = Tarife();
    if (t.IsEmpty()) return;
    const TGridColumns columns = TarifColumns();
    const TGridColumn& column = ColumnOf(columns, field);
    if (SameText(field, "Tarifbez")) {
        const std::string name = Trim(text);
        if (name.empty()) throw Error("Ein Tarif braucht eine Bezeichnung.");
        const Table::Bookmark current = t.GetBookmark();
        const int col = t.FieldIndex("Tarifbez");
        for (int i = 0; i < t.RecordCount(); ++i)
            if (t.BookmarkAt(i) != current && SameText(TextAt(t, i, col), name))
                throw Error(Format("Den Tarif \"%s\" gibt es bereits.", {name}));
        StoreCell(t, column, name);
        return;
    }
    StoreCell(t, column, text);
}

void TTarifeEditor::SetPositionCell(const std::string& field, std::string_view text) {
    Table* p = Positions();
    if (!p || p->IsEmpty()) return;
    const TGridColumns columns = PositionColumns();
    const TGridColumn& column = ColumnOf(columns, field);
    if (SameText(field, "Art")) {
        const std::string kind = UpperCase(Trim(text));
        const auto& kinds = Kinds();
        if (std::find(kinds.begin(), kinds.end(), kind) == kinds.end())
            throw Error(Format("Die Art \"%s\" gibt es nicht; erlaubt sind K, P, W, S, X und T.", {Trim(text)}));
        StoreCell(*p, column, kind);
        return;
    }
    StoreCell(*p, column, text);
}

bool TTarifeEditor::Close(IUserInterface& ui) {
    try {
        Table& t = Tarife();
        if (t.GetState() != Table::State::Browse) t.Post();
        dm_.SaveTarife();
    } catch (const std::exception& e) {
        ui.ShowMessage(MessageKind::Error, e.what());
        return false;
    }
    dm_.RestoreOrders();
    return true;
}

// ================================================================ addresses

TAdressenEditor::TAdressenEditor(TdmVerwaltung& dm) : dm_(dm) {}

void TAdressenEditor::Open() { dm_.OpenAdressen(); }

TGridColumns TAdressenEditor::Columns() {
    return brenvo::Columns(TdmVerwaltung::AdressenFields(),
                           {{"strasse", "Strasse", 200}, {"plz", "PLZ", 60}, {"ort", "Ort", 160}, {"bem", "Info", 330}});
}

void TAdressenEditor::Insert() {
    Table& t = Adressen();
    t.Append();
    t.SetString("strasse", "");
    t.Post();
}

bool TAdressenEditor::Delete(IUserInterface& ui) {
    Table& t = Adressen();
    if (!t.Active() || t.IsEmpty() || !Ask(ui)) return false;
    t.Delete();
    return true;
}

void TAdressenEditor::SetCell(const std::string& field, std::string_view text) {
    Table& t = Adressen();
    if (t.IsEmpty()) return;
    const TGridColumns columns = Columns();
    StoreCell(t, ColumnOf(columns, field), text);
}

bool TAdressenEditor::Close(IUserInterface& ui) {
    try {
        DropEmptyRows(Adressen());
        dm_.FlushAdressen();
    } catch (const std::exception& e) {
        ui.ShowMessage(MessageKind::Error, e.what());
        return false;
    }
    return true;
}

// ================================================================ templates

TVersicherteEditor::TVersicherteEditor(TdmVerwaltung& dm, Mode mode) : dm_(dm), mode_(mode) {}

void TVersicherteEditor::Open() { dm_.OpenVersicherte(); }

TGridColumns TVersicherteEditor::Columns() {
    TGridColumns c = brenvo::Columns(TdmVerwaltung::VersicherteFields(), {{"Nachname", "Nachname", 120},
                                                                       {"Vorname", "Vorname", 90},
                                                                       {"Geb", "Geb", 75},
                                                                       {"VersNum", "VersNum", 95},
                                                                       {"IKPat", "Kostenträger-IK", 95},
                                                                       {"Status", "Status", 50},
                                                                       {"ZuzaKennz", "Zuzahlung", 65},
                                                                       {"Strasse", "Strasse", 140},
                                                                       {"Plz", "Plz", 50},
                                                                       {"Ort", "Ort", 100},
                                                                       {"GenZeich", "GenZeich", 80},
                                                                       {"GenDatum", "GenDatum", 75},
                                                                       {"ZStrasse", "Ziel-Strasse", 140},
                                                                       {"ZPlz", "Ziel-Plz", 55},
                                                                       {"ZOrt", "Ziel-Ort", 100},
                                                                       {"bem", "Bemerkung", 250}});
    c.Find("Geb")->Optimiser = Dates();
    c.Find("GenDatum")->Optimiser = Dates();
    return c;
}

void TVersicherteEditor::SetFilter(std::string_view text) {
    filter_ = std::string(text);
    count_ = dm_.SetVorlagenFilter(text);
}

std::string TVersicherteEditor::CountText() const {
    if (count_ < 0) return "";
    return count_ == 1 ? "1 Vorlage" : IntToStr(count_) + " Vorlagen";
}

void TVersicherteEditor::Insert() {
    if (!Editable()) return;
    Table& t = Versicherte();
    t.Append();
    t.SetString("Nachname", "");
    t.Post();
}

bool TVersicherteEditor::Delete(IUserInterface& ui) {
    Table& t = Versicherte();
    if (!Editable() || !t.Active() || t.IsEmpty() || !Ask(ui)) return false;
    t.Delete();
    return true;
}

void TVersicherteEditor::SetCell(const std::string& field, std::string_view text) {
    Table& t = Versicherte();
    if (!Editable()) throw Error("Hier wird eine Vorlage nur ausgewählt.");
    if (t.IsEmpty()) return;
    const TGridColumns columns = Columns();
    StoreCell(t, ColumnOf(columns, field), text);
}

bool TVersicherteEditor::Close(IUserInterface& ui) {
    Table& t = Versicherte();
    const bool shown = t.Active() && !t.IsEmpty();
    struct Key {
        std::string versNum, nachname, vorname;
        TDateTime geb;
    };
    std::optional<Key> current;
    if (shown) current = Key{t.AsString("VersNum"), t.AsString("Nachname"), t.AsString("Vorname"), t.AsDateTime("Geb")};
    chosen_ = mode_ == Mode::Selection && confirmed_ && shown;

    // The filter goes first: every template is written, and empty ones dropped.
    dm_.SetVorlagenFilter("");
    filter_.clear();
    count_ = -1;
    try {
        if (mode_ == Mode::Maintenance) DropEmptyRows(t);
        dm_.FlushVersicherte();
    } catch (const std::exception& e) {
        ui.ShowMessage(MessageKind::Error, e.what());
        // A choice still counts; what could not be written stays in memory.
        if (mode_ == Mode::Maintenance) return false;
    }
    dm_.RestoreOrders();
    if (current) dm_.LocateVorlage(current->versNum, current->nachname, current->vorname, current->geb);
    return true;
}

} // namespace brenvo
