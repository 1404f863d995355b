#include "mainwindow/KTMaintenance.h"

#include <cstring>

#include "costbearer/U_SGBKTStore.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

constexpr const char* kNotLoaded = "Die Kostenträger-Daten sind nicht geladen.";
constexpr const char* kNewRowsValidFrom = "01.01.2012";

bool IsIK(const std::string& s) { return s.size() == 9 && IsDigits(s); }

bool Editing(const Table& t) {
    return t.Active() && (t.GetState() == Table::State::Edit || t.GetState() == Table::State::Insert);
}

// Sets a field of the row being inserted from its text, when the table has it.
void SetText(Table& t, const char* field, const std::string& text) {
    const int i = t.FieldIndex(field);
    if (i >= 0) t.SetValue(field, ParseCell(text, t.Field(i)));
}

} // namespace

// ============================================================ the tables as data

const std::vector<TKTTableChoice>& KTTableChoices() {
    static const std::vector<TKTTableChoice> choices = {{KTTable::Kostentraeger, "Kostenträger"},
                                                        {KTTable::Zuordnung, "Zuordnung"},
                                                        {KTTable::Anschriften, "Anschriften"},
                                                        {KTTable::Transferdaten, "Transferdaten"}};
    return choices;
}

const std::vector<TKTColumnDef>& KTColumnDefs(KTTable table) {
    static const std::vector<TKTColumnDef> base = {
        {"K_IK", "IK", 60},
        {"KT_ART", "Art", 30},
        {"KT_KURZBEZ", "Bezeichnung", 100},
        {"KT_KASSENART", "Kassenart", 30},
        {"KT_NAME1", "Name 1", 100},
        {"KT_NAME2", "Name 2", 100},
        {"KT_NAME3", "Name 3", 80},
        {"KT_NAME4", "", 0},
        {"KT_KTO_KONTONUMMER", "Konto", 40},
        {"KT_KTO_BANKBLZ", "BLZ", 40},
        {"KT_KTO_BANKBEZ", "Bank", 40},
        {"KT_KTO_INHABER", "Inh", 40},
        {"KT_ASP", "Asp", 40},
        {"PAPIER_IK", "Papier-IK", 60},
        {"DATEN_IK", "Daten-IK", 60},
        {"VERWEISE", "Verweise", 30},
        {"ZIELVERWEIS", "Zielverweise", 30},
        {"FINAL_IK", "FinalIK", 60},
        {"ISPAPIER", "Papier", 40},
        {"ISDATEN", "Daten", 40},
        {"ISKT", "KT", 30},
        {"ISVERWEIS", "Verw", 30},
        {"DATENPHYS_IK", "Daten (phys)", 30},
        {"ISDATENPHYS", "Daten (phys)", 30},
        {"KT_VALIDFROM", "gültig von", 60},
        {"KT_VALIDTO", "gültig bis", 60},
        {"KOSTENTR_IK", "Kostentr.IK", 60},
        {"DTAREF", "DtaRef", 30, ColumnAlign::Right},
    };
    static const std::vector<TKTColumnDef> zuordn = {
        {"K_IK", "IK", 60},
        {"Z_ART", "Art", 40},
        {"IK_PARTNER", "VerweisIK", 60},
        {"Z_LEGRUPPE", "LE-Gruppe", 40},
        {"IK_ABRECHNUNGSTELLE", "AbrStelle", 40},
        {"Z_DATENLIEFERART", "Lieferart", 40},
        {"Z_MEDIUM", "Medium", 40},
        {"Z_LESTANDORTLAND", "Land", 40},
        {"Z_LESTANDORTBEZIRK", "Bezirk", 40},
        {"Z_LEART", "LE-Art", 40},
        {"ISDATEN", "Daten", 40},
        {"ISPAPIER", "Papier", 40},
        {"Z_VALIDFROM", "gültig von", 40},
        {"Z_VALIDTO", "gültig bis", 40},
    };
    static const std::vector<TKTColumnDef> anschrift = {
        {"K_IK", "IK", 60},
        {"ANS_ART", "Art", 40},
        {"ANS_PLZ", "PLZ", 60},
        {"ANS_ORT", "Ort", 150},
        {"ANS_STRASSE", "Strasse", 150},
        {"ANS_VALIDFROM", "gültig von", 100},
        {"ANS_VALIDTO", "gültig bis", 100},
    };
    static const std::vector<TKTColumnDef> transfer = {
        {"K_IK", "IK", 60},
        {"UEM_MEDIUM", "Medium", 40},
        {"UEM_PARAM", "Param", 40},
        {"UEM_ZEICHENSATZ", "Zeichensatz", 40},
        {"UEM_KOMPRIMIERUNG", "Kompr.", 40},
        {"DFU_PROTOKOLL", "Protokoll", 40},
        {"DFU_BENUTZER", "Ben", 40},
        {"DFU_ZEITVON", "von", 40},
        {"DFU_ZEITBIS", "bis", 40},
        {"DFU_TAGE", "Tage", 40},
        {"DFU_KANAL", "Kanal", 100},
        {"DFU_VALIDFROM", "gültig von", 60},
        {"DFU_VALIDTO", "gültig bis ", 60},
    };
    switch (table) {
    case KTTable::Kostentraeger: return base;
    case KTTable::Zuordnung: return zuordn;
    case KTTable::Anschriften: return anschrift;
    case KTTable::Transferdaten: return transfer;
    }
    return base;
}

