// Table files: reading and writing XML data packets.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "common/TempDir.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/dataset/Table.h"

using namespace brenvo;

namespace {

const char* kAllTypes = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<DATAPACKET Version="2.0">
  <METADATA>
    <FIELDS>
      <FIELD attrname="S" fieldtype="string" WIDTH="20" required="true"/>
      <FIELD attrname="U" fieldtype="string.uni" WIDTH="40"/>
      <FIELD attrname="I1" fieldtype="i1"/>
      <FIELD attrname="I2" fieldtype="i2"/>
      <FIELD attrname="I4" fieldtype="i4"/>
      <FIELD attrname="I8" fieldtype="i8"/>
      <FIELD attrname="U1" fieldtype="ui1"/>
      <FIELD attrname="U4" fieldtype="ui4"/>
      <FIELD attrname="R" fieldtype="r8"/>
      <FIELD attrname="M" fieldtype="r8" SUBTYPE="Money"/>
      <FIELD attrname="X" fieldtype="fixed" DECIMALS="2" WIDTH="10"/>
      <FIELD attrname="B" fieldtype="boolean"/>
      <FIELD attrname="D" fieldtype="date"/>
      <FIELD attrname="T" fieldtype="time"/>
      <FIELD attrname="DT" fieldtype="dateTime"/>
      <FIELD attrname="TXT" fieldtype="bin.hex" SUBTYPE="Text"/>
      <FIELD attrname="Tarifdetail" fieldtype="nested">
        <FIELDS>
          <FIELD attrname="PosNum" fieldtype="string" WIDTH="10"/>
          <FIELD attrname="EPreis" fieldtype="i4"/>
        </FIELDS>
        <PARAMS/>
      </FIELD>
    </FIELDS>
    <PARAMS LCID="1031"/>
  </METADATA>
  <ROWDATA>
    <ROW S="Müller &amp; Söhne" U="€ 5" I1="-7" I2="300" I4="2147483647" I8="-9000000000000000000" U1="255" U4="4000000000" R="0.1" M="47.5" X="-12.25" B="TRUE" D="20141015" T="14:05:03007" DT="20140929T13:45:10250" TXT="Zeile 1&#13;&#10;Zeile 2" unknown="x">
      <Tarifdetail>
        <ROWTarifdetail PosNum="4711" EPreis="150"/>
        <ROWTarifdetail PosNum="4712"/>
      </Tarifdetail>
    </ROW>
    <ROW S="" B="FALSE" DT="20140101"/>
  </ROWDATA>
</DATAPACKET>
)";

void ExpectSameContent(Table& a, Table& b) {
    ASSERT_EQ(a.FieldCount(), b.FieldCount());
    for (int i = 0; i < a.FieldCount(); ++i) {
        EXPECT_EQ(a.Field(i).name, b.Field(i).name);
        EXPECT_EQ(a.Field(i).type, b.Field(i).type);
        EXPECT_EQ(a.Field(i).width, b.Field(i).width);
        EXPECT_EQ(a.Field(i).xmlType, b.Field(i).xmlType);
        EXPECT_EQ(a.Field(i).subtype, b.Field(i).subtype);
    }
    ASSERT_EQ(a.RecordCount(), b.RecordCount());
    for (a.First(), b.First(); !a.Eof(); a.Next(), b.Next()) {
        for (int i = 0; i < a.FieldCount(); ++i) {
            if (a.Field(i).type == FieldType::Nested) {
                Table& na = a.Nested(a.Field(i).name);
                Table& nb = b.Nested(b.Field(i).name);
                ExpectSameContent(na, nb);
                continue;
            }
            EXPECT_EQ(a.GetValue(i), b.GetValue(i)) << a.Field(i).name << " row " << a.RecNo();
        }
    }
}

std::string Packet(const std::string& fields, const std::string& rows, const std::string& decl = "UTF-8") {
    return "<?xml version=\"1.0\" encoding=\"" + decl + "\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" +
           fields + "</FIELDS><PARAMS/></METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "(kein Fehler)";
}

} // namespace

