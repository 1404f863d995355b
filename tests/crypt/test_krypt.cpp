// Signing and encryption for the acceptance offices, checked with the openssl
// program against a test PKI made for the purpose.

#include <gtest/gtest.h>

#include "common/GkvPki.h"
#include "common/TempDir.h"
#include "common/TestPki.h"
#include "crypt/U_Krypt.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

using namespace brenvo;
using gkvpki::kDay;

namespace {

// Text of `openssl cms -cmsout -print` with every run of blanks and line
// ends made one blank, so that its parts can be looked for.
std::string Normalized(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\n' || c == '\r' || c == '\t';
        if (blank && (out.empty() || out.back() == ' ')) continue;
        out += blank ? ' ' : c;
    }
    return out;
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}

std::string Between(const std::string& text, const std::string& from, const std::string& to) {
    const size_t a = text.find(from);
    if (a == std::string::npos) return "";
    const size_t b = text.find(to, a + from.size());
    return text.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

// The demo's trust centre, its key list with only the office of IK 109910014.
class KryptTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pki_ = new TempDir;
        demo_ = gkvpki::MakeDemoPki(pki_->path());
        root_ = demo_.root;
        ca_ = demo_.ca;
        office_ = demo_.office14;
        provider_ = demo_.provider;
        providerP12_ = demo_.providerP12;
        officeP12_ = demo_.office14P12;
        keyList_ = demo_.keyList;
        AtomicWriteFile(keyList_, gkvpki::KeyList({&root_, &ca_, &office_}));
    }
    static void TearDownTestSuite() {
        delete pki_;
        pki_ = nullptr;
    }

    std::string Openssl(const std::vector<std::string>& args) {
        testpki::Openssl(dir_.path(), args);
        return ReadFileBytes(dir_.file("openssl.log"));
    }

    static inline TempDir* pki_ = nullptr;
    static inline gkvpki::DemoPki demo_;
    static inline gkvpki::Cert root_, ca_, office_, provider_;
    static inline std::string providerP12_, officeP12_, keyList_;
    TempDir dir_;
};

} // namespace

TEST_F(KryptTest, SealedBillingFileOpensWithTheOpensslProgramAndHasTheAgreedStructure) {
    std::string billing = "UNA:+,? 'UNB+UNOC:3+510512345+109910014+20260110:1200+00001++SL0001'\r\n";
    for (int i = 0; i < 256; ++i) billing += char(i);   // every byte survives
    TKrypt krypt(providerP12_, "geheim", keyList_);
    const std::string sealed = krypt.Seal(billing, "109910014", Now());
    AtomicWriteFile(dir_.file("TSOL0001"), sealed);

    // The office opens it with its key; the signature verifies against the root.
    Openssl({"cms", "-decrypt", "-binary", "-inform", "DER", "-in", dir_.file("TSOL0001"), "-recip", office_.certFile,
             "-inkey", office_.keyFile, "-out", dir_.file("signed.der")});
    Openssl({"cms", "-verify", "-binary", "-inform", "DER", "-in", dir_.file("signed.der"), "-CAfile", root_.certFile,
             "-purpose", "any", "-out", dir_.file("content")});
    EXPECT_EQ(ReadFileBytes(dir_.file("content")), billing);

    const std::string env = Normalized(Openssl({"cms", "-cmsout", "-print", "-inform", "DER", "-in", dir_.file("TSOL0001")}));
    EXPECT_TRUE(Contains(env, "d.envelopedData: version: 0 originatorInfo: <ABSENT>")) << env;
    EXPECT_EQ(Count(env, "d.ktri:"), 1);
    EXPECT_TRUE(Contains(env, "d.ktri: version: 0 d.issuerAndSerialNumber: issuer: C=DE, O=Test-TrustCenter")) << env;
    const std::string oaep = Between(env, "algorithm: rsaesOaep (1.2.840.113549.1.1.7)", "encryptedKey:");
    EXPECT_EQ(Count(oaep, ":sha256"), 2) << oaep;   // the hash and MGF1's hash
    EXPECT_EQ(Count(oaep, ":mgf1"), 1) << oaep;
    EXPECT_FALSE(Contains(oaep, "cont [ 2 ]")) << oaep;   // the empty label, the default
    EXPECT_TRUE(Contains(env, "encryptedContentInfo: contentType: pkcs7-data (1.2.840.113549.1.7.1) "
                              "contentEncryptionAlgorithm: algorithm: aes-256-cbc (2.16.840.1.101.3.4.1.42)"))
        << env;
    EXPECT_TRUE(Contains(env, "unprotectedAttrs: <ABSENT>")) << env;

    const std::string sd = Normalized(Openssl({"cms", "-cmsout", "-print", "-inform", "DER", "-in", dir_.file("signed.der")}));
    EXPECT_TRUE(Contains(sd, "d.signedData: version: 1 digestAlgorithms: algorithm: sha256 (2.16.840.1.101.3.4.2.1)"))
        << sd;
    EXPECT_TRUE(Contains(sd, "eContentType: pkcs7-data (1.2.840.113549.1.7.1) eContent:")) << sd;
    EXPECT_EQ(Count(sd, "d.certificate:"), 3);   // the signer, the CA and the root
    for (const char* subject : {"subject: C=DE, O=Test-TrustCenter, OU=Taxi Rheinufer GmbH, OU=IK510512345, CN=Max Muster",
                                "subject: C=DE, O=Test-TrustCenter key:", "subject: C=DE, O=Test-PCA key:"})
        EXPECT_TRUE(Contains(sd, subject)) << subject;
    EXPECT_TRUE(Contains(sd, "crls: <ABSENT>")) << sd;
    EXPECT_EQ(Count(sd, "d.issuerAndSerialNumber:"), 1);
    EXPECT_TRUE(Contains(sd, "signerInfos: version: 1 d.issuerAndSerialNumber: issuer: C=DE, O=Test-TrustCenter"))
        << sd;
    const std::string pss = Between(sd, "signatureAlgorithm: algorithm: rsassaPss (1.2.840.113549.1.1.10)", "signature:");
    EXPECT_EQ(Count(pss, ":sha256"), 2) << pss;
    EXPECT_EQ(Count(pss, ":mgf1"), 1) << pss;
    EXPECT_TRUE(Contains(pss, "INTEGER :20")) << pss;      // salt length 32
    EXPECT_FALSE(Contains(pss, "cont [ 3 ]")) << pss;      // trailer field 1, the default
    EXPECT_TRUE(Contains(sd, "unsignedAttrs: <ABSENT>")) << sd;

    // The program's own opening (for support) reads it the same.
    TProviderKey officeKey(officeP12_, "annahme");
    TKeyList list(keyList_);
    const TOpenedMessage opened = DecryptAndVerify(sealed, officeKey, &list);
    EXPECT_EQ(opened.Content, billing);
    EXPECT_EQ(opened.Signer.Ik, "510512345");
    EXPECT_EQ(opened.Root.Subject, "C=DE, O=Test-PCA");
    EXPECT_FALSE(opened.SigningTime.IsNull());

    // Changed by one byte, it no longer opens.
    std::string broken = sealed;
    broken[broken.size() - 20] ^= 0x01;
    EXPECT_THROW(DecryptAndVerify(broken, officeKey, &list), Error);
}

