// brenvo-cli drucken on copies of the demo installation: the invoice, the
// accompanying slips and the archive list written as PDF files and read back
// with pdftotext.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "billing/InvoiceBuilder.h"
#include "common/PdfText.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"
#include "tests/cli/CliRunner.h"

using namespace brenvo;
using namespace brenvo::test;
using namespace clitest;
using pdftest::PdfPages;
using pdftest::Squeezed;

namespace {

TripPlan Trip(TDateTime date, double preis, double zuza, double ust) {
    TripPlan t;
    t.datum = date;
    t.ikle = "510512345";
    t.zuZaBetrag = zuza;
    t.zuZaArt = zuza != 0 ? "02" : "";
    t.positionen = {PositionPlan{"46ABCDE", "4711", 1, preis, "Krankenfahrt", ust}};
    return t;
}

// An invoice to the demo's Rheinische OKK over two pages and more: a case
// with trips on 03.02. and 05.02. with co-payments and a position of
// quantity 0, trips at 7 and at 19 % VAT.
InvoicePlan LongInvoice() {
    InvoicePlan plan;
    plan.saRechNr = "2024-2001";
    plan.rechDatum = EncodeDate(2024, 2, 29);
    plan.ikle = "510512345";
    plan.ikkt = "103110016";
    plan.ikPat = "103110016";
    plan.name1 = "Taxi Rheinufer GmbH";
    plan.faelle.clear();
    CasePlan first;
    first.ikPat = "103110016";
    first.nachname = "Zuzahler";
    first.zuzaKennz = "3";
    first.fahrten = {Trip(EncodeDate(2024, 2, 3), 40, 5, 7), Trip(EncodeDate(2024, 2, 5), 40, 5, 7)};
    first.fahrten[1].positionen.push_back(PositionPlan{"46ABCDE", "4799", 0, 9.5, "Wartezeit nicht angefallen", 7});
    plan.faelle.push_back(first);
    for (int i = 0; i < 14; ++i) {
        CasePlan c;
        c.ikPat = "103110016";
        c.nachname = "Patient" + std::to_string(i);
        c.voNum = std::to_string(2000 + i);
        c.fahrten = {Trip(EncodeDate(2024, 2, 10), 25, 0, i % 2 ? 19 : 7)};
        plan.faelle.push_back(c);
    }
    return plan;
}

class CliDruckenTest : public DemoCliTest {
protected:
    std::string WriteInvoice(const InvoicePlan& plan) {
        const std::string file = elsewhere.file(plan.saRechNr + ".xml");
        BuildDocument(plan).SaveToFile(file);
        return file;
    }
    std::string Pdf(const std::string& name) const { return elsewhere.file(name); }
};

} // namespace

