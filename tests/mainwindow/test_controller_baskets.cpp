// The invoice actions of the input basket, the inbox and the invoice-archive
// grid on copies of the demo installation: each action's main path and its
// refusals, and that no move between baskets overwrites or loses a file.

#include "ControllerFixture.h"

#include <optional>

#include "billing/InvoiceDocument.h"
#include "lib/base/Error.h"

using namespace brenvo;
using namespace ctltest;

namespace {

class BasketTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        std::filesystem::create_directories(Path("eingabe"));
    }
    std::unique_ptr<TMainController> StartedWithEditor() {
        auto c = Started();
        c->SetInvoiceEditor(&editor);
        return c;
    }
    std::vector<std::string> Captions(const TBasketList& list) const {
        std::vector<std::string> out;
        for (const TBasketItem& item : list.Items()) out.push_back(item.Caption);
        return out;
    }
    void Put(const std::string& rel, const std::string& text) { AtomicWriteFile(Path(rel), text); }
    std::string Read(const std::string& rel) const { return ReadFileBytes(Path(rel)); }
    void WriteInputInvoice(const std::string& number, const std::string& name) {
        GeneratedInvoice g;
        g.number = number;
        g.date = *ParseDDMMYYYY("03.03.2025");
        g.providerIK = kProvider;
        g.costBearerIK = kRheinOKK;
        g.cases = 1;
        WriteGeneratedInvoice(Path("eingabe/" + name), g);
    }
    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> out;
        for (const auto& m : view.messages) out.push_back(m.text);
        return out;
    }

    FakeEditor editor;
};

using Names = std::vector<std::string>;

TEST_F(BasketTest, NewInvoiceStartsFromTheTemplateWithTheHeaderFilledIn) {
    auto c = StartedWithEditor();
    c->WriteIniValue("Letzte_KT_IK", kIKKThuer);

    // A number the archive holds already: nothing is made.
    view.inputs = {"2024-1046"};
    c->actRechnungNeuExecute();
    ASSERT_EQ(MessageTexts(), Names{"Rechnung 2024-1046 wurde bereits verarbeitet\r\r "});
    EXPECT_TRUE(Files("eingabe").empty());
    // Cancelled, and a number that would leave the basket.
    view.inputs = {std::nullopt, "../import/x"};
    c->actRechnungNeuExecute();
    EXPECT_THROW(c->actRechnungNeuExecute(), Error);
    EXPECT_TRUE(editor.calls.empty());
    EXPECT_TRUE(Files("eingabe").empty());
    EXPECT_EQ(view.inputTitles.back(), "Neue Rechnung anlegen");

    view.inputs = {" 2024-1200 "};
    c->actRechnungNeuExecute();
    EXPECT_EQ(Read("eingabe/2024-1200.xml"), Read("Stammdaten/eingabe_vorlage.xml"));
    EXPECT_EQ(Captions(c->InputBasket()), Names{"2024-1200.xml"});
    EXPECT_EQ(view.selections.back(), std::make_pair(BasketKind::InputBasket, 0L));
    ASSERT_EQ(editor.calls.size(), 1u);
    EXPECT_EQ(editor.calls[0].path, Path("eingabe/2024-1200.xml"));
    EXPECT_EQ(editor.calls[0].mode, EntryMode::Edit);
    ASSERT_TRUE(editor.calls[0].header);
    const TNewInvoiceHeader& h = *editor.calls[0].header;
    EXPECT_EQ(h.SaRechNr, "2024-1200");
    EXPECT_EQ(h.EinzelRechNr, "1");
    EXPECT_EQ(h.RechDatum, Today());
    EXPECT_EQ(h.IKLE, kProvider);
    EXPECT_EQ(h.Name1, "Taxi Rheinufer GmbH");
    EXPECT_EQ(h.Name2, "Kaiserswerther Straße 112");
    EXPECT_EQ(h.Name3, "40474 Düsseldorf");
    EXPECT_EQ(h.IKKT, kIKKThuer);

    // The same number again opens the file there, with the header set anew;
    // deleted in the window, it goes after the question.
    Put("eingabe/2024-1200.xml", "bearbeitet");
    editor.deleteRequest = true;
    view.answers = {Answer::Yes};
    view.inputs = {"2024-1200"};
    c->actRechnungNeuExecute();
    EXPECT_EQ(MessageTexts().back(), "Rechnung 2024-1200 existiert bereits...\r\r ");
    ASSERT_EQ(editor.calls.size(), 2u);
    EXPECT_TRUE(editor.calls[1].header);
    EXPECT_EQ(view.questions.back(), "Rechnung 2024-1200.xml endgültig löschen?");
    EXPECT_TRUE(Files("eingabe").empty());
    EXPECT_TRUE(c->InputBasket().Items().empty());
}

