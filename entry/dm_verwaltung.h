#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lib/dataset/Table.h"

namespace brenvo {

// What the tariffs say about one position number: its kind ("K" kilometres,
// "P" flat rate, "W" waiting time, "S" other, "X" discount, "T" meter price),
// the discount percentage and the km threshold. A position number found in no
// tariff has no kind, percentage 0 and threshold 0.
struct PositionKind {
    std::string art;
    double pctAbschlag = 0.0;
    double freikm = 0.0;
    std::string tarifbez;   // the tariff that decided

    bool IsDiscount() const { return pctAbschlag != 0.0; }
};

// The master data of invoice entry: the tariffs with their positions, the
// saved addresses, the templates of insured persons and the id counters.
// Each lives in a table file of the master-data directory and is held in
// memory while open.
//
// A table file that is missing opens as an empty table (a new installation);
// a file that cannot be read fails with the table engine's message and the
// table stays closed, so that nothing overwrites it. Columns a file lacks are
// added empty; columns the program does not know are kept.
class TdmVerwaltung {
public:
    explicit TdmVerwaltung(std::string stammdatenDir);
    ~TdmVerwaltung();
    TdmVerwaltung(const TdmVerwaltung&) = delete;
    TdmVerwaltung& operator=(const TdmVerwaltung&) = delete;

    const std::string& Directory() const { return dir_; }
    std::string TarifeFile() const;        // "tarife.xml"
    std::string AdressenFile() const;      // "Adressen.xml"
    std::string VersicherteFile() const;   // "Versicherte.xml"
    std::string SeqFile() const;           // "SEQ.xml"

    // The record layouts.
    static std::vector<FieldDef> TarifdetailFields();
    static std::vector<FieldDef> TarifeFields();       // with the nested "Tarifdetail"
    static std::vector<FieldDef> AdressenFields();
    static std::vector<FieldDef> VersicherteFields();
    static std::vector<FieldDef> SeqFields();
    static constexpr const char* kTarifdetail = "Tarifdetail";

    // ---- tariffs: ordered by Tarifbez, the positions of a tariff by Art, then Tarif
    Table& Tarife() { return tarife_; }
    void OpenTarife();           // loads the file when the table is closed
    // Writes the stored changes of tariffs and positions (when there are any).
    void SaveTarife();
    void CloseTarife();

    // The kind of a position by its number: the tariffs are taken in Tarifbez
    // order and the first one holding a position with exactly this number
    // decides. Opens the tariffs when they are closed. Served from an index
    // that is rebuilt after the tariffs or their positions changed.
    PositionKind KindOf(std::string_view posNum);

    // ---- addresses: ordered by strasse, plz, ort
    Table& Adressen() { return adressen_; }
    void OpenAdressen();
    // What closing an address user does: a pending edit is stored; when the
    // table has changes it is written, closed and opened again.
    void FlushAdressen();
    void CloseAdressen();
    // Makes the address with this postcode, town and street current
    // (ignoring letter case); false when there is none.
    bool LocateAdresse(std::string_view plz, std::string_view ort, std::string_view strasse);

    // ---- templates of insured persons: ordered by Nachname, then Vorname
    Table& Versicherte() { return versicherte_; }
    // While loading, the status text reads "Vorlagen Versicherte laden...",
    // afterwards "Vorlagen geladen: " and the loading time as minutes and
    // seconds ("00:01").
    void OpenVersicherte();
    void FlushVersicherte();     // as FlushAdressen
    void CloseVersicherte();
    std::function<void(const std::string&)> OnStatus;

    // Whether any template's Nachname begins with the text, ignoring letter
    // case (the suggestion while a surname is typed). Does not move the table.
    bool HasVorlageWithPrefix(std::string_view nachnamePrefix);
    // The filter of the template list: an empty (trimmed) text switches it
    // off and returns -1; otherwise only templates whose Nachname begins with
    // the text (ignoring case) stay visible and their number is returned.
    int SetVorlagenFilter(std::string_view nachnamePrefix);
    // Makes the template of this person current: VersNum, Nachname, Vorname
    // compared ignoring letter case, Geb as a date. False when there is none.
    bool LocateVorlage(std::string_view versNum, std::string_view nachname, std::string_view vorname, TDateTime geb);

    // Puts the open tables back into their orders (tariffs by Tarifbez and
    // their positions by Art and Tarif, addresses by strasse, plz, ort,
    // templates by Nachname, Vorname) after a window sorted them otherwise.
    void RestoreOrders();

    // ---- id counters
    // Hands out the next value of the named counter (RechID, SaRechNr,
    // ARechID, AbrFallID, VONum, LeistID, MEINEID; the name in any letter
    // case) and writes the counter file at once, so that the file always
    // holds the value just returned. When the file cannot be written the
    // counter stays as it was and the call fails.
    int64_t NextID(std::string_view counterName);
    Table& Seq() { return seq_; }

private:
    struct Watch;

    void Open(Table& t, const std::string& path, const std::vector<FieldDef>& layout);
    void Flush(Table& t, const std::string& path, const std::vector<FieldDef>& layout);
    void OrderTarife();
    void BuildKindIndex();
    void BuildPrefixIndex();

    std::string dir_;
    Table tarife_;
    Table adressen_;
    Table versicherte_;
    Table seq_;
    std::shared_ptr<Watch> watch_;
};

} // namespace brenvo
