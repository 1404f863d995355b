#pragma once

// A small data directory for orders, archives and billing jobs: a cost-bearer
// directory of a few IKs, the working directories, invoice files built with
// the invoice document, and a callback that records what the archives say.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "billing/InvoiceDocument.h"
#include "common/TempDir.h"
#include "costbearer/U_SGBKTStore.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Settings.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"

namespace jobtest {

using namespace brenvo;

// Providers (senders).
inline const std::string kSender1 = "123456789";
inline const std::string kSender2 = "123456780";
// Cost bearers: K1 and K2 deliver to D1, K3 to D2, K4 to D3.
inline const std::string kKT1 = "101234567";
inline const std::string kKT2 = "102345678";
inline const std::string kKT3 = "103456789";
inline const std::string kKT4 = "104567890";
// Data recipients: D1 hands on to its physical recipient P1; D2 has no
// physical recipient (the lookup fails) but an e-mail row of its own; D3 has
// a physical recipient without any e-mail row.
inline const std::string kD1 = "109000001";
inline const std::string kP1 = "109000002";
inline const std::string kD2 = "109000003";
inline const std::string kD3 = "109000004";
inline const std::string kP3 = "109000005";

// What a callback heard.
struct Heard {
    std::string action;
    int64_t value;
    std::string text;
    bool operator==(const Heard&) const = default;
};

inline void PrintTo(const Heard& h, std::ostream* os) { *os << h.action << "|" << h.value << "|" << h.text; }

// The message of the Error that f throws; "" when it throws none.
template <class F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

inline void WriteKtFiles(const std::string& dir) {
    Table base({FieldDef::Str("K_IK", 9), FieldDef::Str("KT_KURZBEZ", 40), FieldDef::Str("ISKT", 1),
                FieldDef::Str("DATEN_IK", 9), FieldDef::Str("DATENPHYS_IK", 9), FieldDef::Str("PAPIER_IK", 9)});
    auto row = [&](const std::string& ik, const std::string& name, const std::string& isKT, const std::string& daten,
                   const std::string& phys) {
        base.Append();
        base.SetString("K_IK", ik);
        base.SetString("KT_KURZBEZ", name);
        base.SetString("ISKT", isKT);
        if (!daten.empty()) base.SetString("DATEN_IK", daten);
        if (!phys.empty()) base.SetString("DATENPHYS_IK", phys);
        base.Post();
    };
    row(kKT1, "AOK Test", "T", kD1, "");
    row(kKT2, "BKK Test", "T", kD1, "");
    row(kKT3, "IKK Test", "T", kD2, "");
    row(kKT4, "LKK Test", "T", kD3, "");
    row(kD1, "Datenannahme Eins", "F", "", kP1);
    row(kP1, "Rechenzentrum Eins", "F", "", "");
    row(kD2, "Datenannahme Zwei", "F", "", "");
    row(kD3, "Datenannahme Drei", "F", "", kP3);
    row(kP3, "Rechenzentrum Drei", "F", "", "");
    base.SaveToFile(PathJoin(dir, "KT_BASE.XML"));

    Table transfer({FieldDef::Str("K_IK", 9), FieldDef::Str("DFU_PROTOKOLL", 3), FieldDef::Str("DFU_KANAL", 100),
                    FieldDef::Date("DFU_VALIDFROM"), FieldDef::Date("DFU_VALIDTO"), FieldDef::Str("DAKOTA", 1)});
    auto channel = [&](const std::string& ik, const std::string& mail) {
        transfer.Append();
        transfer.SetString("K_IK", ik);
        transfer.SetString("DFU_PROTOKOLL", "070");
        transfer.SetString("DFU_KANAL", mail);
        transfer.SetString("DAKOTA", "2");
        transfer.Post();
    };
    channel(kP1, "annahme@p1.example");
    channel(kD2, "annahme@d2.example");
    transfer.SaveToFile(PathJoin(dir, "KT_TRANSFER.XML"));
}

// One invoice of one case, one trip and one position of `cents`.
struct InvoiceFacts {
    std::string number = "R-1";
    std::string ikle = kSender1;
    std::string ikkt = kKT1;
    int64_t cents = 1000;
    int64_t tripCents = -1;   // the trip's BruttoSum when it should not match
    TDateTime date = EncodeDate(2024, 3, 1);
};

inline void WriteInvoiceFile(const std::string& path, const InvoiceFacts& s) {
    InvoiceDocument doc;
    Table& h = doc.Rechnung();
    const double euro = double(s.cents) / 100.0;
    h.Append();
    h.SetInteger("RechID", 1);
    h.SetString("SaRechNr", s.number);
    h.SetString("EinzelRechNr", "1");
    h.SetDateTime("RechDatum", s.date);
    h.SetString("IKLE", s.ikle);
    h.SetString("IKKT", s.ikkt);
    h.SetString("IKPat", s.ikkt);
    h.SetFloat("RBetragBrutto", euro);
    h.SetFloat("RBetragNetto", euro);
    h.SetFloat("RBetragZuZa", 0);
    h.SetString("Name1", "Taxi Test");
    Table& c = h.Nested(CaseNestName);
    c.Append();
    c.SetInteger("AbrFallID", 1);
    c.SetString("IKPat", s.ikkt);
    c.SetString("IKLE", s.ikle);
    c.SetString("VersNum", "A123456789");
    c.SetString("Status", "10000");
    c.SetString("VONum", "4711");
    c.SetString("Nachname", "Muster");
    c.SetString("Vorname", "Anna");
    c.SetDateTime("Geb", EncodeDate(1950, 5, 17));
    c.SetString("Strasse", "Hauptstr. 1");
    c.SetString("Plz", "10115");
    c.SetString("Ort", "Berlin");
    c.SetString("ZuzaKennz", "3");
    c.SetString("GenArt", "E1");
    c.SetFloat("BetragBrutto", euro);
    c.SetFloat("BetragZuZaSum", 0);
    c.SetFloat("BetragZuZaPausch", 0);
    Table& t = c.Nested(TripNestName);
    t.Append();
    t.SetInteger("LAbrFallID", 1);
    t.SetInteger("LeistID", 1);
    t.SetDateTime("Datum", s.date);
    t.SetFloat("ZuZaBetrag", 0);
    t.SetFloat("BruttoSum", double(s.tripCents >= 0 ? s.tripCents : s.cents) / 100.0);
    t.SetString("VON_PLZ", "10115");
    t.SetString("VON_ORT", "Berlin");
    t.SetString("VON_STRASSE", "Hauptstr. 1");
    t.SetString("NACH_PLZ", "10117");
    t.SetString("NACH_ORT", "Berlin");
    t.SetString("NACH_STRASSE", "Klinikweg 2");
    t.SetString("IKLE", s.ikle);
    t.SetInteger("EinzelReNr", 1);
    Table& p = t.Nested(PositionNestName);
    p.Append();
    p.SetInteger("EFAbrFallID", 1);
    p.SetString("Tarif", "12345");
    p.SetString("PosNum", "1");
    p.SetFloat("Menge", 1);
    p.SetFloat("EPreis", euro);
    p.Post();
    t.Post();
    c.Post();
    h.Post();
    doc.SaveToFile(path);
}

// A data directory with "temp", "export", "import", "ArchivR", "ArchivA",
// "Stammdaten" (the cost-bearer files) and a loaded cost-bearer store.
class DataDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"temp", "export", "import", "ArchivR", "ArchivA", "Stammdaten", "dakota"})
            ForceDirectories(dir.file(d));
        WriteKtFiles(Dir("Stammdaten"));
        kt.LoadKTBase(PathJoin(Dir("Stammdaten"), "KT_BASE.XML"));
        kt.LoadKTTransfer(PathJoin(Dir("Stammdaten"), "KT_TRANSFER.XML"));
    }
    void TearDown() override { SetFixedNow(std::nullopt); }

    std::string Dir(const std::string& name) const { return dir.file(name); }
    std::string In(const std::string& d, const std::string& name) const { return PathJoin(Dir(d), name); }

    TempDir dir;
    TSystem system;
    TSGBKTStore kt{system};
};

} // namespace jobtest