TEST_F(BasketTest, WithoutTheEntryWindowNothingIsCreatedAndInvoicesAreShownAsText) {
    auto c = Started();
    view.inputs = {"2024-1200"};
    EXPECT_THROW(c->actRechnungNeuExecute(), Error);
    EXPECT_TRUE(view.inputTitles.empty());
    EXPECT_FALSE(Exists("eingabe/2024-1200.xml"));
    struct TextView : RecordingView {
        std::string shown;
        void ShowText(const std::string&, const std::string& text) override { shown = text; }
    } textView;
    TMainController c2(textView, dir.path());
    c.reset();
    ASSERT_TRUE(c2.Startup());
    c2.actRechnungAnsehenExecute(TInvoiceSelection::InInbox({"2024-1101.xml"}));
    EXPECT_EQ(textView.shown, Read("import/2024-1101.xml"));
}

TEST_F(BasketTest, DeletingAsksOnceForAllSelectedInvoices) {
    auto c = StartedWithEditor();
    for (const char* n : {"a.xml", "b.xml", "FEHLERc.xml"}) Put(std::string("eingabe/") + n, n);
    c->ReadInputBasket();
    const Names all{"a.xml", "b.xml", "FEHLERc.xml"};
    view.answers = {Answer::Cancel};
    c->actEingabeRechnungLoeschenExecute(all);
    EXPECT_EQ(Files("eingabe").size(), 3u);
    view.answers = {Answer::Yes};
    c->actEingabeRechnungLoeschenExecute(all);
    EXPECT_EQ(view.questions, (Names{"alle markierten Rechnungen endgültig löschen?",
                                     "alle markierten Rechnungen endgültig löschen?"}));
    EXPECT_TRUE(Files("eingabe").empty());
    EXPECT_EQ(c->InputBasket().Count(), 0u);

    // One file of the inbox: the question names it without the error prefix.
    ASSERT_TRUE(RenameFile(Path("import/2024-1105.xml"), Path("import/FEHLER2024-1105.xml")));
    c->ReadInbox();
    view.answers = {Answer::Yes};
    c->actRechnungLoeschenExecute(TInvoiceSelection::InInbox({"FEHLER2024-1105.xml"}));
    EXPECT_EQ(view.questions.back(), "Rechnung 2024-1105.xml endgültig löschen?");
    EXPECT_FALSE(Exists("import/FEHLER2024-1105.xml"));
    EXPECT_EQ(c->Inbox().Count(), 5u);
}

TEST_F(BasketTest, MovingToTheInboxNeverOverwritesAWaitingInvoice) {
    auto c = StartedWithEditor();
    Put("eingabe/2024-1101.xml", "neu getippt");
    Put("eingabe/2024-1300.xml", "fertig");
    c->ReadInputBasket();
    const Names both{"2024-1101.xml", "2024-1300.xml"};
    view.answers = {Answer::Cancel};
    c->actRechnungInEingangskorbExecute(both);
    EXPECT_EQ(Files("eingabe").size(), 2u);

    const std::string waiting = Read("import/2024-1101.xml");
    view.answers = {Answer::Yes};
    c->actRechnungInEingangskorbExecute(both);
    EXPECT_EQ(view.questions.back(), "alle markierten Rechnungen in Eingangskorb ablegen?");
    EXPECT_EQ(MessageTexts(), Names{"Datei " + Path("eingabe/2024-1101.xml") +
                                    " konnte nicht kopiert werden!\r\rRechnung bleibt im Eingabebereich. "
                                    "Bitte überprüfen\r\r "});
    EXPECT_EQ(Read("import/2024-1101.xml"), waiting);
    EXPECT_EQ(Read("eingabe/2024-1101.xml"), "neu getippt");
    EXPECT_EQ(Read("import/2024-1300.xml"), "fertig");
    EXPECT_FALSE(Exists("eingabe/2024-1300.xml"));
    EXPECT_EQ(Captions(c->InputBasket()), Names{"2024-1101.xml"});
    EXPECT_GE(c->Inbox().FindCaption("2024-1300.xml"), 0);
    EXPECT_EQ(view.tabs.back(), MainTab::Eingangskorb);
}

