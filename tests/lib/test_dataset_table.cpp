// The table engine in memory: navigation, index, searching, filters,
// editing, change log, bookmarks and notifications.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/dataset/Table.h"

using namespace brenvo;

namespace {

// The texts of one column over the visible rows, in the table's order.
std::vector<std::string> Col(Table& t, const char* name) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.AsString(name));
    return out;
}

void AddRow(Table& t, std::initializer_list<std::pair<const char*, Value>> values) {
    t.Append();
    for (auto& [n, v] : values) t.SetValue(n, v);
    t.Post();
}

// A link table as the cost-bearer directory has it.
Table Links() {
    Table t({FieldDef::Str("K_IK", 9), FieldDef::Str("Z_ART", 2), FieldDef::Str("IK_PARTNER", 9),
             FieldDef::Str("Z_LESTANDORTLAND", 2), FieldDef::Date("Z_VALIDFROM"), FieldDef::Int("NR")});
    auto add = [&](const char* ik, const char* art, const char* partner, const char* land, int nr) {
        AddRow(t, {{"K_IK", std::string(ik)}, {"Z_ART", std::string(art)}, {"IK_PARTNER", std::string(partner)},
                   {"Z_LESTANDORTLAND", std::string(land)}, {"Z_VALIDFROM", EncodeDate(2022, 1, 1)},
                   {"NR", int64_t(nr)}});
    };
    add("200000002", "03", "900000001", "99", 1);
    add("100000001", "09", "900000009", "05", 2);
    add("100000001", "03", "900000003", "99", 3);
    add("100000001", "01", "100000001", "99", 4);
    add("100000001", "03", "900000004", "05", 5);
    add("300000003", "01", "100000001", "99", 6);
    add("100000001", "03", "900000005", "01", 7);
    t.MergeChangeLog();
    return t;
}

} // namespace

// ---------------------------------------------------------------- navigation

TEST(TableNavigation, WalksVisibleRowsWithEofBofAndRecNo) {
    Table t({FieldDef::Int("N")});
    EXPECT_TRUE(t.Eof());
    EXPECT_TRUE(t.Bof());
    EXPECT_EQ(t.RecNo(), 0);
    EXPECT_EQ(t.GetBookmark(), 0u);
    EXPECT_THROW(t.AsString("N"), Error);
    for (int i = 1; i <= 3; ++i) AddRow(t, {{"N", int64_t(i)}});
    t.First();
    EXPECT_TRUE(t.Bof());
    EXPECT_FALSE(t.Eof());
    EXPECT_EQ(t.AsInteger("N"), 1);
    t.Next();
    EXPECT_FALSE(t.Bof());
    EXPECT_EQ(t.RecNo(), 2);
    t.Last();
    EXPECT_EQ(t.AsInteger("N"), 3);
    t.Next();
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.AsInteger("N"), 3);   // stays on the last row
    t.Prior();
    EXPECT_FALSE(t.Eof());
    EXPECT_EQ(t.AsInteger("N"), 2);
    t.Prior();
    t.Prior();
    EXPECT_TRUE(t.Bof());
    EXPECT_EQ(t.AsInteger("N"), 1);
    t.SetRecNo(99);
    EXPECT_EQ(t.RecNo(), 3);
    t.SetRecNo(-4);
    EXPECT_EQ(t.RecNo(), 1);
    EXPECT_EQ(t.RecordCount(), 3);
}

TEST(TableStructure, ColumnNamesIgnoreCaseAndDuplicatesAreRefused) {
    Table t({FieldDef::Str("K_IK", 9), FieldDef::Str("Straße", 20)});
    EXPECT_EQ(t.FieldIndex("k_ik"), 0);
    EXPECT_EQ(t.FieldIndex("STRASSE"), -1);
    EXPECT_EQ(t.FieldIndex("STRAßE"), 1);
    EXPECT_EQ(t.FieldIndex("strAßE"), 1);
    EXPECT_FALSE(t.HasField("K_IK2"));
    EXPECT_THROW(t.Field(2), Error);
    EXPECT_THROW(Table({FieldDef::Int("A"), FieldDef::Str("a", 3)}), Error);
    EXPECT_THROW(Table({FieldDef::NestedF("N", {FieldDef::Int("X"), FieldDef::Int("x")})}), Error);
    EXPECT_THROW(Table({FieldDef::Int("mit Blank")}), Error);   // could not stand in a table file
    EXPECT_THROW(Table({FieldDef::Int("")}), Error);
    try {
        t.AsString("NOPE");
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("NOPE"), std::string::npos);
    }
}

// ---------------------------------------------------------------- index

TEST(TableStructure, ColumnsIdChangesOnlyWithTheColumns) {
    Table t({FieldDef::Str("K_IK", 9), FieldDef::Int("N")});
    const uint64_t first = t.ColumnsId();
    AddRow(t, {{"K_IK", std::string("101")}, {"N", int64_t(1)}});
    t.SetIndexFieldNames("N");
    t.SetFilter("N = 1");
    t.SetFiltered(true);
    EXPECT_EQ(t.ColumnsId(), first);   // rows, order and filter keep the columns
    t.CreateDataSet({FieldDef::Int("N"), FieldDef::Str("K_IK", 9)});
    const uint64_t second = t.ColumnsId();
    EXPECT_NE(second, first);           // same names, other positions
    t.Close();
    EXPECT_NE(t.ColumnsId(), second);
    std::unique_ptr<Table> copy = t.Clone();
    EXPECT_EQ(copy->ColumnsId(), t.ColumnsId());   // a copy has the same columns
}

