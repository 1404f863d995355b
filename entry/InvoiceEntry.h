#pragma once

// What the invoice entry window decides, without the window: one invoice
// document opened from its file and edited record by record on its four
// levels (header, cases, trips, positions), with the insert defaults, the
// ids drawn from the counters, the store checks of header and case and
// their messages, saving and reloading, the recomputation of the sums, the
// trip list's direct edits, the templates of insured persons and the
// multi-person transport. The window (TformXMLRechnung6) maps its widgets
// onto this class and shows what it asks for; the trip window works on a
// TTripEntry that this class prepares.
//
// Records are edited as in the table engine: a field written while its
// level is in Browse state puts the level into Edit state; storing posts
// it, and the checks of header and case run before every store of those
// levels (also when the recomputation stores them). A refused store shows
// its warning, puts the cursor on the first missing field and leaves the
// record in edit state.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "billing/InvoiceDocument.h"
#include "entry/dm_verwaltung.h"
#include "lib/base/Error.h"
#include "lib/base/UserInterface.h"
#include "lib/dataset/Table.h"

namespace brenvo {

class TTripEntry;

enum class EntryMode { View, Edit };

// One cost bearer of the cost-bearer directory for the two lists of the header.
struct TCostBearerChoice {
    std::string ik;        // K_IK
    std::string kurzBez;   // KT_KURZBEZ
};

// What invoice entry needs from the rest of the program.
class IInvoiceEntryHost {
public:
    virtual ~IInvoiceEntryHost() = default;
    // The short name of a cost bearer ("*** keine Angaben ***" when the
    // directory does not hold the IK); may fail.
    virtual std::string CostBearerName(const std::string& ik) = 0;
    // Every cost bearer of the directory (ISKT "T"), in any order.
    virtual std::vector<TCostBearerChoice> CostBearers() = 0;
    // Remembers the cost bearer for the next new invoice ("Letzte_KT_IK").
    virtual void RememberCostBearer(const std::string& ik) = 0;
    // A value of "brenvo.ini" ("" when it has none), and changing one (the
    // trip window's address list layout "Auswahl_Adresse").
    virtual std::string IniValue(const std::string& /*name*/) { return {}; }
    virtual void SetIniValue(const std::string& /*name*/, const std::string& /*value*/) {}
};

// The destination and remark of the template last applied to the current
// case; the trip window takes the destination of new trips from them.
struct TTemplateExtras {
    std::string ZStrasse, ZPlz, ZOrt, bem;
    bool Empty() const { return ZStrasse.empty() && ZPlz.empty() && ZOrt.empty() && bem.empty(); }
};

// The header of a new invoice as the main window fills it.
struct TNewInvoiceHeader {
    std::string SaRechNr;            // the number the user typed
    std::string EinzelRechNr = "1";
    TDateTime RechDatum;             // today
    std::string IKLE, Name1, Name2, Name3;   // the provider's IK, name, street, postcode and town
    std::string IKKT;                // the cost bearer of the last invoice ("Letzte_KT_IK")
};

// A store of header or case refused by the checks; the user has been told.
class TStoreRefused : public Error {
public:
    TStoreRefused() : Error("Speichern abgebrochen") {}
};

// How the trip window was left.
enum class TripEntryResult { Cancelled, Saved, SavedWithReturn };

// A choice of a code field: the stored value and what the list shows.
struct TCodeChoice {
    std::string value;
    std::string text;
};

class TInvoiceEntry {
public:
    static constexpr const char* kRemarkHint = "Bemerkungen / Info";
    static constexpr const char* kSurnameHint = "Patient Nachname, 47 Stellen";
    static constexpr const char* kSurnameMatchHint = "Patient Nachname -> Übereinstimmungen in Vorlagen gefunden";

    TInvoiceEntry(TdmVerwaltung& dm, IUserInterface& ui, IInvoiceEntryHost& host);
    ~TInvoiceEntry();
    TInvoiceEntry(const TInvoiceEntry&) = delete;
    TInvoiceEntry& operator=(const TInvoiceEntry&) = delete;

    TdmVerwaltung& Verwaltung() { return dm_; }
    IUserInterface& UI() { return ui_; }
    IInvoiceEntryHost& Host() { return host_; }

    // ------------------------------------------------------------ the window's hooks
    // The document was loaded, reloaded or closed: views re-attach to its tables.
    std::function<void()> OnReset;
    // Put the cursor on a field of a level (a check failed, a case was inserted, ...).
    std::function<void(InvoiceLevel level, const std::string& field)> OnFocus;
    // The trip window: shown on a prepared trip entry, returns how it was left.
    std::function<TripEntryResult(TTripEntry& entry)> EditTrips;