TEST(DataPacketRead, EveryFieldTypeNullsAndNestedRows) {
    Table t;
    t.LoadFromXml(kAllTypes, "alle.xml");
    ASSERT_EQ(t.FieldCount(), 17);
    EXPECT_EQ(t.Field(0).width, 20);
    EXPECT_EQ(t.Field(1).xmlType, "string.uni");
    EXPECT_EQ(t.Field(9).subtype, "Money");
    EXPECT_EQ(t.Field(10).type, FieldType::Float);
    EXPECT_EQ(t.Field(15).type, FieldType::Memo);
    EXPECT_EQ(t.Field(16).type, FieldType::Nested);
    ASSERT_EQ(t.RecordCount(), 2);

    t.First();
    EXPECT_EQ(t.AsString("S"), "Müller & Söhne");
    EXPECT_EQ(t.AsString("U"), "€ 5");
    EXPECT_EQ(t.AsInteger("I1"), -7);
    EXPECT_EQ(t.AsInteger("I4"), 2147483647);
    EXPECT_EQ(t.AsInteger("I8"), -9000000000000000000LL);
    EXPECT_EQ(t.AsInteger("U4"), 4000000000LL);
    EXPECT_EQ(t.AsFloat("R"), 0.1);
    EXPECT_EQ(t.AsFloat("M"), 47.5);
    EXPECT_EQ(t.AsFloat("X"), -12.25);
    EXPECT_TRUE(t.AsBoolean("B"));
    EXPECT_EQ(t.AsDateTime("D"), EncodeDate(2014, 10, 15));
    EXPECT_EQ(t.AsDateTime("T"), TDateTime::FromValue(EncodeTime(14, 5, 3, 7)));
    EXPECT_EQ(t.AsDateTime("DT"), EncodeDateTime(2014, 9, 29, 13, 45, 10, 250));
    EXPECT_EQ(t.AsString("TXT"), "Zeile 1\r\nZeile 2");
    Table& det = t.Nested("Tarifdetail");
    ASSERT_EQ(det.RecordCount(), 2);
    det.First();
    EXPECT_EQ(det.AsInteger("EPreis"), 150);
    det.Next();
    EXPECT_EQ(det.AsString("PosNum"), "4712");
    EXPECT_TRUE(det.IsNull("EPreis"));

    t.Next();
    EXPECT_FALSE(t.IsNull("S"));   // present but empty
    EXPECT_TRUE(t.IsNull("U"));    // left out
    EXPECT_TRUE(t.IsNull("I4"));
    EXPECT_FALSE(t.AsBoolean("B"));
    EXPECT_FALSE(t.IsNull("B"));
    EXPECT_EQ(t.AsDateTime("DT"), EncodeDate(2014, 1, 1));   // YYYYMMDD accepted for dateTime
    EXPECT_TRUE(t.Nested("Tarifdetail").IsEmpty());
    EXPECT_EQ(t.ChangeCount(), 0);
}

TEST(DataPacketWrite, RoundTripKeepsTypesValuesAndNulls) {
    TempDir dir;
    Table t;
    t.LoadFromXml(kAllTypes, "alle.xml");
    t.SaveToFile(dir.file("a.xml"));
    EXPECT_EQ(t.FileName(), dir.file("a.xml"));
    Table u;
    u.LoadFromFile(dir.file("a.xml"));
    ExpectSameContent(t, u);
    // Writing what was read gives the same file again.
    std::string first = ReadFileBytes(dir.file("a.xml"));
    u.SaveToFile(dir.file("b.xml"));
    EXPECT_EQ(ReadFileBytes(dir.file("b.xml")), first);

    EXPECT_TRUE(first.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\">"));
    EXPECT_NE(first.find("<FIELD attrname=\"M\" fieldtype=\"r8\" SUBTYPE=\"Money\"/>"), std::string::npos);
    EXPECT_NE(first.find("<FIELD attrname=\"TXT\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>"), std::string::npos);
    EXPECT_NE(first.find("<FIELD attrname=\"U\" fieldtype=\"string.uni\" WIDTH=\"40\"/>"), std::string::npos);
    EXPECT_NE(first.find("<Tarifdetail>"), std::string::npos);
    EXPECT_NE(first.find("<ROWTarifdetail PosNum=\"4711\" EPreis=\"150\"/>"), std::string::npos);
    EXPECT_NE(first.find("D=\"20141015\" T=\"14:05:03007\" DT=\"20140929T13:45:10250\""), std::string::npos);
    EXPECT_NE(first.find("R=\"0.1\" M=\"47.5\" X=\"-12.25\" B=\"TRUE\""), std::string::npos);
    EXPECT_NE(first.find("<ROW S=\"\" B=\"FALSE\" DT=\"20140101T00:00:00000\"/>"), std::string::npos);
    EXPECT_EQ(first.find("unknown"), std::string::npos);
    EXPECT_EQ(first.find("LCID"), std::string::npos);
}

