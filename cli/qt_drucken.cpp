// brenvo-drucken: the command "brenvo-cli drucken" (brenvo-cli hands it over
// to this program, which lies beside it). The reports are drawn with Qt on
// its offscreen platform, so no display is needed; brenvo-cli itself stays
// free of Qt.
//
//   brenvo-drucken [-d DATENVERZEICHNIS] rechnung DATEI [--kurz] --pdf AUSGABE.pdf
//   brenvo-drucken [-d DATENVERZEICHNIS] begleitzettel [TRANSFERNAME...] --pdf AUSGABE.pdf
//   brenvo-drucken [-d DATENVERZEICHNIS] archivliste [--von TT.MM.JJJJ --bis TT.MM.JJJJ] --pdf AUSGABE.pdf
//
// Exit codes as brenvo-cli's: 0 written (or nothing to print), 1 a file that
// cannot be read or written or an order that is not there, 2 wrong arguments
// or a failed start-up.

#include <QGuiApplication>

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "billing/InvoiceDocument.h"
#include "cli/ConsoleView.h"
#include "cli/Startup.h"
#include "lib/base/DateTime.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "mainwindow/main.h"
#include "reports/ArchiveListReport.h"
#include "reports/InvoiceReport.h"
#include "reports/SlipReport.h"
#include "reports/qr_Report.h"

using namespace brenvo;

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char* const kCalls =
    "Aufruf: brenvo-cli [-d DATENVERZEICHNIS] drucken rechnung DATEI [--kurz] --pdf AUSGABE.pdf\n"
    "        brenvo-cli [-d DATENVERZEICHNIS] drucken begleitzettel [TRANSFERNAME...] --pdf AUSGABE.pdf\n"
    "        brenvo-cli [-d DATENVERZEICHNIS] drucken archivliste [--von TT.MM.JJJJ --bis TT.MM.JJJJ] "
    "--pdf AUSGABE.pdf\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "brenvo-cli: %s\n%s", problem.c_str(), kCalls);
    return kUsage;
}

int Failed(const std::string& message) {
    std::fprintf(stderr, "brenvo-cli: %s\n", ConsoleView::ConsoleLines(message).c_str());
    return kFailed;
}

struct Arguments {
    std::string dataDir;
    std::string report;
    std::vector<std::string> operands;
    std::optional<std::string> pdf, von, bis;
    bool kurz = false;
};

int Written(const std::string& pdf, const TReportDocument& doc) {
    WriteReportPdf(doc, pdf);
    std::printf("%s: %d %s geschrieben.\n", pdf.c_str(), int(doc.Pages.size()),
                doc.Pages.size() == 1 ? "Seite" : "Seiten");
    return kOk;
}

int Rechnung(TMainController& c, const Arguments& a) {
    InvoiceDocument doc;
    try {
        doc.LoadFromFile(a.operands[0]);
    } catch (const std::exception& e) {
        return Failed(e.what());
    }
    const TEinrichtung& e = c.Einrichtung();
    const Table& head = doc.Rechnung();
    const std::string ikkt = head.IsEmpty() ? std::string() : head.AsString("IKKT");
    const TKTPrintAddresses addresses = InvoicePrintAddresses(c.KTStore(), ikkt, e.EINR_LAND, e.EINR_BEZIRK, Today());
    const TReportDocument report =
        BuildInvoiceReport(doc, TInvoicePrintSettings::From(e), &addresses,
                           a.kurz ? InvoicePrintForm::Short : InvoicePrintForm::Detailed, ReportTextMeasure());
    return Written(*a.pdf, report);
}

// The slips go through the controller's slip printing, as the outbox's do;
// this report writes them into the PDF file.
class PdfSlipReport : public ISlipReport {
public:
    PdfSlipReport(std::string archiveDir, std::string pdf) : archiveDir_(std::move(archiveDir)), pdf_(std::move(pdf)) {}
    void Run(Table& orders, bool) override {
        const TReportDocument doc = BuildSlipReport(orders, archiveDir_, Today(), ReportTextMeasure());
        if (doc.Pages.empty()) return;
        Written(pdf_, doc);
        done_ = true;
    }
    bool Done() const { return done_; }

private:
    std::string archiveDir_, pdf_;
    bool done_ = false;
};

