#pragma once

// The cost-bearer directory: the five cost-bearer tables held in memory for
// the whole run, and the lookups that resolve an IK to its cost bearer, its
// logical and physical data recipients, its paper office, its addresses and
// the e-mail address of its data recipient.
//
// Ownership: the controller (main window) owns one TSGBKTStore and the
// settings record TSystem it was created with; the settings must outlive the
// store. The store reads DAKOTA_ANN_CHECK from that record whenever GetKTInfo
// runs, so a changed setting takes effect at the next lookup.
//
// The tables are open to other code (maintenance view, acceptance-office
// import, invoice print): they may sort, filter, move, edit and save them.
// The lookups honour whatever sort order and filter a table has at the
// moment of the call; call ResetIndexes first to get the directory's own
// orders (the processing run and GetKTReport do so). Lookups position on
// the first matching row through the table index (binary search on the
// leading index columns) and then step on row by row while the key holds.
//
// Every lookup moves the current row of the tables it reads; only
// GetKTReport puts the rows back. GetDatenIKPhys (and so GetKTInfo) sorts
// KT_ZUORDN by KTZuordnPhysOrder before it looks for physical links and
// leaves it so. A table that is not loaded (or was closed
// by EnsureDtaRefField) counts as empty.
//
// Failures are brenvo::Error with the German messages the users know.

#include <cstdint>
#include <memory>
#include <string>

#include "lib/base/DateTime.h"
#include "lib/base/Settings.h"
#include "lib/dataset/Table.h"

namespace brenvo {

// The resolved institutions of one IK. Every field holds at most its
// capacity in characters; a longer value is cut when the store fills it.
// An IK as a letter is addressed to it: its short name and its first
// address of kind "2" (post-office box), else of kind "1" (street).
struct TKTPostalAddress {
    bool Found = false;       // the IK has a KT_BASE row
    std::string KurzBez;      // KT_KURZBEZ, "" without a row
    std::string Art;          // "2", "1", or "" when the IK has neither
    std::string Strasse, Plz, Ort;
};

struct TKTPrintAddresses {
    std::string PapierIK;     // GetPapierIK: the paper office, or the IK itself
    TKTPostalAddress Kostentraeger, Papier;
};

struct TKTInfo {
    static constexpr size_t IKCapacity = 9;
    static constexpr size_t EmailCapacity = 40;
    static constexpr size_t TextCapacity = 100;

    std::string IK;             // the IK asked for
    std::string KTIK;           // its cost bearer
    std::string DatenIKLog;     // logical data recipient of the cost bearer
    std::string DatenIKPhys;    // physical data recipient of the cost bearer
    std::string Email;          // e-mail address of the physical data recipient
    std::string PapierIK;       // paper office of the cost bearer
    std::string IKText;         // short name, ".", address (kind "1") of IK
    std::string KTText;         // the same for KTIK
    std::string DatenLogText;   // the same for DatenIKLog
    std::string DatenPhysText;  // the same for DatenIKPhys
    std::string PapierText;     // the same for PapierIK, address kind "3" preferred

    // Empties every field; the strings keep their memory for the next answer.
    void Clear() {
        for (std::string* s : {&IK, &KTIK, &DatenIKLog, &DatenIKPhys, &Email, &PapierIK, &IKText, &KTText,
                               &DatenLogText, &DatenPhysText, &PapierText})
            s->clear();
    }
    bool operator==(const TKTInfo&) const = default;
};

class TSGBKTStore {
public:
    // Default sort orders of the tables.
    static constexpr const char* KTBaseOrder = "K_IK";
    static constexpr const char* KTZuordnLoadOrder =
        "K_IK;Z_ART;ISDATEN;Z_LESTANDORTLAND;Z_LESTANDORTBEZIRK;Z_VALIDFROM";
    static constexpr const char* KTZuordnResetOrder =
        "K_IK;Z_ART;Z_LEART;ISDATEN;Z_LESTANDORTLAND;Z_LESTANDORTBEZIRK;Z_VALIDFROM";
    // The order GetDatenPhysDirect leaves KT_ZUORDN in: a row for a specific
    // state or district comes before the "99" row.
    static constexpr const char* KTZuordnPhysOrder = "K_IK;Z_ART;Z_LESTANDORTLAND;Z_LESTANDORTBEZIRK";
    static constexpr const char* KTAnschriftOrder = "K_IK";
    static constexpr const char* KTTransferOrder = "K_IK";
    static constexpr const char* KTKeyOrder = "KTS_SNAME;KTS_KEY";

