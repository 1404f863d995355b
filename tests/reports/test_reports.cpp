// The printed forms as laid out before any drawing: page breaks, headers and
// footers, the invoice's rules (page numbers, subtotals, VAT table, short
// form, footer height), the slips and the archive list.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "billing/InvoiceBuilder.h"
#include "common/TempDir.h"
#include "lib/base/Cp1252.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "reports/ArchiveListReport.h"
#include "reports/InvoiceReport.h"
#include "reports/SlipReport.h"

using namespace brenvo;
using namespace brenvo::test;

namespace {

const TApproxTextMeasure kMeasure;

// The texts of a page from top to bottom, left to right.
std::vector<std::string> PageTexts(const TReportPage& page) {
    std::vector<TReportText> texts = page.Texts;
    std::stable_sort(texts.begin(), texts.end(), [](const TReportText& a, const TReportText& b) {
        return a.Y < b.Y - 0.01 || (std::abs(a.Y - b.Y) <= 0.01 && a.X < b.X);
    });
    std::vector<std::string> out;
    for (const TReportText& t : texts) out.push_back(t.Text);
    return out;
}

bool AnyPageContains(const TReportDocument& doc, const std::string& part) {
    return std::any_of(doc.Pages.begin(), doc.Pages.end(), [&](const TReportPage& p) { return p.Contains(part); });
}

TReportBand Band(double height, const std::string& text = {}) {
    TReportBand b(kMeasure);
    if (!text.empty()) b.Text(0, 0, 50, text, TReportFont::Arial(10));
    b.ExtendTo(height);
    return b;
}

TInvoicePrintSettings Settings() {
    TInvoicePrintSettings s;
    s.Briefkopf = "Taxi Rheinufer GmbH";
    s.Brieffuss = "Taxi Rheinufer GmbH · Rheinallee 1 · 40212 Düsseldorf";
    s.Steuernr = "103/5734/0815";
    s.Bankverbindung = "IBAN DE02 3005 0110 1234 5678 90";
    return s;
}

TripPlan Trip(TDateTime date, double preis, double zuza = 0, double ust = 0) {
    TripPlan t;
    t.datum = date;
    t.zuZaBetrag = zuza;
    t.zuZaArt = zuza != 0 ? "02" : "";
    t.positionen = {PositionPlan{"46ABCDE", "4711", 1, preis, "Krankenfahrt", ust}};
    return t;
}

TReportDocument Invoice(const InvoicePlan& plan, InvoicePrintForm form = InvoicePrintForm::Detailed,
                        const TInvoicePrintSettings& settings = Settings(), const TKTPrintAddresses* kt = nullptr) {
    return BuildInvoiceReport(BuildDocument(plan), settings, kt, form, kMeasure);
}

} // namespace

// ============================================================ pages

TEST(ReportPager, BandsGoToTheNextPageWhenFullWithHeaderAndFooterOnEveryPage) {
    TReportPager pager(
        TPageFrame{}, [](int page) { return Band(10, "Kopf " + std::to_string(page)); },
        [](int page) { return Band(20, "Fuß " + std::to_string(page)); });
    // 297 - 2 × 12.7 - 10 - 20 = 241.6 mm for bands: four of 60 mm fit, the fifth does not.
    for (int i = 1; i <= 5; ++i) pager.Add(Band(60, "Band " + std::to_string(i)));
    pager.NewPage();
    pager.NewPage();   // twice is once
    pager.Add(Band(5, "Neue Seite"));
    pager.Add(Band(400, "Zu hoch"));   // alone on a page, running over it
    const TReportDocument doc = pager.Finish("Titel");
    ASSERT_EQ(doc.Pages.size(), 4u);
    EXPECT_EQ(PageTexts(doc.Pages[0]), (std::vector<std::string>{"Kopf 1", "Band 1", "Band 2", "Band 3", "Band 4", "Fuß 1"}));
    EXPECT_EQ(PageTexts(doc.Pages[1]), (std::vector<std::string>{"Kopf 2", "Band 5", "Fuß 2"}));
    EXPECT_EQ(PageTexts(doc.Pages[2]), (std::vector<std::string>{"Kopf 3", "Neue Seite", "Fuß 3"}));
    EXPECT_TRUE(doc.Pages[3].Contains("Zu hoch"));
    EXPECT_NEAR(doc.Pages[0].Find("Band 1")->Y, 12.7 + 10, 1e-9);
    EXPECT_NEAR(doc.Pages[0].Find("Fuß 1")->Y, 297 - 12.7 - 20, 1e-9);
    EXPECT_NEAR(doc.Pages[0].Find("Band 1")->X, 12.7, 1e-9);

    TReportPager empty(TPageFrame{}, nullptr, nullptr);
    empty.NewPage();
    EXPECT_TRUE(empty.Finish("leer").Pages.empty());
}

