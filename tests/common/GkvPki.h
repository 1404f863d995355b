#pragma once

// A small PKI as the health insurers' trust centres run it, made by the tests
// with OpenSSL's functions (the openssl program of Debian 12 cannot choose a
// certificate's start of validity): RSA keys, certificates signed with
// RSASSA-PSS, names C=DE, O=trust centre[, OU=institution, OU=IK..., CN=...].
// Every certificate and key is also written as a PEM file, for the openssl
// program and for PKCS#12 files.

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "lib/base/Files.h"
#include "lib/base/Strings.h"

namespace gkvpki {

struct Cert {
    std::string name;            // file names: name.pem, name.key
    std::string certFile, keyFile;
    std::shared_ptr<X509> cert;
    std::shared_ptr<EVP_PKEY> key;
};

constexpr long kDay = 24 * 3600;

inline void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test PKI: ") + what);
}

inline std::shared_ptr<EVP_PKEY> RsaKey() {
    EVP_PKEY* k = EVP_RSA_gen(2048);
    Check(k != nullptr, "RSA key");
    return {k, EVP_PKEY_free};
}

inline void AddExt(X509* x, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
    X509_EXTENSION* e = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    Check(e != nullptr && X509_add_ext(x, e, -1) == 1, "extension");
    X509_EXTENSION_free(e);
}

// A certificate valid from now + from to now + to (seconds), signed by issuer
// (self-signed when null). units: the organisational units in order. key:
// the key pair to certify, a new one when none is given.
inline Cert Issue(const std::string& dir, const std::string& name, const std::string& org,
                  const std::vector<std::string>& units, const std::string& cn, const Cert* issuer, long from,
                  long to, bool ca, std::shared_ptr<EVP_PKEY> key = {}) {
    Cert c;
    c.name = name;
    c.key = key ? std::move(key) : RsaKey();
    std::shared_ptr<X509> x(X509_new(), X509_free);
    static long serial = 100;
    X509_set_version(x.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x.get()), ++serial);
    X509_NAME* subject = X509_get_subject_name(x.get());
    auto add = [subject](const char* field, const std::string& value) {
        Check(X509_NAME_add_entry_by_txt(subject, field, MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0) == 1,
              "name");
    };
    add("C", "DE");
    add("O", org);
    for (const std::string& u : units) add("OU", u);
    if (!cn.empty()) add("CN", cn);
    X509_set_issuer_name(x.get(), issuer ? X509_get_subject_name(issuer->cert.get()) : subject);
    X509_gmtime_adj(X509_getm_notBefore(x.get()), from);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), to);
    X509_set_pubkey(x.get(), c.key.get());
    X509* issuerCert = issuer ? issuer->cert.get() : x.get();
    AddExt(x.get(), issuerCert, NID_basic_constraints, ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    AddExt(x.get(), issuerCert, NID_key_usage,
           ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature,nonRepudiation,keyEncipherment");
    AddExt(x.get(), issuerCert, NID_subject_key_identifier, "hash");
    if (issuer) AddExt(x.get(), issuerCert, NID_authority_key_identifier, "keyid:always");

    // Signed with RSASSA-PSS, SHA-256, salt 32, as the trust centres sign.
    EVP_PKEY* signKey = issuer ? issuer->key.get() : c.key.get();
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_PKEY_CTX* pctx = nullptr;
    Check(EVP_DigestSignInit(md.get(), &pctx, EVP_sha256(), nullptr, signKey) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PSS_PADDING) > 0 &&
              EVP_PKEY_CTX_set_rsa_pss_saltlen(pctx, 32) > 0 && X509_sign_ctx(x.get(), md.get()) > 0,
          "signature");
    c.cert = x;

    c.certFile = dir + "/" + name + ".pem";
    c.keyFile = dir + "/" + name + ".key";
    FILE* f = fopen(c.certFile.c_str(), "wb");
    Check(f && PEM_write_X509(f, x.get()) == 1, "write certificate");
    fclose(f);
    f = fopen(c.keyFile.c_str(), "wb");
    Check(f && PEM_write_PrivateKey(f, c.key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1, "write key");
    fclose(f);
    return c;
}

// The certificate's base64 text as the trust centre's key list holds it: the
// PEM body without its two marker lines.
inline std::string KeyListEntry(const Cert& c) {
    std::string out;
    for (const std::string& line : brenvo::SplitLines(brenvo::ReadFileBytes(c.certFile)))
        if (!line.empty() && line.rfind("-----", 0) != 0) out += line + "\n";
    return out;
}

// A key list: the entries one after another, a blank line between them.
inline std::string KeyList(const std::vector<const Cert*>& certs) {
    std::string out;
    for (const Cert* c : certs) out += KeyListEntry(*c) + "\n";
    return out;
}

// A PKCS#12 file with the key, its certificate and the certification path.
inline std::string Pkcs12(const std::string& dir, const Cert& owner, const std::vector<const Cert*>& path,
                          const std::string& password) {
    STACK_OF(X509)* ca = sk_X509_new_null();
    for (const Cert* c : path) sk_X509_push(ca, c->cert.get());
    PKCS12* p12 = PKCS12_create(password.c_str(), owner.name.c_str(), owner.key.get(), owner.cert.get(), ca, 0, 0,
                                0, 0, 0);
    sk_X509_free(ca);
    Check(p12 != nullptr, "PKCS#12");
    const std::string file = dir + "/" + owner.name + ".p12";
    FILE* f = fopen(file.c_str(), "wb");
    Check(f && i2d_PKCS12_fp(f, p12) == 1, "write PKCS#12");
    fclose(f);
    PKCS12_free(p12);
    return file;
}

} // namespace gkvpki