TGridColumns KTGridColumns(KTTable table, const std::vector<FieldDef>& fields) {
    TGridColumns cols = TGridColumns::FromFields(fields);
    for (const TKTColumnDef& d : KTColumnDefs(table)) cols.SetGridColumn(d.Field, d.Caption, d.Width, d.Align);
    // An IK's rows belong together in all three tables, and the counter is
    // the program's: adding and deleting an IK are commands of their own.
    // The link table is never written back, so a change there would be lost.
    for (TGridColumn& c : cols.All())
        c.ReadOnly = table == KTTable::Zuordnung || SameText(c.Field, "K_IK") || SameText(c.Field, "DTAREF");
    return cols;
}

const TKTDetailPanel* KTDetailPanel(KTTable table) {
    static const TKTDetailPanel base = {{{"IK Daten-Empfänger .. Logisch", {"DATEN_IK"}},
                                         {"IK Papier-Annahme", {"PAPIER_IK"}},
                                         {".. Physisch", {"DATENPHYS_IK"}},
                                         {"Kurzbez.", {"KT_KURZBEZ"}},
                                         {"Name", {"KT_NAME1", "KT_NAME2", "KT_NAME3"}}},
                                        "Änderungen speichern"};
    static const TKTDetailPanel anschrift = {{{"Anschrift", {"ANS_STRASSE", "ANS_PLZ", "ANS_ORT"}}},
                                             "Änderungen Speichern"};
    static const TKTDetailPanel transfer = {{{"Kanal", {"DFU_KANAL"}}}, "Änderungen speichern"};
    switch (table) {
    case KTTable::Kostentraeger: return &base;
    case KTTable::Anschriften: return &anschrift;
    case KTTable::Transferdaten: return &transfer;
    case KTTable::Zuordnung: return nullptr;
    }
    return nullptr;
}

// ============================================================ the table shown

TKTMaintenance::TKTMaintenance(std::function<TSGBKTStore*()> store, const TEinrichtung& einrichtung,
                               IUserInterface& ui)
    : store_(std::move(store)), einrichtung_(einrichtung), ui_(ui) {}

TKTMaintenance::~TKTMaintenance() {
    detached_ = true;
    Notify(Change::Gone);
}

TSGBKTStore* TKTMaintenance::Store() const { return detached_ ? nullptr : store_(); }

Table* TKTMaintenance::TableOf(KTTable table) const {
    TSGBKTStore* s = Store();
    if (!s) return nullptr;
    switch (table) {
    case KTTable::Kostentraeger: return &s->KTBase();
    case KTTable::Zuordnung: return &s->KTZuordn();
    case KTTable::Anschriften: return &s->KTAnschrift();
    case KTTable::Transferdaten: return &s->KTTransfer();
    }
    return nullptr;
}

Table* TKTMaintenance::ShownTable() const {
    Table* t = chosen_ ? TableOf(table_) : nullptr;
    return t && t->Active() ? t : nullptr;
}

void TKTMaintenance::Notify(Change change) {
    if (OnChange) OnChange(change);
}

std::string TKTMaintenance::FilterText() const {
    std::string filter;
    if (ohneVerweisungen_) filter += " ISVERWEIS <> 'T' AND";
    if (datenEmpfaenger_) filter += " ISDATEN = 'T' AND";
    if (!filter.empty()) filter.resize(filter.size() - 4);
    return filter;
}

void TKTMaintenance::ChooseTable(KTTable table) {
    chosen_ = true;
    table_ = table;
    ApplyChoice();
}

void TKTMaintenance::SetOhneVerweisungen(bool on) {
    ohneVerweisungen_ = on;
    if (chosen_ && table_ == KTTable::Kostentraeger) ApplyChoice();
}