TEST(ReportLayout, TextsWrapAtBlanksAndBreakWordsThatDoNotFit) {
    const TReportFont f = TReportFont::Courier(10);   // 0.6 em: 2.1167 mm a character
    const double tenChars = 10 * 0.6 * 10 * 25.4 / 72 + 1e-9;
    EXPECT_EQ(WrapText(kMeasure, f, "von: Domstraße 1 Köln", tenChars),
              (std::vector<std::string>{"von:", "Domstraße", "1 Köln"}));
    EXPECT_EQ(WrapText(kMeasure, f, "Universitätsklinikum", tenChars),
              (std::vector<std::string>{"Universitä", "tsklinikum"}));
    EXPECT_EQ(WrapText(kMeasure, f, "eins\r\nzwei\nacht", tenChars), (std::vector<std::string>{"eins", "zwei", "acht"}));
    EXPECT_EQ(WrapText(kMeasure, f, "", tenChars), (std::vector<std::string>{""}));

    TReportBand b(kMeasure);
    const double bottom = b.Text(0, 1, tenChars, "von: Domstraße 1 Köln", f, ReportAlign::Left, true);
    EXPECT_NEAR(bottom, 1 + 3 * kMeasure.LineHeight(f), 1e-9);
    EXPECT_EQ(b.Texts().size(), 3u);
    EXPECT_NEAR(b.Height(), bottom, 1e-9);
}

// ============================================================ invoice

TEST(InvoiceReport, FooterHeightComesFromBrieffussInScreenPixels) {
    EXPECT_DOUBLE_EQ(InvoiceFooterHeight("Taxi GmbH"), 25.4);
    EXPECT_DOUBLE_EQ(InvoiceFooterHeight("Taxi GmbH{hoehe120}"), 120 * 25.4 / 96);
    // Five characters of any kind after "{", the number trimmed, the first "}" gone.
    EXPECT_DOUBLE_EQ(InvoiceFooterHeight("Fuß{xy:z   96 }"), 25.4);
    try {
        InvoiceFooterHeight("Taxi GmbH{hoehe=120}");   // "=120" is no number
        FAIL() << "no failure";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("'=120' ist kein gültiger Integerwert"), std::string::npos) << e.what();
    }
    EXPECT_THROW(InvoiceFooterHeight("Taxi{hoehe}"), Error);
    EXPECT_THROW(InvoiceFooterHeight("Taxi{hoehe9000}"), Error);   // higher than half a page

    // The print fails before it builds a page.
    TInvoicePrintSettings s = Settings();
    s.Brieffuss = "Taxi{hoehe=zwölf}";
    EXPECT_THROW(Invoice(InvoicePlan{}, InvoicePrintForm::Detailed, s), Error);

    s.Brieffuss = "Zeile 1\r\nZeile 2{hoehe150}";
    EXPECT_EQ(InvoiceFooterLines(s), (std::vector<std::string>{"Zeile 1", "Zeile 2", "Steuernr.: 103/5734/0815",
                                                               "Bankverbindung: IBAN DE02 3005 0110 1234 5678 90"}));
    const TReportDocument doc = Invoice(InvoicePlan{}, InvoicePrintForm::Detailed, s);
    EXPECT_NEAR(doc.Pages[0].Find("Zeile 1")->Y, 297 - 12.7 - 150 * 25.4 / 96 + 3, 1e-9);
}