    // The FIELD element that EnsureDtaRefField adds to old KT_BASE files (the
    // controller adds the same one to the order archive).
    static constexpr const char* DtaRefFieldElement = "<FIELD attrname=\"DTAREF\" fieldtype=\"string\" WIDTH=\"9\"/>";

    explicit TSGBKTStore(const TSystem& system);
    ~TSGBKTStore();
    TSGBKTStore(const TSGBKTStore&) = delete;
    TSGBKTStore& operator=(const TSGBKTStore&) = delete;

    // ---- loading
    // Each reads the whole data-packet file into its table (again, when
    // called a second time), sets the table's default sort order and, except
    // for KT_ZUORDN, remembers the file name. A missing or unreadable file
    // fails with the reader's message; the table keeps what it held.
    void LoadKTBase(const std::string& fileName);
    void LoadKTZuordn(const std::string& fileName);
    void LoadKTAnschrift(const std::string& fileName);
    void LoadKTTransfer(const std::string& fileName);
    void LoadKTKey(const std::string& fileName);

    // Switches the filters of KT_BASE, KT_ZUORDN, KT_ANSCHRIFT and
    // KT_TRANSFER off (their filter texts stay) and sets the lookup orders
    // "K_IK" and KTZuordnResetOrder.
    void ResetIndexes();

    // ---- the tables, for the maintenance view, the import and the print
    Table& KTBase() { return base_; }
    Table& KTZuordn() { return zuordn_; }
    Table& KTAnschrift() { return anschrift_; }
    Table& KTTransfer() { return transfer_; }
    Table& KTKey() { return key_; }
    const std::string& KTBaseFileName() const { return baseFile_; }
    const std::string& KTAnschriftFileName() const { return anschriftFile_; }
    const std::string& KTTransferFileName() const { return transferFile_; }
    const std::string& KTKeyFileName() const { return keyFile_; }

    // ---- the DTAREF counter
    // Advances and returns the data-transfer reference of the recipient IK:
    // Default when KT_BASE has no DTAREF column, -1 when the IK has no row,
    // else the stored number + 1 (1001 after an empty or non-numeric value).
    int64_t NextDtaRef(const std::string& ik, int64_t defaultValue);
    // Makes the recipient's counter at least `value` (a reference an order
    // was written with), so that it is never drawn again; false when KT_BASE
    // has no DTAREF column or no row for the IK.
    bool RaiseDtaRef(const std::string& ik, int64_t value);
    // Saves KT_BASE to its file when force is set or a counter advanced.
    void SaveKTBase(bool force);
    // KT_BASE holds a counter that is not saved yet.
    bool Modified() const { return modified_; }

    // Adds the DTAREF column to the KT_BASE file (see AddFieldToXmlFile); the
    // table stays closed until the next start.
    void EnsureDtaRefField();
    // Adds a column to a table file in place: when the open table lacks the
    // column, closes the table and inserts fieldElement before the first
    // "</FIELDS>" of the file. Returns whether it changed the file. A closed
    // table whose file already declares the column is left alone (false).
    static bool AddFieldToXmlFile(Table& table, const std::string& columnName, const std::string& fileName,
                                  const std::string& fieldElement);

