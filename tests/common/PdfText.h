#pragma once

// Reads a PDF file back as text with pdftotext (Debian's poppler-utils), page
// by page, as a user would copy it out of the file.

#include <cstdio>
#include <string>
#include <vector>

namespace pdftest {

// The text of each page (pdftotext ends every page with a form feed); empty
// when the file cannot be read.
inline std::vector<std::string> PdfPages(const std::string& pdf) {
    std::string out;
    const std::string cmd = "pdftotext -layout -enc UTF-8 '" + pdf + "' - 2>/dev/null";
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        if (pclose(p) != 0) return {};
    }
    std::vector<std::string> pages;
    size_t start = 0;
    for (size_t ff; (ff = out.find('\f', start)) != std::string::npos; start = ff + 1)
        pages.push_back(out.substr(start, ff - start));
    return pages;
}

// The text with every run of blanks made one blank, so that columns laid out
// apart read as one line.
inline std::string Squeezed(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' && !out.empty() && out.back() == ' ') continue;
        out += c;
    }
    return out;
}

} // namespace pdftest
