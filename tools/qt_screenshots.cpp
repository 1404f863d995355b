// screenshots: pictures of the window program on a copy of the demo
// installation, for the README.
//
//   screenshots AUSGABEVERZEICHNIS [DEMOVERZEICHNIS]
//
// Runs on Qt's offscreen platform with the real windows. Every scene below
// prepares what it shows and names the widget to picture; a new picture is
// one more line in kScenes. Scenes run in their order on one program run,
// so a scene sees what the ones before it did. After them come the printed
// reports: each is written as a PDF file, whose first page pdftoppm turns
// into the picture (kReports).

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "billing/InvoiceDocument.h"
#include "lib/Basics/qt_applicationframe.h"
#include "lib/base/Files.h"
#include "mainwindow/frm_KTDaten.h"
#include "mainwindow/UpdateDlg.h"
#include "mainwindow/frm_UpdateDlg.h"
#include "mainwindow/main.h"
#include "mainwindow/qt_Program.h"
#include "reports/ArchiveListReport.h"
#include "reports/SlipReport.h"
#include "reports/qr_Report.h"

using namespace brenvo;

namespace {

struct Scene {
    const char* file;                                  // below the output directory
    std::function<QWidget*(TProgram&)> show;           // prepares the scene, returns what to picture
};

QWidget* Tab(TProgram& p, MainTab tab) {
    p.frmMain->ShowTab(tab);
    return p.frmMain.get();
}

// The demo's invoices are billed, as a user does it with "&Start".
QWidget* AfterRun(TProgram& p, MainTab tab) {
    if (p.frmMain->Controller().LastRun().Started == false) p.frmMain->Action(MainAction::ProzessStart)->trigger();
    return Tab(p, tab);
}

const std::vector<Scene> kScenes = {
    {"eingabe.png", [](TProgram& p) { return Tab(p, MainTab::Eingabe); }},
    {"eingangskorb.png", [](TProgram& p) { return Tab(p, MainTab::Eingangskorb); }},
    {"verarbeitung.png", [](TProgram& p) { return AfterRun(p, MainTab::Verarbeitung); }},
    {"protokoll.png", [](TProgram& p) { return AfterRun(p, MainTab::Protokoll); }},
    {"ausgangskorb.png", [](TProgram& p) { return AfterRun(p, MainTab::Ausgangskorb); }},
    {"eingangskorb-fehler.png",
     [](TProgram& p) {
         p.frmMain->Controller().ReadInbox();   // what the watcher does when the program is idle
         return AfterRun(p, MainTab::Eingangskorb);
     }},
    {"archiv-rechnung.png", [](TProgram& p) { return Tab(p, MainTab::ArchivRechnung); }},
    {"archiv-rechnung-filter.png",
     [](TProgram& p) {
         TInvoiceArchiveFilter f = p.frmMain->Controller().InvoiceArchiveFilter();
         f.Filtern = true;
         f.From = EncodeDate(2024, 11, 1);
         f.To = EncodeDate(2024, 11, 30);
         f.Search = "2024-1103";
         p.frmMain->Controller().SetInvoiceArchiveFilter(f);
         p.frmMain->InvoiceArchiveFilterChanged();
         return Tab(p, MainTab::ArchivRechnung);
     }},
    {"archiv-auftraege.png", [](TProgram& p) { return Tab(p, MainTab::ArchivAuftraege); }},
    {"kostentraeger-daten.png",
     [](TProgram& p) {
         // A referral resolved: typed into the search field, then F12.
         QWidget* w = Tab(p, MainTab::KostentraegerDaten);
         auto* page = p.frmMain->findChild<TfrmKTDaten*>();
         page->SearchField()->setText(QStringLiteral("103110038"));
         emit page->SearchField()->textEdited(page->SearchField()->text());
         p.frmMain->Action(MainAction::KTDatenAnzeigen)->trigger();
         return w;
     }},
    {"einstellungen.png", [](TProgram& p) { return Tab(p, MainTab::Einstellungen); }},
    {"einstellungen-dakota.png",
     [](TProgram& p) {
         // the lower part of the tab: DAKOTA, encryption and the maintenance buttons
         QWidget* w = Tab(p, MainTab::Einstellungen);
         if (auto* scroll = p.frmMain->findChild<QScrollArea*>(QStringLiteral("sbEinstellungen")))
             scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
         return w;
     }},
    {"verwaltung.png", [](TProgram& p) { return Tab(p, MainTab::Verwaltung); }},
    {"programm.png",
     [](TProgram& p) {
         p.formModal->OpenProgramInfo();
         return static_cast<QWidget*>(p.formModal.get());
     }},
    {"update.png",
     [](TProgram& p) {
         // the download dialog as it opens (its first step would come after a second)
         FtpOptions server;
         server.host = "127.0.0.1";
         server.port = 1;
         static UpdateDownload download({server, "ftp-pub/updateData.zip", ""});
         auto* dialog = new TUpdateDlgForm(download, p.frmMain.get());
         dialog->SetInterval(3600 * 1000);
         dialog->show();
         return static_cast<QWidget*>(dialog);
     }},
};

// The printed reports of the billed demo; the day printed is fixed, so that
// the pictures come out the same on every run.
struct ReportScene {
    const char* file;
    std::function<TReportDocument(TProgram&)> build;
};

const TDateTime kPrinted = EncodeDateTime(2024, 11, 4, 9, 30, 0);

const std::vector<ReportScene> kReports = {
    {"bericht-rechnung.png",
     [](TProgram& p) {
         const std::string file = PathJoin(p.frmMain->Controller().Paths().ArchivR, "2024-1101.xml");
         return p.RechnungReport().Build(InvoiceDocument::FromFile(file), InvoicePrintForm::Detailed);
     }},
    {"bericht-begleitzettel.png",
     [](TProgram& p) {
         TMainController& c = p.frmMain->Controller();
         return BuildSlipReport(c.AuftragStore()->GetTable(), c.Paths().ArchivA, kPrinted, ReportTextMeasure());
     }},
    {"bericht-archivliste.png",
     [](TProgram& p) {
         return BuildArchiveListReport(p.frmMain->Controller().RechStore()->GetTable(),
                                       ArchiveListTitle(std::nullopt), kPrinted, ReportTextMeasure());
     }},
};

// The first page of the PDF file as a picture, 70 dots to the inch.
bool PdfFirstPage(const std::string& pdf, const std::string& png) {
    const std::string prefix = png.substr(0, png.size() - 4);
    const std::string cmd = "pdftoppm -png -r 70 -f 1 -l 1 -singlefile '" + pdf + "' '" + prefix + "'";
    return std::system(cmd.c_str()) == 0 && FileExists(png);
}

void Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "Aufruf: screenshots AUSGABEVERZEICHNIS [DEMOVERZEICHNIS]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string out = ExpandFileName(argv[1]);
    const std::string demo = argc > 2 ? std::string(argv[2]) : std::string(BRENVO_SOURCE_DIR) + "/demo";