TEST(DataPacketWrite, EscapesMarkupAndControlCharacters) {
    Table t({FieldDef::MemoF("A")});
    std::string text = "a&b<c>d\"e'f\tg\nh\ri\x01j€ü";
    t.Append();
    t.SetString("A", text);
    t.Post();
    std::string xml = t.SaveToXml();
    EXPECT_NE(xml.find("A=\"a&amp;b&lt;c&gt;d&quot;e'f&#9;g&#10;h&#13;i&#1;j€ü\""), std::string::npos) << xml;
    Table u;
    u.LoadFromXml(xml, "x");
    u.First();
    EXPECT_EQ(u.AsString("A"), text);
}

TEST(DataPacketWrite, FloatsReadBackIdenticallyAndDatesRoundToTheMillisecond) {
    const double values[] = {0.1, 1.0 / 3.0, 2.0 / 3.0 * 1e-300, 123456789.123, -0.5, 1e22, 5e-324, 47.5, 0.0};
    Table t({FieldDef::Flt("F"), FieldDef::Date("DT")});
    for (double v : values) {
        t.Append();
        t.SetFloat("F", v);
        t.Post();
    }
    // 23:59:59.999 plus less than half a millisecond stays on its day;
    // plus more than half a millisecond it rounds up to midnight of the next.
    TDateTime last = EncodeDateTime(2024, 3, 31, 23, 59, 59, 999);
    t.First();
    t.Edit();
    t.SetDateTime("DT", TDateTime::FromValue(last.Value() + 0.4 / 86400000.0));
    t.Post();
    t.Next();
    t.Edit();
    t.SetDateTime("DT", TDateTime::FromValue(last.Value() + 0.6 / 86400000.0));
    t.Post();
    t.Next();
    t.Edit();
    t.SetDateTime("DT", EncodeDateTime(1899, 12, 29, 6, 0));   // before the day count's start
    t.Post();
    std::string xml = t.SaveToXml();
    EXPECT_NE(xml.find("F=\"0.1\" DT=\"20240331T23:59:59999\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("DT=\"20240401T00:00:00000\""), std::string::npos);
    EXPECT_NE(xml.find("DT=\"18991229T06:00:00000\""), std::string::npos);
    Table u;
    u.LoadFromXml(xml, "x");
    int i = 0;
    for (u.First(); !u.Eof(); u.Next(), ++i) {
        double back = u.AsFloat("F");
        EXPECT_EQ(std::memcmp(&back, &values[i], sizeof back), 0) << values[i];
    }
    u.SetRecNo(3);
    EXPECT_EQ(u.AsDateTime("DT").Value(), -1.25);
}

TEST(DataPacketRead, DeclaredSingleByteEncodings) {
    std::string fields = "<FIELD attrname=\"NAME\" fieldtype=\"string\" WIDTH=\"30\"/>";
    Table t;
    t.LoadFromXml(Packet(fields, "<ROW NAME=\"Gr\xFC\xDF \x80 5\"/>", "windows-1252"), "cp.xml");
    t.First();
    EXPECT_EQ(t.AsString("NAME"), "Grüß € 5");
    t.LoadFromXml(Packet(fields, "<ROW NAME=\"Gr\xFC\xDF\"/>", "ISO-8859-1"), "latin.xml");
    t.First();
    EXPECT_EQ(t.AsString("NAME"), "Grüß");
    // No declaration means UTF-8; bytes that are no UTF-8 are refused.
    t.LoadFromXml("<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" + fields +
                      "</FIELDS></METADATA><ROWDATA><ROW NAME=\"Grüß\"/></ROWDATA></DATAPACKET>",
                  "plain.xml");
    t.First();
    EXPECT_EQ(t.AsString("NAME"), "Grüß");
    EXPECT_THROW(t.LoadFromXml(Packet(fields, "<ROW NAME=\"Gr\xFC\xDF\"/>"), "bad.xml"), Error);
    EXPECT_THROW(t.LoadFromXml(Packet(fields, "", "UTF-16"), "u16.xml"), Error);
    EXPECT_EQ(t.AsString("NAME"), "Grüß");
}