void TKTMaintenance::SetDatenEmpfaenger(bool on) {
    datenEmpfaenger_ = on;
    if (chosen_ && table_ == KTTable::Kostentraeger) ApplyChoice();
}

void TKTMaintenance::ApplyChoice() {
    editing_ = false;
    Table* t = ShownTable();
    columns_ = t ? KTGridColumns(table_, t->Fields()) : TGridColumns();
    const auto shown = columns_.VisibleColumns();
    marked_ = shown.empty() ? std::string() : shown.front().Field;
    if (!t) {
        Notify(Change::Table);
        return;
    }
    // Only "Kostenträger" is filtered, and only by the check boxes; the
    // directory's other tables are never filtered by this view.
    Table* base = TableOf(KTTable::Kostentraeger);
    const std::string filter = table_ == KTTable::Kostentraeger ? FilterText() : std::string();
    std::string failure;
    try {
        if (t != base && t->Filtered()) t->SetFiltered(false);
        if (base && base->Active()) {
            if (filter.empty()) {
                if (base->Filtered()) base->SetFiltered(false);
            } else {
                base->SetFilter(filter);
                base->SetFiltered(true);
            }
        }
    } catch (const std::exception& e) {
        // A directory without the flag columns: shown unfiltered.
        failure = e.what();
    }
    Notify(Change::Table);
    if (!failure.empty()) throw Error(failure);
}

void TKTMaintenance::Enter() {
    detached_ = false;
    if (!Store()) return;
    if (found_.empty()) {
        for (const TKTTableChoice& c : KTTableChoices())
            if (Table* t = TableOf(c.Table); t && t->Active()) found_.emplace_back(t, t->IndexFieldNames());
    }
    if (!chosen_) {
        ChooseTable(KTTable::Kostentraeger);
        return;
    }
    ApplyChoice();
}

void TKTMaintenance::Leave() {
    const auto found = std::move(found_);
    found_.clear();
    TSGBKTStore* s = Store();
    if (!s) return;
    Table& base = s->KTBase();
    if (base.Active() && base.Filtered()) base.SetFiltered(false);
    // Each table back in the order it had when the tab was shown (the table
    // keeps that order, so nothing is sorted again).
    for (const auto& [t, order] : found) {
        if (!t->Active() || SameText(t->IndexFieldNames(), order)) continue;
        try {
            t->SetIndexFieldNames(order);
        } catch (const std::exception&) {
            // Its columns changed meanwhile (read again): the lookups' orders.
            s->ResetIndexes();
        }
    }
}

void TKTMaintenance::Detach() {
    detached_ = true;
    found_.clear();
    editing_ = false;
    columns_ = TGridColumns();
    marked_.clear();
    Notify(Change::Table);
}

// ============================================================ column, sorting, searching

void TKTMaintenance::MarkColumn(const std::string& field) {
    marked_ = field;
    Notify(Change::Column);
}

void TKTMaintenance::SortBy(const std::string& field) {
    if (Table* t = ShownTable()) {
        try {
            t->SetIndexFieldNames(field);
        } catch (const std::exception&) {
            // A column that cannot be sorted by: the order stays.
        }
    }
    MarkColumn(field);
}

void TKTMaintenance::Search(const std::string& text) {
    search_ = text;
    Table* t = ShownTable();
    if (!t) return;
    const std::string field = marked_.empty() ? std::string("K_IK") : marked_;
    const int fi = t->FieldIndex(field);
    if (fi < 0) return;
    if (!marked_.empty() && !SameText(t->IndexFieldNames(), field)) {
        try {
            t->SetIndexFieldNames(field);
        } catch (const std::exception&) {
            // Searched in the order the table has.
        }
    }
    TGridColumn column;
    column.Field = field;
    const FieldType type = t->Field(fi).type;
    const int rows = t->RecordCount();
    for (int r = 0; r < rows; ++r) {
        const Value& v = t->ValueAt(r, fi);
        const std::string* s = std::get_if<std::string>(&v);
        if (s ? StartsText(text, *s) : StartsText(text, FormatCell(v, column, type))) {
            t->GotoBookmark(t->BookmarkAt(r));
            return;
        }
    }
}

// ============================================================ editing