TEST_F(CliDruckenTest, InvoiceInBothFormsWithPageNumbersSubtotalsAndVatLines) {
    SetSettings({{"BRIEFKOPF", "Taxi Rheinufer GmbH - Krankenfahrten"},
                 {"BRIEFFUSS", "Rheinallee 1, 40212 Düsseldorf"},
                 {"STEUERNR", "103/5734/0815"},
                 {"BANKVERBINDUNG", "Stadtsparkasse, IBAN DE02 3005 0110 1234 5678 90"}});
    const std::string file = WriteInvoice(LongInvoice());

    CliResult r = Cli({"drucken", "rechnung", file, "--pdf", Pdf("lang.pdf")});
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> pages = PdfPages(Pdf("lang.pdf"));
    ASSERT_GE(pages.size(), 2u);
    EXPECT_TRUE(Contains(r.out, std::to_string(pages.size()) + " Seiten geschrieben."));
    const std::string first = Squeezed(pages[0]);
    EXPECT_TRUE(Contains(first, "Taxi Rheinufer GmbH - Krankenfahrten"));
    EXPECT_TRUE(Contains(first, "Rechnung-Nr.: 2024-2001"));
    EXPECT_TRUE(Contains(first, "Datum: 29.02.2024"));
    EXPECT_FALSE(Contains(first, "Seite:"));
    EXPECT_TRUE(Contains(first, "Kostenträger IK: 103110016"));
    EXPECT_TRUE(Contains(first, "Rheinische OKK"));
    EXPECT_TRUE(Contains(first, "Datenannahme IK 109930013"));
    EXPECT_TRUE(Contains(first, "03.02.2024..05.02.2024, 2 Fahrten (inkl. Zuzahlung: 10,00 €): 80,00 €")) << first;
    EXPECT_TRUE(Contains(first, "Fahrstrecke"));
    EXPECT_FALSE(Contains(first, "Wartezeit nicht angefallen"));
    EXPECT_TRUE(Contains(Squeezed(pages[1]), "Rechnung-Nr.: 2024-2001, Seite: 2"));
    for (const std::string& page : pages) {
        EXPECT_TRUE(Contains(page, "Rheinallee 1, 40212 Düsseldorf"));
        EXPECT_TRUE(Contains(page, "Steuernr.: 103/5734/0815"));
    }
    const std::string last = Squeezed(pages.back());
    // 80 - 10 + 7 × 25 at 7 %, 7 × 25 at 19 %.
    EXPECT_TRUE(Contains(last, "Brutto 245,00 € zu 7,00% USt. = USt.-Betrag: 16,03 €")) << last;
    EXPECT_TRUE(Contains(last, "Brutto 175,00 € zu 19,00% USt. = USt.-Betrag: 27,94 €")) << last;
    EXPECT_TRUE(Contains(last, "Rechnungsbetrag: 420,00 €"));
    EXPECT_TRUE(Contains(last, "Der Rechnungsbetrag ist sofort und ohne jeden Abzug fällig."));

    r = Cli({"drucken", "rechnung", file, "--kurz", "--pdf", Pdf("kurz.pdf")});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<std::string> shortPages = PdfPages(Pdf("kurz.pdf"));
    ASSERT_FALSE(shortPages.empty());
    EXPECT_LT(shortPages.size(), pages.size());
    const std::string shortText = Squeezed(shortPages[0]);
    EXPECT_TRUE(Contains(shortText, "03.02.2024..05.02.2024, 2 Fahrten (inkl. Zuzahlung: 10,00 €): 80,00 €"));
    EXPECT_TRUE(Contains(shortText, "Versicherte(r): Zuzahler, Erika"));
    EXPECT_FALSE(Contains(shortText, "Fahrstrecke"));
    EXPECT_FALSE(Contains(shortText, "4711"));   // no position lines
}

TEST_F(CliDruckenTest, UnreadableOrUnwritableFilesAndABadFooterHeightFailWithNothingWritten) {
    const std::string file = WriteInvoice(LongInvoice());
    CliResult r = Cli({"drucken", "rechnung", elsewhere.file("fehlt.xml"), "--pdf", Pdf("a.pdf")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, "fehlt.xml nicht gefunden.")) << r.err;
    r = Cli({"drucken", "rechnung", file, "--pdf", elsewhere.file("kein/Verzeichnis/a.pdf")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, "kann nicht geschrieben werden.")) << r.err;
    r = Cli({"drucken", "rechnung", file});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(Contains(r.err, "--pdf AUSGABE.pdf"));
    r = Cli({"drucken", "archivliste", "--von", "01.03.2024", "--pdf", Pdf("a.pdf")});
    EXPECT_EQ(r.code, 2);

    SetSettings({{"BRIEFFUSS", "Rheinallee 1{hoehe=drei}"}});
    r = Cli({"drucken", "rechnung", file, "--pdf", Pdf("a.pdf")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, "'=drei' ist kein gültiger Integerwert")) << r.err;
    EXPECT_FALSE(FileExists(Pdf("a.pdf")));
}