TEST(InvoiceReport, BandsStayAboveTheFooterAndEachCaseEndsWithItsSubtotalBeforeTheNext) {
    InvoicePlan plan;
    plan.faelle.clear();
    for (int i = 0; i < 12; ++i) {
        CasePlan c;
        c.nachname = "Patient" + std::to_string(i);
        c.zuzaKennz = "3";
        c.fahrten = {Trip(EncodeDate(2024, 2, 5), 30, 5), Trip(EncodeDate(2024, 2, 3), 30, 5)};
        plan.faelle.push_back(c);
    }
    const TReportDocument doc = Invoice(plan);
    ASSERT_GE(doc.Pages.size(), 2u);
    for (const TReportPage& page : doc.Pages) {
        EXPECT_TRUE(page.Contains("Taxi Rheinufer GmbH"));
        for (const TReportText& t : page.Texts) {
            const bool footer = t.Text.rfind("Taxi Rheinufer GmbH ·", 0) == 0 ||
                                t.Text.find("Steuernr.") != std::string::npos ||
                                t.Text.find("Bankverbindung") != std::string::npos;
            EXPECT_TRUE(footer || t.Y + t.Height <= 297 - 12.7 - 25.4 + 1e-6) << t.Text;
        }
    }
    // Each case ends with its subtotal, after its trip footers (co-payment and
    // balance) and before the next case; the last one before the totals.
    std::vector<std::string> texts;
    for (const TReportPage& page : doc.Pages)
        for (std::string& t : PageTexts(page)) texts.push_back(std::move(t));
    const std::string subtotal = "03.02.2024..05.02.2024, 2 Fahrten  (inkl. Zuzahlung: 10,00 €): 60,00 €";
    std::vector<std::string> sequence;   // case headers, trip footers and subtotals in print order
    for (const std::string& t : texts) {
        if (t.rfind("Versicherte(r): Patient", 0) == 0) sequence.push_back("Fall");
        else if (t == "- 5,00 €") sequence.push_back("Zuzahlung");
        else if (t == subtotal) sequence.push_back("Zwischensumme");
        else if (t == "Gesamt Brutto:") sequence.push_back("Gesamt");
    }
    std::vector<std::string> expected;
    for (int i = 0; i < 12; ++i)
        for (const char* s : {"Fall", "Zuzahlung", "Zuzahlung", "Zwischensumme"}) expected.push_back(s);
    expected.push_back("Gesamt");
    EXPECT_EQ(sequence, expected);

    // The sender line under the window, unless the letterhead's marker says otherwise.
    EXPECT_TRUE(doc.Pages[0].Contains("Taxi Beispiel GmbH Hauptstr. 1 12345 Musterstadt"));
    TInvoicePrintSettings s = Settings();
    s.Briefkopf = "Taxi Rheinufer GmbH{ohne Absender}";
    const TReportDocument without = Invoice(plan, InvoicePrintForm::Detailed, s);
    EXPECT_FALSE(AnyPageContains(without, "Taxi Beispiel GmbH"));
    EXPECT_FALSE(AnyPageContains(without, "{ohne Absender}"));
}

TEST(InvoiceReport, VatTableHoldsFourEntriesTheInitialOneFirst) {
    InvoicePlan plan;
    plan.faelle[0].fahrten = {Trip(EncodeDate(2024, 3, 1), 107, 0, 7), Trip(EncodeDate(2024, 3, 2), 119, 0, 19),
                              Trip(EncodeDate(2024, 3, 3), 53.50, 0, 7), Trip(EncodeDate(2024, 3, 4), 116, 0, 16),
                              Trip(EncodeDate(2024, 3, 5), 110, 0, 10)};
    const TReportDocument doc = Invoice(plan);
    EXPECT_TRUE(doc.Pages[0].Contains("Im Rechnungsbetrag enthalten:"));
    EXPECT_TRUE(doc.Pages[0].Contains("Brutto 160,50 € zu 7,00% USt. = USt.-Betrag: 10,50 €"));
    EXPECT_TRUE(doc.Pages[0].Contains("Brutto 119,00 € zu 19,00% USt. = USt.-Betrag: 19,00 €"));
    EXPECT_TRUE(doc.Pages[0].Contains("Brutto 116,00 € zu 16,00% USt. = USt.-Betrag: 16,00 €"));
    EXPECT_FALSE(doc.Pages[0].Contains("zu 10,00% USt."));   // fifth entry
    EXPECT_FALSE(doc.Pages[0].Contains("zu 0,00% USt."));    // nothing at 0 %
    EXPECT_TRUE(doc.Pages[0].Contains("19,00"));              // the position's rate column

    // The claimed amount counts: the co-payment is not the insurer's.
    TVatTable vat;
    vat.AddTrip(7, 10700 - 500);
    vat.AddTrip(0, 2000);
    ASSERT_EQ(vat.Entries().size(), 2u);
    EXPECT_EQ(vat.Lines(), (std::vector<std::string>{"Brutto 20,00 € zu 0,00% USt. = USt.-Betrag: 0,00 €",
                                                     "Brutto 102,00 € zu 7,00% USt. = USt.-Betrag: 6,67 €"}));
}

