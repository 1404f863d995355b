#pragma once

// The printed forms as data: a report is a list of pages, each page a list of
// texts and rules placed in millimetres from the paper's top-left corner. The
// reports build their pages here, without any drawing library: bands of
// texts and rules are stacked down a page between the page header and the
// page footer, and a band that no longer fits goes to the next page. The
// window side draws the finished pages on the screen, a printer or a PDF
// file, all through one drawing function.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

// The typefaces of the forms. Paper and PDF get the metric-compatible
// Liberation fonts in their place (Liberation Sans, Liberation Mono).
enum class ReportTypeface { Arial, CourierNew };

struct TReportFont {
    ReportTypeface Face = ReportTypeface::Arial;
    double Points = 10;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;

    static TReportFont Arial(double points) { return {ReportTypeface::Arial, points}; }
    static TReportFont Courier(double points) { return {ReportTypeface::CourierNew, points}; }
    TReportFont WithBold(bool on = true) const { TReportFont f = *this; f.Bold = on; return f; }
    TReportFont WithItalic(bool on = true) const { TReportFont f = *this; f.Italic = on; return f; }
    TReportFont WithUnderline(bool on = true) const { TReportFont f = *this; f.Underline = on; return f; }
};

enum class ReportAlign { Left, Center, Right };

// One line of text in a box: X, Y the box's top-left corner, the box one
// line high; the text is aligned within the box's width.
struct TReportText {
    double X = 0, Y = 0, Width = 0, Height = 0;
    std::string Text;
    TReportFont Font;
    ReportAlign Align = ReportAlign::Left;
};

// A straight line, Width its thickness.
struct TReportRule {
    double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
    double Width = 0.25;
};

struct TReportPage {
    std::vector<TReportText> Texts;
    std::vector<TReportRule> Rules;

    // The first text of the page holding `part`; null when none does.
    const TReportText* Find(std::string_view part) const;
    bool Contains(std::string_view part) const { return Find(part) != nullptr; }
};

struct TReportDocument {
    std::string Title;               // the preview window's caption and the PDF's title
    double PaperWidth = 210;         // A4 portrait
    double PaperHeight = 297;
    std::vector<TReportPage> Pages;
};

// Sizes of text in millimetres.
class ITextMeasure {
public:
    virtual ~ITextMeasure() = default;
    // From one line's top to the next line's top.
    virtual double LineHeight(const TReportFont& font) const = 0;
    virtual double TextWidth(const TReportFont& font, std::string_view utf8) const = 0;
};

// The Liberation fonts' line spacing with every character taken half an em
// wide (Arial; bold a little wider) or 0.6 em (Courier New, exact): close
// enough to lay out forms where no font engine is at hand.
class TApproxTextMeasure : public ITextMeasure {
public:
    double LineHeight(const TReportFont& font) const override;
    double TextWidth(const TReportFont& font, std::string_view utf8) const override;
};

// Breaks a text into lines no wider than `width`, at blanks; a word longer
// than the width is broken where it must. Line breaks in the text (CR, LF,
// CR LF) always break. An empty text gives one empty line.
std::vector<std::string> WrapText(const ITextMeasure& measure, const TReportFont& font, std::string_view text,
                                  double width);
// The lines of a text with CR LF, LF or CR line ends.
std::vector<std::string> TextLines(std::string_view text);

// A band: a part of a page (a header, one case, one trip, one line of a
// list) with its texts and rules placed relative to its top-left corner, and
// its height.
class TReportBand {
public:
    explicit TReportBand(const ITextMeasure& measure) : measure_(&measure) {}

    // A text in a box `width` wide at (x, y); with `wrap` it breaks into as
    // many lines as it needs. Returns the bottom of the text. An empty text
    // places nothing but still takes its line.
    double Text(double x, double y, double width, const std::string& text, const TReportFont& font,
                ReportAlign align = ReportAlign::Left, bool wrap = false);
    void Rule(double x1, double y1, double x2, double y2, double width = 0.25);
    // The band is at least this high.
    void ExtendTo(double bottom);

    double Height() const { return height_; }
    double LineHeight(const TReportFont& font) const { return measure_->LineHeight(font); }
    const ITextMeasure& Measure() const { return *measure_; }
    const std::vector<TReportText>& Texts() const { return texts_; }
    const std::vector<TReportRule>& Rules() const { return rules_; }

private:
    const ITextMeasure* measure_;
    std::vector<TReportText> texts_;
    std::vector<TReportRule> rules_;
    double height_ = 0;
};

// The paper and its margins, in millimetres.
struct TPageFrame {
    double PaperWidth = 210, PaperHeight = 297;
    double Left = 12.7, Top = 12.7, Right = 12.7, Bottom = 12.7;

    double ContentWidth() const { return PaperWidth - Left - Right; }
};

// Stacks bands on pages. Every page gets its header at the top margin and
// its footer ending at the bottom margin; the bands go between them in the
// order given. A band that does not fit below the last one starts the next
// page; a band higher than a whole page is placed on a page of its own and
// runs over its bottom. A page is begun by the first band it receives, so a
// report without bands has no pages.
class TReportPager {
public:
    // Header and footer are built for each page (number from 1).
    using PageBand = std::function<TReportBand(int page)>;

    // footerHeight: the space kept for the footer at the bottom of each page;
    // negative: the footer band's own height.
    TReportPager(TPageFrame frame, PageBand header, PageBand footer, double footerHeight = -1);

    void Add(const TReportBand& band);
    // The next band begins a new page (unless the current page has no band yet).
    void NewPage();
    int PageCount() const { return int(pages_.size()); }
    const TPageFrame& Frame() const { return frame_; }
    // The pages built so far, under the title.
    TReportDocument Finish(std::string title);

private:
    void StartPage();
    static void Place(TReportPage& page, const TReportBand& band, double x, double y);

    TPageFrame frame_;
    PageBand header_, footer_;
    double footerHeight_;
    std::vector<TReportPage> pages_;
    double y_ = 0;            // where the next band goes
    double bodyBottom_ = 0;   // where the footer begins
    bool pageHasBand_ = false;
    bool newPagePending_ = false;
};

} // namespace brenvo
