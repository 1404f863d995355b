#include "reports/qr_Report.h"

#include <QFileDialog>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSaveFile>

#include <map>
#include <tuple>

#include "lib/base/Error.h"
#include "lib/base/Format.h"

namespace brenvo {

namespace {

constexpr int kMeasureDpi = 1200;

// A device of the measuring resolution, for the font metrics.
const QImage& MeasureDevice() {
    static const QImage image = [] {
        QImage img(1, 1, QImage::Format_Mono);
        const int dotsPerMeter = int(kMeasureDpi / 0.0254 + 0.5);
        img.setDotsPerMeterX(dotsPerMeter);
        img.setDotsPerMeterY(dotsPerMeter);
        return img;
    }();
    return image;
}

Qt::Alignment AlignmentOf(ReportAlign align) {
    switch (align) {
    case ReportAlign::Center: return Qt::AlignHCenter;
    case ReportAlign::Right: return Qt::AlignRight;
    case ReportAlign::Left: break;
    }
    return Qt::AlignLeft;
}

void SetUpPage(QPagedPaintDevice& device) {
    device.setPageSize(QPageSize(QPageSize::A4));
    device.setPageOrientation(QPageLayout::Portrait);
    device.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
}

// Draws every page; the painter is active on the device.
void PaintPages(QPainter& painter, QPagedPaintDevice& device, const TReportDocument& doc) {
    for (size_t i = 0; i < doc.Pages.size(); ++i) {
        if (i > 0) device.newPage();
        PaintReportPage(painter, doc.Pages[i]);
    }
}

} // namespace

QFont ReportQFont(const TReportFont& f) {
    QFont font;
    if (f.Face == ReportTypeface::CourierNew) {
        font.setFamilies({QStringLiteral("Liberation Mono"), QStringLiteral("Courier New")});
        font.setStyleHint(QFont::Monospace);
        font.setFixedPitch(true);
    } else {
        font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
        font.setStyleHint(QFont::SansSerif);
    }
    font.setPointSizeF(f.Points);
    font.setBold(f.Bold);
    font.setItalic(f.Italic);
    font.setUnderline(f.Underline);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// Making the metrics of a font is far dearer than measuring with them, and a
// long list measures every cell: each font's metrics are made once. They hold
// Qt's font engines, so they are let go when the application goes.
struct TQtTextMeasure::Cache {
    std::map<std::tuple<int, double, bool, bool, bool>, QFontMetricsF> metrics;

    const QFontMetricsF& Of(const TReportFont& f) {
        const auto key = std::make_tuple(int(f.Face), f.Points, f.Bold, f.Italic, f.Underline);
        auto it = metrics.find(key);
        if (it == metrics.end())
            it = metrics.emplace(key, QFontMetricsF(QFont(ReportQFont(f), &MeasureDevice()), &MeasureDevice())).first;
        return it->second;
    }
};

TQtTextMeasure::TQtTextMeasure() : cache_(std::make_unique<Cache>()) {}
TQtTextMeasure::~TQtTextMeasure() = default;

double TQtTextMeasure::LineHeight(const TReportFont& font) const {
    return cache_->Of(font).lineSpacing() * 25.4 / kMeasureDpi;
}

double TQtTextMeasure::TextWidth(const TReportFont& font, std::string_view utf8) const {
    return cache_->Of(font).horizontalAdvance(QString::fromUtf8(utf8.data(), qsizetype(utf8.size()))) * 25.4 /
           kMeasureDpi;
}

void TQtTextMeasure::Forget() { cache_->metrics.clear(); }

const ITextMeasure& ReportTextMeasure() {
    static TQtTextMeasure measure;
    static const bool forgetOnExit = [] {
        qAddPostRoutine([] { measure.Forget(); });
        return true;
    }();
    (void)forgetOnExit;
    return measure;
}

void PaintReportPage(QPainter& painter, const TReportPage& page) {
    QPaintDevice* device = painter.device();
    const double sx = device->logicalDpiX() / 25.4, sy = device->logicalDpiY() / 25.4;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::black);
    for (const TReportRule& r : page.Rules) {
        QPen pen(Qt::black);
        pen.setWidthF(r.Width * sx);
        painter.setPen(pen);
        painter.drawLine(QPointF(r.X1 * sx, r.Y1 * sy), QPointF(r.X2 * sx, r.Y2 * sy));
    }
    painter.setPen(Qt::black);
    for (const TReportText& t : page.Texts) {
        painter.setFont(QFont(ReportQFont(t.Font), device));
        const QRectF box(t.X * sx, t.Y * sy, t.Width * sx, t.Height * sy);
        painter.drawText(box, int(AlignmentOf(t.Align) | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip),
                         QString::fromStdString(t.Text));
    }
    painter.restore();
}

void PrepareReportPrinter(QPrinter& printer, const TReportDocument& doc) {
    printer.setFullPage(true);
    SetUpPage(printer);
    printer.setDocName(QString::fromStdString(doc.Title));
    printer.setCreator(QStringLiteral("Brenvo"));
}

void PrintReport(const TReportDocument& doc, QPrinter& printer) {
    if (doc.Pages.empty()) return;
    PrepareReportPrinter(printer, doc);
    QPainter painter;
    if (!painter.begin(&printer)) {
        const std::string name = printer.printerName().toStdString();
        if (printer.outputFormat() == QPrinter::PdfFormat)
            throw Error(Format("Datei %s kann nicht geschrieben werden.", {printer.outputFileName().toStdString()}));
        throw Error(Format("Auf dem Drucker \"%s\" kann nicht gedruckt werden. Bitte unter \"Druckereinstellung\" "
                           "einen Drucker wählen.",
                           {name}));
    }
    PaintPages(painter, printer, doc);
    painter.end();
}

bool PrintReportOnChosenPrinter(const TReportDocument& doc, QPrinter& printer, QWidget* parent) {
    if (doc.Pages.empty()) return false;
    if (printer.outputFormat() == QPrinter::PdfFormat && printer.outputFileName().isEmpty()) {
        const QString file = QFileDialog::getSaveFileName(parent, QStringLiteral("Als PDF-Datei speichern"),
                                                          QString::fromStdString(doc.Title) + QStringLiteral(".pdf"),
                                                          QStringLiteral("PDF-Dateien (*.pdf)"));
        if (file.isEmpty()) return false;
        printer.setOutputFileName(file);
        try {
            PrintReport(doc, printer);
        } catch (...) {
            printer.setOutputFileName({});
            throw;
        }
        printer.setOutputFileName({});
        return true;
    }
    PrintReport(doc, printer);
    return true;
}

void PreviewReport(const TReportDocument& doc, QPrinter& printer, QWidget* parent) {
    if (doc.Pages.empty()) return;
    PrepareReportPrinter(printer, doc);
    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setObjectName(QStringLiteral("dlgPrintPreview"));
    dialog.setWindowTitle(QString::fromStdString(doc.Title));
    dialog.resize(900, 760);
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&doc](QPrinter* target) {
        QPainter painter;
        if (!painter.begin(target)) return;
        PaintPages(painter, *target, doc);
        painter.end();
    });
    dialog.exec();
}

void WriteReportPdf(const TReportDocument& doc, const std::string& path) {
    const std::string failure = Format("Datei %s kann nicht geschrieben werden.", {path});
    if (doc.Pages.empty()) throw Error(failure + " Der Bericht hat keine Seiten.");
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) throw Error(failure);
    {
        QPdfWriter writer(&file);
        SetUpPage(writer);
        writer.setResolution(kMeasureDpi);
        writer.setTitle(QString::fromStdString(doc.Title));
        writer.setCreator(QStringLiteral("Brenvo"));
        QPainter painter;
        if (!painter.begin(&writer)) throw Error(failure);
        PaintPages(painter, writer, doc);
        if (!painter.end()) throw Error(failure);
    }
    if (!file.commit()) throw Error(failure);
}

} // namespace brenvo