TEST(InvoiceReport, NetPricePositionsShowTheirAddedVatInTheGrossAmountAndTheVatTable) {
    InvoicePlan plan;
    TripPlan t = Trip(EncodeDate(2024, 3, 1), 0);
    t.positionen = {PositionPlan{"46ABCDE", "601101", 1, 100, "Fahrt (netto)", 0, 19},
                    PositionPlan{"46ABCDE", "602101", 10, 1.5, "km (netto)", 0, 19}};
    plan.faelle[0].fahrten = {t};
    const TReportDocument doc = Invoice(plan);
    EXPECT_TRUE(doc.Pages[0].Contains("119,00 €"));   // 100 € + 19 %
    EXPECT_TRUE(doc.Pages[0].Contains("17,85 €"));    // 15 € + 19 %
    EXPECT_TRUE(doc.Pages[0].Contains("Brutto 136,85 € zu 19,00% USt. = USt.-Betrag: 21,85 €"));
}

TEST(InvoiceReport, AddressBlockNamesPaperOfficeAndCostBearerOrLeavesTheirLinesEmpty) {
    TKTPrintAddresses kt{"109930013",
                         {true, "Rheinische OKK", "2", "Postfach 10 12 34", "40001", "Düsseldorf"},
                         {true, "Papierannahme Köln", "1", "Annahmeweg 3", "50667", "Köln"}};
    const TReportDocument doc = Invoice(InvoicePlan{}, InvoicePrintForm::Short, Settings(), &kt);
    const std::vector<std::string> texts = PageTexts(doc.Pages[0]);
    for (const char* line : {"Papierannahme Köln", "Annahmeweg 3", "50667 Köln", "Datenannahme IK 109930013",
                             "Kostenträger IK: 103330011", "Rheinische OKK, Postfach 10 12 34 40001 Düsseldorf"})
        EXPECT_NE(std::find(texts.begin(), texts.end(), line), texts.end()) << line;
    EXPECT_EQ(doc.Pages[0].Rules.size(), 1u);   // the short form: no headings' rule, only the summary's

    // A post-office box is named once, whether the directory holds the word or not.
    kt.Papier = {true, "Papierannahme Köln", "2", "80 21 10", "51021", "Köln"};
    const TReportDocument box = Invoice(InvoicePlan{}, InvoicePrintForm::Short, Settings(), &kt);
    EXPECT_TRUE(box.Pages[0].Contains("Postfach 80 21 10"));
    EXPECT_FALSE(AnyPageContains(box, "Postfach Postfach"));

    const TReportDocument bare = Invoice(InvoicePlan{}, InvoicePrintForm::Short);
    EXPECT_FALSE(bare.Pages[0].Contains("Kostenträger IK:"));
    EXPECT_FALSE(bare.Pages[0].Contains("Datenannahme IK"));
}

// ============================================================ slips

namespace {

Table OrderTable() {
    Table t({FieldDef::Int("A_ID"), FieldDef::Str("A_HANDLE", 40), FieldDef::Str("A_TRANSFER", 8)});
    return t;
}

void AddOrder(Table& t, int id, const std::string& handle, const std::string& transfer) {
    t.Append();
    t.SetInteger("A_ID", id);
    t.SetString("A_HANDLE", handle);
    t.SetString("A_TRANSFER", transfer);
    t.Post();
}

} // namespace

TEST(SlipReport, EachOrderBeginsAPageAMissingFileSaysSoAndNoOrderNoPage) {
    TempDir archive;
    WriteCp1252Text(archive.file("H1.BGL"), " \r\n Begleitzettel\r\n -------------\r\n     Forderung       1,50 Eur\r\n");
    std::string longSlip;
    for (int i = 0; i < 100; ++i) longSlip += "     Beleg/Verord. " + std::to_string(i) + "\r\n";
    WriteCp1252Text(archive.file("H3.BGL"), longSlip);
    Table orders = OrderTable();
    AddOrder(orders, 1, "H1", "TSGB0001");
    AddOrder(orders, 2, "H2", "TSGB0002");   // its slip was deleted
    AddOrder(orders, 3, "H3", "TSGB0003");   // longer than a page
    AddOrder(orders, 4, "", "TSGB0004");     // no handle
    orders.First();
    orders.Next();
    const TReportDocument doc = BuildSlipReport(orders, archive.path(), EncodeDate(2024, 3, 15), kMeasure);
    EXPECT_EQ(doc.Title, "Begleitzettel");
    ASSERT_EQ(doc.Pages.size(), 5u);
    EXPECT_EQ(PageTexts(doc.Pages[0]),
              (std::vector<std::string>{"TSGB0001", " Begleitzettel", " -------------", "     Forderung       1,50 Eur",
                                        "gedruckt am 15.03.2024"}));
    EXPECT_EQ(doc.Pages[0].Find("Begleitzettel")->Font.Face, ReportTypeface::CourierNew);
    EXPECT_EQ(doc.Pages[0].Find("TSGB0001")->Font.Face, ReportTypeface::Arial);
    EXPECT_EQ(PageTexts(doc.Pages[1]),
              (std::vector<std::string>{"TSGB0002", "**** DATEI NICHT GEFUNDEN ***", "gedruckt am 15.03.2024"}));
    EXPECT_TRUE(doc.Pages[2].Contains("TSGB0003"));
    EXPECT_TRUE(doc.Pages[3].Contains("Beleg/Verord. 99"));   // the long slip goes on
    EXPECT_TRUE(doc.Pages[3].Contains("gedruckt am"));
    EXPECT_EQ(PageTexts(doc.Pages[4]),
              (std::vector<std::string>{"TSGB0004", "**** DATEI NICHT GEFUNDEN ***", "gedruckt am 15.03.2024"}));
    EXPECT_EQ(orders.AsInteger("A_ID"), 2);   // the current row stays

    orders.SetFilter("A_ID = 99");
    orders.SetFiltered(true);
    EXPECT_TRUE(BuildSlipReport(orders, archive.path(), EncodeDate(2024, 3, 15), kMeasure).Pages.empty());
}

