// What the program start decides before a window exists, and the columns
// and cell texts of the grids.

#include <gtest/gtest.h>

#include <filesystem>

#include "common/TempDir.h"
#include "lib/Basics/GridColumns.h"
#include "lib/Basics/applicationframe.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"

using namespace brenvo;

TEST(ProgramArguments, DataDirectoryHelpAndMistakes) {
    EXPECT_EQ(ParseProgramArguments({}).DataDir, "");
    const TProgramArguments d = ParseProgramArguments({"-d", "/srv/brenvo"});
    EXPECT_EQ(d.DataDir, "/srv/brenvo");
    EXPECT_TRUE(d.Error.empty());
    EXPECT_TRUE(ParseProgramArguments({"--help"}).Help);
    EXPECT_EQ(ParseProgramArguments({"-d"}).Error, "Option -d ohne Datenverzeichnis");
    EXPECT_EQ(ParseProgramArguments({"-d", "a", "-d", "b"}).Error, "Option -d mehrfach angegeben");
    EXPECT_EQ(ParseProgramArguments({"-x"}).Error, "Unbekannte Option: -x");
    EXPECT_EQ(ParseProgramArguments({"datei"}).Error, "Unerwartete Angabe: datei");
}

TEST(ProgramArguments, DefaultDataDirectoryIsPortableOrTheUsers) {
    TempDir program;
    // Without "Stammdaten" beside the program: the user's data directory.
    EXPECT_EQ(DefaultDataDirectory(program.path(), "/home/anna/.daten", "/home/anna"), "/home/anna/.daten/brenvo");
    EXPECT_EQ(DefaultDataDirectory(program.path(), "", "/home/anna"), "/home/anna/.local/share/brenvo");
    // A relative XDG_DATA_HOME is not to be used.
    EXPECT_EQ(DefaultDataDirectory(program.path(), "daten", "/home/anna"), "/home/anna/.local/share/brenvo");
    std::filesystem::create_directory(program.file("Stammdaten"));
    EXPECT_EQ(DefaultDataDirectory(program.path(), "/home/anna/.daten", "/home/anna"), program.path());
}

TEST(ProgramArguments, OneRunningCopyPerProgramFile) {
    const std::string a = InstanceName("/opt/brenvo/bin/brenvo");
    EXPECT_EQ(a, InstanceName("/opt/brenvo/bin/brenvo"));
    EXPECT_EQ(a, InstanceName("/OPT/Brenvo/bin/BRENVO"));   // letter case does not count
    EXPECT_NE(a, InstanceName("/home/anna/brenvo/brenvo"));
    EXPECT_EQ(a.rfind("brenvo-", 0), 0u);
    EXPECT_EQ(a.size(), 7u + 16u);
}

TEST(GridColumns, SetGridColumnShowsHidesAndIgnores) {
    TGridColumns cols = TGridColumns::FromFields(
        {FieldDef::Int("R_ID"), FieldDef::Str("R_NUMMER", 14), FieldDef::Money("R_BETRAG"), FieldDef::Str("R_HANDLE", 40)});
    EXPECT_EQ(cols.Find("r_betrag")->Format, ColumnFormat::Amount);
    EXPECT_EQ(cols.Find("R_ID")->Align, ColumnAlign::Right);
    EXPECT_TRUE(cols.SetGridColumn("r_nummer", "Nummer", 98));
    EXPECT_TRUE(cols.SetGridColumn("R_HANDLE", "ID", 0));
    EXPECT_FALSE(cols.SetGridColumn("A_ID", "lfdNr.", 30));
    const auto shown = cols.VisibleColumns();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[1].Title(), "Nummer");
    EXPECT_EQ(shown[1].Width, 98);
    EXPECT_EQ(shown[2].Title(), "R_BETRAG");   // untouched columns keep their name
}

TEST(GridColumns, CellsInGermanForms) {
    TGridColumn col;
    EXPECT_EQ(FormatCell(Value(EncodeDate(2014, 10, 15)), col, FieldType::DateTime), "15.10.2014");
    EXPECT_EQ(FormatCell(Value(EncodeDateTime(2014, 10, 15, 14, 5, 3)), col, FieldType::DateTime),
              "15.10.2014 14:05:03");
    EXPECT_EQ(FormatCell(Value(2.5), col, FieldType::Float), "2,5");
    EXPECT_EQ(FormatCell(Value(true), col, FieldType::Boolean), "Ja");
    EXPECT_EQ(FormatCell(Value(), col, FieldType::String), "");
    col.Format = ColumnFormat::Date;
    EXPECT_EQ(FormatCell(Value(EncodeDateTime(2014, 10, 15, 14, 5, 3)), col, FieldType::DateTime), "15.10.2014");
    col.Format = ColumnFormat::Amount;
    EXPECT_EQ(FormatCell(Value(1234.5), col, FieldType::Float), "1.234,50");
    EXPECT_EQ(FormatCell(Value(-0.456), col, FieldType::Float), "-0,46");
    col.Pattern = "#.00";
    EXPECT_EQ(FormatCell(Value(1234.5), col, FieldType::Float), "1234,50");
}