void TKTMaintenance::CheckValue(const std::string& field, const Value& value) const {
    const bool required = SameText(field, "K_IK");
    const bool optional = SameText(field, "DATEN_IK") || SameText(field, "PAPIER_IK") ||
                          SameText(field, "DATENPHYS_IK") || SameText(field, "IK_PARTNER");
    if (!required && !optional) return;
    const std::string* s = std::get_if<std::string>(&value);
    const std::string text = s ? *s : std::string();
    if (text.empty() && optional) return;
    if (SameText(field, "DATEN_IK") && text == "*") return;
    if (!IsIK(text)) throw Error(Format("%s ist keine gültige IK", {text}));
}

std::string TKTMaintenance::FieldText(const std::string& field) const {
    Table* t = ShownTable();
    if (!t || t->IsEmpty()) return "";
    const int fi = t->FieldIndex(field);
    if (fi < 0) return "";
    TGridColumn column;
    column.Field = field;
    return FormatCell(t->GetValue(fi), column, t->Field(fi).type);
}

void TKTMaintenance::SetField(const std::string& field, const std::string& text) {
    editing_ = false;
    Table* t = ShownTable();
    if (!t || t->IsEmpty() || FieldText(field) == text) {
        Notify(Change::Data);
        return;
    }
    const int fi = t->FieldIndex(field);
    if (fi < 0) return;
    const Value v = ParseCell(text, t->Field(fi));
    CheckValue(field, v);
    t->Edit();
    try {
        t->SetValue(field, v);
        t->Post();
    } catch (...) {
        t->Cancel();
        throw;
    }
    Notify(Change::Data);
}

void TKTMaintenance::SetEditing(bool editing) {
    if (editing == editing_) return;
    editing_ = editing;
    Notify(Change::Data);
}

bool TKTMaintenance::HasUnsavedChanges() const {
    TSGBKTStore* s = Store();
    if (!s) return false;
    for (const Table* t : {&s->KTBase(), &s->KTTransfer(), &s->KTAnschrift()})
        if (t->Active() && (t->HasChanges() || Editing(*t))) return true;
    return false;
}

bool TKTMaintenance::SaveEnabled() const { return Store() && (editing_ || HasUnsavedChanges()); }

// ============================================================ commands

void TKTMaintenance::SaveTables() {
    TSGBKTStore& s = *Store();
    Table& base = s.KTBase();
    Table& transfer = s.KTTransfer();
    Table& anschrift = s.KTAnschrift();
    for (Table* t : {&base, &transfer, &anschrift})
        if (Editing(*t)) t->Post();
    // Each file is replaced whole (written beside it, then renamed): a
    // failure leaves it as it was and its table's changes pending.
    if (base.Active() && (base.HasChanges() || s.Modified())) s.SaveKTBase(true);
    if (transfer.Active() && transfer.HasChanges())
        transfer.SaveToFile(s.KTTransferFileName().empty() ? transfer.FileName() : s.KTTransferFileName());
    if (anschrift.Active() && anschrift.HasChanges())
        anschrift.SaveToFile(s.KTAnschriftFileName().empty() ? anschrift.FileName() : s.KTAnschriftFileName());
}

void TKTMaintenance::actKTSpeichernExecute() {
    if (!Store()) throw Error(kNotLoaded);
    if (OnCommit) OnCommit();
    editing_ = false;
    try {
        SaveTables();
    } catch (const std::exception& e) {
        Notify(Change::Data);
        throw Error(std::string("Die Kostenträger-Daten wurden nicht gespeichert: ") + e.what() +
                    "\rDie Änderungen sind nicht verloren und können erneut gespeichert werden.");
    }
    Notify(Change::Data);
}

void TKTMaintenance::actKTDatenAnzeigenExecute() {
    report_.clear();
    Table* t = ShownTable();
    if (t && t->HasField("K_IK") && !t->IsEmpty()) {
        const std::string ik = t->AsString("K_IK");
        if (!ik.empty())
            report_ = Store()->GetKTReport(ik, einrichtung_.EINR_LAND, einrichtung_.EINR_BEZIRK, Today());
    }
    Notify(Change::Report);
}