TEST_F(CliDruckenTest, SlipsOfTheOutboxOrOfNamedOrdersOnePageEach) {
    CliResult r = Cli({"drucken", "begleitzettel", "--pdf", Pdf("leer.pdf")});
    EXPECT_EQ(r.code, 0) << r.err;   // nothing in the outbox: nothing to print
    EXPECT_FALSE(FileExists(Pdf("leer.pdf")));

    ASSERT_EQ(Cli({"verarbeiten"}).code, 1);   // two orders; the demo's two planted failures
    Table orders;
    orders.LoadFromFile(Data("Stammdaten/Auftraege.xml"));
    ASSERT_EQ(orders.RecordCount(), 2);
    orders.First();
    const std::string transfer1 = orders.AsString("A_TRANSFER"), handle1 = orders.AsString("A_HANDLE");
    orders.Next();
    const std::string transfer2 = orders.AsString("A_TRANSFER");

    r = Cli({"drucken", "begleitzettel", "--pdf", Pdf("alle.pdf")});
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> pages = PdfPages(Pdf("alle.pdf"));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_TRUE(Contains(pages[0], transfer1));
    EXPECT_TRUE(Contains(pages[1], transfer2));
    EXPECT_TRUE(Contains(pages[0], "Begleitzettel"));
    EXPECT_TRUE(Contains(pages[0], "Kostenträger"));

    ASSERT_TRUE(DeleteFile(Data("ArchivA/" + handle1 + ".BGL")));
    r = Cli({"drucken", "begleitzettel", transfer1, "--pdf", Pdf("eins.pdf")});
    ASSERT_EQ(r.code, 0) << r.err;
    pages = PdfPages(Pdf("eins.pdf"));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(Contains(pages[0], transfer1));
    EXPECT_TRUE(Contains(pages[0], "**** DATEI NICHT GEFUNDEN ***"));

    r = Cli({"drucken", "begleitzettel", "XXXXX999", "--pdf", Pdf("keins.pdf")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, "Auftrag XXXXX999 nicht gefunden")) << r.err;
}

TEST_F(CliDruckenTest, ArchiveListWithItsTitleFilterAndPages) {
    Table t;
    t.LoadFromFile(Data("Stammdaten/Rechnungen.xml"));
    for (int i = 1; i <= 150; ++i) {
        t.Append();
        t.SetInteger("R_ID", 100 + i);
        t.SetString("R_NUMMER", "2024-" + std::to_string(3000 + i));
        t.SetDateTime("R_DATUM", EncodeDate(2024, i <= 100 ? 3 : 4, 1 + i % 28));
        t.SetFloat("R_BETRAG", 100 + i);
        t.SetString("R_FILENAME", "2024-" + std::to_string(3000 + i) + ".xml");
        t.SetString("R_HANDLE", "20240401_120000" + std::to_string(100 + i));
        t.Post();
    }
    t.SaveToFile(Data("Stammdaten/Rechnungen.xml"));

    CliResult r = Cli({"drucken", "archivliste", "--pdf", Pdf("alle.pdf")});
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> pages = PdfPages(Pdf("alle.pdf"));
    ASSERT_GE(pages.size(), 3u);
    EXPECT_TRUE(Contains(pages[0], "Alle archivierten Rechnungen"));
    EXPECT_TRUE(Contains(pages[0], "2024-1046"));   // the demo's own row
    for (size_t i = 0; i < pages.size(); ++i) {
        EXPECT_TRUE(Contains(pages[i], "Rechnung Nr.")) << i;
        EXPECT_TRUE(Contains(pages[i], "Seite " + std::to_string(i + 1))) << i;
    }
    EXPECT_TRUE(Contains(pages.back(), "2024-3150"));

    r = Cli({"drucken", "archivliste", "--von", "01.03.2024", "--bis", "31.03.2024", "--pdf", Pdf("maerz.pdf")});
    ASSERT_EQ(r.code, 0) << r.err;
    pages = PdfPages(Pdf("maerz.pdf"));
    ASSERT_FALSE(pages.empty());
    std::string all;
    for (const std::string& p : pages) all += p;
    EXPECT_TRUE(Contains(Squeezed(pages[0]), "archivierte Rechnungen 01.03.2024 .. 31.03.2024"));
    EXPECT_TRUE(Contains(all, "2024-3100"));
    EXPECT_FALSE(Contains(all, "2024-3101"));
}
