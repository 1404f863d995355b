#include "crypt/U_Krypt.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <mutex>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

// ------------------------------------------------------------ OpenSSL's objects

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CmsFree {
    void operator()(CMS_ContentInfo* c) const { CMS_ContentInfo_free(c); }
};
struct StoreFree {
    void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};
struct StoreCtxFree {
    void operator()(X509_STORE_CTX* c) const { X509_STORE_CTX_free(c); }
};
struct P12Free {
    void operator()(PKCS12* p) const { PKCS12_free(p); }
};
struct CertStackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
struct BareStackFree {   // a stack that borrows its certificates
    void operator()(STACK_OF(X509) * s) const { sk_X509_free(s); }
};

using BioPtr = std::unique_ptr<BIO, BioFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, CmsFree>;
using StorePtr = std::unique_ptr<X509_STORE, StoreFree>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, StoreCtxFree>;
using P12Ptr = std::unique_ptr<PKCS12, P12Free>;
using CertStackPtr = std::unique_ptr<STACK_OF(X509), CertStackFree>;
using BareStackPtr = std::unique_ptr<STACK_OF(X509), BareStackFree>;

X509Ptr UpRef(X509* x) {
    X509_up_ref(x);
    return X509Ptr(x);
}

// The reason OpenSSL gives for its last failure, and its error queue emptied.
std::string OpenSslReason() {
    unsigned long last = 0;
    while (unsigned long e = ERR_get_error()) last = e;
    if (!last) return "unbekannter Fehler";
    char buf[256];
    ERR_error_string_n(last, buf, sizeof buf);
    return buf;
}

BioPtr MemoryIn(std::string_view bytes) {
    return BioPtr(BIO_new_mem_buf(bytes.data(), int(bytes.size())));
}

std::string MemoryBytes(BIO* bio) {
    char* p = nullptr;
    long n = BIO_get_mem_data(bio, &p);
    return n > 0 ? std::string(p, size_t(n)) : std::string();
}

// ------------------------------------------------------------ certificates

TDateTime AsnTime(const ASN1_TIME* t) {
    std::tm tm{};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return TDateTime::Null();
    return FromTimeT(int64_t(timegm(&tm)));
}

std::string AsnText(const ASN1_STRING* s) {
    unsigned char* utf8 = nullptr;
    int n = ASN1_STRING_to_UTF8(&utf8, s);
    if (n < 0) return "";
    std::string out(reinterpret_cast<char*>(utf8), size_t(n));
    OPENSSL_free(utf8);
    return out;
}

// "C=DE, O=..., OU=..., CN=..." in the order of the name.
std::string NameText(const X509_NAME* name) {
    std::string out;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
        const int nid = OBJ_obj2nid(X509_NAME_ENTRY_get_object(e));
        const char* sn = nid != NID_undef ? OBJ_nid2sn(nid) : "?";
        if (!out.empty()) out += ", ";
        out += std::string(sn) + "=" + AsnText(X509_NAME_ENTRY_get_data(e));
    }
    return out;
}

bool IsNineDigits(std::string_view s) {
    return s.size() == 9 && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool IsSelfSigned(X509* x) { return X509_check_issued(x, x) == X509_V_OK; }

TCertInfo Describe(X509* x) {
    TCertInfo info;
    const X509_NAME* subject = X509_get_subject_name(x);
    info.Subject = NameText(subject);
    info.Issuer = NameText(X509_get_issuer_name(x));
    for (int i = 0; i < X509_NAME_entry_count(subject); ++i) {
        const X509_NAME_ENTRY* e = X509_NAME_get_entry(subject, i);
        if (OBJ_obj2nid(X509_NAME_ENTRY_get_object(e)) != NID_organizationalUnitName) continue;
        const std::string unit = AsnText(X509_NAME_ENTRY_get_data(e));
        if (unit.size() == 11 && unit.compare(0, 2, "IK") == 0 && IsNineDigits(std::string_view(unit).substr(2)))
            info.Ik = unit.substr(2);
        else if (info.Institution.empty())
            info.Institution = unit;
    }
    if (BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(x), nullptr)) {
        if (char* hex = BN_bn2hex(bn)) {
            info.Serial = hex;
            OPENSSL_free(hex);
        }
        BN_free(bn);
    }
    info.NotBefore = AsnTime(X509_get0_notBefore(x));
    info.NotAfter = AsnTime(X509_get0_notAfter(x));
    info.IsCa = X509_check_ca(x) > 0;
    info.SelfSigned = IsSelfSigned(x);
    return info;
}

