// The three master-data editors: what a typed cell becomes, what is
// refused with which message, and what reaches the files on closing.

#include <gtest/gtest.h>

#include "EntryFixture.h"
#include "entry/MasterDataEditors.h"

using namespace brenvo;
using namespace brenvo::test;

namespace {

class EditorTest : public ::testing::Test {
protected:
    std::string Refusal(const std::function<void()>& f) {
        try {
            f();
        } catch (const Error& e) {
            return e.what();
        }
        return "";
    }
    Table FileTable(const std::string& path) {
        Table t;
        t.LoadFromFile(path);
        return t;
    }

    TempDir dir;
    TdmVerwaltung dm{dir.path()};
    ScriptedUi ui;
};

} // namespace

TEST_F(EditorTest, TariffsNeedUniqueNamesPricesInCurrencyAndKnownKinds) {
    TTarifeEditor ed(dm);
    ed.Open();
    ed.InsertTarif();
    ed.InsertTarif();
    EXPECT_EQ(ed.Tarife().AsString("Tarifbez"), "Neuer Tarif 2");
    ed.SetTarifCell("Tarifbez", "Taxi Stadt");
    EXPECT_EQ(ed.PositionsHeading(), "Leistungspositionen für Tarif Taxi Stadt");
    ed.Tarife().Locate("Tarifbez", {Value(std::string("Neuer Tarif"))});
    EXPECT_EQ(Refusal([&] { ed.SetTarifCell("Tarifbez", "taxi stadt"); }), "Den Tarif \"taxi stadt\" gibt es bereits.");
    EXPECT_EQ(Refusal([&] { ed.SetTarifCell("Tarifbez", "  "); }), "Ein Tarif braucht eine Bezeichnung.");
    EXPECT_EQ(ed.Tarife().AsString("Tarifbez"), "Neuer Tarif");

    ed.Tarife().Locate("Tarifbez", {Value(std::string("Taxi Stadt"))});
    ed.InsertPosition();
    ed.SetPositionCell("PosNum", "610002");
    ed.SetPositionCell("Art", "k");
    ed.SetPositionCell("EPreis", "1,53");
    ed.SetPositionCell("freikm", "11");
    Table& p = *ed.Positions();
    EXPECT_EQ(p.AsString("Art"), "K");
    EXPECT_EQ(p.AsInteger("EPreis"), 153);
    EXPECT_EQ(dm.KindOf("610002").art, "K");   // the kind lookup sees the new position at once
    ed.SetPositionCell("EPreis", "€10.15");
    EXPECT_EQ(p.AsInteger("EPreis"), 1015);
    EXPECT_EQ(Refusal([&] { ed.SetPositionCell("EPreis", "zehn"); }),
              "\"zehn\" ist kein gültiger Ausdruck für die Währung.\rBeispiele: €10.15 10EUR 123ct 10,34 eur");
    EXPECT_EQ(Refusal([&] { ed.SetPositionCell("Art", "Q"); }),
              "Die Art \"Q\" gibt es nicht; erlaubt sind K, P, W, S, X und T.");
    EXPECT_EQ(Refusal([&] { ed.SetPositionCell("Ust", "sieben"); }), "\"sieben\" ist keine Zahl.");
    EXPECT_EQ(p.AsInteger("EPreis"), 1015);
    EXPECT_EQ(p.GetState(), Table::State::Browse);
    EXPECT_EQ(FormatCell(p.GetValue("EPreis"), *TTarifeEditor::PositionColumns().Find("EPreis"), FieldType::Integer),
              "€ 10,15 ");

    // Closing writes the file; a failed write keeps the window open and loses nothing.
    SetAtomicWriteHook([](const std::string&) { throw Error("Datenträger voll"); });
    EXPECT_FALSE(ed.Close(ui));
    SetAtomicWriteHook(nullptr);
    EXPECT_FALSE(ui.messages.empty());
    EXPECT_TRUE(ed.Close(ui));
    Table file = FileTable(dm.TarifeFile());
    ASSERT_EQ(file.RecordCount(), 2);
    ASSERT_TRUE(file.Locate("Tarifbez", {Value(std::string("Taxi Stadt"))}));
    EXPECT_EQ(file.Nested(TdmVerwaltung::kTarifdetail).AsInteger("EPreis"), 1015);
}

TEST_F(EditorTest, AddressesAreTypedAndEmptyOnesAreNotWritten) {
    TAdressenEditor ed(dm);
    ed.Open();
    ed.Insert();
    ed.SetCell("strasse", "Schloßstraße 5");
    ed.SetCell("plz", "50667");
    ed.SetCell("ort", "Köln");
    ed.Insert();   // left empty
    EXPECT_EQ(Refusal([&] { ed.SetCell("plz", "123456789"); }), "Der Text \"123456789\" ist länger als 7 Zeichen.");
    ASSERT_TRUE(ed.Close(ui));
    Table file = FileTable(dm.AdressenFile());
    ASSERT_EQ(file.RecordCount(), 1);
    EXPECT_EQ(file.AsString("strasse"), "Schloßstraße 5");
    EXPECT_TRUE(dm.LocateAdresse("50667", "KÖLN", "schloßstraße 5"));
}

TEST_F(EditorTest, TemplatesAreFilteredChosenAndFoundAgainAfterClosing) {
    dm.OpenVersicherte();
    for (const char* name : {"Meier", "Mertens", "Amen"}) {
        dm.Versicherte().Append();
        dm.Versicherte().SetString("Nachname", name);
        dm.Versicherte().SetString("VersNum", std::string("V") + name);
        dm.Versicherte().Post();
    }
    {
        TVersicherteEditor ed(dm, TVersicherteEditor::Mode::Selection);
        ed.Open();
        ed.SetFilter("me");
        EXPECT_EQ(ed.CountText(), "2 Vorlagen");   // not "Amen": the surname must begin with it
        ed.Versicherte().Last();
        EXPECT_THROW(ed.SetCell("Nachname", "X"), Error);
        ed.Confirm();
        ASSERT_TRUE(ed.Close(ui));
        EXPECT_TRUE(ed.Chosen());
        EXPECT_EQ(dm.Versicherte().RecordCount(), 3);   // the filter is gone
        EXPECT_EQ(dm.Versicherte().AsString("Nachname"), "Mertens");
    }
    {
        TVersicherteEditor ed(dm, TVersicherteEditor::Mode::Selection);
        ed.Open();
        ed.SetFilter("Zander");
        EXPECT_EQ(ed.CountText(), "0 Vorlagen");
        ed.Confirm();
        ASSERT_TRUE(ed.Close(ui));
        EXPECT_FALSE(ed.Chosen());   // nothing shown, nothing chosen
    }
    {
        TVersicherteEditor ed(dm, TVersicherteEditor::Mode::Maintenance);
        ed.Open();
        ASSERT_TRUE(dm.Versicherte().Locate("Nachname", {Value(std::string("Amen"))}));
        ed.SetCell("Geb", "17.4.1938");
        ed.SetCell("ZStrasse", "Klinikweg 2");
        ed.Insert();   // left empty: dropped
        ASSERT_TRUE(ed.Close(ui));
        EXPECT_EQ(dm.Versicherte().AsString("Nachname"), "Amen");
    }
    Table file = FileTable(dm.VersicherteFile());
    EXPECT_EQ(file.RecordCount(), 3);
    ASSERT_TRUE(file.Locate("Nachname", {Value(std::string("Amen"))}));
    EXPECT_EQ(file.AsDateTime("Geb"), EncodeDate(1938, 4, 17));
}
