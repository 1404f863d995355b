// Resolution of IKs over the demo cost-bearer directory: cost bearers,
// referrals, logical and physical data recipients, paper offices, e-mail
// addresses, addresses, the resolved record and the text report.
// demo/Stammdaten/KOSTENTRAEGER.md says which IK shows what.

#include "KtFixture.h"

#include "lib/base/Error.h"
#include "lib/base/Strings.h"

using namespace brenvo;
using kttest::KtStoreTest;

namespace {
const std::string K1 = "103110016";    // Rheinische OKK: state/district links, paper rules
const std::string K2 = "103220019";    // BKK Ölmühle: DATEN_IK and PAPIER_IK set
const std::string K3 = "103330011";    // EK Gärtner: DATEN_IK "*", own physical link
const std::string K4 = "103440014";    // IKK Thüringen-Saale: expired, open-ended, future links
const std::string K5 = "103550017";    // LKK Franken-Oberbayern: Bavaria
const std::string K6 = "103660010";    // KK Nord-Ostsee: result depends on the sort order
const std::string K7 = "103770013";    // BKK Ringbahn: "03" ring
const std::string K8 = "103880016";    // SV Waldhufen: no data recipient
const std::string K9 = "103990019";    // KK Glückauf: link to an unknown IK
const std::string K10 = "104000014";   // KK Thüringer Wald: physical recipient with empty e-mail
} // namespace

// ---------------------------------------------------------------- single-table lookups

TEST_F(KtStoreTest, ValidateIKChecksTheLengthFirstThenThePresence) {
    EXPECT_EQ(ErrorOf([&] { store.ValidateIK("10311001", "IKPatient"); }),
              "TSGBKTStore ValidateIK IK nicht Laenge 9 ");
    EXPECT_EQ(ErrorOf([&] { store.ValidateIK("1031100160", "IKPatient"); }),
              "TSGBKTStore ValidateIK IK nicht Laenge 9 ");
    EXPECT_EQ(ErrorOf([&] { store.ValidateIK("109999991", "IKKostenträger "); }),
              "TSGBKTStore IK nicht validiert 109999991 IKKostenträger ");
    EXPECT_EQ(ErrorOf([&] { store.ValidateIK(K1, "IKKrankenkasse"); }), "");
}

TEST_F(KtStoreTest, ShortNamesWithAndWithoutRaising) {
    EXPECT_EQ(store.GetIKPretty(K2, true), "BKK Ölmühle");
    EXPECT_EQ(ErrorOf([&] { store.GetIKPretty("1031100", true); }), "TSGBKTStore GetIKPretty IK nicht Laenge 9 ");
    EXPECT_EQ(ErrorOf([&] { store.GetIKPretty("109999991", true); }), "TSGBKTStore IK nicht vorhanden IK=109999991");
    EXPECT_EQ(store.GetIKPretty("1031100", false), "*** keine Angaben ***");
    EXPECT_EQ(store.GetIKPretty("109999991", false), "*** keine Angaben ***");
    EXPECT_EQ(store.GetKurzBez(K1), "Rheinische OKK");
    EXPECT_EQ(store.GetKurzBez("109999991"), "***");

    // An empty short name is the short name for GetIKPretty, but "***" for GetKurzBez.
    Table& base = store.KTBase();
    ASSERT_TRUE(base.Locate("K_IK", {Value(K1)}));
    base.Edit();
    base.SetNull("KT_KURZBEZ");
    base.Post();
    EXPECT_EQ(store.GetIKPretty(K1, true), "");
    EXPECT_EQ(store.GetKurzBez(K1), "***");
}

TEST_F(KtStoreTest, CostBearerFlagMustBeExactlyT) {
    EXPECT_TRUE(store.IsKostentraeger(K1));
    EXPECT_FALSE(store.IsKostentraeger("103110027"));   // referral
    EXPECT_FALSE(store.IsKostentraeger("109910014"));   // data acceptance office
    EXPECT_FALSE(store.IsKostentraeger("109999991"));   // unknown
    Table& base = store.KTBase();
    ASSERT_TRUE(base.Locate("K_IK", {Value(K1)}));
    base.Edit();
    base.SetString("ISKT", "t");
    base.Post();
    EXPECT_FALSE(store.IsKostentraeger(K1));
}

// ---------------------------------------------------------------- referrals