// Whether the certificate is within its validity at `at`; otherwise why not.
std::string ValidityProblem(X509* x, time_t at) {
    if (X509_cmp_time(X509_get0_notBefore(x), &at) > 0)
        return "noch nicht gültig (ab " + FormatDDMMYYYY(AsnTime(X509_get0_notBefore(x))) + ")";
    if (X509_cmp_time(X509_get0_notAfter(x), &at) < 0)
        return "abgelaufen am " + FormatDDMMYYYY(AsnTime(X509_get0_notAfter(x)));
    return "";
}

// Verifies the certificate's path at `at` to one of the trusted roots over the
// intermediate certificates given. Returns the path (the certificate first,
// the root last), or empty with the reason in *why.
std::vector<X509Ptr> VerifyPath(X509* cert, const std::vector<X509*>& roots, const std::vector<X509*>& between,
                                time_t at, std::string* why) {
    StorePtr store(X509_STORE_new());
    for (X509* r : roots) X509_STORE_add_cert(store.get(), r);
    BareStackPtr untrusted(sk_X509_new_null());
    for (X509* c : between) sk_X509_push(untrusted.get(), c);
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    std::vector<X509Ptr> path;
    if (!store || !untrusted || !ctx || X509_STORE_CTX_init(ctx.get(), store.get(), cert, untrusted.get()) != 1) {
        *why = OpenSslReason();
        return path;
    }
    X509_STORE_CTX_set_time(ctx.get(), 0, at);
    if (X509_verify_cert(ctx.get()) != 1) {
        const int err = X509_STORE_CTX_get_error(ctx.get());
        const std::string reason = X509_verify_cert_error_string(err);
        switch (err) {
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            *why = "die Zertifikatskette endet nicht bei einer Stammzertifizierungsstelle der Schlüsselliste (" +
                   reason + ")";
            break;
        default: *why = "die Zertifikatskette ist ungültig (" + reason + ")"; break;
        }
        ERR_clear_error();
        return path;
    }
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
    for (int i = 0; i < sk_X509_num(chain); ++i) path.push_back(UpRef(sk_X509_value(chain, i)));
    return path;
}

// ------------------------------------------------------------ the key list's text

// The length of the DER element at the start of der (header and content), 0
// when the bytes do not yet show it.
size_t DerElementLength(const std::string& der) {
    if (der.size() < 2) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    if (p[1] < 0x80) return 2 + size_t(p[1]);
    const size_t k = p[1] & 0x7F;
    if (k == 0 || k > 4 || der.size() < 2 + k) return 0;
    size_t len = 0;
    for (size_t i = 0; i < k; ++i) len = (len << 8) | p[2 + i];
    return 2 + k + len;
}

bool IsBase64Text(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '+' || c == '/' || c == '=';
    });
}

bool DecodeBase64(std::string_view text, std::string& out) {
    std::unique_ptr<EVP_ENCODE_CTX, decltype(&EVP_ENCODE_CTX_free)> ctx(EVP_ENCODE_CTX_new(), EVP_ENCODE_CTX_free);
    if (!ctx) return false;
    out.assign(text.size() / 4 * 3 + 3, '\0');
    int n = 0, m = 0;
    EVP_DecodeInit(ctx.get());
    if (EVP_DecodeUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n,
                         reinterpret_cast<const unsigned char*>(text.data()), int(text.size())) < 0)
        return false;
    if (EVP_DecodeFinal(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + n, &m) < 0) return false;
    out.resize(size_t(n + m));
    return true;
}