TEST(DataPacketRead, XmlSyntaxAsOtherWritersUseIt) {
    // Comments, processing instructions, a document type, single quotes,
    // entities and line ends inside values, unknown elements.
    std::string xml =
        "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8'?>\n<!DOCTYPE DATAPACKET>\n<!-- Kopf -->\n"
        "<DATAPACKET Version='2.0'><METADATA><FIELDS>"
        "<FIELD attrname='NAME' fieldtype='string' WIDTH='40'><!-- x --></FIELD>"
        "<FIELD attrname = \"N\" fieldtype = \"i4\" />"
        "</FIELDS><PARAMS/><EXTRA><FIELDS/></EXTRA></METADATA>"
        "<ROWDATA><?pi data?><ROW NAME='a&apos;b &#x20AC;&#8364; &lt;x&gt;' N='1'><![CDATA[<ROW N='9'/>]]></ROW>"
        "<ROW NAME=\"Zeile&#13;&#10;zwei\r\nmit\tTab\" N=\"2\"/><OTHER N='7'/></ROWDATA></DATAPACKET>\n<!-- Ende -->\n";
    Table t;
    t.LoadFromXml(xml, "syntax.xml");
    ASSERT_EQ(t.RecordCount(), 2);
    t.First();
    EXPECT_EQ(t.AsString("NAME"), "a'b €€ <x>");
    t.Next();
    EXPECT_EQ(t.AsString("NAME"), "Zeile\r\nzwei mit Tab");   // literal line ends and tabs read as blanks
}

TEST(DataPacketRead, MalformedXmlIsNoDataPacketAndNamesTheLine) {
    const std::string head = "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"string\" WIDTH=\"5\"/>"
                             "</FIELDS></METADATA>\n<ROWDATA>\n";
    const char* bodies[] = {
        "<ROW A=\"1\">\n</ROWDATA></DATAPACKET>",            // crossed elements
        "<ROW A=\"1\"/>\n</ROWDATA>",                          // root not closed
        "<ROW A=\"1\"/>\n</ROWDATA></DATAPACKET><X/>",        // second root
        "<ROW A=\"&nbsp;\"/>\n</ROWDATA></DATAPACKET>",      // unknown entity
        "<ROW A=1/>\n</ROWDATA></DATAPACKET>",                // value without quotes
        "<ROW A=\"a<b\"/>\n</ROWDATA></DATAPACKET>",         // < in a value
        "<ROW A=\"1\"B=\"2\"/>\n</ROWDATA></DATAPACKET>",    // no blank between attributes
        "<ROW A=\"1\"/>\n</ROWDATA></DATAPACKET>text",        // text after the root
        "<ROW A=\"&#0;\"/>\n</ROWDATA></DATAPACKET>",        // no character 0
    };
    for (const char* body : bodies) {
        Table t({FieldDef::Int("KEEP")});
        std::string msg = MessageOf([&] { t.LoadFromXml(head + body, "f.xml"); });
        EXPECT_NE(msg.find("Die Datei \"f.xml\" ist kein XML-Datenpaket. (XML-Fehler in Zeile "), std::string::npos)
            << body << ": " << msg;
        EXPECT_EQ(t.FieldIndex("KEEP"), 0);
    }
    EXPECT_NE(MessageOf([&] { Table().LoadFromXml(head + "<ROW A=\"x\" A=\"y\"", "f.xml"); }).find("Zeile 3"),
              std::string::npos);
    EXPECT_EQ(MessageOf([] { Table().LoadFromXml("", "leer.xml"); }).find("Die Datei \"leer.xml\" ist kein XML-Datenpaket."), 0u);
    EXPECT_NE(MessageOf([] { Table().LoadFromXml("<DATAPACKET><ROWDATA/></DATAPACKET>", "f.xml"); }).find("METADATA/FIELDS fehlt"),
              std::string::npos);
}

