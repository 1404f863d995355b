// The program's own signing and encryption (KRYPT_AKTIV) in the processing
// run, the settings and the start-up, on copies of the demo installation with
// a test PKI for its two data recipients.

#include "ControllerFixture.h"

#include "common/GkvPki.h"
#include "common/TestPki.h"
#include "lib/base/Error.h"
#include "lib/base/Format.h"

using namespace brenvo;
using namespace ctltest;

namespace {

class KryptRunTest : public ControllerTest {
protected:
    static void SetUpTestSuite() {
        pkiDir_ = new TempDir;
        pki_ = gkvpki::MakeDemoPki(pkiDir_->path(), 20);   // the office of 109910025 only for 20 more days
    }
    static void TearDownTestSuite() {
        delete pkiDir_;
        pkiDir_ = nullptr;
    }

    void SetUp() override {
        ControllerTest::SetUp();
        EmptyInbox();
        std::filesystem::copy_file(pki_.providerP12, Stamm("taxi.p12"));
        std::filesystem::copy_file(pki_.keyList, Stamm("annahme-rsa4096.key"));
        SetSettings({{"SYST_ZUSF", "T"},
                     {"KRYPT_AKTIV", "T"},
                     {"KRYPT_PKCS12", "Stammdaten/taxi.p12"},
                     {"KRYPT_PASSWORT", "geheim"},
                     {"KRYPT_SCHLUESSELLISTE", "Stammdaten/annahme-rsa4096.key"}});
        WriteInvoice("R-1", kRheinOKK, EncodeDate(2024, 11, 22));
        WriteInvoice("R-2", kIKKThuer, EncodeDate(2024, 11, 22));
    }

    struct Order {
        int64_t id;
        std::string handle, transfer;
    };
    std::vector<Order> Orders() const {
        Table t;
        t.LoadFromFile(Stamm("Auftraege.xml"));
        std::vector<Order> out;
        for (t.First(); !t.Eof(); t.Next())
            out.push_back({t.AsInteger("A_ID"), t.AsString("A_HANDLE"), t.AsString("A_TRANSFER")});
        return out;
    }

    // What the office of the IK reads from an encrypted file: decrypted with
    // its key and verified against the root by the openssl program.
    std::string OpenedByOffice(const std::string& file, const std::string& ik) {
        const gkvpki::Cert& office = ik == "109910014" ? pki_.office14 : pki_.office25;
        testpki::Openssl(work_.path(), {"cms", "-decrypt", "-binary", "-inform", "DER", "-in", file, "-recip",
                                        office.certFile, "-inkey", office.keyFile, "-out", work_.file("signed")});
        testpki::Openssl(work_.path(), {"cms", "-verify", "-binary", "-inform", "DER", "-in", work_.file("signed"),
                                        "-CAfile", pki_.root.certFile, "-purpose", "any", "-out", work_.file("plain")});
        return ReadFileBytes(work_.file("plain"));
    }

    std::vector<std::string> EncFiles(const std::string& rel) const {
        std::vector<std::string> out;
        for (const auto& f : Files(rel))
            if (EndsWith(f, ".ENC")) out.push_back(f);
        return out;
    }

    static inline TempDir* pkiDir_ = nullptr;
    static inline gkvpki::DemoPki pki_;
    TempDir work_;
};

} // namespace

TEST_F(KryptRunTest, EveryOrderIsSignedAndEncryptedForItsOfficeAndItsRecordSaysSo) {
    auto c = Started();
    c->actProzessStartExecute();
    ASSERT_TRUE(c->LastRun().Completed) << Joined();
    const auto orders = Orders();
    ASSERT_EQ(orders.size(), 2u);
    for (const Order& o : orders) {
        SCOPED_TRACE(o.transfer);
        const std::string ik = o.handle.substr(0, 9);
        const std::string base = Path("ArchivA/" + o.handle);
        const std::string billing = ReadFileBytes(base);
        const std::string enc = ReadFileBytes(base + ".ENC");
        EXPECT_EQ(OpenedByOffice(base + ".ENC", ik), billing);
        EXPECT_TRUE(view.Logged("Prozess: Auftrag " + o.transfer + " signiert und verschlüsselt für IK " + ik));

        // The record: the original size, the size sent, "03" + "03".
        const std::string record = ReadFileBytes(base + ".AUF");
        ASSERT_EQ(record.size(), 348u);
        EXPECT_EQ(record.substr(178, 12), Format("%12.12d", {int64_t(billing.size())}));
        EXPECT_EQ(record.substr(190, 12), Format("%12.12d", {int64_t(enc.size())}));
        EXPECT_EQ(record.substr(206, 4), "0303");

        // The order's e-mail carries the encrypted file under the transfer name.
        TEmailData mail;
        ASSERT_TRUE(c->PrepareOrderEmail(o.id, mail));
        EXPECT_EQ(ExtractFileName(mail.DataFile), o.transfer);
        EXPECT_EQ(ReadFileBytes(mail.DataFile), enc);
    }

    // Should its encrypted file go missing, the order is not mailed at all:
    // never its plain billing file in its place.
    DeleteFile(Path("ArchivA/" + orders[0].handle + ".ENC"));
    TEmailData mail;
    EXPECT_FALSE(c->PrepareOrderEmail(orders[0].id, mail));
}