std::vector<X509Ptr> ReadKeyList(const std::string& path) {
    if (!FileExists(path)) throw Error("Die Schlüsselliste (KRYPT_SCHLUESSELLISTE) gibt es nicht: " + path);
    const std::string text = ReadFileBytes(path);
    std::vector<X509Ptr> certs;
    if (text.find("-----BEGIN CERTIFICATE-----") != std::string::npos) {
        BioPtr bio = MemoryIn(text);
        while (X509* x = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) certs.emplace_back(x);
        ERR_clear_error();
    } else {
        // Base64 certificates one after another. A certificate ends where its
        // DER says it does; blank lines between them are welcome, not needed.
        std::string block, der;
        int lineNo = 0, blockStart = 0;
        for (const std::string& raw : SplitLines(text)) {
            ++lineNo;
            std::string line;
            for (char c : raw)
                if (c != ' ' && c != '\t' && c != '\r') line += c;
            if (line.empty()) {
                if (!block.empty())
                    throw Error("Die Schlüsselliste " + path + " enthält ab Zeile " + std::to_string(blockStart) +
                                " ein unvollständiges Zertifikat.");
                continue;
            }
            if (!IsBase64Text(line))
                throw Error("Die Schlüsselliste " + path + " enthält in Zeile " + std::to_string(lineNo) +
                            " kein Zertifikat.");
            if (block.empty()) blockStart = lineNo;
            block += line;
            if (block.size() % 4 != 0) continue;
            if (!DecodeBase64(block, der))
                throw Error("Die Schlüsselliste " + path + " enthält in Zeile " + std::to_string(lineNo) +
                            " kein Zertifikat.");
            const size_t total = DerElementLength(der);
            if (total == 0 || total > der.size()) continue;   // the certificate goes on
            const auto* p = reinterpret_cast<const unsigned char*>(der.data());
            X509* x = total == der.size() ? d2i_X509(nullptr, &p, long(der.size())) : nullptr;
            if (!x) {
                ERR_clear_error();
                throw Error("Die Schlüsselliste " + path + " enthält ab Zeile " + std::to_string(blockStart) +
                            " kein lesbares Zertifikat.");
            }
            certs.emplace_back(x);
            block.clear();
        }
        if (!block.empty())
            throw Error("Die Schlüsselliste " + path + " endet mit einem unvollständigen Zertifikat (ab Zeile " +
                        std::to_string(blockStart) + ").");
    }
    if (certs.empty()) throw Error("Die Schlüsselliste " + path + " enthält kein Zertifikat.");
    return certs;
}

// Old PKCS#12 files protect their certificates with algorithms that OpenSSL
// keeps in its legacy provider.
void LoadLegacyAlgorithms() {
    static std::once_flag once;
    std::call_once(once, [] {
        OSSL_PROVIDER_load(nullptr, "legacy");
        OSSL_PROVIDER_load(nullptr, "default");
        ERR_clear_error();
    });
}

std::string LongDate(TDateTime d) { return FormatDDMMYYYY(d); }

} // namespace

// ============================================================ TProviderKey

struct TProviderKey::Impl {
    PkeyPtr key;
    X509Ptr cert;
    std::vector<X509Ptr> chain;
};