TEST(DataPacketRead, EveryTruncationOfAFileFailsCleanly) {
    // Each cut-off copy lies in a buffer of its exact size, so that reading
    // past its end would be caught by the address sanitizer.
    std::string full = kAllTypes;
    for (size_t n = 0; n + 1 < full.size(); ++n) {   // all but the final line end
        std::vector<char> buf(full.begin(), full.begin() + std::ptrdiff_t(n));
        Table t;
        try {
            t.LoadFromXml(std::string_view(buf.data(), buf.size()), "kurz.xml");
            ADD_FAILURE() << "read a file cut at " << n;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("kurz.xml"), std::string::npos);
        }
    }
}

TEST(DataPacketRead, ChangeLogIsMergedOnLoad) {
    std::string fields =
        "<FIELD attrname=\"ID\" fieldtype=\"i4\"/><FIELD attrname=\"NAME\" fieldtype=\"string\" WIDTH=\"20\"/>"
        "<FIELD attrname=\"ORT\" fieldtype=\"string\" WIDTH=\"20\"/>"
        "<FIELD attrname=\"POS\" fieldtype=\"nested\"><FIELDS><FIELD attrname=\"P\" fieldtype=\"i4\"/></FIELDS><PARAMS/></FIELD>";
    std::string rows =
        "<ROW ID=\"1\" NAME=\"unverändert\"/>"
        "<ROW RowState=\"1\" ID=\"2\" NAME=\"alt\" ORT=\"Berlin\"/>"
        "<ROW RowState=\"8\" NAME=\"neu\"/>"
        "<ROW RowState=\"2\" ID=\"3\" NAME=\"gelöscht\"/>"
        "<ROW RowState=\"4\" ID=\"4\" NAME=\"eingefügt\"/>"
        "<ROW RowState=\"64\" ID=\"5\" NAME=\"mit Positionen\"><POS>"
        "<ROWPOS P=\"1\"/><ROWPOS RowState=\"2\" P=\"2\"/><ROWPOS RowState=\"1\" P=\"3\"/><ROWPOS RowState=\"8\" P=\"33\"/>"
        "<ROWPOS RowState=\"4\" P=\"4\"/></POS></ROW>"
        "<ROW RowState=\"1\" ID=\"6\" NAME=\"nur Original\"/>";
    std::string xml = Packet(fields, rows);
    xml.replace(xml.find("<PARAMS/></METADATA>"), 9, "<PARAMS CHANGE_LOG=\"1 0 4 2 0 8\" LCID=\"1031\"/>");
    Table t;
    t.LoadFromXml(xml, "log.xml");
    EXPECT_EQ(t.ChangeCount(), 0);
    std::vector<std::string> got;
    for (t.First(); !t.Eof(); t.Next()) got.push_back(t.AsString("ID") + ":" + t.AsString("NAME") + ":" + t.AsString("ORT"));
    EXPECT_EQ(got, (std::vector<std::string>{"1:unverändert:", "2:neu:Berlin", "4:eingefügt:", "5:mit Positionen:",
                                             "6:nur Original:"}));
    ASSERT_TRUE(t.Locate("ID", {int64_t(5)}));
    Table& pos = t.Nested("POS");
    std::vector<std::string> ps;
    for (pos.First(); !pos.Eof(); pos.Next()) ps.push_back(pos.AsString("P"));
    EXPECT_EQ(ps, (std::vector<std::string>{"1", "33", "4"}));
    std::string out = t.SaveToXml();
    EXPECT_EQ(out.find("RowState"), std::string::npos);
    EXPECT_EQ(out.find("CHANGE_LOG"), std::string::npos);
}

