#pragma once

#include <cstdint>
#include <string>

#include "DateTime.h"

namespace brenvo {

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
    bool DAKOTA_AKTIV = false;
    bool DAKOTA_EMAIL = false;
    bool DAKOTA_PROC_AUTO = false;
    bool DAKOTA_PROT_AUTO = false;
    bool DAKOTA_PROT_READAUTO = false;
    bool DAKOTA_ANN_CHECK = false;
};

} // namespace brenvo