TEST_F(BasketTest, ArchivingWithoutBillingKeepsTheInvoiceWhenTheArchiveRefuses) {
    auto c = StartedWithEditor();
    WriteInputInvoice("2024-1400", "2024-1400.xml");
    WriteInputInvoice("2024-1046", "nochmal.xml");   // a number the archive holds
    c->ReadInputBasket();

    view.answers = {Answer::Yes, Answer::Yes};
    c->actRechnungInArchivExecute({"2024-1400.xml"});
    EXPECT_EQ(view.questions[0], "Rechnung 2024-1400.xml in das Archiv verschieben?");
    EXPECT_FALSE(Exists("eingabe/2024-1400.xml"));
    EXPECT_TRUE(Exists("ArchivR/2024-1400.xml"));
    // The row is on disk at once, with the net amount and no order.
    Table saved;
    saved.LoadFromFile(Stamm("Rechnungen.xml"));
    ASSERT_TRUE(saved.Locate("R_NUMMER", {Value(std::string("2024-1400"))}));
    EXPECT_EQ(saved.AsString("R_HANDLE"), "");
    EXPECT_EQ(saved.AsDateTime("R_DATUM"), *ParseDDMMYYYY("03.03.2025"));
    InvoiceDocument doc;
    doc.LoadFromFile(Path("ArchivR/2024-1400.xml"));
    doc.Rechnung().First();
    EXPECT_DOUBLE_EQ(saved.AsFloat("R_BETRAG"), doc.Rechnung().AsFloat("RBetragNetto"));

    try {
        c->actRechnungInArchivExecute({"nochmal.xml"});
        FAIL() << "archived twice";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "TRechStore Rechnung bereits vorhanden ");
    }
    EXPECT_TRUE(Exists("eingabe/nochmal.xml"));
    EXPECT_FALSE(Exists("ArchivR/nochmal.xml"));
    EXPECT_EQ(Captions(c->InputBasket()), Names{"nochmal.xml"});
    EXPECT_EQ(Rows("Rechnungen.xml"), 2);
}

TEST_F(BasketTest, CopyAndRenameRefuseExistingNames) {
    auto c = StartedWithEditor();
    Put("eingabe/r1.xml", "eins");
    Put("eingabe/r2.xml", "zwei");
    c->ReadInputBasket();

    c->actRechnungKopierenExecute({"r1.xml"});
    EXPECT_EQ(Read("eingabe/SIK_r1.xml"), "eins");
    c->actRechnungKopierenExecute({"r1.xml"});
    EXPECT_EQ(MessageTexts(), Names{"Datei: " + Path("eingabe/SIK_r1.xml") +
                                    " existiert bereits!\r\rKopie kann nicht erstellt werden."});

    view.inputs = {"r2.xml", "R1.xml", "../import/r1.xml"};
    c->actRechnungUmbenennenExecute({"r1.xml"});
    EXPECT_EQ(MessageTexts().back(), "r1.xml kann nicht umbenannt werden, Datei: r2.xml existiert bereits!\r\r ");
    EXPECT_EQ(Read("eingabe/r2.xml"), "zwei");
    c->actRechnungUmbenennenExecute({"r1.xml"});   // only the letter case differs
    EXPECT_EQ(Read("eingabe/R1.xml"), "eins");
    EXPECT_FALSE(Exists("eingabe/r1.xml"));
    EXPECT_THROW(c->actRechnungUmbenennenExecute({"R1.xml"}), Error);
    EXPECT_FALSE(Exists("import/r1.xml"));
    EXPECT_EQ(Captions(c->InputBasket()), (Names{"R1.xml", "r2.xml", "SIK_r1.xml"}));
    EXPECT_EQ(view.inputTitles.back(), "Rechnung umbenennen");
}

