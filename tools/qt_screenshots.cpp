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
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "billing/InvoiceDocument.h"
#include "entry/TripEntry.h"
#include "entry/frm_adressen.h"
#include "entry/frm_leistung.h"
#include "entry/frm_tarife.h"
#include "entry/frm_versicherte.h"
#include "lib/Basics/qt_applicationframe.h"
#include "lib/base/DateTime.h"
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

// What the scenes' own windows need until the pictures are taken; released
// before the program, whose master-data module they work on.
std::vector<std::shared_ptr<void>> gKept;

template <class T>
T* Keep(std::shared_ptr<T> object) {
    gKept.push_back(object);
    return object.get();
}

// The invoice 2024-1103 of the input basket in the entry window.
TformXMLRechnung6* Invoice(TProgram& p, EntryMode mode) {
    TformXMLRechnung6& w = *p.formXMLRechnung6;
    w.Open(PathJoin(p.frmMain->Controller().Paths().Eingabe, "2024-1103.xml"));
    w.SetMode(mode);
    w.resize(1180, 800);
    w.show();
    return &w;
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
    {"rechnung-eingabe.png", [](TProgram& p) -> QWidget* { return Invoice(p, EntryMode::Edit); }},
    {"rechnung-bild.png",
     [](TProgram& p) -> QWidget* {
         TformXMLRechnung6* w = Invoice(p, EntryMode::View);
         w->Pages()->setCurrentIndex(1);
         return w;
     }},
    {"leistung.png",
     [](TProgram& p) -> QWidget* {
         TformXMLRechnung6* w = Invoice(p, EntryMode::Edit);
         TTripEntry* entry = Keep(std::make_shared<TTripEntry>(w->Logic()));
         entry->Reset();
         entry->BeginNewTrips();
         for (int day : {4, 6, 8}) entry->AddDate(EncodeDate(2024, 11, day));
         entry->destination = {"Schloßstraße 5", "50667", "Köln", "", "Dialyse"};
         entry->zeit1 = "0800";
         entry->zeit2 = "0830";
         entry->km = 12;
         entry->wagenNr = 7;
         entry->ChooseTariff("Rheinische OKK Taxi Stadt");
         w->hide();
         auto* trip = Keep(std::make_shared<TfrmLeistung>(*entry, p.frmMain.get()));
         trip->show();
         return trip;
     }},
    {"vorlagen-auswahl.png",
     [](TProgram& p) -> QWidget* {
         auto* v = Keep(std::make_shared<TfrmVersicherte>(*p.dmVerwaltung, TVersicherteEditor::Mode::Selection,
                                                          p.frmMain.get()));
         v->SetFilterText("M");
         v->show();
         return v;
     }},
    {"tarife.png",
     [](TProgram& p) -> QWidget* {
         auto* t = Keep(std::make_shared<TfrmTarife>(*p.dmVerwaltung, p.frmMain.get()));
         t->TarifGrid()->selectRow(1);
         t->show();
         return t;
     }},
    {"adressen.png",
     [](TProgram& p) -> QWidget* {
         auto* a = Keep(std::make_shared<TfrmAdressen>(*p.dmVerwaltung, p.frmMain.get()));
         a->show();
         return a;
     }},
    {"versicherte.png",
     [](TProgram& p) -> QWidget* {
         auto* v = Keep(std::make_shared<TfrmVersicherte>(*p.dmVerwaltung, TVersicherteEditor::Mode::Maintenance,
                                                          p.frmMain.get()));
         v->show();
         return v;
     }},
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
    std::filesystem::copy_file(work / "import" / "2024-1103.xml", work / "eingabe" / "2024-1103.xml");
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
        gKept.clear();
        program->formXMLRechnung6->Open("");
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