    // ------------------------------------------------------------ opening and mode
    // Loads the invoice file (an empty path closes the document) and switches
    // to view mode. A missing file fails with "Datei %s nicht gefunden." and
    // leaves everything as it was.
    void Open(const std::string& path);
    bool IsOpen() const { return open_; }
    void SetMode(EntryMode mode);
    EntryMode Mode() const { return mode_; }
    bool EditMode() const { return mode_ == EntryMode::Edit; }
    // The file shown in the status line, and the window's title.
    const std::string& Path() const { return path_; }
    const std::string& Title() const { return title_; }
    // What the main window does for a new invoice after Open and SetMode(Edit):
    // the header in edit state with these values, the title, the cursor on
    // the invoice date.
    void PrepareNewInvoice(const TNewInvoiceHeader& header);
    // The window became active: recomputes in edit mode when there is a case.
    void Activate();

    // ------------------------------------------------------------ levels
    InvoiceDocument& Document() { return doc_; }
    Table& Header() { return doc_.Rechnung(); }
    // The level of the current record above; null when that has none.
    Table* Cases();
    Table* Trips();
    Table* Positions();
    Table* Level(InvoiceLevel level);
    bool HasCase();
    bool Editing(InvoiceLevel level);

    // The text a field shows (and is edited with): dates TT.MM.JJJJ, amounts
    // 1.234,56, numbers with a decimal comma; "" when the level has no record.
    std::string FieldText(InvoiceLevel level, std::string_view field);
    // Typed text becomes the field's value; the level goes into edit state
    // (the case level gets a new case when it has none). Dates take the short
    // forms of the date formatter. Fails with the message for the user; the
    // field keeps its value then. Only in edit mode.
    void SetFieldText(InvoiceLevel level, std::string_view field, std::string_view text);
    // The fields of a level the window edits (header and case); all others are read-only.
    static bool IsEditableField(InvoiceLevel level, std::string_view field);
    // The choices of the code fields (ZuzaKennz, GenArt, Unfall, BVG, BelegInfo); empty for other fields.
    static const std::vector<TCodeChoice>& Choices(std::string_view field);
    // The hint of a field of the entry window; "" when it has none.
    static std::string FieldHint(std::string_view field);

    // ------------------------------------------------------------ header
    // "Änderungen eintragen": stores the header; false when the checks refused it.
    bool StoreHeader();
    // "Änderungen verwerfen" (F3): drops the header's unstored edits.
    void CancelHeader();
    // "Rechnung löschen": the main window deletes the invoice after the window closed.
    void RequestDelete() { deleteRequest_ = true; }
    bool DeleteRequested() const { return deleteRequest_; }

    // The cost bearer's name for the header: the directory's short name,
    // "???" when the lookup fails.
    std::string KTName();
    // The IK list (K_IK order) and the name list (KT_KURZBEZ + " {" + K_IK + "}",
    // in KT_KURZBEZ order), read once.
    const std::vector<std::string>& CostBearerIKs();
    const std::vector<std::string>& CostBearerNames();
    // The IK list edits IKKT directly and remembers it for the next invoice.
    void SetCostBearerIK(std::string_view ik);
    // The name list was left after a change: the IK between "{" and "}" becomes IKKT.
    void ChooseCostBearerName(std::string_view text);

    // ------------------------------------------------------------ cases
    // Inserts a case: cases without IKLE go first; the new case gets its
    // defaults and ids, the cursor goes to the prescription number. Edit mode only.
    bool InsertCase();
    // "Änderungen übernehmen" / "Änderungen verwerfen" of the case.
    bool StoreCase();
    void CancelCase();
    // Deletes the current case with its trips after the standard question;
    // not while the case is being edited.
    bool DeleteCase();
    bool NextCase();
    bool PriorCase();
    bool GotoCase(int64_t abrFallId);
    int64_t CurrentCaseId();
    // The cursor enters the prescription number / Enter in the cost-bearer
    // name list: an invoice without case gets one.
    void EnteringPrescriptionNumber();
    void EnterInCostBearerName();

