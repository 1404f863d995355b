// The invoice document and its file: layout, round trip, the accepted forms
// and the refusals.

#include <gtest/gtest.h>

#include "InvoiceBuilder.h"
#include "billing/InvoiceDocument.h"
#include "billing/InvoicePrefetch.h"
#include "common/TempDir.h"
#include "lib/base/Cp1252.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

using namespace brenvo;
using namespace brenvo::test;

namespace {

// Both tables hold the same columns and, row by row and level by level, the
// same values.
void ExpectSameTables(Table& a, Table& b, const std::string& where) {
    ASSERT_EQ(a.FieldCount(), b.FieldCount()) << where;
    for (int i = 0; i < a.FieldCount(); ++i) ASSERT_EQ(a.Field(i).name, b.Field(i).name) << where;
    ASSERT_EQ(a.RecordCount(), b.RecordCount()) << where;
    a.First();
    b.First();
    for (int row = 1; !a.Eof(); ++row, a.Next(), b.Next()) {
        for (int i = 0; i < a.FieldCount(); ++i) {
            const FieldDef& f = a.Field(i);
            std::string at = where + " row " + std::to_string(row) + " " + f.name;
            if (f.type == FieldType::Nested) {
                ExpectSameTables(a.Nested(f.name), b.Nested(f.name), at);
                continue;
            }
            EXPECT_EQ(a.IsNull(i), b.IsNull(i)) << at;
            EXPECT_EQ(CompareValues(a.GetValue(i), b.GetValue(i)), 0) << at << ": " << a.AsString(i) << " / " << b.AsString(i);
        }
    }
}

const char* kMinimal = R"(<?xml version="1.0" encoding="UTF-8"?>
<Rechnungen>
  <Rechnung>
    <SaRechNr>2014-0815</SaRechNr>
    <RBetragBrutto>47,50</RBetragBrutto>
    <RechDatum>2014-10-15</RechDatum>
    <AbrFall>
      <VONum>0000123456</VONum>
      <Nachname>Mustermann</Nachname>
      <Leistung>
        <Datum>06.10.2014</Datum>
        <EF><Menge>12.5</Menge><EPreis>1.50</EPreis><Tarif>46ABCDE</Tarif></EF>
      </Leistung>
    </AbrFall>
  </Rechnung>
</Rechnungen>
)";