TEST(TableIndex, SortIsStableAndEmptyNamesRestoreInsertionOrder) {
    Table t = Links();
    t.SetIndexFieldNames("k_ik;Z_ART");
    EXPECT_EQ(Col(t, "NR"), (std::vector<std::string>{"4", "3", "5", "7", "2", "1", "6"}));
    t.SetIndexFieldNames("Z_ART");
    EXPECT_EQ(Col(t, "NR"), (std::vector<std::string>{"4", "6", "1", "3", "5", "7", "2"}));
    t.SetIndexFieldNames("");
    EXPECT_EQ(Col(t, "NR"), (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7"}));
    EXPECT_THROW(t.SetIndexFieldNames("K_IK;NOPE"), Error);
    EXPECT_EQ(t.IndexFieldNames(), "");
}

TEST(TableIndex, NullsSortFirstAndTheCurrentRowStaysCurrentOnResort) {
    Table t({FieldDef::Str("S", 5), FieldDef::Int("N")});
    AddRow(t, {{"S", std::string("b")}, {"N", int64_t(1)}});
    AddRow(t, {{"N", int64_t(2)}});
    AddRow(t, {{"S", std::string("")}, {"N", int64_t(3)}});
    AddRow(t, {{"S", std::string("B")}, {"N", int64_t(4)}});
    t.SetIndexFieldNames("S");
    EXPECT_EQ(Col(t, "N"), (std::vector<std::string>{"2", "3", "4", "1"}));   // null, "", then bytes: "B" < "b"
    t.Locate("N", {int64_t(1)});
    t.SetIndexFieldNames("N");
    EXPECT_EQ(t.AsInteger("N"), 1);
    EXPECT_EQ(t.RecNo(), 1);
}

// The index is kept up to date edit by edit; after any sequence of appends,
// inserts, key changes and deletions it must equal a stable sort of the rows
// in their order of insertion.
TEST(TableIndex, IncrementalMaintenanceMatchesAStableSortAfterRandomEdits) {
    Table t({FieldDef::Int("ID"), FieldDef::Str("K", 2)});
    t.SetIndexFieldNames("K");
    std::vector<std::pair<int, std::string>> model;   // order of insertion
    std::mt19937 rng(4711);
    int nextId = 1;
    auto key = [&] { return std::string(1, char('a' + rng() % 4)); };
    for (int step = 0; step < 600; ++step) {
        int op = int(rng() % 5);
        if (op <= 1 || model.empty()) {
            std::string k = key();
            if (op == 1 && !model.empty()) {
                t.SetRecNo(int(rng() % model.size()) + 1);
                int before = int(t.AsInteger("ID"));
                t.Insert();
                auto it = std::find_if(model.begin(), model.end(), [&](auto& m) { return m.first == before; });
                model.insert(it, {nextId, k});
            } else {
                t.Append();
                model.push_back({nextId, k});
            }
            t.SetInteger("ID", nextId++);
            t.SetString("K", k);
            t.Post();
        } else if (op == 2 || op == 3) {
            t.SetRecNo(int(rng() % model.size()) + 1);
            int id = int(t.AsInteger("ID"));
            std::string k = key();
            t.Edit();
            t.SetString("K", k);
            t.Post();
            EXPECT_EQ(t.AsInteger("ID"), id);   // the edited row stays current
            std::find_if(model.begin(), model.end(), [&](auto& m) { return m.first == id; })->second = k;
        } else {
            t.SetRecNo(int(rng() % model.size()) + 1);
            int id = int(t.AsInteger("ID"));
            t.Delete();
            model.erase(std::find_if(model.begin(), model.end(), [&](auto& m) { return m.first == id; }));
        }
        if (step % 50 == 0 || step == 599) {
            auto expected = model;
            std::stable_sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.second < b.second; });
            std::vector<std::string> ids;
            for (auto& m : expected) ids.push_back(std::to_string(m.first));
            ASSERT_EQ(Col(t, "ID"), ids) << "step " << step;
        }
    }
    std::vector<std::string> sorted = Col(t, "ID");
    t.SetIndexFieldNames("");
    std::vector<std::string> natural;
    for (auto& m : model) natural.push_back(std::to_string(m.first));
    EXPECT_EQ(Col(t, "ID"), natural);
    // Sorting all rows at once gives the same order as the edits kept.
    t.SetIndexFieldNames("K");
    EXPECT_EQ(Col(t, "ID"), sorted);
}

TEST(TableIndex, ManyInsertsAtOnePlaceKeepTheirOrder) {
    Table t({FieldDef::Int("N")});
    AddRow(t, {{"N", int64_t(1000)}});
    AddRow(t, {{"N", int64_t(2000)}});
    t.Last();
    for (int i = 0; i < 40; ++i) {   // each new row goes before the row inserted last
        t.Insert();
        t.SetInteger("N", 1999 - i);
        t.Post();
    }
    std::vector<std::string> col = Col(t, "N");
    ASSERT_EQ(col.size(), 42u);
    EXPECT_EQ(col.front(), "1000");
    EXPECT_EQ(col[1], "1960");
    EXPECT_EQ(col.back(), "2000");
    EXPECT_TRUE(std::is_sorted(col.begin(), col.end()));
}

// ---------------------------------------------------------------- searching

TEST(TableSearch, FindKeyPositionsOnTheFirstMatchAndStepsOnWhileKeysHold) {
    Table t = Links();
    t.SetIndexFieldNames("K_IK;Z_ART;Z_LESTANDORTLAND");
    ASSERT_TRUE(t.FindKey({std::string("100000001"), std::string("03")}));
    std::vector<std::string> partners;
    while (!t.Eof() && t.AsString("K_IK") == "100000001" && t.AsString("Z_ART") == "03") {
        partners.push_back(t.AsString("IK_PARTNER"));
        t.Next();
    }
    EXPECT_EQ(partners, (std::vector<std::string>{"900000005", "900000004", "900000003"}));

    t.First();
    EXPECT_FALSE(t.FindKey({std::string("100000001"), std::string("02")}));
    EXPECT_EQ(t.RecNo(), 1);   // no move
    EXPECT_TRUE(t.FindKey({std::string("300000003")}));
    EXPECT_EQ(t.AsInteger("NR"), 6);
    EXPECT_THROW(t.FindKey({std::string("1"), std::string("2"), std::string("3"), std::string("4")}), Error);

    t.FindNearest({std::string("2")});
    EXPECT_EQ(t.AsString("K_IK"), "200000002");
    t.FindNearest({std::string("9")});
    EXPECT_TRUE(t.Eof());

    t.SetIndexFieldNames("");
    EXPECT_THROW(t.FindKey({std::string("1")}), Error);
}