int Begleitzettel(TMainController& c, const Arguments& a) {
    PdfSlipReport report(c.Paths().ArchivA, *a.pdf);
    c.SetSlipReport(&report);
    std::string list;
    if (a.operands.empty()) {
        list = c.OutboxIdList();
        if (list.empty()) {
            std::printf("Keine Begleitzettel zu drucken: der Ausgangskorb ist leer. Es wurde keine Datei geschrieben.\n");
            return kOk;
        }
    } else {
        // A transfer name may come back after the transfer number went round;
        // every order under it is printed. The handle names one order.
        Table& orders = c.AuftragStore()->GetTable();
        for (const std::string& name : a.operands) {
            bool found = false;
            for (orders.First(); !orders.Eof(); orders.Next()) {
                if (orders.AsString("A_TRANSFER") != name && orders.AsString("A_HANDLE") != name) continue;
                list += (list.empty() ? "'" : ",'") + orders.AsString("A_ID") + "'";
                found = true;
            }
            if (!found) return Failed("Auftrag " + name + " nicht gefunden (weder Transfername noch ID im Auftragsarchiv).");
        }
    }
    c.PrintSlips(&list, false);
    c.SetSlipReport(nullptr);
    return report.Done() ? kOk : Failed("Keine Begleitzettel gedruckt.");
}

int Archivliste(TMainController& c, const Arguments& a) {
    std::optional<std::pair<TDateTime, TDateTime>> range;
    if (a.von) {
        const auto von = ParseDDMMYYYY(*a.von), bis = ParseDDMMYYYY(*a.bis);
        if (!von) return Usage("--von erwartet ein Datum TT.MM.JJJJ, nicht \"" + *a.von + "\"");
        if (!bis) return Usage("--bis erwartet ein Datum TT.MM.JJJJ, nicht \"" + *a.bis + "\"");
        range.emplace(*von, *bis);
    }
    Table& invoices = c.RechStore()->GetTable();
    if (range) {
        invoices.SetFilter(ArchiveDateFilter(range->first, range->second));
        invoices.SetFiltered(true);
    }
    const TReportDocument doc = BuildArchiveListReport(invoices, ArchiveListTitle(range), Now(), ReportTextMeasure());
    invoices.SetFiltered(false);
    invoices.SetFilter("");
    return Written(*a.pdf, doc);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    Arguments a;
    size_t i = 0;
    for (; i < args.size() && StartsWith(args[i], "-"); ++i) {
        if (args[i] != "-d" || i + 1 >= args.size() || args[i + 1].empty()) return Usage("Unbekannte Option: " + args[i]);
        a.dataDir = args[++i];
    }
    if (i >= args.size()) return Usage("drucken erwartet rechnung, begleitzettel oder archivliste");
    a.report = args[i++];
    if (a.report != "rechnung" && a.report != "begleitzettel" && a.report != "archivliste")
        return Usage("Unbekannter Bericht: " + a.report + " (rechnung, begleitzettel oder archivliste)");
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--kurz" && a.report == "rechnung") {
            a.kurz = true;
            continue;
        }
        std::optional<std::string>* target = nullptr;
        if (arg == "--pdf") target = &a.pdf;
        if (a.report == "archivliste" && arg == "--von") target = &a.von;
        if (a.report == "archivliste" && arg == "--bis") target = &a.bis;
        if (target) {
            if (i + 1 >= args.size() || args[i + 1].empty()) return Usage("Option " + arg + " ohne Wert");
            *target = args[++i];
            continue;
        }
        if (StartsWith(arg, "-")) return Usage("Unbekannte Option: " + arg);
        a.operands.push_back(arg);
    }
    if (!a.pdf) return Usage("drucken erwartet --pdf AUSGABE.pdf");
    if (a.report == "rechnung" && a.operands.size() != 1) return Usage("drucken rechnung erwartet genau eine Datei");
    if (a.report == "archivliste" && !a.operands.empty())
        return Usage("drucken archivliste erwartet keine weiteren Angaben: " + a.operands.front());
    if (a.report == "archivliste" && a.von.has_value() != a.bis.has_value())
        return Usage("drucken archivliste erwartet --von und --bis zusammen");

    const std::string dir = a.dataDir.empty() ? ProgramDirectory() : a.dataDir;
    if (!DirectoryExists(dir)) {
        std::fprintf(stderr, "brenvo-cli: Datenverzeichnis %s existiert nicht.\n", dir.c_str());
        return kUsage;
    }

    // Drawing needs a Qt application, but no display. Qt's notes on its
    // platform are no concern of the console's user.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    });
    QGuiApplication app(argc, argv);

    ConsoleView view(false);
    TMainController c(view, dir);
    if (!StartController(c, view, OnStartupFailure::LeaveAsIs)) return kUsage;
    try {
        if (a.report == "rechnung") return Rechnung(c, a);
        if (a.report == "begleitzettel") return Begleitzettel(c, a);
        return Archivliste(c, a);
    } catch (const std::exception& e) {
        return Failed(e.what());
    }
}