TProviderKey::TProviderKey(const std::string& path, const std::string& password)
    : path_(path), impl_(std::make_unique<Impl>()) {
    const std::string file = "Die Schlüsseldatei (KRYPT_PKCS12) " + path;
    if (!FileExists(path)) throw Error("Die Schlüsseldatei (KRYPT_PKCS12) gibt es nicht: " + path);
    std::string bytes;
    try {
        bytes = ReadFileBytes(path);
    } catch (const Error&) {
        throw Error(file + " kann nicht gelesen werden.");
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    P12Ptr p12(d2i_PKCS12(nullptr, &p, long(bytes.size())));
    if (!p12) {
        ERR_clear_error();
        throw Error(file + " ist keine lesbare PKCS#12-Datei.");
    }
    // An empty password may stand for "no password" as well.
    const char* pass = password.c_str();
    if (PKCS12_mac_present(p12.get())) {
        if (PKCS12_verify_mac(p12.get(), pass, -1) != 1) {
            if (password.empty() && PKCS12_verify_mac(p12.get(), nullptr, 0) == 1) {
                pass = nullptr;
            } else {
                ERR_clear_error();
                throw Error("Das Kennwort (KRYPT_PASSWORT) passt nicht zur Schlüsseldatei " + path + ".");
            }
        }
    }
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* ca = nullptr;
    if (PKCS12_parse(p12.get(), pass, &key, &cert, &ca) != 1) {
        ERR_clear_error();
        LoadLegacyAlgorithms();
        if (PKCS12_parse(p12.get(), pass, &key, &cert, &ca) != 1)
            throw Error(file + " kann nicht gelesen werden: " + OpenSslReason());
    }
    impl_->key.reset(key);
    impl_->cert.reset(cert);
    CertStackPtr caOwner(ca);
    for (int i = 0; ca && i < sk_X509_num(ca); ++i) impl_->chain.push_back(UpRef(sk_X509_value(ca, i)));
    if (!impl_->key || !impl_->cert) throw Error(file + " enthält keinen Schlüssel mit Zertifikat.");
    if (EVP_PKEY_get_base_id(impl_->key.get()) != EVP_PKEY_RSA) throw Error(file + " enthält keinen RSA-Schlüssel.");
    if (X509_check_private_key(impl_->cert.get(), impl_->key.get()) != 1) {
        ERR_clear_error();
        throw Error(file + ": Schlüssel und Zertifikat gehören nicht zusammen.");
    }
}

TProviderKey::~TProviderKey() = default;

TCertInfo TProviderKey::Certificate() const { return Describe(impl_->cert.get()); }

std::vector<TCertInfo> TProviderKey::Chain() const {
    std::vector<TCertInfo> out;
    for (const X509Ptr& x : impl_->chain) out.push_back(Describe(x.get()));
    return out;
}

// ============================================================ TKeyList

struct TKeyList::Impl {
    std::vector<X509Ptr> certs;
    std::vector<TCertInfo> infos;
    std::vector<X509*> roots, cas;   // self-signed CA certificates, the other CA certificates

    std::string Problem(size_t i, time_t at) const {
        X509* x = certs[i].get();
        std::string why = ValidityProblem(x, at);
        if (why.empty()) VerifyPath(x, roots, cas, at, &why);   // names the failure, if any
        return why;
    }
};

TKeyList::TKeyList(const std::string& path) : path_(path), impl_(std::make_unique<Impl>()) {
    impl_->certs = ReadKeyList(path);
    for (const X509Ptr& x : impl_->certs) {
        impl_->infos.push_back(Describe(x.get()));
        const TCertInfo& info = impl_->infos.back();
        if (info.IsCa) (info.SelfSigned ? impl_->roots : impl_->cas).push_back(x.get());
    }
}

TKeyList::~TKeyList() = default;

size_t TKeyList::Count() const { return impl_->certs.size(); }

TCertInfo TKeyList::Info(size_t index) const { return impl_->infos.at(index); }

std::string TKeyList::Problem(size_t index, TDateTime at) const {
    return impl_->Problem(index, time_t(ToTimeT(at)));
}

size_t TKeyList::RecipientIndex(const std::string& ik, TDateTime at) const {
    const time_t t = time_t(ToTimeT(at));
    std::vector<size_t> own;
    for (size_t i = 0; i < impl_->infos.size(); ++i)
        if (!impl_->infos[i].IsCa && impl_->infos[i].Ik == ik) own.push_back(i);
    if (own.empty()) throw Error("Die Schlüsselliste " + path_ + " enthält kein Zertifikat für IK " + ik + ".");
    // The newest first: the one taken, or the one whose problem is told.
    std::stable_sort(own.begin(), own.end(), [this](size_t a, size_t b) {
        return impl_->infos[a].NotBefore.Value() > impl_->infos[b].NotBefore.Value();
    });
    for (size_t i : own)
        if (impl_->Problem(i, t).empty()) return i;
    throw Error("Für IK " + ik + " enthält die Schlüsselliste " + path_ + " kein gültiges Zertifikat: " +
                impl_->Problem(own.front(), t) + ".");
}

// ============================================================ messages

namespace {

[[noreturn]] void CmsFailure(const std::string& what) { throw Error(what + ": " + OpenSslReason()); }

std::string ToDer(CMS_ContentInfo* cms) {
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out || i2d_CMS_bio(out.get(), cms) != 1) CmsFailure("Die Nachricht kann nicht geschrieben werden");
    return MemoryBytes(out.get());
}

// SignedData over the data, then EnvelopedData around it.
std::string SealMessage(std::string_view data, EVP_PKEY* key, X509* signer, const std::vector<X509Ptr>& path,
                        X509* recipient) {
    const std::string failed = "Die Abrechnungsdatei kann nicht signiert werden";
    CmsPtr sd(CMS_sign(nullptr, nullptr, nullptr, nullptr, CMS_BINARY | CMS_PARTIAL));
    if (!sd) CmsFailure(failed);
    CMS_SignerInfo* si =
        CMS_add1_signer(sd.get(), signer, key, EVP_sha256(), CMS_BINARY | CMS_NOSMIMECAP | CMS_KEY_PARAM);
    EVP_PKEY_CTX* sctx = si ? CMS_SignerInfo_get0_pkey_ctx(si) : nullptr;
    if (!sctx || EVP_PKEY_CTX_set_rsa_padding(sctx, RSA_PKCS1_PSS_PADDING) <= 0 ||
        EVP_PKEY_CTX_set_rsa_mgf1_md(sctx, EVP_sha256()) <= 0 || EVP_PKEY_CTX_set_rsa_pss_saltlen(sctx, 32) <= 0)
        CmsFailure(failed);
    for (const X509Ptr& c : path)
        if (X509_cmp(c.get(), signer) != 0 && CMS_add1_cert(sd.get(), c.get()) != 1) CmsFailure(failed);
    BioPtr in = MemoryIn(data);
    if (CMS_final(sd.get(), in.get(), nullptr, CMS_BINARY) != 1) CmsFailure(failed);
    const std::string signedDer = ToDer(sd.get());

    const std::string notEncrypted = "Die Abrechnungsdatei kann nicht verschlüsselt werden";
    CmsPtr env(CMS_encrypt(nullptr, nullptr, EVP_aes_256_cbc(), CMS_BINARY | CMS_PARTIAL));
    if (!env) CmsFailure(notEncrypted);
    CMS_RecipientInfo* ri = CMS_add1_recipient_cert(env.get(), recipient, CMS_KEY_PARAM);
    EVP_PKEY_CTX* rctx = ri ? CMS_RecipientInfo_get0_pkey_ctx(ri) : nullptr;
    if (!rctx || EVP_PKEY_CTX_set_rsa_padding(rctx, RSA_PKCS1_OAEP_PADDING) <= 0 ||
        EVP_PKEY_CTX_set_rsa_oaep_md(rctx, EVP_sha256()) <= 0 || EVP_PKEY_CTX_set_rsa_mgf1_md(rctx, EVP_sha256()) <= 0)
        CmsFailure(notEncrypted);
    BioPtr inner = MemoryIn(signedDer);
    if (CMS_final(env.get(), inner.get(), nullptr, CMS_BINARY) != 1) CmsFailure(notEncrypted);
    return ToDer(env.get());
}

CmsPtr ReadCms(std::string_view der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, long(der.size())));
    ERR_clear_error();
    return cms;
}

