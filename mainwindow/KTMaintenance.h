#pragma once

// The "Kostenträger-Daten" tab without its window: the user browses and
// corrects the cost-bearer directory the program holds in memory. One of
// four tables is shown ("Auswahl"), searched by the column that is marked,
// sorted by any column; a few fields are edited in place; an IK is resolved
// into the text report of the directory ("Daten anzeigen"), and the report
// leads on to the related rows; an IK is added with its default rows or
// deleted with all its rows; "Speichern" writes KT_BASE, KT_TRANSFER and
// KT_ANSCHRIFT, in that order, each file replaced whole or not at all.
//
// The tables are the store's own: an edit is seen at once by every lookup,
// the processing run included. Since the lookups depend on the tables'
// own orders and see only the rows a filter lets through, the view gives
// the tables back in the orders it found them in, unfiltered, whenever the
// tab is left (Leave), and applies its choice again when it is shown (Enter).
//
// The window maps its widgets onto this class and is told of every change
// through OnChange. Failures are brenvo::Error with the message to show.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "lib/Basics/GridColumns.h"
#include "lib/base/Settings.h"
#include "lib/base/UserInterface.h"
#include "lib/dataset/Table.h"

namespace brenvo {

class TSGBKTStore;

// The tables of "Auswahl", in its order.
enum class KTTable { Kostentraeger, Zuordnung, Anschriften, Transferdaten };

struct TKTTableChoice {
    KTTable Table;
    const char* Caption;
};
const std::vector<TKTTableChoice>& KTTableChoices();

// One column of a grid as the tab sets it up.
struct TKTColumnDef {
    const char* Field;
    const char* Caption;
    int Width;            // 0 hides the column
    ColumnAlign Align = ColumnAlign::Left;
};
// The columns of a table in the tab's grid (captions and widths).
const std::vector<TKTColumnDef>& KTColumnDefs(KTTable table);
// The grid's columns over a table with these fields: every field in its
// order, set up with the table's definitions; fields not listed keep their
// names. Key columns, the DTAREF counter and the whole link table (which is
// never saved) are read-only.
TGridColumns KTGridColumns(KTTable table, const std::vector<FieldDef>& fields);

// The detail panel below the grid: labelled groups of fields and the save
// button's caption. "Zuordnung" has none.
struct TKTDetailGroup {
    const char* Label;
    std::vector<const char*> Fields;
};
struct TKTDetailPanel {
    std::vector<TKTDetailGroup> Groups;
    const char* ButtonCaption;
};
const TKTDetailPanel* KTDetailPanel(KTTable table);

// The labels of the report lines the jumps look for; each is followed
// directly by a nine-character IK.
inline constexpr const char* KTLabelVersKarte = " Vers.Karte  :   ";
inline constexpr const char* KTLabelKostentraeger = " Kostenträger:   ";
inline constexpr const char* KTLabelDatenPhysisch = " Daten physisch: ";
inline constexpr const char* KTLabelPapier = " Papier:         ";

// The e-mail address a new IK's transfer row gets until the user types the real one.
inline constexpr const char* KTPlaceholderEmail = "bitte-eintragen@example.invalid";

class TKTMaintenance {
public:
    // What changed, for the window.
    enum class Change {
        Table,    // another table (or none) is shown: columns, panel, filter
        Column,   // the marked column
        Search,   // the search text (set by a jump)
        Report,   // the report text
        Data,     // rows were added, changed, deleted or saved
        Gone      // this object ends (with the controller): nothing may reach it any more
    };
    std::function<void(Change)> OnChange;
    // Takes into the tables what the window still holds (a detail field being
    // typed in); runs before saving and before the question at closing.
    std::function<void()> OnCommit;

    // store: the directory, null while it is not loaded. einrichtung: the
    // provider's state and district for the report. ui: the question before
    // deleting and before closing with unsaved changes.
    TKTMaintenance(std::function<TSGBKTStore*()> store, const TEinrichtung& einrichtung, IUserInterface& ui);
    ~TKTMaintenance();
    TKTMaintenance(const TKTMaintenance&) = delete;
    TKTMaintenance& operator=(const TKTMaintenance&) = delete;

