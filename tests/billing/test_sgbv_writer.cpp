// The engine's segment writer, its value formats, the exact position amount
// and the engine's set-up.

#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "billing/PositionBetrag.h"
#include "lib/base/Files.h"
#include "lib/base/Money.h"

using namespace brenvo;
using namespace brenvo::test;

TEST(SegmentWriterValues, EscapingPutsAQuestionMarkBeforeEachServiceCharacter) {
    EXPECT_EQ(TSgbv::EscapeText("Weg 1, Hof"), "Weg 1?, Hof");
    EXPECT_EQ(TSgbv::EscapeText("O'Neill"), "O?'Neill");
    EXPECT_EQ(TSgbv::EscapeText("a+b:c?d"), "a?+b?:c??d");
    EXPECT_EQ(TSgbv::EscapeText("Müller"), "Müller");
}

TEST(SegmentWriterValues, ZeroPadKeepsTheLastDigits) {
    EXPECT_EQ(TSgbv::ZeroPad(7, 5), "00007");
    EXPECT_EQ(TSgbv::ZeroPad("", 5), "00000");
    EXPECT_EQ(TSgbv::ZeroPad(123456, 5), "23456");
    EXPECT_EQ(TSgbv::ZeroPad(" 42 ", 6), "000042");
}

TEST(SegmentWriterValues, AmountsAndQuantitiesWithDecimalComma) {
    EXPECT_EQ(TSgbv::FormatAmount(12345), "123,45");
    EXPECT_EQ(TSgbv::FormatAmount(5), "0,05");
    EXPECT_EQ(TSgbv::FormatAmount(0), "0,00");
    EXPECT_EQ(TSgbv::FormatAmount(100), "1,00");
    EXPECT_EQ(TSgbv::FormatAmount(99), "0,99");
    EXPECT_EQ(TSgbv::FormatAmount(-12345), "-123,45");
    // Between -1 and 0 euro the sign is kept.
    EXPECT_EQ(TSgbv::FormatAmount(-5), "-0,05");
    EXPECT_EQ(TSgbv::FormatAmount(-99), "-0,99");
    EXPECT_EQ(TSgbv::FormatAmount(INT32_MIN), "-21474836,48");
    EXPECT_EQ(TSgbv::FormatQuantity(2.5), "2,50");
    EXPECT_EQ(TSgbv::FormatQuantity(12), "12,00");
    EXPECT_EQ(TSgbv::FormatQuantity(0.33), "0,33");
    EXPECT_EQ(TSgbv::FormatQuantity(1.15), "1,15");
    EXPECT_EQ(TSgbv::FormatQuantity(-0.5), "-0,50");
    EXPECT_EQ(TSgbv::FormatDate(TDateTime()), "");
    EXPECT_EQ(TSgbv::FormatTime(EncodeDateTime(2014, 10, 20, 7, 5)), "0705");
    EXPECT_EQ(TSgbv::FormatTime(TDateTime()), "");
}

TEST(PositionAmount, ComputedExactlyInHundredthsOfACent) {
    EXPECT_EQ(PositionBetragCents(2.45, 3), 735);
    EXPECT_EQ(PositionBetragCents(1.50, 0.333), 50);   // 0.33 × 1.50 = 0.495 → 0.50
    // 1.51 € × 0.99 = 1.4949 €: the amount is 1.49 €. Rounding to three
    // decimals first would give 1.50 €.
    EXPECT_EQ(EuroToCents(CommercialRound2(1.51 * 0.99)), 150);
    EXPECT_EQ(PositionBetragCents(1.51, 0.99), 149);
    EXPECT_EQ(PositionBetragCents(0.25, 0.5), 13);     // exact half away from zero
    EXPECT_EQ(PositionBetragCents(1.53, 12.5), 1913);  // 19.125 €
    EXPECT_EQ(PositionBetragCents(-0.25, 0.5), -13);
    EXPECT_EQ(PositionBetragCents(-3.10, 1), -310);
    EXPECT_EQ(MengeHundertstel(0.125), 12);            // quantity to hundredths, half to even
    EXPECT_THROW(PositionBetragCents(1e9, 1e7), Error);
    // VAT added to a net price, from the exact net amount: 19 % of 1.4949 €
    // is 0.284 €; 7 % of 63.495 € is 4.44465 €; halves away from zero.
    EXPECT_EQ(PositionMwStCents(1.51, 0.99, 19.0), 28);
    EXPECT_EQ(PositionMwStCents(1.53, 41.5, 7.0), 444);
    EXPECT_EQ(PositionMwStCents(0.50, 1, int64_t(1900)), 10);    // 9.5 cents
    EXPECT_EQ(PositionMwStCents(-0.50, 1, int64_t(1900)), -10);
}