TDateTime SigningTime(CMS_SignerInfo* si) {
    const int at = CMS_signed_get_attr_by_NID(si, NID_pkcs9_signingTime, -1);
    if (at < 0) return TDateTime::Null();
    ASN1_TYPE* v = X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(si, at), 0);
    if (!v || (v->type != V_ASN1_UTCTIME && v->type != V_ASN1_GENERALIZEDTIME)) return TDateTime::Null();
    return AsnTime(reinterpret_cast<const ASN1_TIME*>(v->value.asn1_string));
}

} // namespace

TOpenedMessage DecryptAndVerify(std::string_view der, const TProviderKey& recipient, const TKeyList* trusted) {
    CmsPtr env = ReadCms(der);
    if (!env || OBJ_obj2nid(CMS_get0_type(env.get())) != NID_pkcs7_enveloped)
        throw Error("Die Datei ist keine verschlüsselte Nachricht (CMS EnvelopedData).");
    BioPtr plain(BIO_new(BIO_s_mem()));
    if (CMS_decrypt(env.get(), recipient.impl().key.get(), recipient.impl().cert.get(), nullptr, plain.get(),
                    CMS_BINARY) != 1)
        throw Error("Die Nachricht lässt sich mit dem Schlüssel in " + recipient.Path() +
                    " nicht entschlüsseln: " + OpenSslReason());

    CmsPtr sd = ReadCms(MemoryBytes(plain.get()));
    if (!sd || OBJ_obj2nid(CMS_get0_type(sd.get())) != NID_pkcs7_signed)
        throw Error("Die entschlüsselte Nachricht ist keine signierte Nachricht (CMS SignedData).");

    // Trusted are the roots of the key file and of the key list, never the
    // certificates the message brings along.
    std::vector<X509*> roots;
    for (const X509Ptr& x : recipient.impl().chain)
        if (IsSelfSigned(x.get())) roots.push_back(x.get());
    if (trusted)
        for (X509* x : trusted->impl().roots) roots.push_back(x);
    StorePtr store(X509_STORE_new());
    for (X509* r : roots) X509_STORE_add_cert(store.get(), r);
    X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
    BioPtr content(BIO_new(BIO_s_mem()));
    if (CMS_verify(sd.get(), nullptr, store.get(), nullptr, content.get(), CMS_BINARY) != 1)
        throw Error("Die Signatur der Nachricht ist ungültig: " + OpenSslReason());

    TOpenedMessage out;
    out.Content = MemoryBytes(content.get());
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(sd.get());
    if (sk_CMS_SignerInfo_num(infos) > 0) out.SigningTime = SigningTime(sk_CMS_SignerInfo_value(infos, 0));
    // The signers' certificates are borrowed from the message.
    BareStackPtr signers(CMS_get0_signers(sd.get()));
    if (signers && sk_X509_num(signers.get()) > 0) {
        X509* signer = sk_X509_value(signers.get(), 0);
        out.Signer = Describe(signer);
        CertStackPtr carried(CMS_get1_certs(sd.get()));
        std::vector<X509*> between;
        for (int i = 0; carried && i < sk_X509_num(carried.get()); ++i) between.push_back(sk_X509_value(carried.get(), i));
        std::string why;
        std::vector<X509Ptr> path = VerifyPath(signer, roots, between, time(nullptr), &why);
        if (!path.empty()) out.Root = Describe(path.back().get());
    }
    return out;
}

