#pragma once

// Signing and encryption of billing files for the statutory health insurers'
// acceptance offices, without DAKOTA: the security interface of the GKV
// ("Security-Schnittstelle"), done with OpenSSL's CMS functions.
//
// A billing file leaves the program as a CMS message in DER: SignedData
// (version 1, SHA-256, the data embedded as id-data, signature RSASSA-PSS with
// SHA-256, MGF1-SHA-256 and a salt of 32 bytes, the signer's certificate and
// its whole certification path, no CRLs, no unsigned attributes) inside
// EnvelopedData (version 0, one KeyTransRecipientInfo version 0 per
// recipient by issuer and serial number, RSAES-OAEP with SHA-256,
// MGF1-SHA-256 and an empty label, content id-data encrypted with
// AES-256-CBC, no originatorInfo, no unprotected attributes).
//
// The provider's private key comes with its certificate and certification
// path as a PKCS#12 file; the acceptance offices' certificates come from the
// trust centre's key list (annahme-rsa4096.key). Every failure is an Error
// with a German message naming the file or the IK.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lib/base/DateTime.h"

namespace brenvo {

// A certificate as the program shows it.
struct TCertInfo {
    std::string Ik;            // the nine digits of the subject's unit "IK123456789"; "" when none
    std::string Institution;   // the subject's other organisational unit (the institution's name)
    std::string Subject;       // "C=DE, O=..., OU=..., OU=IK123456789, CN=..."
    std::string Issuer;
    std::string Serial;        // hexadecimal
    TDateTime NotBefore, NotAfter;   // local time
    bool IsCa = false;
    bool SelfSigned = false;
};

class TKeyList;

// The provider's key: private key, certificate and certification path from a
// PKCS#12 file (KRYPT_PKCS12 with KRYPT_PASSWORT).
class TProviderKey {
public:
    // Throws when the file is missing, is no PKCS#12 file, the password does
    // not open it, or it holds no RSA key with its certificate.
    TProviderKey(const std::string& path, const std::string& password);
    ~TProviderKey();
    TProviderKey(const TProviderKey&) = delete;
    TProviderKey& operator=(const TProviderKey&) = delete;

    const std::string& Path() const { return path_; }
    TCertInfo Certificate() const;
    // The certificates of the file besides the own one.
    std::vector<TCertInfo> Chain() const;

    struct Impl;
    const Impl& impl() const { return *impl_; }

private:
    std::string path_;
    std::unique_ptr<Impl> impl_;
};

// The acceptance offices' key list as the trust centre publishes it: base64
// certificates one after another (each on one or more lines, blank lines
// between them), the root and CA certificates among them. PEM is read too.
class TKeyList {
public:
    // Throws when the file is missing or holds anything but certificates.
    explicit TKeyList(const std::string& path);
    ~TKeyList();
    TKeyList(const TKeyList&) = delete;
    TKeyList& operator=(const TKeyList&) = delete;

    const std::string& Path() const { return path_; }
    size_t Count() const;
    TCertInfo Info(size_t index) const;

    // Why the certificate at index cannot be used at the moment `at`
    // ("abgelaufen", "noch nicht gültig", a failed chain); "" when it can:
    // within its validity and chained up to a CA and a root of the list.
    std::string Problem(size_t index, TDateTime at) const;
    // The certificate to encrypt for the IK: among the usable ones of that IK
    // the one with the latest start of validity. Throws naming the IK when
    // the list has none, or none usable (with the reason).
    size_t RecipientIndex(const std::string& ik, TDateTime at) const;

    struct Impl;
    const Impl& impl() const { return *impl_; }

private:
    std::string path_;
    std::unique_ptr<Impl> impl_;
};

// What opening a message gave.
struct TOpenedMessage {
    std::string Content;
    TCertInfo Signer;
    TCertInfo Root;            // the trust anchor the signer's path ended at
    TDateTime SigningTime;     // null when the message names none
};

// Decrypts a message with the recipient's key and verifies its signature
// against the root certificates given (self-signed certificates of the key
// file, of the key list when one is given). Throws when the message is no
// encrypted message for this key, or its signature does not verify.
TOpenedMessage DecryptAndVerify(std::string_view der, const TProviderKey& recipient, const TKeyList* trusted);

// The encryption of one billing run: the provider's key and the key list,
// read once on first use, and the sealing of billing files for the logical
// data recipients (the acceptance offices with the right to decrypt).
class TKrypt {
public:
    TKrypt(std::string pkcs12Path, std::string password, std::string keyListPath);
    ~TKrypt();

    // Reads both files (once); throws as the classes above do.
    const TProviderKey& Provider();
    const TKeyList& Offices();
    // Everything sealing for the IK needs, checked at the moment `at`: both
    // files, the own certificate within its validity and with its path up
    // to a root, the office's certificate. Throws naming the file or the IK.
    void CheckRecipient(const std::string& ik, TDateTime at);
    // The billing data signed and encrypted for the IK's office.
    std::string Seal(std::string_view data, const std::string& ik, TDateTime at);

    // Lines for the start-up log: the own certificate, and the offices'
    // certificates of the IKs given, when they end within `days` days of
    // `at` or are not usable at all. Never throws; an unreadable file is a
    // line of its own.
    std::vector<std::string> ExpiryWarnings(const std::vector<std::string>& iks, TDateTime at, int days);

private:
    void CheckProvider(TDateTime at);

    std::string pkcs12Path_, password_, keyListPath_;
    std::unique_ptr<TProviderKey> provider_;
    std::unique_ptr<TKeyList> offices_;
};

} // namespace brenvo
