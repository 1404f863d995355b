#include "reports/ReportLayout.h"

#include <algorithm>
#include <utility>

#include "lib/base/Strings.h"

namespace brenvo {

namespace {

constexpr double kMmPerPoint = 25.4 / 72.0;

} // namespace

const TReportText* TReportPage::Find(std::string_view part) const {
    for (const TReportText& t : Texts)
        if (t.Text.find(part) != std::string::npos) return &t;
    return nullptr;
}

// ============================================================ measuring

double TApproxTextMeasure::LineHeight(const TReportFont& font) const {
    // Ascent + descent + line gap of the fonts, in em.
    const double em = font.Face == ReportTypeface::CourierNew ? 1.1328 : 1.1499;
    return font.Points * kMmPerPoint * em;
}

double TApproxTextMeasure::TextWidth(const TReportFont& font, std::string_view utf8) const {
    double perChar = font.Face == ReportTypeface::CourierNew ? 0.6 : (font.Bold ? 0.55 : 0.5);
    return double(Utf8Length(utf8)) * perChar * font.Points * kMmPerPoint;
}

std::vector<std::string> TextLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    lines.push_back(std::move(line));
    return lines;
}

std::vector<std::string> WrapText(const ITextMeasure& measure, const TReportFont& font, std::string_view text,
                                  double width) {
    std::vector<std::string> out;
    for (const std::string& paragraph : TextLines(text)) {
        if (measure.TextWidth(font, paragraph) <= width) {
            out.push_back(paragraph);
            continue;
        }
        std::string line;
        auto flush = [&] {
            out.push_back(TrimRight(line));
            line.clear();
        };
        // Words with the blanks before them; a break swallows the blanks.
        size_t pos = 0;
        while (pos < paragraph.size()) {
            size_t start = paragraph.find_first_not_of(' ', pos);
            if (start == std::string::npos) break;
            size_t end = paragraph.find(' ', start);
            if (end == std::string::npos) end = paragraph.size();
            const std::string blanks = line.empty() ? "" : paragraph.substr(pos, start - pos);
            std::string word = paragraph.substr(start, end - start);
            pos = end;
            if (measure.TextWidth(font, line + blanks + word) <= width) {
                line += blanks + word;
                continue;
            }
            if (!line.empty()) flush();
            // A word wider than the line is broken where it must.
            while (measure.TextWidth(font, word) > width) {
                std::vector<std::string> chars = Utf8Chars(word);
                size_t n = 1;
                std::string head = chars[0];
                while (n < chars.size() && measure.TextWidth(font, head + chars[n]) <= width) head += chars[n++];
                out.push_back(head);
                word = word.substr(head.size());
            }
            line = word;
        }
        flush();
    }
    return out;
}

// ============================================================ bands

double TReportBand::Text(double x, double y, double width, const std::string& text, const TReportFont& font,
                         ReportAlign align, bool wrap) {
    const double lh = measure_->LineHeight(font);
    std::vector<std::string> lines = wrap ? WrapText(*measure_, font, text, width) : TextLines(text);
    double bottom = y;
    for (std::string& line : lines) {
        if (!Trim(line).empty()) texts_.push_back(TReportText{x, bottom, width, lh, std::move(line), font, align});
        bottom += lh;
    }
    ExtendTo(bottom);
    return bottom;
}

void TReportBand::Rule(double x1, double y1, double x2, double y2, double width) {
    rules_.push_back(TReportRule{x1, y1, x2, y2, width});
    ExtendTo(std::max(y1, y2));
}

void TReportBand::ExtendTo(double bottom) { height_ = std::max(height_, bottom); }

// ============================================================ pages

TReportPager::TReportPager(TPageFrame frame, PageBand header, PageBand footer, double footerHeight)
    : frame_(frame), header_(std::move(header)), footer_(std::move(footer)), footerHeight_(footerHeight) {}

void TReportPager::Place(TReportPage& page, const TReportBand& band, double x, double y) {
    for (TReportText t : band.Texts()) {
        t.X += x;
        t.Y += y;
        page.Texts.push_back(std::move(t));
    }
    for (TReportRule r : band.Rules()) {
        r.X1 += x;
        r.X2 += x;
        r.Y1 += y;
        r.Y2 += y;
        page.Rules.push_back(r);
    }
}

void TReportPager::StartPage() {
    pages_.emplace_back();
    TReportPage& page = pages_.back();
    const int number = int(pages_.size());
    y_ = frame_.Top;
    if (header_) {
        const TReportBand h = header_(number);
        Place(page, h, frame_.Left, y_);
        y_ += h.Height();
    }
    bodyBottom_ = frame_.PaperHeight - frame_.Bottom;
    if (footer_) {
        const TReportBand f = footer_(number);
        const double height = footerHeight_ >= 0 ? footerHeight_ : f.Height();
        bodyBottom_ -= height;
        Place(page, f, frame_.Left, bodyBottom_);
    }
    pageHasBand_ = false;
    newPagePending_ = false;
}

void TReportPager::Add(const TReportBand& band) {
    if (pages_.empty() || (newPagePending_ && pageHasBand_)) {
        StartPage();
    } else if (pageHasBand_ && y_ + band.Height() > bodyBottom_ + 1e-6) {
        StartPage();
    }
    Place(pages_.back(), band, frame_.Left, y_);
    y_ += band.Height();
    pageHasBand_ = true;
    newPagePending_ = false;
}

void TReportPager::NewPage() { newPagePending_ = true; }

TReportDocument TReportPager::Finish(std::string title) {
    TReportDocument doc;
    doc.Title = std::move(title);
    doc.PaperWidth = frame_.PaperWidth;
    doc.PaperHeight = frame_.PaperHeight;
    doc.Pages = std::move(pages_);
    pages_.clear();
    return doc;
}

} // namespace brenvo
