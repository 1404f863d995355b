// brenvo-cli zertifikate and entschluesseln on a copy of the demo
// installation that encrypts its orders with a test PKI.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/GkvPki.h"
#include "common/TempDir.h"
#include "crypt/U_Krypt.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"
#include "tests/cli/CliRunner.h"

using namespace brenvo;
using namespace clitest;
namespace fs = std::filesystem;

namespace {

class KryptCliTest : public DemoCliTest {
protected:
    static void SetUpTestSuite() {
        pkiDir_ = new TempDir;
        pki_ = gkvpki::MakeDemoPki(pkiDir_->path());
    }
    static void TearDownTestSuite() {
        delete pkiDir_;
        pkiDir_ = nullptr;
    }
    void SetUp() override {
        DemoCliTest::SetUp();
        fs::copy_file(pki_.providerP12, Data("Stammdaten/taxi.p12"));
        fs::copy_file(pki_.keyList, Data("Stammdaten/annahme-rsa4096.key"));
        SetSettings({{"KRYPT_AKTIV", "T"},
                     {"KRYPT_PKCS12", "Stammdaten/taxi.p12"},
                     {"KRYPT_PASSWORT", "geheim"},
                     {"KRYPT_SCHLUESSELLISTE", "Stammdaten/annahme-rsa4096.key"}});
    }

    // The line `zertifikate` prints for a certificate.
    static std::string Line(const std::string& who, const gkvpki::Cert& cert, const std::string& state,
                            const std::string& name) {
        TKeyList one(cert.certFile);
        const TCertInfo info = one.Info(0);
        return Format("%-16s %s bis %s  %s  %s\n",
                      {who, FormatDDMMYYYY(info.NotBefore), FormatDDMMYYYY(info.NotAfter), state, name});
    }

    static inline TempDir* pkiDir_ = nullptr;
    static inline gkvpki::DemoPki pki_;
};

} // namespace

TEST_F(KryptCliTest, ZertifikateListsTheOfficesCertificatesTheAuthoritiesAndTheOwn) {
    CliResult r = Cli({"zertifikate"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    const std::string expected =
        "Schlüsselliste " + Data("Stammdaten/annahme-rsa4096.key") + ": 4 Zertifikate\n" +
        Line("109910014", pki_.office14, "gültig, wird verwendet", "Rheinische OKK") +
        Line("109910025", pki_.office25, "gültig, wird verwendet", "IKK Thüringen-Saale") +
        "Zertifizierungsstellen:\n" + Line("Stammzertifikat", pki_.root, "gültig", "C=DE, O=Test-PCA") +
        Line("CA", pki_.ca, "gültig", "C=DE, O=Test-TrustCenter") + "Eigenes Zertifikat " +
        Data("Stammdaten/taxi.p12") + ":\n" + Line("510512345", pki_.provider, "gültig", "Taxi Rheinufer GmbH");
    EXPECT_EQ(r.out, expected);

    SetSettings({{"KRYPT_SCHLUESSELLISTE", ""}});
    r = Cli({"zertifikate"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "brenvo-cli: Keine Schlüsselliste (KRYPT_SCHLUESSELLISTE) eingestellt.\n");
}

TEST_F(KryptCliTest, EntschluesselnOpensAnOrderAsItsOfficeDoes) {
    Cli({"verarbeiten"});
    Table t;
    t.LoadFromFile(Data("Stammdaten/Auftraege.xml"));
    std::string mine, other;   // the orders for 109910014 and for 109910025
    for (t.First(); !t.Eof(); t.Next())
        (StartsWith(t.AsString("A_HANDLE"), "109910014") ? mine : other) = Data("ArchivA/" + t.AsString("A_HANDLE"));
    ASSERT_FALSE(mine.empty() || other.empty());

    const std::string out = elsewhere.file("klar");
    CliResult r = Cli({"entschluesseln", mine + ".ENC", "--pkcs12", pki_.office14P12, "--passwort", "annahme", "--aus", out});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(ReadFileBytes(out), ReadFileBytes(mine));
    EXPECT_TRUE(Contains(r.out, "Signiert von: C=DE, O=Test-TrustCenter, OU=Taxi Rheinufer GmbH, OU=IK510512345, "
                                "CN=Max Muster\nZertifizierungspfad bis: C=DE, O=Test-PCA\n"))
        << r.out;
    EXPECT_TRUE(EndsWith(r.out, "Die Signatur ist gültig.\n")) << r.out;

    // Another office's file, a wrong password: nothing written.
    fs::remove(out);
    r = Cli({"entschluesseln", other + ".ENC", "--pkcs12", pki_.office14P12, "--passwort", "annahme", "--aus", out});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(StartsWith(r.err, "brenvo-cli: Die Nachricht lässt sich mit dem Schlüssel in " + pki_.office14P12))
        << r.err;
    r = Cli({"entschluesseln", mine + ".ENC", "--pkcs12", pki_.office14P12, "--passwort", "x", "--aus", out});
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(fs::exists(out));

    r = Cli({"entschluesseln", mine + ".ENC", "--pkcs12", pki_.office14P12, "--passwort", "annahme"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(StartsWith(r.err, "brenvo-cli: entschluesseln erwartet --pkcs12, --passwort und --aus\n")) << r.err;
}