TEST_F(BasketTest, ErrorFilesGoBackForCorrectionAndLoseTheirMark) {
    ASSERT_TRUE(RenameFile(Path("import/2024-1105.xml"), Path("import/FEHLER2024-1105.xml")));
    ASSERT_TRUE(RenameFile(Path("import/2024-1104.xml"), Path("import/FEHLER2024-1104.xml")));
    ASSERT_TRUE(RenameFile(Path("import/2024-1103.xml"), Path("import/FEHLER2024-1103.xml")));
    Put("import/2024-1103.xml", "korrigiert");   // waits already under the clean name
    Put("eingabe/2024-1104.xml", "in Arbeit");
    auto c = StartedWithEditor();

    view.answers = {Answer::Yes};
    c->actRechnungKorrigierenExecute(TInvoiceSelection::InInbox({"FEHLER2024-1105.xml", "FEHLER2024-1104.xml"}));
    EXPECT_EQ(view.questions.back(), "alle markierten Rechnungen zur Korrektur in Eingabebereich verschieben?");
    EXPECT_TRUE(Exists("eingabe/2024-1105.xml"));
    EXPECT_FALSE(Exists("import/FEHLER2024-1105.xml"));
    // The input basket's file of that name stays; the error file waits on.
    EXPECT_EQ(Read("eingabe/2024-1104.xml"), "in Arbeit");
    EXPECT_TRUE(Exists("import/FEHLER2024-1104.xml"));
    EXPECT_EQ(view.tabs.back(), MainTab::Eingabe);
    EXPECT_EQ(Captions(c->InputBasket()), (Names{"2024-1104.xml", "2024-1105.xml"}));

    c->actFehlerMarkierungEntfernenExecute(
        TInvoiceSelection::InInbox({"FEHLER2024-1104.xml", "FEHLER2024-1103.xml", "2024-1101.xml"}));
    EXPECT_TRUE(Exists("import/2024-1104.xml"));
    EXPECT_EQ(MessageTexts(), Names{"FEHLER2024-1103.xml kann nicht umbenannt werden, Datei: 2024-1103.xml "
                                    "existiert bereits!\r\r "});
    EXPECT_EQ(Read("import/2024-1103.xml"), "korrigiert");
    EXPECT_TRUE(Exists("import/FEHLER2024-1103.xml"));
    EXPECT_EQ(c->Inbox().Item(size_t(c->Inbox().FindCaption("2024-1104.xml"))).Mark, 1);
}

TEST_F(BasketTest, ArchivedInvoicesReturnToTheInboxOrGoAndTheirOrdersAreFound) {
    auto c = StartedWithEditor();
    c->actProzessStartExecute();
    ASSERT_EQ(c->LastRun().Billed, 4);
    c->ReadInbox();

    // From the grid: the order of a billed invoice, and "show" in view mode.
    EXPECT_TRUE(c->actGeheZuAuftragExecute(TInvoiceSelection::InGrid("2024-1101")));
    EXPECT_EQ(view.tabs.back(), MainTab::ArchivAuftraege);
    std::string handle;
    ASSERT_TRUE(c->RechStore()->FindByNumber("2024-1101", nullptr, &handle));
    EXPECT_EQ(c->AuftragStore()->GetTable().AsString("A_HANDLE"), handle);
    c->actRechnungAnsehenExecute(TInvoiceSelection::InGrid("2024-1101"));
    ASSERT_EQ(editor.calls.size(), 1u);
    EXPECT_EQ(editor.calls[0].path, Path("ArchivR/2024-1101.xml"));
    EXPECT_EQ(editor.calls[0].mode, EntryMode::View);
    // From the inbox: an invoice archived by hand has no order, an unknown one no row.
    EXPECT_FALSE(c->actGeheZuAuftragExecute(TInvoiceSelection::InGrid("2024-1046")));
    EXPECT_FALSE(c->actGeheZuAuftragExecute(TInvoiceSelection::InInbox({"FEHLER2024-1105.xml"})));
    EXPECT_EQ(MessageTexts(), (Names{"Rechnung 2024-1046.xml wurde ohne Auftrag archiviert.",
                                     "Rechnung nicht im Rechnungsarchiv "}));

    // "Rechnung korrigieren" in the grid: the row goes (on disk at once), the
    // file is back in the inbox, the archived copy stays.
    c->actRechnungKorrigierenExecute(TInvoiceSelection::InGrid("2024-1101"));
    EXPECT_TRUE(Exists("import/2024-1101.xml"));
    EXPECT_TRUE(Exists("ArchivR/2024-1101.xml"));
    EXPECT_GE(c->Inbox().FindCaption("2024-1101.xml"), 0);
    EXPECT_EQ(Rows("Rechnungen.xml"), 4);

    // "Rechnung löschen" in the grid deletes only the copy it gave back: an
    // invoice of the same name that waits in the inbox stays.
    Put("import/2024-1102.xml", "eine andere Rechnung");
    c->actRechnungLoeschenExecute(TInvoiceSelection::InGrid("2024-1102"));
    EXPECT_EQ(Read("import/2024-1102.xml"), "eine andere Rechnung");
    EXPECT_FALSE(Exists("import/2024-1102_2.xml"));
    EXPECT_TRUE(Exists("ArchivR/2024-1102.xml"));
    EXPECT_FALSE(c->RechStore()->HasNumber("2024-1102"));
    EXPECT_EQ(Rows("Rechnungen.xml"), 3);
}

