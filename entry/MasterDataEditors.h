#pragma once

// What the three master-data windows decide, without the windows: the
// tariffs with their positions ("Verwaltung: Tarife"), the saved addresses
// ("Adressen") and the templates of insured persons ("Vorlagen:
// Versicherte", for maintenance from the main window and for choosing a
// template in the entry window). Each names its grids' columns, checks and
// stores what is typed into a cell (a refused input leaves the row as it
// was), inserts and deletes rows, and writes its table when the window
// closes.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "entry/dm_verwaltung.h"
#include "lib/Basics/GridColumns.h"
#include "lib/base/UserInterface.h"

namespace brenvo {

// The standard question before a row is deleted.
inline constexpr const char* kDeleteRowQuestion = "Datensatz löschen?";

// "Verwaltung: Tarife".
class TTarifeEditor {
public:
    static constexpr const char* kTitle = "Verwaltung: Tarife";

    explicit TTarifeEditor(TdmVerwaltung& dm);

    // Opens the tariffs (ordered by name, their positions by Art and Tarif).
    void Open();
    Table& Tarife() { return dm_.Tarife(); }
    // The positions of the current tariff; null when there is no tariff.
    Table* Positions();

    static TGridColumns TarifColumns();
    static TGridColumns PositionColumns();
    // "Leistungspositionen für Tarif " and the current tariff's name.
    std::string PositionsHeading();
    // The legend of the kinds, one line each.
    static const std::vector<std::string>& Legend();
    // The kinds a position may have: "K", "P", "W", "S", "X", "T".
    static const std::vector<std::string>& Kinds();

    // A new tariff named "Neuer Tarif" (with a number when that name is
    // taken), current; its positions follow.
    void InsertTarif();
    // Deletes the current tariff with its positions after the question.
    bool DeleteTarif(IUserInterface& ui);
    // A new position of the current tariff (kind "P", quantity rules of its kind).
    void InsertPosition();
    bool DeletePosition(IUserInterface& ui);
    // Typed text for a cell of the current tariff / position. A tariff
    // needs a name no other tariff has (letter case ignored); a kind is one
    // of Kinds(); a price is a currency amount.
    void SetTarifCell(const std::string& field, std::string_view text);
    void SetPositionCell(const std::string& field, std::string_view text);

    // Writes the stored changes; false (after showing why) when the file
    // could not be written: the window stays open and nothing is lost.
    bool Close(IUserInterface& ui);

private:
    TdmVerwaltung& dm_;
};

// "Adressen" (heading "gespeicherte Adressen").
class TAdressenEditor {
public:
    static constexpr const char* kTitle = "Adressen";
    static constexpr const char* kHeading = "gespeicherte Adressen";

    explicit TAdressenEditor(TdmVerwaltung& dm);
    void Open();
    Table& Adressen() { return dm_.Adressen(); }
    static TGridColumns Columns();
    void Insert();
    bool Delete(IUserInterface& ui);
    void SetCell(const std::string& field, std::string_view text);
    // Stores a pending edit; when the table changed it is written and read
    // again. Addresses left completely empty are dropped first.
    bool Close(IUserInterface& ui);

private:
    TdmVerwaltung& dm_;
};

// "Vorlagen: Versicherte".
class TVersicherteEditor {
public:
    static constexpr const char* kTitle = "Vorlagen: Versicherte";

    enum class Mode {
        Maintenance,   // from the main window: the list is edited
        Selection      // from the entry window: a template is chosen
    };

    TVersicherteEditor(TdmVerwaltung& dm, Mode mode);
    Mode GetMode() const { return mode_; }
    void Open();
    Table& Versicherte() { return dm_.Versicherte(); }
    static TGridColumns Columns();
    bool Editable() const { return mode_ == Mode::Maintenance; }

    // "Filter (Nachname)": only templates whose surname begins with the text
    // (ignoring case); a blank text switches the filter off.
    void SetFilter(std::string_view text);
    const std::string& FilterText() const { return filter_; }
    // "12 Vorlagen" while filtering, "" otherwise.
    std::string CountText() const;

    void Insert();
    bool Delete(IUserInterface& ui);
    void SetCell(const std::string& field, std::string_view text);

    // "Auswahl in Verordnung übernehmen" (Enter, double click, F10) and "Abbruch".
    void Confirm() { confirmed_ = true; }
    void Cancel() { confirmed_ = false; }
    // Closing: the table is written when it changed; confirming while the
    // filter shows nothing counts as cancelled; the filter goes and the
    // template that was current stays current. False (after showing why)
    // when the file could not be written.
    bool Close(IUserInterface& ui);
    // After Close: a template was chosen (it is the current one).
    bool Chosen() const { return chosen_; }

private:
    TdmVerwaltung& dm_;
    Mode mode_;
    std::string filter_;
    int count_ = -1;
    bool confirmed_ = false;
    bool chosen_ = false;
};

} // namespace brenvo