TEST_F(KtStoreTest, ReferralsLeadToTheCostBearer) {
    EXPECT_EQ(store.GetVerweisIK("103110038"), "103110027");
    EXPECT_EQ(store.GetKostentraegerIK(K1), K1);
    EXPECT_EQ(store.GetKostentraegerIK("103110027"), K1);
    EXPECT_EQ(store.GetKostentraegerIK("103110038"), K1);   // two steps
    EXPECT_EQ(store.GetKostentraegerIK("103220020"), K2);
}

TEST_F(KtStoreTest, ReferralFailures) {
    EXPECT_EQ(ErrorOf([&] { store.GetVerweisIK(K1); }), "TSGBKTStore GetVerweisIK Keine IK zu ermitteln für IK=" + K1);
    EXPECT_EQ(ErrorOf([&] { store.GetVerweisIK("103660021"); }),
              "TSGBKTStore IK nicht validiert 109999980 GetVerweisIK ");
    // no link, a ring of two, a self-referral, a target missing from the
    // directory, an unknown IK: all end in the same message
    for (const char* ik : {"105010012", "105020015", "105030018", "105040011", "103660021", "109999991"})
        EXPECT_EQ(ErrorOf([&] { store.GetKostentraegerIK(ik); }), std::string("Kein Kostentraeger gefunden für IK=") + ik)
            << ik;
}

TEST_F(KtStoreTest, ValidateVerweisAllowsOneReferralStepOnly) {
    EXPECT_EQ(ErrorOf([&] { store.ValidateVerweis(K1, K1); }), "");
    EXPECT_EQ(ErrorOf([&] { store.ValidateVerweis("103110027", K1); }), "");
    EXPECT_EQ(ErrorOf([&] { store.ValidateVerweis("103110038", K1); }),
              "TSGBKTStore ValidateVerweis IKvon=103110038 IKnach=103110016 gefundenes IKnach=103110027");
    EXPECT_EQ(ErrorOf([&] { store.ValidateVerweis(K1, "103110027"); }),
              "TSGBKTStore GetVerweisIK Keine IK zu ermitteln für IK=" + K1);
}

// ---------------------------------------------------------------- logical data recipient

TEST_F(KtStoreTest, LogicalRecipientFromBaseColumnOrLinks) {
    // DATEN_IK wins over links and is not followed further (109910058 has a DATEN_IK of its own)
    EXPECT_EQ(store.GetDatenIKLog(K2, "05", "38", today), "109910058");
    // "*" counts as empty: the links are followed
    EXPECT_EQ(store.GetDatenIKLog(K3, "05", "38", today), "109910014");
    // a self-link ends the chain at that IK
    EXPECT_EQ(store.GetDatenIKLog("109910014", "05", "38", today), "109910014");
    // A -> B, B without a link: B
    EXPECT_EQ(store.GetDatenIKLog(K1, "05", "20", today), "109910025");
    // A -> B -> C
    EXPECT_EQ(store.GetDatenIKLog(K1, "09", "71", today), "109910047");
}

TEST_F(KtStoreTest, LogicalRecipientByStateAndDistrict) {
    EXPECT_EQ(store.GetDatenIKLog(K1, "05", "38", today), "109910014");   // state and district
    EXPECT_EQ(store.GetDatenIKLog(K1, "05", "20", today), "109910025");   // state, district "99"
    EXPECT_EQ(store.GetDatenIKLog(K1, "01", "01", today), "109910047");   // "99" row, then chain
    EXPECT_EQ(store.GetDatenIKLog(K1, "", "", today), "109910014");       // empty: first row passes
    EXPECT_EQ(store.GetDatenIKLog(K1, "05", "", today), "109910014");
    EXPECT_EQ(store.GetDatenIKLog(K1, "", "20", today), "109910025");     // only district 20 or "99"
    EXPECT_EQ(store.GetDatenIKLog(K5, "09", "71", today), "109910047");
    EXPECT_EQ(store.GetDatenIKLog(K5, "09", "72", today), "109910047");   // via 109910036
}