class SegmentWriterTest : public EngineTest {
protected:
    std::unique_ptr<TSgbv> e = std::make_unique<TSgbv>(store);
};

TEST_F(SegmentWriterTest, ComposeEmitAndTheirFailures) {
    e->ClearElements();
    e->AddElement(3, "ZKT", "ZKT.01");
    e->AddElement(9, "a", "ZKT.02");
    e->AddElement(1, "", "ZKT.03");
    e->AddElement(1, "", "ZKT.04");
    EXPECT_EQ(e->ComposeSegment(), "ZKT+a++'");
    e->EmitSegment(e->ComposeSegment());

    e->ClearElements();
    e->AddElement(5, "12345", "INV.03");   // exactly the maximum
    EXPECT_EQ(ErrorOf([&] { e->AddElement(5, "123456", "INV.03"); }),
              "TSGBV Wert zu lang. Len=5 Name=INV.03 Value=123456");
    EXPECT_EQ(ErrorOf([&] { e->AddElement(2, "Ä?'", "X.01"); }), "TSGBV Wert zu lang. Len=2 Name=X.01 Value=Ä?'");
    e->ClearElements();
    EXPECT_EQ(ErrorOf([&] { e->ComposeSegment(); }), "TSGBV ungültiges Segment");
    EXPECT_EQ(ErrorOf([&] { e->EmitSegment(""); }), "TSGBV Leeres Segment");

    e->Log("erste Zeile");
    e->Log("zweite");
    EXPECT_EQ(e->SegmentsText(), "ZKT+a++'\r\n");
    EXPECT_EQ(e->LogText(), "00000 erste Zeile\r\n00001 zweite\r\nZKT+a++'\r\n");
}

TEST_F(SegmentWriterTest, InitBuildsTheLogicalFileNameAndDrawsTheReference) {
    e->Init("09xyz", "123456789", EncodeDate(2014, 10, 1), "109910014", 3, 7, 0, 2, dir.path());
    EXPECT_EQ(e->Version(), "09");
    EXPECT_EQ(e->LogicalFileName(), "SL345678S03");
    EXPECT_EQ(e->InterchangeReference(), 1042);   // stored 1041, advanced
    EXPECT_EQ(e->Rechnungsart(), 1);
    EXPECT_EQ(e->CreationTime(), EncodeDateTime(2014, 10, 20, 9, 30, 15));

    auto centre = std::make_unique<TSgbv>(store);
    centre->Init("06", "123456789", EncodeDate(2014, 9, 29), "109910025", 12, -1, 1, 0, dir.path());
    EXPECT_EQ(centre->LogicalFileName(), "SL345678A12");
    EXPECT_EQ(centre->InterchangeReference(), 0);
    EXPECT_EQ(centre->Rechnungsart(), 3);

    centre->SetHandle("20141020_093015000");
    EXPECT_EQ(centre->FilePath(), PathJoin(dir.path(), "20141020_093015000"));
    EXPECT_EQ(ErrorOf([&] { centre->SetHandle("x"); }), "TSGBV.SetHandle Handle bereits gesetzt.");
}

TEST_F(SegmentWriterTest, InitRefusesBadSettings) {
    auto init = [&](const std::string& version, int kind, int test, const std::string& tempDir) {
        return ErrorOf([&] {
            TSgbv x(store);
            x.Init(version, "123456789", EncodeDate(2014, 10, 1), "109910014", 1, 1, kind, test, tempDir);
        });
    };
    EXPECT_EQ(init("09", 0, 0, dir.file("fehlt")), "TSGBV init TempDir existiert nicht.");
    EXPECT_EQ(init("09", 0, 3, dir.path()), "TSGBV Testindikator unbekannt");
    EXPECT_EQ(init("09", 2, 0, dir.path()), "TSGBV init Art 2 unzulässig");
    // The version is tested after the reference was drawn.
    EXPECT_EQ(init("05", 0, 0, dir.path()), "TSGBV init. Fehler. Version 05 unzulässig");
    EXPECT_EQ(store.NextDtaRef("109910014", 1), 1043);
}

TEST_F(SegmentWriterTest, WriteFilesNeedsAHandle) {
    e->Init("09", "510123456", EncodeDate(2014, 10, 1), "109910014", 1, -1, 0, 0, dir.path());
    EXPECT_EQ(ErrorOf([&] { e->WriteFiles(); }), "TSGBV WriteFiles Handle nicht gesetzt.");
}