namespace gkvpki {

// The trust centre of the demo installation: a root (PCA), a CA below it,
// the acceptance offices of the demo's two data recipients (IK 109910014 and
// 109910025) and the provider (IK 510512345), all certified by the CA. The
// provider's PKCS#12 file (password "geheim") and the office 109910014's
// (password "annahme") hold the CA and the root as certification path; the
// key list holds root, CA and both offices.
struct DemoPki {
    Cert root, ca, office14, office25, provider;
    std::string providerP12, office14P12, keyList;
};

// office25Days: how long the second office's certificate is still valid.
inline DemoPki MakeDemoPki(const std::string& dir, long office25Days = 300) {
    DemoPki p;
    p.root = Issue(dir, "pca", "Test-PCA", {}, "", nullptr, -400 * kDay, 2000 * kDay, true);
    p.ca = Issue(dir, "ca", "Test-TrustCenter", {}, "", &p.root, -300 * kDay, 1500 * kDay, true);
    p.office14 = Issue(dir, "annahme", "Test-TrustCenter", {"Rheinische OKK", "IK109910014"}, "Datenannahme", &p.ca,
                       -10 * kDay, 300 * kDay, false);
    p.office25 = Issue(dir, "annahme25", "Test-TrustCenter", {"IKK Thüringen-Saale", "IK109910025"}, "Annahme",
                       &p.ca, -10 * kDay, office25Days * kDay, false);
    p.provider = Issue(dir, "taxi", "Test-TrustCenter", {"Taxi Rheinufer GmbH", "IK510512345"}, "Max Muster", &p.ca,
                       -5 * kDay, 360 * kDay, false);
    p.providerP12 = Pkcs12(dir, p.provider, {&p.ca, &p.root}, "geheim");
    p.office14P12 = Pkcs12(dir, p.office14, {&p.ca, &p.root}, "annahme");
    p.keyList = dir + "/annahme-rsa4096.key";
    brenvo::AtomicWriteFile(p.keyList, KeyList({&p.root, &p.ca, &p.office14, &p.office25}));
    return p;
}

} // namespace gkvpki