TEST_F(KtStoreTest, LinkValidityBoundariesAndTimeOfDay) {
    // valid until 31.12.2015 (inclusive), the next link from 01.01.2016
    EXPECT_EQ(store.GetDatenIKLog(K4, "", "", Day(2015, 12, 31)), "109910014");
    EXPECT_EQ(store.GetDatenIKLog(K4, "", "", EncodeDateTime(2015, 12, 31, 23, 30)), "109910014");
    EXPECT_EQ(store.GetDatenIKLog(K4, "", "", Day(2016, 1, 1)), "109910025");
    // the state-specific link comes first but starts on 01.01.2099
    EXPECT_EQ(store.GetDatenIKLog(K4, "05", "38", Day(2098, 12, 31)), "109910025");
    EXPECT_EQ(store.GetDatenIKLog(K4, "05", "38", Day(2099, 1, 1)), "109910058");
    EXPECT_EQ(store.GetDatenIKLog(K4, "05", "38", today), "109910025");
    // before every link: nothing to find
    EXPECT_EQ(ErrorOf([&] { store.GetDatenIKLog(K4, "", "", Day(2011, 12, 31)); }),
              "TSGBKTSTore GetDatenIKLog Keine IK zu ermitteln für IK=103440014IKK Thüringen-Saale");
}

TEST_F(KtStoreTest, LogicalRecipientRingEndsAtTheLastNewIK) {
    EXPECT_EQ(store.GetDatenIKLog(K7, "05", "38", today), "109910070");
    EXPECT_EQ(store.GetDatenIKLog("109910070", "05", "38", today), K7);
}

TEST_F(KtStoreTest, LogicalRecipientFailures) {
    EXPECT_EQ(ErrorOf([&] { store.GetDatenIKLog(K8, "05", "38", today); }),
              "TSGBKTSTore GetDatenIKLog Keine IK zu ermitteln für IK=103880016SV Waldhufen");
    EXPECT_EQ(ErrorOf([&] { store.GetDatenIKLog(K9, "05", "38", today); }),
              "TSGBKTStore IK nicht validiert 109999991 GetDAtenIKLog ");
    EXPECT_EQ(ErrorOf([&] { store.GetDatenIKLog("109999991", "05", "38", today); }),
              "TSGBKTStore IK nicht vorhanden IK=109999991");
    EXPECT_EQ(ErrorOf([&] { store.GetDatenIKLog("12345", "05", "38", today); }),
              "TSGBKTStore GetIKPretty IK nicht Laenge 9 ");
}

// ---------------------------------------------------------------- physical recipient, paper office

TEST_F(KtStoreTest, PhysicalRecipient) {
    store.ResetIndexes();
    // "02" rows of 109910014: the district row comes before the "99" row
    // only in the order the physical lookup sorts by
    EXPECT_EQ(store.GetDatenIKPhys(K1, "05", "38", today), "109920017");
    EXPECT_EQ(store.KTZuordn().IndexFieldNames(), TSGBKTStore::KTZuordnPhysOrder);
    EXPECT_EQ(store.GetDatenIKPhys("109910014", "06", "46", today), "109920028");
    EXPECT_EQ(store.GetDatenIKPhys(K1, "09", "71", today), "109920039");   // DATENPHYS_IK of the recipient
    EXPECT_EQ(store.GetDatenIKPhys(K1, "05", "20", today), "109910025");   // the logical recipient itself
    EXPECT_EQ(store.GetDatenIKPhys(K3, "05", "38", today), "109920028");   // the cost bearer's own link
    EXPECT_EQ(store.GetDatenIKPhys(K2, "01", "01", today), "109920040");
    EXPECT_EQ(store.GetDatenIKPhys(K2, "05", "38", today), "109910058");
    EXPECT_EQ(ErrorOf([&] { store.GetDatenIKPhys(K8, "05", "38", today); }),
              "TSGBKTSTore GetDatenIKLog Keine IK zu ermitteln für IK=103880016SV Waldhufen");
}

TEST_F(KtStoreTest, PhysicalLinksAreTestedAgainstTodayNotTheGivenDate) {
    // the date passed in would exclude every link
    EXPECT_EQ(store.GetDatenIKPhys("109910014", "05", "38", Day(2000, 1, 1)), "109920017");
    // today before the "02" links start: the logical recipient is used
    SetFixedNow(Day(2011, 6, 1));
    std::string p = store.GetDatenIKPhys("109910014", "05", "38", Day(2024, 3, 1));
    SetFixedNow(std::nullopt);
    EXPECT_EQ(p, "109910014");
}