TEST(DataPacketRead, FailuresNameTheFileAndKeepTheTable) {
    TempDir dir;
    std::string good = dir.file("gut.xml");
    Table t({FieldDef::Str("K_IK", 9), FieldDef::Int("N")});
    t.Append();
    t.SetString("K_IK", "101234567");
    t.SetInteger("N", 1);
    t.Post();
    t.SaveToFile(good);
    t.SetIndexFieldNames("N");
    t.Append();
    t.SetInteger("N", 2);
    t.Post();

    auto expectKept = [&]() {
        EXPECT_EQ(t.RecordCount(), 2);
        EXPECT_EQ(t.FileName(), good);
        EXPECT_EQ(t.IndexFieldNames(), "N");
        EXPECT_EQ(t.ChangeCount(), 1);
        EXPECT_EQ(t.AsInteger("N"), 2);
        EXPECT_EQ(t.FieldCount(), 2);
    };
    auto write = [&](const std::string& name, const std::string& text) {
        AtomicWriteFile(dir.file(name), text);
        return dir.file(name);
    };

    std::string missing = dir.file("fehlt.xml");
    EXPECT_EQ(MessageOf([&] { t.LoadFromFile(missing); }), "Die Datei \"" + missing + "\" wurde nicht gefunden.");
    expectKept();

    std::string other = write("anders.xml", "<?xml version=\"1.0\"?><Rechnungen><Rechnung/></Rechnungen>");
    EXPECT_EQ(MessageOf([&] { t.LoadFromFile(other); }), "Die Datei \"" + other + "\" ist kein XML-Datenpaket.");
    expectKept();

    std::string broken = write("kaputt.xml", Packet("<FIELD attrname=\"A\" fieldtype=\"i4\"/>", "<ROW A=\"1\">"));
    EXPECT_NE(MessageOf([&] { t.LoadFromFile(broken); }).find("\"" + broken + "\" ist kein XML-Datenpaket"), std::string::npos);
    expectKept();

    std::string value = write("wert.xml", Packet("<FIELD attrname=\"A_ID\" fieldtype=\"i4\"/>", "<ROW A_ID=\"1\"/><ROW A_ID=\"12a\"/>"));
    EXPECT_EQ(MessageOf([&] { t.LoadFromFile(value); }),
              "Die Datei \"" + value + "\" enthält in der Spalte \"A_ID\" den ungültigen Wert \"12a\".");
    expectKept();

    std::string date = write("datum.xml", Packet("<FIELD attrname=\"D\" fieldtype=\"dateTime\"/>", "<ROW D=\"20140230T00:00:00000\"/>"));
    EXPECT_NE(MessageOf([&] { t.LoadFromFile(date); }).find("\"20140230T00:00:00000\""), std::string::npos);
    expectKept();

    std::string dup = write("doppelt.xml", Packet("<FIELD attrname=\"K_IK\" fieldtype=\"string\" WIDTH=\"9\"/>"
                                                  "<FIELD attrname=\"k_ik\" fieldtype=\"string\" WIDTH=\"9\"/>", ""));
    EXPECT_EQ(MessageOf([&] { t.LoadFromFile(dup); }), "Die Datei \"" + dup + "\" enthält die Spalte \"k_ik\" mehrfach.");
    expectKept();

    std::string type = write("typ.xml", Packet("<FIELD attrname=\"A\" fieldtype=\"blob\"/>", ""));
    EXPECT_NE(MessageOf([&] { t.LoadFromFile(type); }).find("\"blob\""), std::string::npos);
    expectKept();

    t.LoadFromFile(good);
    EXPECT_EQ(t.RecordCount(), 1);
    EXPECT_EQ(t.IndexFieldNames(), "N");   // the sort order outlives a reload
    EXPECT_EQ(t.ChangeCount(), 0);
}

TEST(DataPacketWrite, ACrashBeforeTheRenameLeavesTheOldFile) {
    TempDir dir;
    std::string path = dir.file("Rechnungen.xml");
    Table t({FieldDef::Int("R_ID"), FieldDef::Str("R_NUMMER", 14)});
    t.Append();
    t.SetInteger("R_ID", 1);
    t.Post();
    t.SaveToFile(path);
    std::string before = ReadFileBytes(path);

    t.Append();
    t.SetInteger("R_ID", 2);
    t.Post();
    SetAtomicWriteHook([](const std::string&) { throw Error("Absturz"); });
    EXPECT_THROW(t.SaveToFile(path), Error);
    SetAtomicWriteHook(nullptr);
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_TRUE(t.HasChanges());   // nothing counts as saved
    Table u;
    u.LoadFromFile(path);
    EXPECT_EQ(u.RecordCount(), 1);

    t.SaveToFile(path);
    EXPECT_FALSE(t.HasChanges());
    u.LoadFromFile(path);
    EXPECT_EQ(u.RecordCount(), 2);
}