TEST_F(KryptTest, OfficeCertificateIsTheUsableOneWithTheLatestStart) {
    const std::string d = dir_.path();
    // Keys are slow to make: the offices' certificates share the office's.
    auto office = [&](const char* name, long from, long to, const gkvpki::Cert& issuer) {
        return gkvpki::Issue(d, name, "Test-TrustCenter", {"IKK Thüringen-Saale", "IK109910025"}, "Annahme", &issuer,
                             from, to, false, office_.key);
    };
    const gkvpki::Cert older = office("aelter", -100 * kDay, 200 * kDay, ca_);
    const gkvpki::Cert newer = office("neuer", -2 * kDay, 300 * kDay, ca_);
    const gkvpki::Cert future = office("kuenftig", 10 * kDay, 400 * kDay, ca_);
    const gkvpki::Cert expired = office("abgelaufen", -400 * kDay, -1 * kDay, ca_);
    // A CA outside the list's path: an office certificate it issued is refused.
    const gkvpki::Cert foreignRoot = gkvpki::Issue(d, "fremd-pca", "Fremde PCA", {}, "", nullptr, -kDay, 900 * kDay, true);
    const gkvpki::Cert foreignCa = gkvpki::Issue(d, "fremd-ca", "Fremdes TC", {}, "", &foreignRoot, -kDay, 900 * kDay, true);
    const gkvpki::Cert foreign = gkvpki::Issue(d, "fremd", "Fremdes TC", {"Fremd", "IK109910036"}, "", &foreignCa,
                                               -kDay, 800 * kDay, false, office_.key);
    const gkvpki::Cert onlyExpired = gkvpki::Issue(d, "alt", "Test-TrustCenter", {"Alt", "IK109910047"}, "", &ca_,
                                                   -400 * kDay, -3 * kDay, false, office_.key);
    const std::string file = d + "/liste.key";
    AtomicWriteFile(file, gkvpki::KeyList({&root_, &older, &ca_, &newer, &future, &expired, &foreignCa, &foreign,
                                           &onlyExpired, &office_}));
    TKeyList list(file);
    ASSERT_EQ(list.Count(), 10u);
    EXPECT_EQ(list.Info(0).Subject, "C=DE, O=Test-PCA");
    EXPECT_TRUE(list.Info(0).IsCa && list.Info(0).SelfSigned);
    EXPECT_EQ(list.Info(1).Ik, "109910025");
    EXPECT_EQ(list.Info(1).Institution, "IKK Thüringen-Saale");

    const TDateTime now = Now();
    EXPECT_EQ(list.RecipientIndex("109910025", now), 3u);                   // the newer of the two in force
    EXPECT_EQ(list.RecipientIndex("109910025", IncDays(now, 250)), 4u);     // later: the one starting in ten days
    EXPECT_EQ(list.RecipientIndex("109910014", now), 9u);
    EXPECT_TRUE(StartsWith(list.Problem(5, now), "abgelaufen am ")) << list.Problem(5, now);
    EXPECT_TRUE(StartsWith(list.Problem(4, now), "noch nicht gültig (ab ")) << list.Problem(4, now);

    auto refusal = [&](const std::string& ik) {
        try {
            list.RecipientIndex(ik, now);
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("kein Fehler");
    };
    EXPECT_EQ(refusal("109999999"), "Die Schlüsselliste " + file + " enthält kein Zertifikat für IK 109999999.");
    EXPECT_TRUE(StartsWith(refusal("109910036"), "Für IK 109910036 enthält die Schlüsselliste " + file +
                                                     " kein gültiges Zertifikat: die Zertifikatskette endet nicht bei "
                                                     "einer Stammzertifizierungsstelle der Schlüsselliste"))
        << refusal("109910036");
    EXPECT_TRUE(StartsWith(refusal("109910047"), "Für IK 109910047 enthält die Schlüsselliste " + file +
                                                     " kein gültiges Zertifikat: abgelaufen am "))
        << refusal("109910047");
}

TEST_F(KryptTest, KeyFilesAndListsThatCannotBeUsedAreRefusedByName) {
    auto refusal = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("kein Fehler");
    };
    const std::string missing = dir_.file("fehlt.p12");
    EXPECT_EQ(refusal([&] { TProviderKey k(missing, "geheim"); }),
              "Die Schlüsseldatei (KRYPT_PKCS12) gibt es nicht: " + missing);
    EXPECT_EQ(refusal([&] { TProviderKey k(providerP12_, "falsch"); }),
              "Das Kennwort (KRYPT_PASSWORT) passt nicht zur Schlüsseldatei " + providerP12_ + ".");
    AtomicWriteFile(dir_.file("kaputt.p12"), "kein PKCS#12");
    EXPECT_EQ(refusal([&] { TProviderKey k(dir_.file("kaputt.p12"), "geheim"); }),
              "Die Schlüsseldatei (KRYPT_PKCS12) " + dir_.file("kaputt.p12") + " ist keine lesbare PKCS#12-Datei.");

    // The key list as published (blank lines between the entries), without
    // the blank lines, and as PEM: the same certificates.
    const std::string published = gkvpki::KeyList({&root_, &ca_, &office_});
    AtomicWriteFile(dir_.file("dicht.key"), ReplaceAll(published, "\n\n", "\n"));
    AtomicWriteFile(dir_.file("pem.key"), ReadFileBytes(root_.certFile) + ReadFileBytes(office_.certFile));
    EXPECT_EQ(TKeyList(dir_.file("dicht.key")).Count(), 3u);
    EXPECT_EQ(TKeyList(dir_.file("pem.key")).Info(1).Ik, "109910014");
    AtomicWriteFile(dir_.file("zeile.key"), published + "kein Zertifikat!\n");
    const int badLine = int(SplitLines(published).size()) + 1;
    EXPECT_EQ(refusal([&] { TKeyList l(dir_.file("zeile.key")); }),
              "Die Schlüsselliste " + dir_.file("zeile.key") + " enthält in Zeile " + std::to_string(badLine) +
                  " kein Zertifikat.");
    AtomicWriteFile(dir_.file("halb.key"), published.substr(0, published.size() / 2));
    EXPECT_TRUE(Contains(refusal([&] { TKeyList l(dir_.file("halb.key")); }), "endet mit einem unvollständigen"));

    // Sealing checks the own certificate too: one that has expired signs nothing.
    const gkvpki::Cert old = gkvpki::Issue(dir_.path(), "alt", "Test-TrustCenter", {"Taxi", "IK510512345"}, "", &ca_,
                                           -400 * kDay, -2 * kDay, false, provider_.key);
    const std::string oldP12 = gkvpki::Pkcs12(dir_.path(), old, {&ca_, &root_}, "geheim");
    TKrypt expired(oldP12, "geheim", keyList_);
    EXPECT_TRUE(StartsWith(refusal([&] { expired.Seal("x", "109910014", Now()); }),
                           "Das eigene Zertifikat in " + oldP12 + " ist am "));
}

TEST_F(KryptTest, ExpiryWarningsNameTheOwnCertificateAndTheOfficesAsked) {
    TKrypt krypt(providerP12_, "geheim", keyList_);
    EXPECT_TRUE(krypt.ExpiryWarnings({"109910014"}, Now(), 30).empty());
    // 340 days on: the own certificate ends within 30 days, the office's has ended.
    const auto lines = krypt.ExpiryWarnings({"109910014"}, IncDays(Now(), 340), 30);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(StartsWith(lines[0], "Das eigene Zertifikat (" + providerP12_ + ") läuft am ")) << lines[0];
    EXPECT_TRUE(StartsWith(lines[1], "Für IK 109910014 enthält die Schlüsselliste")) << lines[1];
}