TEST_F(KtStoreTest, PaperOffice) {
    // links with provider kind "41", an empty delivery kind or "07" are passed over
    EXPECT_EQ(store.GetPapierIK(K1, "05", "38", today), "109930013");
    EXPECT_EQ(store.GetPapierIK(K2, "05", "38", today), "109930035");   // PAPIER_IK
    EXPECT_EQ(store.GetPapierIK(K3, "05", "38", today), "109930013");   // "99" kinds
    EXPECT_EQ(store.GetPapierIK(K4, "05", "38", today), K4);            // no link: itself
    EXPECT_EQ(store.GetPapierIK(K5, "09", "71", today), "109930024");
    EXPECT_EQ(store.GetPapierIK(K5, "05", "38", today), K5);
    EXPECT_EQ(store.GetPapierIK("109999991", "05", "38", today), "109999991");

    // each rule alone: a provider kind "40" link with delivery kind "24" qualifies
    Table& z = store.KTZuordn();
    ASSERT_TRUE(z.Locate("K_IK;Z_ART;Z_DATENLIEFERART", {Value(K1), Value(std::string("09")), Value(std::string("07"))}));
    z.Edit();
    z.SetString("Z_DATENLIEFERART", "28");
    z.Post();
    EXPECT_EQ(store.GetPapierIK(K1, "05", "38", today), "109930024");
}

// ---------------------------------------------------------------- e-mail and addresses

TEST_F(KtStoreTest, EmailAddressOfTheValidRow) {
    // another protocol first, blanks around the address
    EXPECT_EQ(store.GetEmailAddr("109920017", true, true, today), "annahme@rz-duesseldorf-hafen.example");
    EXPECT_EQ(store.GetEmailAddr("109920028", false, false, Day(2019, 12, 31)), "edi-alt@rz-koeln-deutz.example");
    EXPECT_EQ(store.GetEmailAddr("109920028", true, true, Day(2020, 1, 1)),
              "edi-annahme@rechenzentrum-koeln-deutz.example");
}

TEST_F(KtStoreTest, MissingEmailRows) {
    EXPECT_EQ(store.GetEmailAddr("109920062", false, true, today), "*** keine Email ***");   // only protocol "016"
    EXPECT_EQ(store.GetEmailAddr("109920073", false, false, today), "*** keine Email ***");  // starts 2099
    EXPECT_EQ(store.GetEmailAddr("109999991", false, false, today), "*** keine Email ***");
    EXPECT_EQ(ErrorOf([&] { store.GetEmailAddr("109920062", true, false, today); }),
              "TSGBKTSTore GetEmailAddr. Email-Satz nicht gefunden. IK=109920062");
    EXPECT_EQ(ErrorOf([&] { store.GetEmailAddr("109920073", true, true, today); }),
              "TSGBKTSTore GetEmailAddr. Email-Satz nicht gefunden. IK=109920073");
}

TEST_F(KtStoreTest, DakotaMarkIsCheckedOnlyWhenAskedToRaise) {
    const std::string dakota = "TSGBKTSTore GetEmailAddr. Dakota-Satz nicht gefunden. IK=";
    EXPECT_EQ(ErrorOf([&] { store.GetEmailAddr("109920040", true, true, today); }), dakota + "109920040");   // "1"
    EXPECT_EQ(ErrorOf([&] { store.GetEmailAddr("109920039", true, true, today); }), dakota + "109920039");   // " "
    EXPECT_EQ(ErrorOf([&] { store.GetEmailAddr("109920028", true, true, Day(2019, 12, 31)); }),
              dakota + "109920028");
    EXPECT_EQ(store.GetEmailAddr("109920040", true, false, today), "dta@nordrechenzentrum-luebeck.example");
    EXPECT_EQ(store.GetEmailAddr("109920040", false, true, today), "dta@nordrechenzentrum-luebeck.example");
    EXPECT_EQ(store.GetEmailAddr("109920039", false, true, today), "daten@datenzentrale-bayern.example");
}

TEST_F(KtStoreTest, EmptyEmailAddress) {
    EXPECT_EQ(store.GetEmailAddr("109920051", false, true, today), "");
    EXPECT_EQ(ErrorOf([&] { store.GetEmailAddr("109920051", true, true, today); }),
              "TSGBKTSTore GetEmailAddr. Email-Satz ist leer. IK=109920051");
    // the DAKOTA test comes first
    Table& t = store.KTTransfer();
    ASSERT_TRUE(t.Locate("K_IK", {Value(std::string("109920051"))}));
    t.Edit();
    t.SetString("DAKOTA", "1");
    t.Post();
    EXPECT_EQ(ErrorOf([&] { store.GetEmailAddr("109920051", true, true, today); }),
              "TSGBKTSTore GetEmailAddr. Dakota-Satz nicht gefunden. IK=109920051");
}