TEST(DataPacketRead, RealCostBearerFileLoadsAndSavesUnchanged) {
    std::string src = std::string(BRENVO_SOURCE_DIR) + "/tests/costbearer/data/kt-real/KT_TRANSFER.XML";
    Table t;
    t.LoadFromFile(src);
    EXPECT_EQ(t.RecordCount(), 35);
    EXPECT_EQ(t.Field(t.FieldIndex("DFU_VALIDFROM")).type, FieldType::DateTime);
    t.SetIndexFieldNames("K_IK");
    t.First();
    ASSERT_TRUE(t.Locate("K_IK;DFU_PROTOKOLL", {t.GetValue("K_IK"), std::string("070")}));
    TempDir dir;
    t.SaveToFile(dir.file("KT_TRANSFER.XML"));
    Table u;
    u.LoadFromFile(dir.file("KT_TRANSFER.XML"));
    t.SetIndexFieldNames("");
    ExpectSameContent(t, u);
}

// Rows read from a file share memory blocks; each row must still live and
// die on its own: deleted one by one, brought back by cancelling, copied,
// emptied, and rows too wide for a block.
TEST(DataPacketRead, LoadedRowsLiveAndDieOneByOne) {
    std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?><DATAPACKET Version="2.0"><METADATA><FIELDS>)"
                      R"(<FIELD attrname="K" fieldtype="i4"/><FIELD attrname="S" fieldtype="string" WIDTH="60"/>)"
                      R"(<FIELD attrname="N" fieldtype="nested"><FIELDS><FIELD attrname="P" fieldtype="string" WIDTH="40"/>)"
                      R"(</FIELDS><PARAMS/></FIELD></FIELDS><PARAMS/></METADATA><ROWDATA>)";
    const int rows = 3000;   // several blocks
    for (int i = 0; i < rows; ++i) {
        xml += "<ROW K=\"" + std::to_string(i) + "\" S=\"ein Text, der länger als ein kurzer ist " + std::to_string(i) +
               "\"><N><ROWN P=\"Position " + std::to_string(i) + " mit langem Namen\"/></N></ROW>";
    }
    xml += "</ROWDATA></DATAPACKET>";

    auto t = std::make_unique<Table>();
    t->LoadFromXml(xml, "viele.xml");
    ASSERT_EQ(t->RecordCount(), rows);
    t->MergeChangeLog();
    t->First();
    for (int i = 0; !t->Eof(); ++i) {
        if (i % 3 == 0) {
            t->Delete();
        } else {
            if (i % 3 == 1) {
                t->Edit();
                t->SetValue("S", std::string("geändert ") + std::to_string(i));
                t->Post();
            }
            t->Next();
        }
    }
    EXPECT_EQ(t->RecordCount(), rows - rows / 3);
    auto copy = t->Clone();
    t->CancelUpdates();
    EXPECT_EQ(t->RecordCount(), rows);
    t->SetIndexFieldNames("K");
    ASSERT_TRUE(t->FindKey({int64_t(2999)}));
    EXPECT_EQ(t->AsString("S"), "ein Text, der länger als ein kurzer ist 2999");
    t->Nested("N").First();
    EXPECT_EQ(t->Nested("N").AsString("P"), "Position 2999 mit langem Namen");
    t.reset();   // the copy still holds its rows
    copy->SetIndexFieldNames("K");
    ASSERT_TRUE(copy->FindKey({int64_t(4)}));
    EXPECT_EQ(copy->AsString("S"), "geändert 4");
    copy->EmptyTable();
    EXPECT_EQ(copy->RecordCount(), 0);

    // A row wider than a block.
    std::string wide = R"(<?xml version="1.0" encoding="UTF-8"?><DATAPACKET Version="2.0"><METADATA><FIELDS>)";
    for (int c = 0; c < 2500; ++c) wide += "<FIELD attrname=\"C" + std::to_string(c) + "\" fieldtype=\"i4\"/>";
    wide += "</FIELDS><PARAMS/></METADATA><ROWDATA><ROW C0=\"1\" C2499=\"2\"/><ROW C2499=\"3\"/></ROWDATA></DATAPACKET>";
    Table w;
    w.LoadFromXml(wide, "breit.xml");
    w.Last();
    EXPECT_EQ(w.AsInteger("C2499"), 3);
    w.Delete();
    w.First();
    EXPECT_EQ(w.AsInteger("C0"), 1);
}
