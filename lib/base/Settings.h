#pragma once

#include <cstdint>
#include <string>

#include "DateTime.h"

namespace brenvo {

// How the connection to the mail server is secured (EMAIL_TLS).
enum class TMailTls : uint8_t {
    StartTls,   // "STARTTLS": upgraded when the server offers it; never a password in plain text
    Smtps,      // "SMTPS": TLS from the start (port 465)
    None,       // "keine": plain SMTP, for a relay on the local network
};

// The setting's texts, in the order of the choice list.
inline constexpr const char* kMailTlsTexts[] = {"STARTTLS", "SMTPS", "keine"};

inline const char* MailTlsText(TMailTls tls) { return kMailTlsTexts[static_cast<int>(tls)]; }

// The facility record: who bills. Texts are cut to their widths when loaded.
struct TEinrichtung {
    std::string EINR_IK;        // 9
    std::string EINR_NAME1;     // 40
    std::string EINR_LAND;      // 2
    std::string EINR_BEZIRK;    // 2
    std::string EINR_STRASSE;   // 40
    std::string EIN_PLZORT;     // 40
    int32_t MAXTRANSFER = 0;    // the last transfer number used
    std::string BRIEFKOPF;      // 200
    std::string BRIEFFUSS;      // 200
    std::string STEUERNR;       // 30
    std::string BANKVERBINDUNG; // 200
};

// The system record: how the program bills and sends.
struct TSystem {
    std::string VERSION;               // "06" .. "09"
    TDateTime VERSION_DATUM;
    uint8_t SYST_VERF = 0;             // 0 Test, 1 Erprobung, 2 Echt
    uint8_t SYST_ART = 0;              // 0 Einzelleistungserbringer, 1 Abrechnungszentrum
    bool SYST_ZUSF = false;
    bool OPT_XMLCONVERSION = false;
    bool OPT_XMLTOCOMMA = false;
    bool EMAIL_MAPI = false;
    bool EMAIL_SMTP = false;
    std::string EMAIL_SERVER, EMAIL_PORT, EMAIL_USER, EMAIL_PWD, EMAIL_SENDER, EMAIL_BCC;
    TMailTls EMAIL_TLS = TMailTls::StartTls;
    std::string EMAIL_CAFILE;          // trusted certificates besides the system's; full path or ""
    bool DAKOTA_AKTIV = false;
    bool DAKOTA_EMAIL = false;
    bool DAKOTA_PROC_AUTO = false;
    bool DAKOTA_PROT_AUTO = false;
    bool DAKOTA_PROT_READAUTO = false;
    bool DAKOTA_ANN_CHECK = false;
    // The program's own signing and encryption of the billing files (never
    // together with DAKOTA, which does both itself).
    bool KRYPT_AKTIV = false;
    std::string KRYPT_PKCS12;            // the provider's key with certificate and path; full path
    std::string KRYPT_PASSWORT;
    std::string KRYPT_SCHLUESSELLISTE;   // the acceptance offices' key list; full path
};

} // namespace brenvo