// ============================================================ archive list

TEST(ArchiveListReport, TitleHeadingsOnEveryPageAndAnEmptyListStillHasItsFrame) {
    EXPECT_EQ(ArchiveListTitle(std::nullopt), "Alle archivierten Rechnungen");
    EXPECT_EQ(ArchiveListTitle(std::make_pair(EncodeDate(2024, 3, 1), EncodeDate(2024, 3, 31))),
              "archivierte Rechnungen 01.03.2024 .. 31.03.2024");
    EXPECT_EQ(ArchiveDateFilter(EncodeDate(2024, 3, 1), EncodeDate(2024, 3, 31)),
              "r_datum >= '01.03.2024' and r_datum <= '31.03.2024'");

    Table t({FieldDef::Int("R_ID"), FieldDef::Str("R_NUMMER", 14), FieldDef::Date("R_DATUM"),
             FieldDef::Money("R_BETRAG"), FieldDef::Str("R_FILENAME", 80), FieldDef::Str("R_HANDLE", 40)});
    const TDateTime printed = EncodeDateTime(2024, 4, 2, 9, 30, 5);
    const TReportDocument empty = BuildArchiveListReport(t, "Alle archivierten Rechnungen", printed, kMeasure);
    ASSERT_EQ(empty.Pages.size(), 1u);
    EXPECT_EQ(PageTexts(empty.Pages[0]),
              (std::vector<std::string>{"Alle archivierten Rechnungen", "lfdNr.", "Rechnung Nr.", "Datum", "Betrag",
                                        "Dateiname", "ID", "Seite 1", "02.04.2024 09:30:05"}));

    for (int i = 1; i <= 130; ++i) {
        t.Append();
        t.SetInteger("R_ID", i);
        t.SetString("R_NUMMER", "2024-" + std::to_string(1000 + i));
        t.SetDateTime("R_DATUM", EncodeDate(2024, 3, 1 + i % 28));
        t.SetFloat("R_BETRAG", i == 1 ? 0.5 : 1234.5);
        t.SetString("R_FILENAME", "2024-" + std::to_string(1000 + i) + ".xml");
        if (i != 2) t.SetString("R_HANDLE", "20240301_120000" + std::to_string(100 + i));   // 2: moved by hand
        t.Post();
    }
    const TReportDocument doc = BuildArchiveListReport(t, "Alle archivierten Rechnungen", printed, kMeasure);
    ASSERT_GE(doc.Pages.size(), 3u);
    for (size_t i = 0; i < doc.Pages.size(); ++i) {
        EXPECT_TRUE(doc.Pages[i].Contains("Rechnung Nr.")) << i;
        EXPECT_TRUE(doc.Pages[i].Contains("Seite " + std::to_string(i + 1))) << i;
        EXPECT_EQ(doc.Pages[i].Contains("Alle archivierten Rechnungen"), i == 0) << i;
    }
    EXPECT_TRUE(doc.Pages.back().Contains("2024-1130"));
    const std::vector<std::string> first = PageTexts(doc.Pages[0]);
    EXPECT_EQ(std::vector<std::string>(first.begin() + 7, first.begin() + 19),
              (std::vector<std::string>{"1", "2024-1001", "02.03.2024", ",50", "2024-1001.xml", "20240301_120000101",
                                        "2", "2024-1002", "03.03.2024", "1234,50", "2024-1002.xml", "3"}));
    EXPECT_TRUE(doc.Pages[0].Find("2024-1001")->Font.Bold);
}