// ============================================================ TKrypt

TKrypt::TKrypt(std::string pkcs12Path, std::string password, std::string keyListPath)
    : pkcs12Path_(std::move(pkcs12Path)), password_(std::move(password)), keyListPath_(std::move(keyListPath)) {}

TKrypt::~TKrypt() = default;

const TProviderKey& TKrypt::Provider() {
    if (!provider_) {
        if (Trim(pkcs12Path_).empty()) throw Error("Keine Schlüsseldatei (KRYPT_PKCS12) eingestellt.");
        provider_ = std::make_unique<TProviderKey>(pkcs12Path_, password_);
    }
    return *provider_;
}

const TKeyList& TKrypt::Offices() {
    if (!offices_) {
        if (Trim(keyListPath_).empty()) throw Error("Keine Schlüsselliste (KRYPT_SCHLUESSELLISTE) eingestellt.");
        offices_ = std::make_unique<TKeyList>(keyListPath_);
    }
    return *offices_;
}

namespace {

// The own certificate's path: roots and intermediates from the key file and
// from the key list.
std::vector<X509Ptr> ProviderPath(const TProviderKey& provider, const TKeyList& offices, time_t at) {
    std::vector<X509*> roots = offices.impl().roots, between = offices.impl().cas;
    for (const X509Ptr& x : provider.impl().chain) (IsSelfSigned(x.get()) ? roots : between).push_back(x.get());
    std::string why;
    std::vector<X509Ptr> path = VerifyPath(provider.impl().cert.get(), roots, between, at, &why);
    if (path.empty())
        throw Error("Der Zertifizierungspfad des eigenen Zertifikats in " + provider.Path() +
                    " lässt sich nicht bilden: " + ReplaceAll(why, " der Schlüsselliste", "") + ".");
    return path;
}

} // namespace

