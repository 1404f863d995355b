#pragma once

// Small cost-bearer files (KOTR) written for a test: messages given as
// their body segments, the envelope and the counts added.

#include <string>
#include <vector>

#include "lib/base/Strings.h"

namespace kttest {

using Segments = std::vector<std::string>;

struct KotrForm {
    bool una = true;
    bool longDate = true;        // UNB date with eight digits
    std::string lineEnd = "\r\n";
};

// The text of a file named `name` ("LK05Q426.ke0") with the messages.
inline std::string KotrText(const std::string& name, const std::vector<Segments>& messages, KotrForm form = {}) {
    std::string out;
    if (form.una) out += "UNA:+.? '" + form.lineEnd;
    const std::string unbName = brenvo::ReplaceAll(name, ".", "");
    out += "UNB+UNOC:3+109908701+999999999+" + std::string(form.longDate ? "20260914" : "260914") +
           ":1030+00007++" + unbName + "'" + form.lineEnd;
    int n = 0;
    for (const Segments& body : messages) {
        ++n;
        const std::string ref = brenvo::PadLeft(brenvo::IntToStr(n), 5, '0');
        out += "UNH+" + ref + "+KOTR:02:001:KV'" + form.lineEnd;
        for (const std::string& s : body) out += s + "'" + form.lineEnd;
        out += "UNT+" + brenvo::PadLeft(brenvo::IntToStr(int64_t(body.size()) + 2), 6, '0') + "+" + ref + "'" +
               form.lineEnd;
    }
    out += "UNZ+" + brenvo::PadLeft(brenvo::IntToStr(n), 6, '0') + "+00007'" + form.lineEnd;
    return out;
}

// The body of an entry: IDK, VDT, FKT, the links, NAM, an address unless
// `tail` brings its own ANS, and `tail` (contacts, media, channels).
inline Segments Entry(const std::string& ik, const std::string& shortName, const Segments& links = {},
                      const Segments& tail = {}, const std::string& function = "01",
                      const std::string& validity = "20050101") {
    Segments s = {"IDK+" + ik + "+99+" + shortName, "VDT+" + validity, "FKT+" + function};
    s.insert(s.end(), links.begin(), links.end());
    s.push_back("NAM+01+" + shortName);
    bool ans = false;
    for (const std::string& t : tail) ans = ans || brenvo::StartsWith(t, "ANS");
    if (!ans) s.push_back("ANS+1+10115+Berlin+Hauptstr. 1");
    s.insert(s.end(), tail.begin(), tail.end());
    return s;
}

} // namespace kttest