void TKTMaintenance::actKTAddExecute() {
    const std::string ik = search_;
    if (!IsIK(ik)) throw Error(Format("%s ist keine gültige IK", {ik}));
    TSGBKTStore* s = Store();
    if (!s || !s->KTBase().Active()) throw Error(kNotLoaded);
    Table& base = s->KTBase();
    bool present = false;
    {
        AllRows all(base);
        present = base.Locate("K_IK", {Value(ik)});
    }
    if (present)
        throw Error(Format("Die IK %s ist bereits vorhanden.", {ik}));
    actKTSpeichernExecute();

    base.Append();
    base.SetString("K_IK", ik);
    SetText(base, "KT_ART", "99");
    SetText(base, "KT_KASSENART", "EK");
    base.Post();

    if (Table& a = s->KTAnschrift(); a.Active()) {
        a.Append();
        a.SetString("K_IK", ik);
        SetText(a, "ANS_ART", "1");
        SetText(a, "ANS_VALIDFROM", kNewRowsValidFrom);
        a.Post();
    }
    if (Table& t = s->KTTransfer(); t.Active()) {
        t.Append();
        t.SetString("K_IK", ik);
        SetText(t, "UEM_MEDIUM", "1");
        SetText(t, "UEM_PARAM", "00");
        SetText(t, "UEM_ZEICHENSATZ", "I8");
        SetText(t, "DFU_PROTOKOLL", "070");
        SetText(t, "DFU_ZEITVON", "0000");
        SetText(t, "DFU_ZEITBIS", "0000");
        SetText(t, "DFU_TAGE", "1");
        SetText(t, "DFU_KANAL", KTPlaceholderEmail);
        SetText(t, "DFU_VALIDFROM", kNewRowsValidFrom);
        t.Post();
    }
    Notify(Change::Data);
    Search(search_);
}

void TKTMaintenance::actKTDeleteExecute() {
    const std::string ik = search_;
    TSGBKTStore* s = Store();
    if (!s || !s->KTBase().Active()) return;
    Table& base = s->KTBase();
    {
        AllRows all(base);
        if (!base.Locate("K_IK", {Value(ik)})) return;
    }
    if (ui_.Ask(MessageKind::Confirmation, Format("IK %s löschen?", {ik}), {Answer::Yes, Answer::No}) != Answer::Yes)
        return;
    for (Table* t : {&base, &s->KTAnschrift(), &s->KTTransfer()}) {
        if (!t->Active()) continue;
        if (Editing(*t)) t->Cancel();
        AllRows all(*t);
        while (t->Locate("K_IK", {Value(ik)})) t->Delete();
    }
    Notify(Change::Data);
    actKTSpeichernExecute();
}

bool TKTMaintenance::Jump(const char* label, KTTable target, bool resolveFirst) {
    if (resolveFirst && chosen_ && table_ == KTTable::Kostentraeger) actKTDatenAnzeigenExecute();
    const size_t at = report_.find(label);
    if (at == std::string::npos) return false;
    const std::string ik = Trim(Utf8Copy(report_.substr(at + std::strlen(label)), 0, 9));
    if (ik.empty()) return false;
    ChooseTable(target);
    search_ = ik;
    Notify(Change::Search);
    Search(ik);
    return true;
}

void TKTMaintenance::actKTZeigeKostentraegerExecute() { Jump(KTLabelKostentraeger, KTTable::Kostentraeger, true); }

void TKTMaintenance::actKTZeigeVersichertenkarteExecute() { Jump(KTLabelVersKarte, KTTable::Kostentraeger, false); }

void TKTMaintenance::actKTZeigeAnschriftExecute() { Jump(KTLabelPapier, KTTable::Anschriften, true); }

void TKTMaintenance::actKTZeigeVersandkanalExecute() {
    if (!Jump(KTLabelDatenPhysisch, KTTable::Transferdaten, true)) return;
    Table* t = ShownTable();
    if (!t || !t->HasField("DFU_KANAL") || t->IsEmpty()) return;
    // The channel rows of an IK may start with rows of other protocols.
    for (int step = 0; step < 11 && t->AsString("DFU_KANAL").empty(); ++step) {
        const int at = t->RecNo();
        t->Next();
        if (t->RecNo() == at) break;
    }
}

bool TKTMaintenance::ConfirmClose() {
    if (OnCommit) OnCommit();
    if (!HasUnsavedChanges() && !editing_) return true;
    const Answer a = ui_.Ask(MessageKind::Confirmation,
                             "Die Änderungen der Kostenträger-Daten sind noch nicht gespeichert.\rJetzt speichern?",
                             {Answer::Yes, Answer::No, Answer::Cancel});
    if (a == Answer::Yes) {
        try {
            actKTSpeichernExecute();
            return true;
        } catch (const std::exception& e) {
            ui_.ShowMessage(MessageKind::Error, e.what());
            return false;
        }
    }
    if (a != Answer::No) return false;
    if (TSGBKTStore* s = Store()) {
        for (Table* t : {&s->KTBase(), &s->KTTransfer(), &s->KTAnschrift()})
            if (t->Active()) t->CancelUpdates();
    }
    editing_ = false;
    Notify(Change::Data);
    return true;
}

} // namespace brenvo