TEST_F(BasketTest, ArchiveViewFiltersByDateSearchesAndTitlesItsPrint) {
    auto c = Started();
    const TInvoiceArchiveFilter initial = c->InvoiceArchiveFilter();
    EXPECT_FALSE(initial.Filtern);
    EXPECT_EQ(initial.To, Today());
    EXPECT_EQ(initial.From, IncDays(Today(), -7));
    EXPECT_EQ(c->InvoiceArchivePrintTitle(), "Alle archivierten Rechnungen");

    c->actProzessStartExecute();
    Table& t = c->RechStore()->GetTable();
    ASSERT_EQ(t.RecordCount(), 5);
    TInvoiceArchiveFilter f = initial;
    f.Filtern = true;
    f.From = *ParseDDMMYYYY("01.03.2024");
    f.To = *ParseDDMMYYYY("31.03.2024");
    EXPECT_TRUE(c->SetInvoiceArchiveFilter(f));
    EXPECT_EQ(f.Expression(), "r_datum >= '01.03.2024' and r_datum <= '31.03.2024'");
    EXPECT_EQ(c->InvoiceArchivePrintTitle(), "archivierte Rechnungen 01.03.2024 .. 31.03.2024");
    EXPECT_EQ(t.RecordCount(), 0);

    // November, the month of the billed invoices (the one archived by hand
    // is of October), searched by the start of a number.
    f.From = *ParseDDMMYYYY("01.11.2024");
    f.To = *ParseDDMMYYYY("22.11.2024");
    f.Search = "2024-110";
    EXPECT_TRUE(c->SetInvoiceArchiveFilter(f));
    EXPECT_EQ(t.RecordCount(), 4);
    EXPECT_EQ(t.AsString("R_NUMMER"), "2024-1101");
    f.Search = "X";
    EXPECT_FALSE(c->SetInvoiceArchiveFilter(f));

    // "Gehe zu Rechnung" to an invoice the date filter hides: the filter goes.
    f.From = f.To = *ParseDDMMYYYY("01.01.2020");
    f.Search.clear();
    c->SetInvoiceArchiveFilter(f);
    ASSERT_EQ(t.RecordCount(), 0);
    ASSERT_TRUE(c->actGeheZuRechnungExecute(TOrderSelection::InGrid(1)));
    EXPECT_FALSE(c->InvoiceArchiveFilter().Filtern);
    EXPECT_EQ(t.RecordCount(), 5);
    EXPECT_EQ(view.tabs.back(), MainTab::ArchivRechnung);
}

TEST(ArchiveGridColumns, ShowTheArchivesColumnsInTheirOrderWithTheirForms) {
    std::vector<FieldDef> invoiceFields = TRechStore::DefaultFields();
    invoiceFields.push_back(FieldDef::Str("R_EXTRA", 10));
    const TGridColumns inv = InvoiceArchiveColumns(invoiceFields);
    std::vector<std::string> shown;
    for (const TGridColumn& col : inv.VisibleColumns()) shown.push_back(col.Title() + "/" + std::to_string(col.Width));
    EXPECT_EQ(shown, (std::vector<std::string>{"lfdNr./30", "Nummer/98", "Datum/60", "Datei/200", "Betrag/50", "ID/200"}));
    const TGridColumn betrag = inv.VisibleColumns()[4];   // a copy: the list is a temporary
    EXPECT_EQ(betrag.Align, ColumnAlign::Right);
    EXPECT_EQ(FormatCell(Value(1234.5), betrag, FieldType::Float), "1234,50");
    EXPECT_EQ(FormatCell(Value(*ParseDDMMYYYY("30.10.2024")), inv.VisibleColumns()[2], FieldType::DateTime),
              "30.10.2024");
    EXPECT_EQ(inv.VisibleColumns()[0].Align, ColumnAlign::Right);
    EXPECT_EQ(inv.All().size(), 7u);

    shown.clear();
    for (const TGridColumn& col : OrderArchiveColumns(TAuftragSTore::DefaultFields()).VisibleColumns())
        shown.push_back(col.Title() + (col.Align == ColumnAlign::Right ? ">" : ""));
    EXPECT_EQ(shown, (std::vector<std::string>{"lfdNr.>", "Abs IK>", "Empf IK>", "Name", "Email", "erzeugt",
                                               "verschlüsselt", "versandt", "ID", "Datei", "Dta.Ref>"}));
    // An older order archive without DTAREF shows the others.
    std::vector<FieldDef> older = TAuftragSTore::DefaultFields();
    older.pop_back();
    EXPECT_EQ(OrderArchiveColumns(older).VisibleColumns().size(), 10u);
}

} // namespace