TEST(TableSearch, FindKeyConvertsKeysToTheColumnType) {
    Table t({FieldDef::Int("ID"), FieldDef::Date("D")});
    AddRow(t, {{"ID", int64_t(7)}, {"D", EncodeDate(2024, 3, 1)}});
    AddRow(t, {{"ID", int64_t(12)}, {"D", EncodeDate(2024, 3, 2)}});
    t.SetIndexFieldNames("ID");
    EXPECT_TRUE(t.FindKey({std::string("12")}));
    EXPECT_TRUE(t.FindKey({12.0}));
    EXPECT_FALSE(t.FindKey({12.5}));
    t.SetIndexFieldNames("D");
    EXPECT_TRUE(t.FindKey({std::string("01.03.2024")}));
    EXPECT_EQ(t.AsInteger("ID"), 7);
}

// A search posts a pending edit first; a listener that searches the same
// table meanwhile must not change what the first search looks for.
TEST(TableSearch, ASearchStartedWhileTheEditIsPostedKeepsTheOuterKeys) {
    Table t({FieldDef::Int("ID"), FieldDef::Str("NAME", 10)});
    for (int i = 1; i <= 5; ++i) AddRow(t, {{"ID", int64_t(i)}, {"NAME", std::string("n") + std::to_string(i)}});
    t.SetIndexFieldNames("ID");
    bool inner = false;
    t.Subscribe([&](TableEvent ev, Table::Bookmark) {
        if (ev != TableEvent::RowChanged || inner) return;
        inner = true;
        EXPECT_TRUE(t.FindKey({int64_t(1)}));
    });
    ASSERT_TRUE(t.FindKey({int64_t(3)}));
    t.Edit();
    t.SetValue("NAME", std::string("neu"));
    ASSERT_TRUE(t.FindKey({int64_t(5)}));   // posts, the listener searches for 1
    EXPECT_TRUE(inner);
    EXPECT_EQ(t.AsInteger("ID"), 5);
    t.FindNearest({int64_t(4)});
    EXPECT_EQ(t.AsInteger("ID"), 4);
    ASSERT_TRUE(t.FindKey({int64_t(3)}));
    EXPECT_EQ(t.AsString("NAME"), "neu");
}

TEST(TableSearch, LocateExactCaseInsensitiveAndPrefix) {
    Table t({FieldDef::Str("K_IK", 9), FieldDef::Str("DFU_PROTOKOLL", 3), FieldDef::Str("NAME", 30), FieldDef::Int("NR")});
    AddRow(t, {{"K_IK", std::string("2")}, {"DFU_PROTOKOLL", std::string("070")}, {"NAME", std::string("Zeta")}, {"NR", int64_t(1)}});
    AddRow(t, {{"K_IK", std::string("1")}, {"DFU_PROTOKOLL", std::string("016")}, {"NAME", std::string("Äpfel")}, {"NR", int64_t(2)}});
    AddRow(t, {{"K_IK", std::string("1")}, {"DFU_PROTOKOLL", std::string("070")}, {"NAME", std::string("äpfel und Birnen")}, {"NR", int64_t(3)}});
    AddRow(t, {{"K_IK", std::string("1")}, {"DFU_PROTOKOLL", std::string("070")}, {"NAME", std::string("Meier")}, {"NR", int64_t(4)}});
    t.SetIndexFieldNames("K_IK");

    // Exact on an index column plus a further column: the first in index order.
    EXPECT_TRUE(t.Locate("k_ik;dfu_protokoll", {std::string("1"), std::string("070")}));
    EXPECT_EQ(t.AsInteger("NR"), 3);
    EXPECT_FALSE(t.Locate("K_IK;DFU_PROTOKOLL", {std::string("2"), std::string("016")}));
    EXPECT_EQ(t.AsInteger("NR"), 3);   // no move

    EXPECT_FALSE(t.Locate("NAME", {std::string("äpfel")}));
    EXPECT_TRUE(t.Locate("NAME", {std::string("äpfel")}, {.caseInsensitive = true}));
    EXPECT_EQ(t.AsInteger("NR"), 2);
    EXPECT_TRUE(t.Locate("NAME", {std::string("ÄPFEL U")}, {.caseInsensitive = true, .partialKey = true}));
    EXPECT_EQ(t.AsInteger("NR"), 3);
    EXPECT_FALSE(t.Locate("NAME", {std::string("ÄPFEL U")}, {.partialKey = true}));
    EXPECT_TRUE(t.Locate("NAME", {std::string("Me")}, {.partialKey = true}));
    EXPECT_EQ(t.AsInteger("NR"), 4);

    // A case-sensitive prefix on the index column itself.
    t.SetIndexFieldNames("NAME");
    EXPECT_TRUE(t.Locate("NAME", {std::string("äp")}, {.partialKey = true}));
    EXPECT_EQ(t.AsInteger("NR"), 3);
    EXPECT_TRUE(t.Locate("NR", {std::string("1")}));
    EXPECT_EQ(t.AsString("NAME"), "Zeta");
    EXPECT_THROW(t.Locate("NR;NAME", {int64_t(1)}), Error);
}

TEST(TableSearch, NullTextMatchesEmptyTextInLocateAndFindKey) {
    Table t({FieldDef::Str("A", 5), FieldDef::Int("N")});
    AddRow(t, {{"A", std::string("x")}, {"N", int64_t(1)}});
    AddRow(t, {{"N", int64_t(2)}});
    t.SetIndexFieldNames("A");
    EXPECT_TRUE(t.FindKey({std::string()}));
    EXPECT_EQ(t.AsInteger("N"), 2);
    t.First();
    t.Next();
    EXPECT_TRUE(t.Locate("A;N", {std::string(), int64_t(2)}));
    EXPECT_EQ(t.AsInteger("N"), 2);
}

// ---------------------------------------------------------------- filters