void TKrypt::CheckProvider(TDateTime at) {
    const TProviderKey& provider = Provider();
    X509* own = provider.impl().cert.get();
    time_t t = time_t(ToTimeT(at));
    if (X509_cmp_time(X509_get0_notAfter(own), &t) < 0)
        throw Error("Das eigene Zertifikat in " + provider.Path() + " ist am " +
                    LongDate(AsnTime(X509_get0_notAfter(own))) + " abgelaufen.");
    if (X509_cmp_time(X509_get0_notBefore(own), &t) > 0)
        throw Error("Das eigene Zertifikat in " + provider.Path() + " gilt erst ab dem " +
                    LongDate(AsnTime(X509_get0_notBefore(own))) + ".");
    ProviderPath(provider, Offices(), t);
}

void TKrypt::CheckRecipient(const std::string& ik, TDateTime at) {
    CheckProvider(at);
    Offices().RecipientIndex(ik, at);
}

std::string TKrypt::Seal(std::string_view data, const std::string& ik, TDateTime at) {
    CheckProvider(at);
    const TKeyList& offices = Offices();
    const size_t office = offices.RecipientIndex(ik, at);
    const TProviderKey& provider = Provider();
    const std::vector<X509Ptr> path = ProviderPath(provider, offices, time_t(ToTimeT(at)));
    return SealMessage(data, provider.impl().key.get(), provider.impl().cert.get(), path,
                       offices.impl().certs[office].get());
}

std::vector<std::string> TKrypt::ExpiryWarnings(const std::vector<std::string>& iks, TDateTime at, int days) {
    std::vector<std::string> lines;
    const double soon = at.Value() + days;
    try {
        const TCertInfo own = Provider().Certificate();
        if (own.NotAfter.Value() < at.Value())
            lines.push_back("Das eigene Zertifikat (" + pkcs12Path_ + ") ist am " + LongDate(own.NotAfter) +
                            " abgelaufen.");
        else if (own.NotAfter.Value() <= soon)
            lines.push_back("Das eigene Zertifikat (" + pkcs12Path_ + ") läuft am " + LongDate(own.NotAfter) + " ab.");
    } catch (const std::exception& e) {
        lines.push_back(e.what());
    }
    try {
        const TKeyList& offices = Offices();
        for (const std::string& ik : iks) {
            try {
                const TCertInfo office = offices.Info(offices.RecipientIndex(ik, at));
                if (office.NotAfter.Value() <= soon)
                    lines.push_back("Das Zertifikat der Annahmestelle IK " + ik + " läuft am " +
                                    LongDate(office.NotAfter) + " ab.");
            } catch (const std::exception& e) {
                lines.push_back(e.what());
            }
        }
    } catch (const std::exception& e) {
        lines.push_back(e.what());
    }
    return lines;
}

} // namespace brenvo