    // ---- the table shown
    // "Auswahl" and the two check boxes, which take effect for "Kostenträger"
    // only: the filter text is built from " ISVERWEIS <> 'T' AND" ("ohne
    // Verweisungen") and " ISDATEN = 'T' AND" ("Daten-Empfänger") without
    // the last " AND"; the other tables are shown unfiltered. The first
    // column becomes the marked one.
    void ChooseTable(KTTable table);
    void SetOhneVerweisungen(bool on);
    void SetDatenEmpfaenger(bool on);
    bool HasChoice() const { return chosen_; }
    KTTable Shown() const { return table_; }
    bool OhneVerweisungen() const { return ohneVerweisungen_; }
    bool DatenEmpfaenger() const { return datenEmpfaenger_; }
    // The filter of KT_BASE the check boxes make; "" for none.
    std::string FilterText() const;
    // The shown table; null while the directory is not loaded (or let go).
    Table* ShownTable() const;
    const TGridColumns& Columns() const { return columns_; }
    const TKTDetailPanel* Panel() const { return chosen_ ? KTDetailPanel(table_) : nullptr; }

    // The tab is shown: the first time "Kostenträger", afterwards the choice
    // made before, applied again. The tab is left: the tables back in the
    // orders they had when it was shown, unfiltered. The store is about to
    // go: nothing is shown any more.
    void Enter();
    void Leave();
    void Detach();

    // ---- column, sorting, searching
    // The marked column's field (the one a search looks in); "" for none.
    const std::string& MarkedField() const { return marked_; }
    void MarkColumn(const std::string& field);
    // Sorts the shown table by the field and marks it; a field the table
    // cannot be sorted by leaves the order as it was.
    void SortBy(const std::string& field);
    // "Sucheingabe": sorts by the marked field (K_IK when none is marked) and
    // makes the first row current whose field starts with the text, letter
    // case ignored; no such row: the current row stays.
    void Search(const std::string& text);
    const std::string& SearchText() const { return search_; }

    // ---- editing
    // Refuses (Error) a value the directory cannot take: the IK columns must
    // hold nine digits (DATEN_IK may also be "*"), or be empty where an IK
    // is optional.
    void CheckValue(const std::string& field, const Value& value) const;
    // The current row's field as the detail panel shows it.
    std::string FieldText(const std::string& field) const;
    // A detail field was changed: read, checked and posted to the current
    // row of the shown table. Unchanged text changes nothing.
    void SetField(const std::string& field, const std::string& text);
    // A detail field is being typed in and not yet taken.
    void SetEditing(bool editing);
    // KT_BASE, KT_TRANSFER or KT_ANSCHRIFT holds a change not yet saved.
    bool HasUnsavedChanges() const;
    // "Speichern" may be used: a change is not saved or is being typed.
    bool SaveEnabled() const;

    // ---- commands of the tab
    // "Speichern": posts a pending edit, then saves KT_BASE, KT_TRANSFER and
    // KT_ANSCHRIFT. A failure (disk full, no permission) leaves the file as
    // it was and the changes pending, and says so.
    void actKTSpeichernExecute();
    // "Daten anzeigen": the report of the current row's IK.
    void actKTDatenAnzeigenExecute();
    const std::string& ReportText() const { return report_; }
    // Adds the IK in the search field ("%s ist keine gültige IK" when it is
    // not nine digits) after saving: a KT_BASE row (KT_ART "99",
    // KT_KASSENART "EK"), an address of kind "1" and an e-mail channel with a
    // placeholder address, both valid from 01.01.2012. The new rows wait for
    // "Speichern".
    void actKTAddExecute();
    // Deletes the IK in the search field with its addresses and channels
    // after asking "IK %s löschen?", then saves. An IK the directory does not
    // hold is left alone.
    void actKTDeleteExecute();
    // The jumps from the report: the IK after the line's label is looked up
    // in its table.
    void actKTZeigeKostentraegerExecute();
    void actKTZeigeVersichertenkarteExecute();
    void actKTZeigeAnschriftExecute();
    void actKTZeigeVersandkanalExecute();

    // Before the program ends: unsaved changes are saved ("Ja"), dropped
    // ("Nein"), or the program stays open ("Abbrechen"; also when saving
    // fails). True when the program may end.
    bool ConfirmClose();

private:
    TSGBKTStore* Store() const;
    Table* TableOf(KTTable table) const;
    void Notify(Change change);
    void ApplyChoice();
    // Shows the IK after the label in the target table; false when the report has none.
    bool Jump(const char* label, KTTable target, bool resolveFirst);
    void SaveTables();

    std::function<TSGBKTStore*()> store_;
    const TEinrichtung& einrichtung_;
    IUserInterface& ui_;
    bool chosen_ = false;
    bool detached_ = false;
    KTTable table_ = KTTable::Kostentraeger;
    bool ohneVerweisungen_ = false;
    bool datenEmpfaenger_ = false;
    TGridColumns columns_;
    std::string marked_;
    std::string search_;
    std::string report_;
    bool editing_ = false;
    // The tables' orders when the tab was shown, given back when it is left.
    std::vector<std::pair<Table*, std::string>> found_;
};

} // namespace brenvo
