#pragma once

// The import of the insurers' cost-bearer files (KotrFile.h) into the five
// cost-bearer tables, replacing the directory in "Stammdaten" as one step.
//
// Rows:
// - KT_BASE: one row per IK named by an entry of the files; name, address
//   and validity from its first entry in the order AO, BK, IK, BN, LK, EK
//   (further kinds after them); the flags, referral counts and chains from
//   the links of all files.
// - KT_ZUORDN: one row per link (paper links merged per office and code,
//   one row per paper key); identical links once; ordered as the lookups
//   need it.
// - KT_ANSCHRIFT: the addresses of an IK's first entry.
// - KT_TRANSFER: at most one e-mail channel ("070") per IK, the first one
//   the files give.
// - KT_KEY: the federal states (list "KT804").
// Entries cancelled (FKT "03") or expired before the list's start, and
// links, addresses and channels whose own validity (VDT) ended before it,
// are left out; every entry and link left out is counted in the log.
//
// The filter for patient transport (on unless allLinks): data and paper
// links ("02", "03", "09") are kept only for the provider kinds "00",
// "40", "46" and "99", so that the lookups, which take the first matching
// link, find the office a taxi or hire-car company must use. Referrals
// ("01") are always kept.
//
// What outlives an import (CarryOver): the DTAREF counter of every IK that
// has one, so that a data acceptance office never gets an interchange
// reference twice (an IK the files no longer name keeps a row for its
// counter, marked as ended), and the KT_TRANSFER rows created by
// "Annahmestellen lesen" for IKs the files give no e-mail channel; the
// DAKOTA mark of an IK's channel stays true for the new channel.
//
// Write replaces the five files and the record of the import in one step
// (FileSet.h); RecoverCostBearerFiles completes or rolls back an import a
// crash interrupted and is called before the tables are loaded.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "costbearer/KotrFile.h"
#include "lib/base/DateTime.h"
#include "lib/base/FileSet.h"
#include "lib/dataset/Table.h"

namespace brenvo {

// The files of the cost-bearer directory in "Stammdaten".
struct KtDirectoryFiles {
    static constexpr const char* Base = "KT_BASE.XML";
    static constexpr const char* Zuordn = "KT_ZUORDN.XML";
    static constexpr const char* Anschrift = "KT_ANSCHRIFT.XML";
    static constexpr const char* Transfer = "KT_TRANSFER.XML";
    static constexpr const char* Key = "KT_KEY.XML";
    // What the last import wrote, to recognise rows changed by hand since.
    static constexpr const char* Record = "KT_IMPORT.TXT";
    // Present only while an import replaces the files.
    static constexpr const char* Journal = "KT_IMPORT.JOURNAL";
};

// Completes an import that a crash interrupted after its files were
// complete, or removes what one that stopped earlier had written.
FileSetRecovery RecoverCostBearerFiles(const std::string& dir);

struct CostBearerTables {
    Table KTBase, KTZuordn, KTAnschrift, KTTransfer, KTKey;
};

class KotrImport {
public:
    using LogFn = std::function<void(const std::string&)>;

    // The provider kinds the filter keeps.
    static const std::vector<std::string>& TransportCodes();
    static constexpr const char* LogPrefix = "Kostenträger-Import: ";

    // allLinks: keep the data and paper links for every kind of provider.
    // today: decides which files are in force. log: receives the log lines.
    KotrImport(bool allLinks, TDateTime today, LogFn log = nullptr);
    ~KotrImport();
    KotrImport(const KotrImport&) = delete;
    KotrImport& operator=(const KotrImport&) = delete;

    // Reads and checks one file; fails with the reader's message.
    void ReadFile(const std::string& path);
    void AddFile(KotrFile file);

    // Chooses one file per kind of insurer (of several, the one whose
    // validity started last on or before today; the others are named in the
    // log) and maps their entries. Fails, and nothing is built, when a file
    // is not for providers under § 302 SGB V (procedure "05") or a kind of
    // insurer has no file in force yet.
    void Build();

    // Takes over what must outlive the import from the current tables
    // (their filters are ignored); call after Build.
    void CarryOver(Table& currentBase, Table& currentTransfer);

    // The new tables.
    CostBearerTables Tables() const;

    // Writes the five tables and the record into dir as one step.
    void Write(const std::string& dir) const;

    // The IKs whose rows in KT_BASE, KT_ANSCHRIFT or KT_TRANSFER differ from
    // what the last import into dir wrote (changed, added or deleted by
    // hand), sorted. DTAREF counters, DAKOTA marks and the rows of
    // "Annahmestellen lesen" do not count. Without a record of an import of
    // this directory, the IKs whose KT_BASE row names its own data recipient
    // or paper office (rows an import never writes).
    static std::vector<std::string> HandEditedIKs(const std::string& dir, Table& base, Table& anschrift,
                                                  Table& transfer);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace brenvo