TEST(GridColumns, TypedCellsReadBackAsTheyAreShownOrRefused) {
    auto error = [](const std::string& text, const FieldDef& f) {
        try {
            ParseCell(text, f);
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    const FieldDef date = FieldDef::Date("D"), text = FieldDef::Str("T", 5), amount = FieldDef::Money("B");
    // What a cell shows is read back to the same value.
    TGridColumn col;
    for (const Value& v : {Value(EncodeDate(2012, 1, 1)), Value(EncodeDateTime(2014, 10, 15, 14, 5, 3))})
        EXPECT_EQ(ParseCell(FormatCell(v, col, FieldType::DateTime), date), v);
    col.Format = ColumnFormat::Amount;
    EXPECT_EQ(ParseCell(FormatCell(Value(1234.5), col, FieldType::Float), amount), Value(1234.5));
    EXPECT_EQ(ParseCell("1.5.2024 08:30", date), Value(EncodeDateTime(2024, 5, 1, 8, 30)));
    EXPECT_EQ(ParseCell("-3,25", amount), Value(-3.25));
    EXPECT_EQ(*ParseGermanNumber(" 1.234,5 "), 1234.5);   // points group thousands only before a comma
    EXPECT_EQ(*ParseGermanNumber("12.5"), 12.5);
    EXPECT_EQ(ParseCell(" 42 ", FieldDef::Int("I")), Value(int64_t(42)));
    EXPECT_EQ(ParseCell("nein", FieldDef::Bool("F")), Value(false));
    EXPECT_EQ(ParseCell("Ääöüß", text), Value(std::string("Ääöüß")));   // characters, not bytes
    // Dates in the short forms of the entry windows keep the time of day the field holds.
    const Value evening = EncodeDateTime(2014, 10, 15, 18, 30, 0);
    EXPECT_EQ(ParseCell("1.1.24", date), Value(EncodeDate(2024, 1, 1)));
    EXPECT_EQ(ParseCell("3.11.24", date, evening), Value(EncodeDateTime(2024, 11, 3, 18, 30, 0)));
    // Emptied cells are empty (a date keeps only its time of day); trailing blanks of a text go.
    EXPECT_TRUE(IsNullValue(ParseCell(" ", date)));
    EXPECT_TRUE(IsNullValue(ParseCell(" ", date, Value(EncodeDate(2014, 10, 15)))));
    EXPECT_EQ(ParseCell("", date, evening), Value(TDateTime::FromValue(std::get<TDateTime>(evening).TimePart())));
    EXPECT_TRUE(IsNullValue(ParseCell("  ", text)));
    EXPECT_EQ(ParseCell(" a ", text), Value(std::string(" a")));

    EXPECT_EQ(error("31.02.2024", date), "\"31.02.2024\" kann nicht in ein Datum konvertiert werden.");
    EXPECT_EQ(error("01.01.2024 25:00", date), "\"01.01.2024 25:00\" kann nicht in ein Datum konvertiert werden.");
    EXPECT_EQ(error("abcdef", text), "Der Text \"abcdef\" ist länger als 5 Zeichen.");
    EXPECT_EQ(error("Ωmega", FieldDef::MemoF("M")),
              "Das Zeichen \"Ω\" ist nicht erlaubt (nur Zeichen des Zeichensatzes windows-1252).");
    EXPECT_EQ(error("1.234.56", amount), "\"1.234.56\" ist keine Zahl.");
    EXPECT_EQ(error("4,5", FieldDef::Int("I")), "\"4,5\" ist keine ganze Zahl.");
    EXPECT_EQ(error("T", FieldDef::Bool("F")), "\"T\" ist weder Ja noch Nein.");
}

TEST(GridColumns, StoredCellsGoThroughTheColumnsFormatterAndTheOwnersCheck) {
    Table t({FieldDef::Int("ID"), FieldDef::Int("EPreis"), FieldDef::Str("Name", 10)});
    t.Append();
    t.SetInteger("ID", 1);
    t.SetInteger("EPreis", 100);
    t.SetString("Name", "Alt");
    t.Post();
    t.MergeChangeLog();
    TGridColumns cols = TGridColumns::FromFields(t.Fields());
    cols.Find("EPreis")->Optimiser = std::make_shared<const TWaehrungFieldOptimiser>();
    const auto refuseX = [](const std::string&, const Value& v) {
        if (std::get<std::string>(v) == "X") throw Error("Nicht erlaubt.");
    };

    StoreCell(t, *cols.Find("EPreis"), "1.234,56");   // euros typed, whole cents stored
    EXPECT_EQ(t.AsInteger("EPreis"), 123456);
    EXPECT_EQ(FormatCell(t.GetValue(1), *cols.Find("EPreis"), FieldType::Integer), "€ 1.234,56 ");
    StoreCell(t, *cols.Find("Name"), "Neu", refuseX);
    EXPECT_EQ(t.AsString("Name"), "Neu");
    const int changes = t.ChangeCount();
    // Refused by the owner, by the formatter, by the field: the row stays as it was.
    EXPECT_THROW(StoreCell(t, *cols.Find("Name"), "X", refuseX), Error);
    EXPECT_THROW(StoreCell(t, *cols.Find("EPreis"), "zwölf Euro"), Error);
    EXPECT_THROW(StoreCell(t, *cols.Find("Name"), "viel zu lang"), Error);
    EXPECT_EQ(t.GetState(), Table::State::Browse);
    EXPECT_EQ(t.ChangeCount(), changes);
    EXPECT_EQ(t.AsString("Name"), "Neu");
    EXPECT_EQ(t.AsInteger("EPreis"), 123456);
}
