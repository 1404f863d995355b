#pragma once

// The insurers' cost-bearer files (Kostenträgerdateien, message type KOTR),
// as the associations of each kind of insurer publish them every quarter:
// one EDIFACT interchange per file, one message per institution code.
//
// ReadKotrFile checks the syntax and the envelope of a file and hands back
// its messages with their segments; what the segments mean for the
// cost-bearer tables is KotrImport's business.
//
// Accepted forms: with or without the UNA service string (its separators
// are used), a preparation date of six or eight digits, segments ended by
// CR LF, LF or nothing, "?" releasing the next character, ISO 8859-1 text
// (a file that is valid UTF-8 is read as UTF-8). A VDT segment gives the
// validity of the segment before it (after IDK: of the whole entry).
//
// A file that is no cost-bearer file, is cut short or holds a broken
// segment is refused with an Error naming the file and the line and
// segment where the problem is.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/base/DateTime.h"

namespace brenvo {

// "AO05Q426.ke0": kind of insurer, procedure, first day of validity,
// version. Inside the file (UNB) the name stands without the dot.
struct KotrFileName {
    std::string Kassenart;   // "AO", "BK", "IK", "BN", "LK", "EK", "GK", "SB"
    std::string Verfahren;   // "05" for providers under § 302 SGB V
    TDateTime ValidFrom;     // first day of the quarter or month
    char Format = 'e';       // 'e' EDIFACT, 'd' database, 'x' spreadsheet
    int Version = 0;         // 0 standard, 1-9 supplements

    // Letter case does not matter; nullopt when `name` is no such name.
    static std::optional<KotrFileName> Parse(std::string_view name);
};

// A validity period given by a VDT segment; To null = open-ended.
struct KotrValidity {
    TDateTime From;
    TDateTime To;
};

struct KotrSegment {
    std::string Tag;
    // Data elements after the tag, each as its components (released
    // characters restored, text in UTF-8).
    std::vector<std::vector<std::string>> Elements;
    int Line = 0;      // line of the file where the segment starts (1-based)
    int Number = 0;    // position of the segment in the file (1-based)
    std::optional<KotrValidity> Validity;   // from a VDT right after it

    // Element i (1-based), its components joined by ":"; "" when missing.
    std::string Element(size_t i) const;
    // Component j (1-based) of element i; "" when missing.
    const std::string& Component(size_t i, size_t j) const;
    size_t ElementCount() const { return Elements.size(); }
};

struct KotrMessage {
    std::string Type;      // UNH, e.g. "KOTR"
    std::string Version;   // "02"
    int Line = 0;          // of the UNH segment
    // The segments between UNH and UNT; VDT segments are folded into the
    // segment before them (KotrSegment::Validity).
    std::vector<KotrSegment> Segments;
};

struct KotrFile {
    std::string Path;
    std::string DisplayName;   // the file name without directory, for messages
    KotrFileName Name;         // from UNB (or, failing that, the file name)
    std::string Sender;        // IK of the publisher
    std::vector<KotrMessage> Messages;
};

KotrFile ReadKotrFile(const std::string& path);
// The same on the bytes of a file; `path` names it in messages.
KotrFile ParseKotrFile(std::string_view bytes, const std::string& path);

// Segment tags of a KOTR message body.
bool IsKotrBodyTag(std::string_view tag);

} // namespace brenvo