    // ------------------------------------------------------------ trips
    // "Hinzufügen"/"+" (F2), "Ändern" (F5): the trip window on the current
    // case; "Neu laden" when it was left with "Speichern". False when
    // nothing was written.
    bool AddTrips();
    bool ChangeTrip();
    bool CanAddTrips();
    bool CanChangeTrip();
    // "Löschen"/"-" (Ctrl+Del): the current trip and its positions, no question.
    bool DeleteTrip();
    // A direct edit in the trip list (WagenNr, BruttoSum, ZuZaBetrag, KM):
    // stored at once by the trip-list rules of the money rules.
    void EditTripCell(std::string_view field, std::string_view text);
    static bool IsTripListEditable(std::string_view field);
    // The tariff chosen in the last new-trip entry (chosen again in the next).
    std::string& RememberedTariff() { return rememberedTariff_; }

    // Defaults of a trip or position being inserted (Insert state) into the
    // current case / trip: ids drawn, link fields copied.
    void InitNewTrip(Table& trips);
    void InitNewPosition(Table& positions, const Table& trips);

    // ------------------------------------------------------------ saving
    // Writes the document's pending changes into its file (atomically, always
    // with GenArt); the approval check warns first. False (after the warning)
    // when the file could not be written; the file is then as it was.
    bool Save();
    bool HasPendingChanges();
    // "Speichern" (F10): stores the record being edited, saves and reloads,
    // the case, trip and position that were current stay current.
    bool Speichern();
    // "Neu laden": stores the header, saves, reloads.
    bool NeuLaden();
    // "Speichern und E&xit": true when the window may close.
    bool SpeichernUndExit();
    // Before "Drucken (Kurzform)" (store, recompute, save) and "Drucken
    // (ausführliche Version)" (store, save): true when printing may go on.
    bool PrepareShortPrint();
    bool PrepareDetailedPrint();

    // ------------------------------------------------------------ sums
    // "Neu berechnen" (Ctrl+B): edit mode only. A store refused by the
    // checks stops it (the user has been told) and makes it return false.
    bool Recompute();
    bool RecomputeNeeded() const { return recomputeNeeded_; }   // the button "&berechnen"
    int CaseCount() const { return caseCount_; }
    int TripCount() const { return tripCount_; }
    // "<cases> Verord. mit <trips> Fahrten".
    std::string CountText() const;

    // ------------------------------------------------------------ closing
    // Closes the window's document: unstored changes are dropped, a template
    // invoice ("99999") without date is marked for deletion, the address
    // and template tables are written when changed.
    void Close();

    // ------------------------------------------------------------ templates and hints
    // The current case's template extras (empty unless a template was applied
    // to this case since it became current).
    const TTemplateExtras& TemplateExtras() const { return extras_; }
    const std::string& RemarkHint() const { return remarkHint_; }
    // The surname typed so far matches a template (edit mode only).
    bool SurnameMatchesTemplate(std::string_view typed);
    // Applies the template that is current in the template table to the
    // current case (inserted when there is none). False when nothing was done.
    bool ApplyTemplate();
    // "als Vorlage speichern".
    bool SaveAsTemplate();
    // "Mehrpersonentransport": the first case's trip data for the current
    // case through the trip window. False when nothing was written.
    bool MultiPersonTransport();

    // ------------------------------------------------------------ keyboard
    // The fields Enter moves through, in order ("btnLeistungNeu" last).
    static const std::vector<std::string>& EnterFlow();
    // The field after `field` in the Enter flow; "" when none.
    static std::string NextInFlow(std::string_view field);

private:
    void Load(const std::string& path);
    void InstallHooks();
    void OrderLevels();
    void BeforeHeaderPost(Table& header);
    void BeforeCasePost(Table& cases);
    [[noreturn]] void Refuse(InvoiceLevel level, const std::vector<std::pair<std::string, std::string>>& failures);
    void RequireEdit() const;
    void BeginEdit(Table& t);
    bool StoreLevel(Table& t);
    bool StorePendingEdits();
    void ApprovalCheck();
    void ClearExtras();
    void AfterCaseMove(int64_t before);
    bool RunTripWindow(TTripEntry& entry);
    void Focus(InvoiceLevel level, const std::string& field);
    int64_t NextID(const char* counter) { return dm_.NextID(counter); }

    TdmVerwaltung& dm_;
    IUserInterface& ui_;
    IInvoiceEntryHost& host_;

    InvoiceDocument doc_;
    bool open_ = false;
    std::string path_;
    std::string title_;
    EntryMode mode_ = EntryMode::View;
    bool deleteRequest_ = false;
    bool recomputeNeeded_ = false;
    int caseCount_ = 0;
    int tripCount_ = 0;
    TTemplateExtras extras_;
    std::string remarkHint_ = kRemarkHint;
    std::string rememberedTariff_;
    std::vector<std::string> iks_;
    std::vector<std::string> names_;
};

} // namespace brenvo
