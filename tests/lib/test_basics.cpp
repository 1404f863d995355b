// What the program start decides before a window exists, and the columns
// and cell texts of the grids.

#include <gtest/gtest.h>

#include <filesystem>

#include "common/TempDir.h"
#include "lib/Basics/GridColumns.h"
#include "lib/Basics/applicationframe.h"
#include "lib/base/DateTime.h"

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
    EXPECT_EQ(ParseCell(" 42 ", FieldDef::Int("I")), Value(int64_t(42)));
    EXPECT_EQ(ParseCell("nein", FieldDef::Bool("F")), Value(false));
    EXPECT_EQ(ParseCell("Ääöüß", text), Value(std::string("Ääöüß")));   // characters, not bytes
    // Emptied cells are empty; blanks in a text stay.
    EXPECT_TRUE(IsNullValue(ParseCell(" ", date)));
    EXPECT_TRUE(IsNullValue(ParseCell("", text)));
    EXPECT_EQ(ParseCell(" a ", text), Value(std::string(" a ")));

    EXPECT_EQ(error("31.02.2024", date), "\"31.02.2024\" ist kein gültiges Datum (TT.MM.JJJJ).");
    EXPECT_EQ(error("1.1.24", date), "\"1.1.24\" ist kein gültiges Datum (TT.MM.JJJJ).");
    EXPECT_EQ(error("01.01.2024 25:00", date), "\"01.01.2024 25:00\" ist kein gültiges Datum (TT.MM.JJJJ).");
    EXPECT_EQ(error("abcdef", text), "\"abcdef\" ist zu lang: höchstens 5 Zeichen.");
    EXPECT_EQ(error("1.234.56", amount), "\"1.234.56\" ist keine gültige Zahl.");
    EXPECT_EQ(error("4,5", FieldDef::Int("I")), "\"4,5\" ist keine gültige ganze Zahl.");
    EXPECT_EQ(error("T", FieldDef::Bool("F")), "\"T\" ist kein gültiger Wert: \"Ja\" oder \"Nein\".");
}
