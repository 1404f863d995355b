#pragma once

// What the DAKOTA actions of the main window report back to their caller
// (the window, the console program, the processing run). The actions show
// their failures to the user themselves; these records only say what
// happened.

#include <string>

#include "dakota/U_Dakota.h"
#include "dakota/dm_dakota.h"

namespace brenvo {

// The actions of the category "Dakota": caption and hint ("" when none).
// The first four stand in the group " 2 " "Dakota" of the "Verarbeitung"
// tab; "Dakota Protokoll" also on the settings tab, with the last three.
struct TDakotaActionText {
    const char* Caption;
    const char* Hint;
};
inline constexpr TDakotaActionText kDakotaActions[] = {
    {"Daten zu Dakota exportieren", ""},
    {"Dakotaverarbeitung starten", "Dakota-Verarbeitung starten."},
    {"Dakota Protokoll", "Dakota-Protokoll anzeigen."},
    {"Dakota-Ergebnis lesen", ""},
    {"Dakota starten", "Dakota-Programm starten"},
    {"Protokoll kürzen", ""},
    {"Annahmestellen lesen", ""},
};

struct TDakotaActionResult {
    bool Ok = false;          // the action did what it was asked to
    bool Cancelled = false;   // the user said No
    int Count = 0;            // orders exported or marked sent, protocol rows deleted, offices read
    std::string Failure;      // why it failed (already shown, unless DAKOTA is not activated)
};

// DAKOTA's processing as the run's follow-up does it: export, "-x", the
// wait, and when asked the protocol read and DAKOTA's protocol view.
struct TDakotaProcessing {
    TDakotaActionResult Export;
    bool Started = false;       // DAKOTA was set going and did not fail to start
    bool Ended = false;         // its end arrived
    TDakotaResult Result;       // its exit code and text; the error number and "Startfehler" after a start failure
    bool ResultRead = false;    // the protocol read was asked for
    TDakotaActionResult Read;   // what it did

    // DAKOTA processed what there was (codes 0 to 3, possibly with a warning
    // about the certificate) and, when asked, its protocol was read.
    bool Ok() const {
        return Export.Ok && Started && Ended && Result.Code >= 0 && Result.Code <= 3 && (!ResultRead || Read.Ok);
    }
};

} // namespace brenvo