TEST(TableFilter, ComparisonsWithTextsNumbersAndDates) {
    Table t({FieldDef::Int("R_ID"), FieldDef::Date("r_datum"), FieldDef::Str("FLAG", 1), FieldDef::Money("BETRAG")});
    AddRow(t, {{"R_ID", int64_t(1)}, {"R_DATUM", EncodeDate(2024, 2, 29)}, {"FLAG", std::string("T")}, {"BETRAG", 10.5}});
    AddRow(t, {{"R_ID", int64_t(2)}, {"R_DATUM", EncodeDate(2024, 3, 1)}, {"FLAG", std::string("F")}, {"BETRAG", 20.0}});
    AddRow(t, {{"R_ID", int64_t(3)}, {"R_DATUM", EncodeDate(2024, 3, 31)}, {"BETRAG", -3.0}});
    AddRow(t, {{"R_ID", int64_t(4)}, {"R_DATUM", EncodeDateTime(2024, 3, 31, 14, 0)}, {"FLAG", std::string("T")}});
    AddRow(t, {{"R_ID", int64_t(12)}, {"R_DATUM", EncodeDate(2024, 4, 1)}, {"FLAG", std::string("T")}, {"BETRAG", 7.0}});
    auto ids = [&](const std::string& expr) {
        t.SetFilter(expr);
        t.SetFiltered(true);
        auto r = Col(t, "R_ID");
        t.SetFiltered(false);
        return r;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(ids("r_datum >= '01.03.2024' and r_datum <= '31.03.2024'"), (V{"2", "3"}));
    EXPECT_EQ(ids("R_DATUM > '31.03.2024'"), (V{"4", "12"}));
    EXPECT_EQ(ids("R_DATUM = '31.03.2024 14:00'"), (V{"4"}));
    EXPECT_EQ(ids(" R_ID = 12 "), (V{"12"}));
    EXPECT_EQ(ids("R_ID <> 12 AnD r_id >= '3'"), (V{"3", "4"}));
    EXPECT_EQ(ids("BETRAG < 10.5"), (V{"3", "4", "12"}));   // a null number is below every value
    EXPECT_EQ(ids("BETRAG >= -3"), (V{"1", "2", "3", "12"}));
    EXPECT_EQ(ids("FLAG = ''"), (V{"3"}));                  // a null text compares as ""
    EXPECT_EQ(ids("FLAG IS NULL OR FLAG = 'F'"), (V{"2", "3"}));
    EXPECT_EQ(ids("'T' = flag"), (V{"1", "4", "12"}));
}

TEST(TableFilter, AndBindsTighterThanOrAndParenthesesAndNotWork) {
    Table t({FieldDef::Str("ISVERWEIS", 1), FieldDef::Str("ISDATEN", 1), FieldDef::Int("N")});
    const char* rows[][2] = {{"T", "T"}, {"T", "F"}, {"F", "T"}, {"F", "F"}};
    int n = 0;
    for (auto& r : rows) AddRow(t, {{"ISVERWEIS", std::string(r[0])}, {"ISDATEN", std::string(r[1])}, {"N", int64_t(++n)}});
    auto ns = [&](const std::string& expr) {
        t.SetFilter(expr);
        t.SetFiltered(true);
        return Col(t, "N");
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(ns(" ISVERWEIS <> 'T' AND ISDATEN = 'T'"), (V{"3"}));
    EXPECT_EQ(ns("N = 1 or ISVERWEIS = 'F' and ISDATEN = 'F'"), (V{"1", "4"}));
    EXPECT_EQ(ns("(N = 1 OR ISVERWEIS = 'F') AND ISDATEN = 'F'"), (V{"4"}));
    EXPECT_EQ(ns("not (isdaten = 'T') AND NOT N=4"), (V{"2"}));
    EXPECT_EQ(t.RecordCount(), 1);
}

TEST(TableFilter, MalformedExpressionsFailAndKeepThePreviousFilter) {
    Table t({FieldDef::Str("A", 5), FieldDef::Int("N"), FieldDef::Date("D")});
    AddRow(t, {{"A", std::string("x")}, {"N", int64_t(1)}});
    AddRow(t, {{"A", std::string("y")}, {"N", int64_t(2)}});
    t.SetFilter("A = 'x'");
    t.SetFiltered(true);
    for (const char* bad : {"A = 'x", "A = ", "(A = 'x'", "A = 'x')", "NOPE = 1", "A 'x'", "N = 'abc'",
                            "D = '31.02.2024'", "A = 'x' AND", "1 = 1", "A == 'x'"}) {
        EXPECT_THROW(t.SetFilter(bad), Error) << bad;
    }
    EXPECT_EQ(t.Filter(), "A = 'x'");
    EXPECT_EQ(Col(t, "N"), (std::vector<std::string>{"1"}));
    t.SetFilter("A = 'it''s'");
    EXPECT_TRUE(t.IsEmpty());
}

TEST(TableFilter, FilterWithIndexSearchingEditingAndRemoval) {
    Table t = Links();
    t.SetIndexFieldNames("K_IK;Z_ART");
    t.SetFilter("Z_LESTANDORTLAND = '99'");
    t.SetFiltered(true);
    EXPECT_EQ(Col(t, "NR"), (std::vector<std::string>{"4", "3", "1", "6"}));
    EXPECT_EQ(t.RecordCount(), 4);

    // Searches see only the visible rows.
    ASSERT_TRUE(t.FindKey({std::string("100000001"), std::string("03")}));
    EXPECT_EQ(t.AsInteger("NR"), 3);
    EXPECT_FALSE(t.FindKey({std::string("100000001"), std::string("09")}));
    EXPECT_FALSE(t.Locate("NR", {int64_t(5)}));

    // A posted row that no longer passes disappears; the next one becomes current.
    ASSERT_TRUE(t.Locate("NR", {int64_t(3)}));
    Table::Bookmark b3 = t.GetBookmark();
    t.Edit();
    t.SetString("Z_LESTANDORTLAND", "06");
    t.Post();
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_EQ(t.AsInteger("NR"), 1);
    EXPECT_FALSE(t.BookmarkValid(b3));
    EXPECT_FALSE(t.GotoBookmark(b3));

    // A new row that does not pass is stored but hidden.
    AddRow(t, {{"K_IK", std::string("100000001")}, {"Z_ART", std::string("02")}, {"Z_LESTANDORTLAND", std::string("01")}, {"NR", int64_t(8)}});
    EXPECT_EQ(t.RecordCount(), 3);

    t.SetFiltered(false);
    EXPECT_EQ(t.RecordCount(), 8);
    EXPECT_EQ(Col(t, "NR"), (std::vector<std::string>{"4", "8", "3", "5", "7", "2", "1", "6"}));
    EXPECT_TRUE(t.GotoBookmark(b3));
    EXPECT_EQ(t.Filter(), "Z_LESTANDORTLAND = '99'");
}

TEST(TableFilter, RecordFilterReadsTheRowThroughTheTable) {
    Table t({FieldDef::Int("A_ID"), FieldDef::Str("NAME", 10)});
    for (int i = 1; i <= 5; ++i) AddRow(t, {{"A_ID", int64_t(i)}, {"NAME", std::string("n") + std::to_string(i)}});
    std::string list = "'2','4','5'";
    t.SetRecordFilter([&](const Table& tb) { return list.find("'" + tb.AsString("A_ID") + "'") != std::string::npos; });
    EXPECT_EQ(t.RecordCount(), 5);   // not yet filtering
    t.SetFiltered(true);
    EXPECT_EQ(Col(t, "NAME"), (std::vector<std::string>{"n2", "n4", "n5"}));
    t.SetFilter("A_ID <> 4");
    EXPECT_EQ(Col(t, "NAME"), (std::vector<std::string>{"n2", "n5"}));
    t.SetRecordFilter(nullptr);
    t.SetFilter("");
    EXPECT_EQ(t.RecordCount(), 5);
}

// ---------------------------------------------------------------- editing

TEST(TableEditing, BeforeDeleteVetoKeepsTheRowAndBeforePostCanRefuse) {
    Table t({FieldDef::Int("N"), FieldDef::Str("S", 4)});
    AddRow(t, {{"N", int64_t(1)}});
    AddRow(t, {{"N", int64_t(2)}});
    t.MergeChangeLog();
    t.BeforeDelete = [](Table& tb) {
        if (tb.AsInteger("N") == 1) throw Error("Zeile 1 bleibt");
    };
    t.First();
    EXPECT_THROW(t.Delete(), Error);
    EXPECT_EQ(t.RecordCount(), 2);
    EXPECT_EQ(t.AsInteger("N"), 1);
    EXPECT_EQ(t.ChangeCount(), 0);
    t.Next();
    t.Delete();
    EXPECT_EQ(t.RecordCount(), 1);

    t.BeforePost = [](Table& tb) {
        if (tb.AsString("S").empty()) throw Error("S fehlt");
    };
    t.Append();
    t.SetInteger("N", 3);
    EXPECT_THROW(t.Post(), Error);
    EXPECT_EQ(t.GetState(), Table::State::Insert);
    t.SetString("S", "Straßenbahn");   // cut to the width, counting characters
    t.Post();
    EXPECT_EQ(t.AsString("S"), "Stra");
    EXPECT_EQ(t.RecordCount(), 2);
}

TEST(TableEditing, DeleteMakesTheFollowingRowCurrentAndInsertGoesBeforeTheCurrentOne) {
    Table t({FieldDef::Int("N")});
    for (int i = 1; i <= 3; ++i) AddRow(t, {{"N", int64_t(i)}});
    t.SetRecNo(2);
    t.Insert();
    t.SetInteger("N", 15);
    t.Post();
    EXPECT_EQ(Col(t, "N"), (std::vector<std::string>{"1", "15", "2", "3"}));
    t.SetRecNo(2);
    t.Delete();
    EXPECT_EQ(t.AsInteger("N"), 2);
    t.Last();
    t.Delete();
    EXPECT_EQ(t.AsInteger("N"), 2);
    EXPECT_FALSE(t.Eof());
}

TEST(TableEditing, FieldConversionsAndEditBuffer) {
    Table t({FieldDef::Int("I"), FieldDef::Flt("F"), FieldDef::Bool("B"), FieldDef::Date("D"), FieldDef::Str("S", 20),
             FieldDef::MemoF("M")});
    t.Append();
    t.SetString("I", "42");
    t.SetString("F", "1,25");
    t.SetString("B", "T");
    t.SetString("D", "15.10.2014");
    t.SetFloat("S", 0.1);
    EXPECT_THROW(t.SetString("I", "4x"), Error);
    EXPECT_THROW(t.SetString("D", "31.02.2014"), Error);
    t.Post();
    EXPECT_EQ(t.AsInteger("I"), 42);
    EXPECT_EQ(t.AsFloat("F"), 1.25);
    EXPECT_TRUE(t.AsBoolean("B"));
    EXPECT_EQ(t.AsString("B"), "True");
    EXPECT_EQ(t.AsString("D"), "15.10.2014");
    EXPECT_EQ(t.AsString("S"), "0.1");
    EXPECT_TRUE(t.IsNull("M"));
    EXPECT_EQ(t.AsString("M"), "");
    EXPECT_EQ(t.AsInteger("M"), 0);
    EXPECT_THROW(t.SetString("I", "1"), Error);   // not in Edit state

    t.Edit();
    t.SetDateTime("D", EncodeDateTime(2014, 10, 15, 14, 5, 3));
    EXPECT_EQ(t.AsString("D"), "15.10.2014 14:05:03");   // reads the buffer
    t.SetString("S", "abc");
    EXPECT_THROW(t.AsInteger("S"), Error);
    t.Cancel();
    EXPECT_EQ(t.AsString("D"), "15.10.2014");
    EXPECT_EQ(t.AsString("S"), "0.1");
    t.Edit();
    t.SetDateTime("D", TDateTime());
    t.Next();   // moving posts the edit
    EXPECT_EQ(t.GetState(), Table::State::Browse);
    EXPECT_TRUE(t.IsNull("D"));
}

// ---------------------------------------------------------------- change log

TEST(TableChangeLog, CountsMergesAndCancelsInsertsEditsAndDeletes) {
    Table t({FieldDef::Int("N"), FieldDef::Str("S", 5)});
    for (int i = 1; i <= 4; ++i) AddRow(t, {{"N", int64_t(i)}, {"S", std::string("s") + std::to_string(i)}});
    EXPECT_EQ(t.ChangeCount(), 4);
    t.MergeChangeLog();
    EXPECT_FALSE(t.HasChanges());

    t.SetIndexFieldNames("S");
    t.Locate("N", {int64_t(2)});
    t.Edit();
    t.SetString("S", "zz");
    t.Post();
    t.Edit();
    t.SetString("S", "zzz");
    t.Post();
    EXPECT_EQ(t.ChangeCount(), 1);   // one modified row however often
    t.Locate("N", {int64_t(3)});
    t.Delete();
    AddRow(t, {{"N", int64_t(5)}, {"S", std::string("a")}});
    EXPECT_EQ(t.ChangeCount(), 3);
    AddRow(t, {{"N", int64_t(6)}});
    t.Delete();   // inserted and deleted again: no change
    t.Edit();     // posting an unchanged buffer is no change either
    t.Post();
    EXPECT_EQ(t.ChangeCount(), 3);

    t.Locate("N", {int64_t(4)});
    Table::Bookmark b4 = t.GetBookmark();
    t.CancelUpdates();
    EXPECT_EQ(t.ChangeCount(), 0);
    EXPECT_EQ(t.GetBookmark(), b4);
    EXPECT_EQ(Col(t, "S"), (std::vector<std::string>{"s1", "s2", "s3", "s4"}));
    t.SetIndexFieldNames("");
    EXPECT_EQ(Col(t, "N"), (std::vector<std::string>{"1", "2", "3", "4"}));

    t.Locate("N", {int64_t(1)});
    t.Delete();
    t.MergeChangeLog();
    t.CancelUpdates();
    EXPECT_EQ(t.RecordCount(), 3);

    // A merge takes in every change since the last one, whatever rows were
    // added, deleted or dropped by a cancel in between.
    AddRow(t, {{"N", int64_t(7)}});
    t.CancelUpdates();
    t.Locate("N", {int64_t(2)});
    t.Edit();
    t.SetString("S", "neu");
    t.Post();
    AddRow(t, {{"N", int64_t(8)}});
    t.Delete();
    t.Locate("N", {int64_t(3)});
    t.Edit();
    t.SetString("S", "drei");
    t.Post();
    t.MergeChangeLog();
    EXPECT_EQ(t.ChangeCount(), 0);
    t.CancelUpdates();
    EXPECT_EQ(Col(t, "S"), (std::vector<std::string>{"neu", "drei", "s4"}));
}

TEST(TableChangeLog, NestedTablesCountAndCancelWithTheirParent) {
    Table t({FieldDef::Str("TARIF", 10),
             FieldDef::NestedF("Tarifdetail", {FieldDef::Str("PosNum", 10), FieldDef::Int("EPreis")})});
    t.Append();
    t.SetString("TARIF", "A");
    t.Nested("tarifdetail").Append();
    t.Nested("Tarifdetail").SetString("PosNum", "4711");
    t.Nested("Tarifdetail").SetInteger("EPreis", 150);
    t.Nested("Tarifdetail").Post();
    t.Post();
    EXPECT_EQ(t.ChangeCount(), 2);
    EXPECT_EQ(t.Nested("Tarifdetail").RecordCount(), 1);
    t.MergeChangeLog();
    EXPECT_EQ(t.ChangeCount(), 0);

    Table& det = t.Nested("Tarifdetail");
    det.Edit();
    det.SetInteger("EPreis", 175);
    det.Post();
    AddRow(det, {{"PosNum", std::string("4712")}});
    EXPECT_EQ(t.ChangeCount(), 2);
    EXPECT_TRUE(t.HasChanges());
    t.CancelUpdates();
    EXPECT_EQ(t.ChangeCount(), 0);
    EXPECT_EQ(t.Nested("Tarifdetail").RecordCount(), 1);
    t.Nested("Tarifdetail").First();
    EXPECT_EQ(t.Nested("Tarifdetail").AsInteger("EPreis"), 150);
    EXPECT_THROW(t.Nested("TARIF"), Error);

    // A deleted parent comes back with its nested rows.
    t.Delete();
    EXPECT_TRUE(t.IsEmpty());
    t.CancelUpdates();
    ASSERT_EQ(t.RecordCount(), 1);
    EXPECT_EQ(t.Nested("Tarifdetail").RecordCount(), 1);
}

// ---------------------------------------------------------------- bookmarks, events, copies

TEST(TableBookmarks, SurviveResortAndFilterAndDieWithTheirRow) {
    Table t = Links();
    t.Locate("NR", {int64_t(5)});
    Table::Bookmark b = t.GetBookmark();
    t.SetIndexFieldNames("Z_LESTANDORTLAND;K_IK");
    t.Last();
    ASSERT_TRUE(t.GotoBookmark(b));
    EXPECT_EQ(t.AsInteger("NR"), 5);
    t.SetFilter("Z_ART = '09'");
    t.SetFiltered(true);
    EXPECT_FALSE(t.BookmarkValid(b));
    t.SetFiltered(false);
    EXPECT_TRUE(t.GotoBookmark(b));
    t.Delete();
    EXPECT_FALSE(t.BookmarkValid(b));
    EXPECT_FALSE(t.GotoBookmark(0));
}

TEST(TableEvents, ListenersHearChangesUnlessUpdatesAreSuspended) {
    Table t({FieldDef::Int("N")});
    std::vector<TableEvent> seen;
    int id = t.Subscribe([&](TableEvent e, Table::Bookmark) { seen.push_back(e); });
    AddRow(t, {{"N", int64_t(1)}});
    t.Edit();
    t.SetInteger("N", 2);
    t.Post();
    AddRow(t, {{"N", int64_t(3)}});
    t.First();
    t.Delete();
    t.SetIndexFieldNames("N");
    EXPECT_EQ(seen, (std::vector<TableEvent>{TableEvent::RowInserted, TableEvent::RowChanged, TableEvent::RowInserted,
                                             TableEvent::Scrolled, TableEvent::RowDeleted, TableEvent::Reset}));
    seen.clear();
    t.BeginUpdate();
    AddRow(t, {{"N", int64_t(4)}});
    t.Last();
    t.EndUpdate();
    EXPECT_EQ(seen, (std::vector<TableEvent>{TableEvent::Reset}));
    t.Unsubscribe(id);
    AddRow(t, {{"N", int64_t(5)}});
    EXPECT_EQ(seen.size(), 1u);
}

// A view following the table row by row: the positions the events give
// must agree with the rows it reads without moving the cursor.
TEST(TableEvents, ChangesGiveTheRowsPositionsBeforeAndAfter) {
    Table t({FieldDef::Str("S", 5)});
    for (const char* s : {"b", "d", "f"}) AddRow(t, {{"S", std::string(s)}});
    t.SetIndexFieldNames("S");
    std::vector<Table::Change> seen;
    t.SubscribeChanges([&](const Table::Change& c) { seen.push_back(c); });
    auto last = [&] { return std::make_pair(seen.back().oldRow, seen.back().newRow); };

    AddRow(t, {{"S", std::string("c")}});   // b c d f
    EXPECT_EQ(last(), std::make_pair(-1, 1));
    EXPECT_EQ(t.AsString(t.FieldIndex("S")), "c");
    ASSERT_TRUE(t.Locate("S", {Value(std::string("b"))}));
    t.Edit();
    t.SetString("S", "e");                  // c d e f: from 0 to 2
    t.Post();
    EXPECT_EQ(last(), std::make_pair(0, 2));
    EXPECT_EQ(std::get<std::string>(t.ValueAt(2, 0)), "e");
    EXPECT_EQ(t.RowOf(seen.back().bookmark), 2);
    EXPECT_EQ(t.RowOf(t.BookmarkAt(3)), 3);

    t.SetFilter("S <> 'x'");
    t.SetFiltered(true);
    t.Edit();
    t.SetString("S", "x");                  // leaves the filter: c d f
    t.Post();
    EXPECT_EQ(last(), std::make_pair(2, -1));
    EXPECT_EQ(t.RowOf(seen.back().bookmark), -1);
    t.First();
    t.Delete();                             // d f
    EXPECT_EQ(seen.back().event, TableEvent::RowDeleted);
    EXPECT_EQ(last(), std::make_pair(0, -1));
    t.Last();
    EXPECT_EQ(seen.back().event, TableEvent::Scrolled);
    EXPECT_EQ(seen.back().newRow, 1);
    EXPECT_EQ(t.BookmarkAt(2), 0u);
    EXPECT_THROW(t.ValueAt(2, 0), Error);
}

TEST(TableClone, IsADeepCopyWithoutChangeLog) {
    Table t({FieldDef::Str("S", 5), FieldDef::NestedF("D", {FieldDef::Int("X")})});
    AddRow(t, {{"S", std::string("b")}});
    AddRow(t.Nested("D"), {{"X", int64_t(1)}});
    AddRow(t, {{"S", std::string("a")}});
    t.SetIndexFieldNames("S");
    t.SetFilter("S = 'b'");
    t.SetFiltered(true);
    auto c = t.Clone();
    EXPECT_EQ(c->ChangeCount(), 0);
    EXPECT_EQ(c->RecordCount(), 1);
    EXPECT_EQ(c->IndexFieldNames(), "S");
    c->SetFiltered(false);
    EXPECT_EQ(Col(*c, "S"), (std::vector<std::string>{"a", "b"}));
    c->Last();
    c->Nested("D").Edit();
    c->Nested("D").SetInteger("X", 99);
    c->Nested("D").Post();
    t.First();
    EXPECT_EQ(t.Nested("D").AsInteger("X"), 1);
}

TEST(TableIndex, SwitchingBackToAnEarlierOrderAfterRowChangesSortsAgain) {
    // Orders used before are kept for a quick switch back; every row change
    // must make the table sort again, with the stable order of a fresh sort.
    // Orders sharing leading columns ("K;A" after "K") sort only the rows
    // equal in those, and must agree with a fresh sort too.
    Table t({FieldDef::Str("K", 2), FieldDef::Str("A", 2), FieldDef::Int("N")});
    std::mt19937 rng(11);
    for (int i = 0; i < 200; ++i)
        AddRow(t, {{"K", std::string(1, char('a' + rng() % 5))}, {"A", std::string(1, char('p' + rng() % 4))},
                   {"N", int64_t(i)}});
    t.MergeChangeLog();
    auto fresh = [&](const std::string& names) {
        auto c = t.Clone();
        c->SetIndexFieldNames("");
        c->SetIndexFieldNames(names);
        return Col(*c, "N");
    };
    const std::vector<std::string> orders = {"K;A", "A", "K", "", "A;K"};
    int next = 200;
    for (int step = 0; step < 60; ++step) {
        const std::string& names = orders[rng() % orders.size()];
        t.SetRecNo(int(1 + rng() % t.RecordCount()));
        auto mark = t.GetBookmark();
        t.SetIndexFieldNames(names);
        EXPECT_EQ(t.GetBookmark(), mark) << step;
        ASSERT_EQ(Col(t, "N"), fresh(names)) << "step " << step << " order " << names;
        switch (rng() % 6) {
        case 0:
            t.SetRecNo(int(1 + rng() % t.RecordCount()));
            t.Edit();
            t.SetString("A", std::string(1, char('p' + rng() % 4)));
            t.Post();
            break;
        case 1:
            AddRow(t, {{"K", std::string(1, char('a' + rng() % 5))}, {"A", std::string("q")}, {"N", int64_t(next++)}});
            break;
        case 2:
            t.SetRecNo(int(1 + rng() % t.RecordCount()));
            t.Delete();
            break;
        case 3:
            t.CancelUpdates();
            break;
        default:
            break;   // no change: the next switch may reuse a kept order
        }
    }
}

TEST(TableSearch, FindKeyAgreesWithAScanWhenKeysShareLongPrefixes) {
    // Searches narrow by a number taken from the first eight bytes of the
    // first key; keys that agree in those bytes, nulls, empty texts and
    // negative numbers must still be found exactly.
    Table t({FieldDef::Str("S", 20), FieldDef::Int("N")});
    std::mt19937 rng(5);
    const std::vector<std::string> stems = {"ABCDEFGH", "ABCDEFG", "ABCDEFGHI", "", "Z", "ABCDEFGH\xc3\xa4"};
    auto randomText = [&]() { return stems[rng() % stems.size()] + std::string(rng() % 3, char('a' + rng() % 3)); };
    auto add = [&]() {
        t.Append();
        if (rng() % 10 != 0) t.SetString("S", randomText());
        t.SetInteger("N", int64_t(rng() % 21) - 10);
        t.Post();
    };
    for (int i = 0; i < 300; ++i) add();
    auto scanFirst = [&](auto matches) -> Table::Bookmark {
        for (t.First(); !t.Eof(); t.Next())
            if (matches()) return t.GetBookmark();
        return 0;
    };
    auto probeTexts = [&]() {
        for (int probe = 0; probe < 40; ++probe) {
            std::string s = randomText();
            Table::Bookmark expected = scanFirst([&] { return t.AsString("S") == s; });
            bool found = t.FindKey({Value(s)});
            EXPECT_EQ(found, expected != 0) << s;
            if (found) {
                EXPECT_EQ(t.GetBookmark(), expected) << s;
            }
        }
    };
    auto probeNumbers = [&]() {
        for (int64_t n = -11; n <= 11; ++n) {
            Table::Bookmark expected = scanFirst([&] { return t.AsInteger("N") == n; });
            EXPECT_EQ(t.FindKey({Value(n)}), expected != 0) << n;
            if (expected) {
                EXPECT_EQ(t.GetBookmark(), expected) << n;
            }
        }
    };
    // changes under the current index: the search numbers must follow them
    auto change = [&](int kind) {
        if (kind == 0) {
            for (int i = 0; i < 20; ++i) add();
        } else if (kind == 1) {
            for (t.First(); !t.Eof(); t.Next()) {
                t.Edit();
                t.SetString("S", randomText());
                t.SetInteger("N", int64_t(rng() % 21) - 10);
                t.Post();
            }
        } else {
            for (int i = 0; i < 30; ++i) {
                t.SetRecNo(int(1 + rng() % t.RecordCount()));
                t.Delete();
            }
        }
    };
    for (int round = 0; round < 3; ++round) {
        t.SetIndexFieldNames("S;N");
        probeTexts();
        change(round);
        probeTexts();
        t.SetIndexFieldNames("N");
        probeNumbers();
        change(round);
        probeNumbers();
    }
}

TEST(TableSearch, FindKeyAndFindNearestAgreeWithAScanOnSeveralTextColumns) {
    // Searches on leading text columns compare an image of the first bytes
    // of the keys before the rows: texts with zero bytes, nulls and empty
    // texts, texts longer than the image and keys of one, two or three
    // columns must still find exactly the row a scan finds. (Only C holds
    // both nulls and empty texts: in a column followed by further key
    // columns they would not sort as the search compares them.)
    Table t({FieldDef::Str("A", 30), FieldDef::Str("B", 30), FieldDef::Str("C", 30), FieldDef::Int("N")});
    std::mt19937 rng(11);
    const std::vector<std::string> stems = {"1",   "10",  "100000001", "100000001X", std::string("1\0", 2), "12345678901234567",
                                            "123456789012345678", "\xff", std::string("\0\0", 2), std::string("\0", 1)};
    auto text = [&](bool empty) -> Value {
        if (rng() % 8 == 0) return Value();
        if (empty && rng() % 8 == 0) return std::string();
        return stems[rng() % stems.size()];
    };
    for (int i = 0; i < 400; ++i) {
        t.Append();
        t.SetValue("A", text(false));
        t.SetValue("B", text(false));
        t.SetValue("C", text(true));
        t.SetInteger("N", i);
        t.Post();
    }
    struct Order {
        const char* names;
        std::vector<const char*> textColumns;   // the leading text columns of the index
    };
    for (const Order& order : {Order{"A;B;C", {"A", "B", "C"}}, Order{"B;A", {"B", "A"}}, Order{"C;N", {"C"}}}) {
        t.SetIndexFieldNames(order.names);
        for (int probe = 0; probe < 300; ++probe) {
            std::vector<std::string> keys;
            std::vector<Value> values;
            const size_t n = 1 + rng() % order.textColumns.size();
            for (size_t i = 0; i < n; ++i) {
                Value v = text(true);
                keys.push_back(IsNullValue(v) ? "" : std::get<std::string>(v));
                values.push_back(v);
            }
            // a null text compares as ""
            auto compare = [&]() {
                for (size_t i = 0; i < n; ++i) {
                    int c = t.AsString(order.textColumns[i]).compare(keys[i]);
                    if (c != 0) return c;
                }
                return 0;
            };
            Table::Bookmark exact = 0, nearest = 0;
            for (t.First(); !t.Eof(); t.Next()) {
                int c = compare();
                if (c >= 0) {
                    nearest = t.GetBookmark();
                    if (c == 0) exact = nearest;
                    break;
                }
            }
            EXPECT_EQ(t.FindKey(values), exact != 0) << order.names << " " << n;
            if (exact) {
                EXPECT_EQ(t.GetBookmark(), exact) << order.names << " " << n;
            }
            t.FindNearest(values);
            EXPECT_EQ(t.Eof() ? 0 : t.GetBookmark(), nearest) << order.names << " " << n;
        }
    }
}