TEST_F(KryptRunTest, JobThatCannotBeSealedFailsAndGivesItsInvoicesBackWithNothingWritten) {
    // The key list lacks the office of 109910025.
    AtomicWriteFile(Stamm("annahme-rsa4096.key"), gkvpki::KeyList({&pki_.root, &pki_.ca, &pki_.office14}));
    {
        auto c = Started();
        c->actProzessStartExecute();
        EXPECT_FALSE(c->LastRun().Completed);
        EXPECT_EQ(c->LastRun().Failure, "Die Schlüsselliste " + Stamm("annahme-rsa4096.key") +
                                             " enthält kein Zertifikat für IK 109910025.");
        EXPECT_EQ(c->LastRun().Returned, 2);
        EXPECT_EQ(Files("import"), (std::vector<std::string>{"R-1.xml", "R-2.xml"}));
        EXPECT_TRUE(Orders().empty());
        EXPECT_TRUE(EncFiles("ArchivA").empty());
        EXPECT_TRUE(EncFiles("temp").empty());
        EXPECT_TRUE(Files("ArchivA").empty());   // not even the plain billing files
    }
    // A wrong password, one job per invoice: each fails naming the key file.
    std::filesystem::copy_file(pki_.keyList, Stamm("annahme-rsa4096.key"),
                               std::filesystem::copy_options::overwrite_existing);
    SetSettings({{"SYST_ZUSF", "F"}, {"KRYPT_PASSWORT", "falsch"}});
    view.log.clear();
    auto c = Started();
    c->actProzessStartExecute();
    EXPECT_EQ(c->LastRun().Failed, 2);
    EXPECT_EQ(view.LinesWith("Prozess: Fehler bei R-").size(), 2u);
    EXPECT_TRUE(view.Logged("Prozess: Fehler bei R-1.xmlDas Kennwort (KRYPT_PASSWORT) passt nicht zur Schlüsseldatei " +
                            Stamm("taxi.p12") + "."))
        << Joined();
    EXPECT_TRUE(view.Logged("Prozess: Rechnung zurück in den Eingangskorb: R-1.xml"));
    EXPECT_TRUE(Orders().empty());
    EXPECT_TRUE(EncFiles("ArchivA").empty());
}

TEST_F(KryptRunTest, SettingsRefuseKryptBesideDakotaOrWithFilesThatDoNotOpen) {
    auto c = Started();
    EXPECT_TRUE(c->System().KRYPT_AKTIV);
    EXPECT_EQ(c->System().KRYPT_PKCS12, Stamm("taxi.p12"));
    EXPECT_EQ(c->System().KRYPT_SCHLUESSELLISTE, Stamm("annahme-rsa4096.key"));

    auto refused = [&](const std::function<void(TSettingsForm&)>& change, const std::string& message) {
        c->LoadSettings();
        change(c->SettingsForm());
        c->SettingsForm().EMAIL_SERVER = "geändert";
        try {
            c->SaveSettings();
            ADD_FAILURE() << "saved";
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), message);
        }
        EXPECT_EQ(Setting("EMAIL_SERVER"), "");
    };
    refused([](TSettingsForm& f) { f.DAKOTA_AKTIV = true; },
            "Die eigene Verschlüsselung (KRYPT_AKTIV) kann nicht zusammen mit Dakota (DAKOTA_AKTIV) eingeschaltet "
            "werden: Dakota verschlüsselt selbst.");
    refused([](TSettingsForm& f) { f.KRYPT_PASSWORT = "falsch"; },
            "Das Kennwort (KRYPT_PASSWORT) passt nicht zur Schlüsseldatei " + Stamm("taxi.p12") + ".");
    refused([](TSettingsForm& f) { f.KRYPT_SCHLUESSELLISTE = "Stammdaten/fehlt.key"; },
            "Die Schlüsselliste (KRYPT_SCHLUESSELLISTE) gibt es nicht: " + Stamm("fehlt.key"));

    // Switched off, nothing is checked; DAKOTA may be switched on.
    c->LoadSettings();
    c->SettingsForm().KRYPT_AKTIV = false;
    c->SettingsForm().KRYPT_PASSWORT = "falsch";
    c->SettingsForm().DAKOTA_AKTIV = true;
    c->SaveSettings();
    EXPECT_EQ(Setting("KRYPT_AKTIV"), "F");
    EXPECT_TRUE(c->System().DAKOTA_AKTIV);
    // A file edited by hand to hold both: DAKOTA wins.
    SetSettings({{"KRYPT_AKTIV", "T"}});
    c->LoadSettings();
    EXPECT_TRUE(c->SettingsForm().KRYPT_AKTIV);
    EXPECT_FALSE(c->System().KRYPT_AKTIV);
}

TEST_F(KryptRunTest, StartUpNamesTheCertificatesThatEndWithinThirtyDays) {
    {
        auto c = Started();
        c->actProzessStartExecute();
        ASSERT_EQ(Orders().size(), 2u);
        c->Shutdown();
    }
    view.log.clear();
    auto c = Started();
    const auto lines = view.LinesWith("Init Zertifikat: ");
    ASSERT_EQ(lines.size(), 1u) << Joined();
    EXPECT_TRUE(StartsWith(lines[0], "Init Zertifikat: Das Zertifikat der Annahmestelle IK 109910025 läuft am "))
        << lines[0];
    EXPECT_LT(view.IndexOf(lines[0]), view.IndexOf("Startup beendet."));
}