    QApplication app(argc, argv);
    SetUpApplication(app);

    // A fresh copy of the demo installation, with one invoice being entered.
    // A fixed name, so that the pictures (the status bar shows the data
    // directory) come out the same on every run.
    const std::filesystem::path work = std::filesystem::temp_directory_path() / "brenvo-demo";
    std::filesystem::remove_all(work);
    std::filesystem::copy(demo, work, std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(work / "eingabe");
    std::filesystem::copy_file(work / "Stammdaten" / "eingabe_vorlage.xml", work / "eingabe" / "2024-1107.xml");
    ForceDirectories(out);

    int failures = 0;
    {
        auto program = TProgram::Create(work.string());
        program->frmMain->SetPauseScale(0);
        program->frmMain->show();
        Settle();
        program->frmMain->RunStartupNow();
        Settle();
        for (const Scene& scene : kScenes) {
            QWidget* w = scene.show(*program);
            Settle();
            const QString file = QDir(QString::fromStdString(out)).filePath(QString::fromUtf8(scene.file));
            if (!w->grab().save(file)) {
                std::fprintf(stderr, "screenshots: %s kann nicht geschrieben werden\n", file.toUtf8().constData());
                ++failures;
            } else {
                std::printf("%s\n", file.toUtf8().constData());
            }
            if (w != program->frmMain.get()) w->hide();
        }
        for (const ReportScene& scene : kReports) {
            const std::string png = PathJoin(out, scene.file);
            const std::string pdf = (work / "bericht.pdf").string();
            try {
                WriteReportPdf(scene.build(*program), pdf);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "screenshots: %s: %s\n", scene.file, e.what());
                ++failures;
                continue;
            }
            if (!PdfFirstPage(pdf, png)) {
                std::fprintf(stderr, "screenshots: %s kann nicht geschrieben werden (pdftoppm)\n", png.c_str());
                ++failures;
                continue;
            }
            std::printf("%s\n", png.c_str());
        }
        program->frmMain->Controller().Shutdown();
    }
    std::filesystem::remove_all(work);
    return failures ? 1 : 0;
}