TEST_F(KtStoreTest, AddressKindsFallBack) {
    EXPECT_EQ(store.GetAnschrift(K1, "1"), "50667 Köln Domstraße 21");
    EXPECT_EQ(store.GetAnschrift(K1, "2"), "50441 Köln Postfach 10 14 41");
    EXPECT_EQ(store.GetAnschrift(K1, "3"), "50441 Köln Postfach 10 14 41");   // 3 -> 2
    EXPECT_EQ(store.GetAnschrift(K2, "3"), "31675 Bückeburg Lange Straße 17");   // 3 -> 2 -> 1
    EXPECT_EQ(store.GetAnschrift(K2, "2"), "31675 Bückeburg Lange Straße 17");
    EXPECT_EQ(store.GetAnschrift("109930013", "3"), "51058 Köln ");
    EXPECT_EQ(store.GetAnschrift("109930013", "1"), "51063 Köln Wiener Platz 2");
    EXPECT_EQ(store.GetAnschrift(K2, "4"), "*** keine Anschrift ***");   // tried alone
    EXPECT_EQ(store.GetAnschrift(K1, ""), "*** keine Anschrift ***");
    EXPECT_EQ(store.GetAnschrift(K4, "1"), "*** keine Anschrift ***");
}

// ---------------------------------------------------------------- the resolved record and the report

TEST_F(KtStoreTest, KTInfoOfAReferral) {
    TKTInfo info = store.GetKTInfo("103110038", "05", "38", Day(2024, 3, 1));
    EXPECT_EQ(info.IK, "103110038");
    EXPECT_EQ(info.KTIK, K1);
    EXPECT_EQ(info.DatenIKLog, "109910014");
    EXPECT_EQ(info.DatenIKPhys, "109920017");
    EXPECT_EQ(info.Email, "annahme@rz-duesseldorf-hafen.example");
    EXPECT_EQ(info.PapierIK, "109930013");
    EXPECT_EQ(info.IKText, "Rheinische OKK Eifel.53902 Bad Münstereifel Kölner Straße 30");
    EXPECT_EQ(info.KTText, "Rheinische OKK.50667 Köln Domstraße 21");
    EXPECT_EQ(info.DatenLogText, "DAS Rhein-Ruhr.40212 Düsseldorf Königsallee 61");
    EXPECT_EQ(info.DatenPhysText, "RZ Düsseldorf-Hafen.40221 Düsseldorf Speditionstraße 15");
    EXPECT_EQ(info.PapierText, "Belegannahme Köln.51058 Köln ");   // kind "3" preferred
}

TEST_F(KtStoreTest, KTInfoCutsToCapacityAndNeverRaisesForEmail) {
    system.DAKOTA_ANN_CHECK = true;
    TKTInfo info = store.GetKTInfo(K3, "05", "38", Day(2024, 3, 1));
    EXPECT_EQ(info.Email, "edi-annahme@rechenzentrum-koeln-deutz.ex");   // 40 of 45 characters
    info = store.GetKTInfo(K5, "09", "71", Day(2024, 3, 1));              // DAKOTA mark " "
    EXPECT_EQ(info.Email, "daten@datenzentrale-bayern.example");
    info = store.GetKTInfo(K10, "05", "38", Day(2024, 3, 1));             // empty address
    EXPECT_EQ(info.DatenIKPhys, "109920051");
    EXPECT_EQ(info.Email, "");
    EXPECT_EQ(info.DatenPhysText, "RZ Thüringen.*** keine Anschrift ***");
    info = store.GetKTInfo(K6, "05", "38", Day(2024, 3, 1));              // no "070" row
    EXPECT_EQ(info.Email, "*** keine Email ***");
}