    // ---- lookups
    void ValidateIK(const std::string& ik, const std::string& context);
    std::string GetIKPretty(const std::string& ik, bool raiseOnError);
    std::string GetKurzBez(const std::string& ik);
    bool IsKostentraeger(const std::string& ik);
    std::string GetVerweisIK(const std::string& ik);
    std::string GetKostentraegerIK(const std::string& ik);
    void ValidateVerweis(const std::string& ikFrom, const std::string& ikTo);
    std::string GetDatenIKLog(const std::string& ik, const std::string& land, const std::string& bezirk, TDateTime date);
    std::string GetDatenIKPhys(const std::string& ik, const std::string& land, const std::string& bezirk, TDateTime date);
    std::string GetPapierIK(const std::string& ik, const std::string& land, const std::string& bezirk, TDateTime date);
    std::string GetEmailAddr(const std::string& ik, bool raiseOnError, bool checkDakota, TDateTime date);
    // kind "1" street, "2" post-office box, "3" large-customer address.
    std::string GetAnschrift(const std::string& ik, const std::string& kind);

    // Fills info step by step; on a failure the fields filled so far keep
    // their values and the Error propagates.
    void GetKTInfo(const std::string& ik, const std::string& land, const std::string& bezirk, TDateTime date,
                   TKTInfo& info);
    TKTInfo GetKTInfo(const std::string& ik, const std::string& land, const std::string& bezirk, TDateTime date);

    // The resolution as a text of lines joined by CR LF (the maintenance
    // view's "Daten anzeigen"). Resets the indexes for the lookups and
    // afterwards puts back the current rows of the four tables and KT_BASE's
    // sort order and filter (on or off as it was); KT_ZUORDN, KT_ANSCHRIFT
    // and KT_TRANSFER keep the lookups' orders, unfiltered. Views subscribed
    // to the tables get one Reset at the end.
    std::string GetKTReport(const std::string& ik, const std::string& land, const std::string& bezirk, TDateTime date);

    // What the printed invoice names of its cost bearer: the paper office of
    // ik (GetPapierIK) and the short names and postal addresses of ik and of
    // that office. Orders and positions are kept as GetKTReport keeps them.
    TKTPrintAddresses GetPrintAddresses(const std::string& ik, const std::string& land, const std::string& bezirk,
                                        TDateTime date);

private:
    struct Columns;
    struct BaseRow;
    struct Memo;

    // Internal steps.
    std::string GetBaseDatenIK(const std::string& ik);
    std::string FindDatenLink(const std::string& ik, const std::string& land, const std::string& bezirk,
                              TDateTime date);
    std::string GetDatenPhysDirect(const std::string& ik, const std::string& land, const std::string& bezirk);
    std::string GetPapierDirect(const std::string& ik);

    enum class LinkFilter { Plain, Paper };
    std::string ScanLinks(const std::string& ik, const char* art, const std::string& land, const std::string& bezirk,
                          TDateTime date, LinkFilter filter);
    std::string ScanLinksUncached(const std::string& ik, const char* art, const std::string& land,
                                  const std::string& bezirk, TDateTime day, LinkFilter filter);
    bool LocateBase(const std::string& ik);
    void AnschriftInto(const std::string& ik, const std::string& kind, std::string& out);
    TKTPostalAddress PostalAddress(const std::string& ik);
    // GetAnschrift's and GetIKPretty's answers without copying them: valid
    // until the next lookup.
    const std::string& AnschriftRef(const std::string& ik, const std::string& kind);
    std::string_view PrettyRef(const std::string& ik);
    // The KT_BASE columns the lookups read, from the row of ik.
    const BaseRow& Base(const std::string& ik);

    const TSystem& system_;
    Table base_, zuordn_, anschrift_, transfer_, key_;
    std::string baseFile_, anschriftFile_, transferFile_, keyFile_;
    bool modified_ = false;
    std::unique_ptr<Columns> cols_;
    Memo* memo_ = nullptr;   // answers remembered while one GetKTInfo runs
    std::unique_ptr<Memo> memoStore_;
};

} // namespace brenvo