std::string LoadError(std::string_view xml, const std::string& name = "r.xml") {
    InvoiceDocument d;
    try {
        d.LoadFromXml(xml, name);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

std::string WithCase(const std::string& caseFields) {
    return "<?xml version=\"1.0\"?>\n<Rechnungen>\n<Rechnung>\n<SaRechNr>1</SaRechNr>\n<AbrFall>\n" + caseFields +
           "\n</AbrFall>\n</Rechnung>\n</Rechnungen>\n";
}

} // namespace

TEST(InvoiceDocumentLayout, LevelsFieldsAndWidths) {
    auto header = InvoiceHeaderFields();
    ASSERT_EQ(header.size(), 19u);
    EXPECT_EQ(header[1].name, "SaRechNr");
    EXPECT_EQ(header[1].width, 14);
    EXPECT_EQ(header[7].subtype, "Money");
    const FieldDef& cases = header.back();
    ASSERT_EQ(cases.type, FieldType::Nested);
    EXPECT_EQ(cases.name, "AbrFall");
    ASSERT_EQ(cases.nested.size(), 34u);
    EXPECT_EQ(cases.nested[7].name, "Nachname");
    EXPECT_EQ(cases.nested[7].width, 47);
    EXPECT_EQ(cases.nested[21].name, "GenArt");
    const FieldDef& trips = cases.nested.back();
    EXPECT_EQ(trips.name, "Leistung");
    EXPECT_EQ(trips.nested.back().name, "EF");
    EXPECT_EQ(trips.nested.back().nested.size(), 12u);
    EXPECT_EQ(InvoiceCaseFields(false).size(), 33u);
}

TEST(InvoiceDocumentLayout, RequiredFieldsOfTheCurrentRow) {
    InvoiceDocument doc;
    Table& h = doc.Rechnung();
    h.Append();
    EXPECT_EQ(MissingRequiredField(h, InvoiceLevel::Rechnung), "RechID");
    h.SetInteger("RechID", 1);
    h.SetString("SaRechNr", "   ");
    EXPECT_EQ(MissingRequiredField(h, InvoiceLevel::Rechnung), "SaRechNr");
    EXPECT_EQ(InvoiceRequiredFields(InvoiceLevel::Position),
              (std::vector<std::string>{"EFAbrFallID", "Tarif", "PosNum", "Menge", "EPreis"}));
}

TEST(InvoiceDocumentRoundTrip, EveryFieldNullDatesUmlautsAndEuroSurviveSaveAndLoad) {
    InvoicePlan plan;
    plan.name1 = "Fahrdienst Jürgen Weiß € & <Söhne>";
    plan.name4 = "  Zeile mit Rändern  ";
    CasePlan c;
    c.nachname = "Öztürk-Schäfer";
    c.status = "     ";
    c.voDatum = TDateTime();   // null
    c.genDatum = TDateTime();
    c.fahrten[0].datum = EncodeDateTime(2014, 10, 6, 8, 15, 30);
    c.fahrten[0].km = 12.345;
    c.fahrten[0].positionen = {PositionPlan{"46ABCDE", "4711", 0.33, 1.5, "Zuschlag: 2+1 ?"}, PositionPlan{}};
    CasePlan c2;
    c2.genZeich = "GZ-77";
    c2.genDatum = EncodeDate(2014, 9, 30);
    c2.fahrten.push_back(TripPlan{});
    plan.faelle = {c, c2};
    InvoiceDocument doc = BuildDocument(plan);
    // A value that two decimals do not hold exactly is kept as it is.
    Table& cases = doc.Rechnung().Nested("AbrFall");
    cases.First();
    cases.Edit();
    cases.SetFloat("BetragZuZaPausch", 0.125);
    cases.SetString("FallInfo", std::string(500, 'x'));
    cases.SetString("EVO_ID", std::string(256, 'e'));   // the fields of message version 21
    cases.Post();
    doc.Rechnung().Edit();
    doc.Rechnung().SetString("Steuernummer", "201/123/45678");
    doc.Rechnung().SetFloat("SkontoProzent", 2.5);
    doc.Rechnung().Post();
    Table& positions = cases.Nested("Leistung").Nested("EF");
    positions.Edit();
    positions.SetString("BPosNum", "610001");
    positions.SetFloat("MwStSatz", 7);
    positions.Post();

    TempDir dir;
    std::string path = dir.file("r.xml");
    doc.SaveToFile(path);
    InvoiceDocument back = InvoiceDocument::FromFile(path);
    EXPECT_EQ(back.FileName(), path);
    EXPECT_TRUE(back.HasGenArt());
    ExpectSameTables(doc.Rechnung(), back.Rechnung(), "Rechnung");
    EXPECT_EQ(back.SaveToXml(), doc.SaveToXml());

    std::string xml = ReadFileBytes(path);
    EXPECT_TRUE(StartsWith(xml, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    EXPECT_NE(xml.find("<RBetragBrutto>30.50</RBetragBrutto>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<Datum>2014-10-06T08:15:30</Datum>"), std::string::npos);
    EXPECT_NE(xml.find("<Menge>0.33</Menge>"), std::string::npos);
    EXPECT_NE(xml.find("Weiß €"), std::string::npos);   // written as UTF-8
    EXPECT_NE(xml.find("<MwStSatz>7</MwStSatz>"), std::string::npos);
}

TEST(InvoiceDocumentRoundTrip, FileWithoutGenArtStaysWithoutIt) {
    std::string xml = kMinimal;
    InvoiceDocument doc;
    doc.LoadFromXml(xml, "alt.xml");
    EXPECT_FALSE(doc.HasGenArt());
    EXPECT_FALSE(doc.Rechnung().Nested("AbrFall").HasField("GenArt"));
    std::string written = doc.SaveToXml();
    EXPECT_EQ(written.find("GenArt"), std::string::npos);
    InvoiceDocument back;
    back.LoadFromXml(written, "alt2.xml");
    EXPECT_FALSE(back.HasGenArt());
    ExpectSameTables(doc.Rechnung(), back.Rechnung(), "Rechnung");
}

TEST(InvoiceDocumentRoundTrip, EmptyDocumentOfTheTemplateKind) {
    InvoiceDocument doc;
    Table& h = doc.Rechnung();
    h.Append();
    h.SetString("SaRechNr", "99999");
    h.Post();
    InvoiceDocument back;
    back.LoadFromXml(doc.SaveToXml(), "vorlage.xml");
    EXPECT_TRUE(back.HasGenArt());
    EXPECT_TRUE(back.Rechnung().IsNull("RechDatum"));
    EXPECT_EQ(back.Rechnung().AsString("SaRechNr"), "99999");
}

TEST(InvoiceDocumentReading, AcceptedFormsOfNumbersDatesAndFields) {
    InvoiceDocument doc;
    doc.LoadFromXml(kMinimal, "r.xml");
    Table& h = doc.Rechnung();
    EXPECT_DOUBLE_EQ(h.AsFloat("RBetragBrutto"), 47.5);   // decimal comma
    EXPECT_EQ(h.AsDateTime("RechDatum"), EncodeDate(2014, 10, 15));
    EXPECT_TRUE(h.IsNull("RechID"));                    // missing element
    Table& trips = h.Nested("AbrFall").Nested("Leistung");
    EXPECT_EQ(trips.AsDateTime("Datum"), EncodeDate(2014, 10, 6));
    Table& pos = trips.Nested("EF");
    EXPECT_DOUBLE_EQ(pos.AsFloat("Menge"), 12.5);
    EXPECT_EQ(pos.AsString("Tarif"), "46ABCDE");         // fields in any order

    doc.LoadFromXml(WithCase("<Geb>19400501</Geb><GenDatum/><VODatum>2014-10-01T00:00:00</VODatum>"
                             "<Unbekannt>x</Unbekannt><ZuzaKennz></ZuzaKennz><Status> </Status>"),
                    "r.xml");
    Table& c = doc.Rechnung().Nested("AbrFall");
    EXPECT_EQ(c.AsDateTime("Geb"), EncodeDate(1940, 5, 1));
    EXPECT_TRUE(c.IsNull("GenDatum"));                   // empty element
    EXPECT_TRUE(c.IsNull("ZuzaKennz"));
    EXPECT_EQ(c.AsString("Status"), " ");                // a blank is a value
    EXPECT_EQ(c.AsDateTime("VODatum"), EncodeDate(2014, 10, 1));
    EXPECT_TRUE(c.HasField("GenArt") == false);
}

TEST(InvoiceDocumentReading, SeveralInvoicesAndGenArtInOneCaseOnly) {
    std::string xml = "<Rechnungen><Rechnung><SaRechNr>A</SaRechNr><AbrFall><VONum>1</VONum></AbrFall></Rechnung>"
                      "<Rechnung><SaRechNr>B</SaRechNr><AbrFall><GenArt/></AbrFall><AbrFall><GenArt>E2</GenArt>"
                      "</AbrFall></Rechnung></Rechnungen>";
    InvoiceDocument doc;
    doc.LoadFromXml(xml, "r.xml");
    EXPECT_TRUE(doc.HasGenArt());
    Table& h = doc.Rechnung();
    ASSERT_EQ(h.RecordCount(), 2);
    h.First();
    EXPECT_TRUE(h.Nested("AbrFall").IsNull("GenArt"));
    h.Next();
    Table& c = h.Nested("AbrFall");
    ASSERT_EQ(c.RecordCount(), 2);
    c.Last();
    EXPECT_EQ(c.AsString("GenArt"), "E2");
}

TEST(InvoiceDocumentReading, EncodingsNamedByTheDeclaration) {
    struct Case {
        std::string encoding;
        std::string bytes;   // "Jürgen €"
    };
    const Case cases[] = {
        {"windows-1252", "J\xFCrgen \x80"},
        {"ISO-8859-15", "J\xFCrgen \xA4"},
        {"UTF-8", "J\xC3\xBCrgen \xE2\x82\xAC"},
    };
    for (const auto& c : cases) {
        std::string xml = "<?xml version=\"1.0\" encoding=\"" + c.encoding + "\"?><Rechnungen><Rechnung><Name1>" +
                          c.bytes + "</Name1></Rechnung></Rechnungen>";
        InvoiceDocument doc;
        doc.LoadFromXml(xml, "r.xml");
        EXPECT_EQ(doc.Rechnung().AsString("Name1"), "Jürgen €") << c.encoding;
    }
    InvoiceDocument doc;
    doc.LoadFromXml("<?xml version='1.0' encoding='ISO-8859-1'?><Rechnungen><Rechnung><Name1>Wei\xDF</Name1>"
                    "</Rechnung></Rechnungen>",
                    "r.xml");
    EXPECT_EQ(doc.Rechnung().AsString("Name1"), "Weiß");
    doc.LoadFromXml("\xEF\xBB\xBF<Rechnungen><Rechnung><Name1>\xC3\xA4</Name1></Rechnung></Rechnungen>", "bom.xml");
    EXPECT_EQ(doc.Rechnung().AsString("Name1"), "ä");
}

TEST(InvoiceDocumentRefusals, MissingFile) {
    TempDir dir;
    InvoiceDocument doc;
    std::string path = dir.file("fehlt.xml");
    try {
        doc.LoadFromFile(path);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Datei " + path + " nicht gefunden.");
    }
}

TEST(InvoiceDocumentRefusals, BrokenFilesAreRefusedWithFileRecordAndField) {
    EXPECT_EQ(LoadError("<Rechnungen><Rechnung>\n<SaRechNr>1</Rechnung></Rechnungen>"),
              "Datei r.xml ist keine wohlgeformte XML-Datei (Zeile 2: End-Tag passt nicht zum Start-Tag).");
    EXPECT_EQ(LoadError("<DATAPACKET/>"),
              "Datei r.xml ist keine Rechnungsdatei: Das Wurzelelement heißt <DATAPACKET> statt <Rechnungen>.");
    EXPECT_EQ(LoadError("<Rechnungen/>"), "Datei r.xml enthält keine Rechnung.");
    EXPECT_EQ(LoadError(WithCase("<Leistung/>\n<Leistung><EF/><EF>\n<Tarif>46ABCDEF</Tarif></EF></Leistung>")),
              "Datei r.xml, Rechnung 1, AbrFall 1, Leistung 2, EF 2, Feld Tarif (Zeile 8): Der Text \"46ABCDEF\" "
              "ist länger als 7 Zeichen.");
    EXPECT_EQ(LoadError(WithCase("<Geb>31.02.1940</Geb>")),
              "Datei r.xml, Rechnung 1, AbrFall 1, Feld Geb (Zeile 6): \"31.02.1940\" ist kein gültiges Datum.");
    EXPECT_EQ(LoadError(WithCase("<AbrFallID>7a</AbrFallID>")),
              "Datei r.xml, Rechnung 1, AbrFall 1, Feld AbrFallID (Zeile 6): \"7a\" ist keine ganze Zahl.");
    EXPECT_EQ(LoadError(WithCase("<BetragBrutto>1.234,50</BetragBrutto>")),
              "Datei r.xml, Rechnung 1, AbrFall 1, Feld BetragBrutto (Zeile 6): \"1.234,50\" ist keine Zahl.");
    EXPECT_EQ(LoadError(WithCase("<Nachname>Łukasz</Nachname>")),
              "Datei r.xml, Rechnung 1, AbrFall 1, Feld Nachname (Zeile 6): Das Zeichen \"Ł\" gibt es im "
              "Zeichensatz windows-1252 nicht.");
    EXPECT_EQ(LoadError(WithCase("<VONum>1</VONum><VONum>2</VONum>")),
              "Datei r.xml, Rechnung 1, AbrFall 1, Feld VONum (Zeile 6): Das Feld kommt mehrfach vor.");
    EXPECT_EQ(LoadError("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><Rechnungen/>"),
              "Datei r.xml: Nicht unterstützte Zeichenkodierung: Shift_JIS");
    EXPECT_EQ(LoadError("<Rechnungen><Rechnung><Name1>\xFC</Name1></Rechnung></Rechnungen>"),
              "Datei r.xml: Der Text ist kein gültiges UTF-8.");
}

TEST(InvoiceDocumentRefusals, NothingOfARefusedFileIsTakenOver) {
    InvoiceDocument doc;
    doc.LoadFromXml(kMinimal, "gut.xml");
    std::string before = doc.SaveToXml();
    EXPECT_NE(LoadError(WithCase("<Geb>gestern</Geb>")), "");
    try {
        doc.LoadFromXml(WithCase("<Geb>gestern</Geb>"), "schlecht.xml");
    } catch (const Error&) {
    }
    EXPECT_EQ(doc.FileName(), "gut.xml");
    EXPECT_FALSE(doc.HasGenArt());
    EXPECT_EQ(doc.SaveToXml(), before);
}

TEST(InvoiceDocumentWriting, FiltersDoNotHideRowsAndTheFileIsReplacedWhole) {
    InvoicePlan plan;
    plan.faelle = {CasePlan{}, CasePlan{}};
    plan.faelle[1].nachname = "Zweiter";
    InvoiceDocument doc = BuildDocument(plan);
    Table& cases = doc.Rechnung().Nested("AbrFall");
    cases.SetFilter("Nachname = 'Zweiter'");
    cases.SetFiltered(true);
    ASSERT_EQ(cases.RecordCount(), 1);
    TempDir dir;
    std::string path = dir.file("r.xml");
    AtomicWriteFile(path, "alt");
    doc.SaveToFile(path);
    InvoiceDocument back = InvoiceDocument::FromFile(path);
    EXPECT_EQ(back.Rechnung().Nested("AbrFall").RecordCount(), 2);
    EXPECT_EQ(cases.RecordCount(), 1);   // the document's own filter stays
    EXPECT_EQ(ListFiles(dir.path(), "*"), std::vector<std::string>{"r.xml"});
}

// Reading ahead gives every file's document, or the very failure reading it
// alone gives, in the order of the paths, whatever lies between; a reader
// dropped early stops without waiting for the rest.
TEST(InvoicePrefetchTest, DocumentsAndFailuresComeInTheirOrder) {
    TempDir dir;
    std::vector<std::string> paths;
    for (int i = 1; i <= 40; ++i) {
        InvoicePlan plan;
        plan.saRechNr = "R-" + std::to_string(i);
        std::string path = dir.file("r" + std::to_string(i) + ".xml");
        if (i == 7) AtomicWriteFile(path, "<Rechnungen><Rechnung>");
        else if (i != 13) BuildDocument(plan).SaveToFile(path);
        paths.push_back(path);
    }
    {
        InvoicePrefetch ahead(paths, 4);
        for (int i = 1; i <= 40; ++i) {
            InvoicePrefetch::Result r = ahead.Next();
            if (i == 7 || i == 13) {
                std::string expected;
                try {
                    InvoiceDocument::FromFile(paths[size_t(i - 1)]);
                } catch (const Error& e) {
                    expected = e.what();
                }
                try {
                    r.Document();
                    ADD_FAILURE() << "file " << i << " read";
                } catch (const Error& e) {
                    EXPECT_EQ(e.what(), expected);
                }
                continue;
            }
            InvoiceDocument doc = r.Document();
            EXPECT_EQ(doc.Rechnung().AsString("SaRechNr"), "R-" + std::to_string(i));
            EXPECT_EQ(doc.FileName(), paths[size_t(i - 1)]);
        }
        EXPECT_THROW(ahead.Next(), Error);
    }
    InvoicePrefetch dropped(paths, 2);
    EXPECT_EQ(dropped.Next().Document().Rechnung().AsString("SaRechNr"), "R-1");
}