TEST_F(KtStoreTest, KTInfoCutsLongTextsAtACharacterNotInsideOne) {
    Table& ans = store.KTAnschrift();
    ASSERT_TRUE(ans.Locate("K_IK;ANS_ART", {Value(K1), Value(std::string("1"))}));
    const std::string ort(40, 'O');
    std::string strasse;
    for (int i = 0; i < 40; ++i) strasse += "ü";
    ans.Edit();
    ans.SetString("ANS_ORT", ort);
    ans.SetString("ANS_STRASSE", strasse);
    ans.Post();
    // "Rheinische OKK." and "50667 " are 21 characters, then 40 and a blank:
    // 38 of the 40 "ü" make the 100 characters.
    std::string expected = "Rheinische OKK.50667 " + ort + " ";
    for (int i = 0; i < 38; ++i) expected += "ü";
    TKTInfo info = store.GetKTInfo(K1, "05", "38", Day(2024, 3, 1));
    EXPECT_EQ(info.KTText, expected);
    EXPECT_EQ(store.GetAnschrift(K1, "1"), "50667 " + ort + " " + strasse);   // the address itself is whole
    // A record used before keeps nothing of its earlier, longer texts.
    ASSERT_TRUE(ans.Locate("K_IK;ANS_ART", {Value(K1), Value(std::string("1"))}));
    ans.Edit();
    ans.SetString("ANS_STRASSE", "Domstraße 21");
    ans.Post();
    store.GetKTInfo(K1, "05", "38", Day(2024, 3, 1), info);
    EXPECT_EQ(info.KTText, "Rheinische OKK.50667 " + ort + " Domstraße 21");
}

TEST_F(KtStoreTest, KTInfoKeepsWhatWasFilledBeforeAFailure) {
    TKTInfo info;
    info.PapierIK = "stale";
    EXPECT_EQ(ErrorOf([&] { store.GetKTInfo("103880016", "05", "38", today, info); }),
              "TSGBKTSTore GetDatenIKLog Keine IK zu ermitteln für IK=103880016SV Waldhufen");
    EXPECT_EQ(info.IK, K8);
    EXPECT_EQ(info.KTIK, K8);
    EXPECT_EQ(info.DatenIKLog, "");
    EXPECT_EQ(info.PapierIK, "");   // the record was cleared first
}

namespace {
std::string Line(const std::string& label, const std::string& ik, const std::string& text, bool trailing = false) {
    return label + PadLeft(ik, 9) + " " + PadRight(text, 80) + (trailing ? " " : "");
}
} // namespace

TEST_F(KtStoreTest, ReportOfAReferral) {
    std::string report = store.GetKTReport("103110038", "05", "38", Day(2024, 3, 1));
    std::vector<std::string> expected = {
        "Für IK 103110038 01.03.2024 Land=05 Bezirk=38",
        Line(" Vers.Karte  :   ", "103110038", "Rheinische OKK Eifel.53902 Bad Münstereifel Kölner Straße 30"),
        Line(" Kostenträger:   ", K1, "Rheinische OKK.50667 Köln Domstraße 21"),
        Line(" Daten logisch:  ", "109910014", "DAS Rhein-Ruhr.40212 Düsseldorf Königsallee 61"),
        Line(" Daten physisch: ", "109920017", "RZ Düsseldorf-Hafen.40221 Düsseldorf Speditionstraße 15", true),
        "   Email          " + PadRight("annahme@rz-duesseldorf-hafen.example", 40) + " ",
        Line(" Papier:         ", "109930013", "Belegannahme Köln.51058 Köln ", true)};
    EXPECT_EQ(report, Join(expected, "\r\n"));
    // the maintenance view reads the nine characters after each 17-character label
    size_t at = report.find(" Kostenträger:   ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(Utf8Copy(report.substr(at), 18, 9), K1);
}

TEST_F(KtStoreTest, ReportOfAnUnknownIK) {
    std::string report = store.GetKTReport("109999991", "05", "38", Day(2024, 3, 1));
    std::vector<std::string> expected = {"Für IK 109999991 ",
                                         " Fehler  :   Kein Kostentraeger gefunden für IK=109999991",
                                         Line(" Vers.Karte  :   ", "109999991", ""),
                                         Line(" Kostenträger:   ", "", ""),
                                         Line(" Daten logisch:  ", "", ""),
                                         Line(" Daten physisch: ", "", "", true),
                                         "   Email          " + std::string(40, ' ') + " ",
                                         Line(" Papier:         ", "", "", true)};
    EXPECT_EQ(report, Join(expected, "\r\n"));
}

TEST_F(KtStoreTest, ReportOfAPartlyResolvedIK) {
    std::string report = store.GetKTReport(K8, "05", "38", Day(2024, 3, 1));
    std::vector<std::string> lines = SplitLines(report);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[1], " Fehler  :   TSGBKTSTore GetDatenIKLog Keine IK zu ermitteln für IK=103880016SV Waldhufen");
    EXPECT_EQ(lines[3], Line(" Kostenträger:   ", K8, ""));   // filled before the failure, texts not yet
}
