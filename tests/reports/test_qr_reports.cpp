// The reports in the window program on a copy of the demo installation: the
// slips of the outbox printed on the chosen printer and in the preview, the
// invoice and the archive list in the preview.

#include <QAction>
#include <QApplication>
#include <QListView>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

#include "common/PdfText.h"
#include "common/QtDialogScript.h"
#include "common/TempDir.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "mainwindow/main.h"
#include "mainwindow/qt_Program.h"
#include "reports/ArchiveListReport.h"

using namespace brenvo;

namespace {

// Closes the next print preview once it has laid out its pages, noting its
// caption and page count.
struct PreviewWatch {
    std::string title;
    int pages = -1;
    QObject alive;   // the polling ends with the watch

    PreviewWatch() { Poll(); }
    void Poll() {
        QTimer::singleShot(20, &alive, [this] {
            auto* dialog = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
            auto* widget = dialog ? dialog->findChild<QPrintPreviewWidget*>() : nullptr;
            if (!widget || widget->pageCount() == 0) return Poll();
            title = dialog->windowTitle().toStdString();
            pages = widget->pageCount();
            dialog->reject();
        });
    }
};

class ReportWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy(std::filesystem::path(BRENVO_SOURCE_DIR) / "demo", dir.path(),
                              std::filesystem::copy_options::recursive);
        program = TProgram::Create(dir.path());
        Main().SetPauseScale(0);
        Main().show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return Main().StartupFinished(); }, 20000));
    }

    TfrmMain& Main() { return *program->frmMain; }
    TMainController& C() { return Main().Controller(); }
    // The chosen printer writes this PDF file.
    std::string PrintToFile(const std::string& name) {
        const std::string pdf = out.file(name);
        Main().SlipPrinter().setOutputFormat(QPrinter::PdfFormat);
        Main().SlipPrinter().setOutputFileName(QString::fromStdString(pdf));
        return pdf;
    }

    TempDir dir, out;
    std::unique_ptr<TProgram> program;
};

} // namespace

TEST_F(ReportWindowTest, SlipsOfTheOutboxGoToTheChosenPrinterOrIntoThePreview) {
    auto script = std::make_unique<DialogScript>();   // no message may come up while printing
    Main().Action(MainAction::ProzessStart)->trigger();
    ASSERT_EQ(C().Outbox().Items().size(), 2u);
    std::vector<std::string> transfers;
    Table& orders = C().AuftragStore()->GetTable();
    for (orders.First(); !orders.Eof(); orders.Next()) transfers.push_back(orders.AsString("A_TRANSFER"));
    ASSERT_EQ(transfers.size(), 2u);

    const std::string all = PrintToFile("alle.pdf");
    Main().Action(MainAction::AlleBegleitzettelDrucken)->trigger();
    std::vector<std::string> pages = pdftest::PdfPages(all);
    ASSERT_EQ(pages.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_NE(pages[i].find(transfers[i]), std::string::npos) << pages[i];
        EXPECT_NE(pages[i].find("Begleitzettel"), std::string::npos);
        EXPECT_NE(pages[i].find("gedruckt am " + FormatShortDate(Today())), std::string::npos);
    }
    EXPECT_FALSE(C().AuftragStore()->GetTable().Filtered());   // the filter is gone afterwards

    // The selected item only.
    const std::string one = PrintToFile("eins.pdf");
    auto* outbox = Main().findChild<QListView*>("lvAusgangskorb");
    outbox->setCurrentIndex(outbox->model()->index(1, 0));
    Main().Action(MainAction::BegleitzettelDrucken)->trigger();
    pages = pdftest::PdfPages(one);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_NE(pages[0].find(transfers[1]), std::string::npos);

    EXPECT_TRUE(script->Done()) << script->Report();
    script.reset();

    PreviewWatch preview;
    Main().Action(MainAction::AlleBegleitzettelDruckenVorschau)->trigger();
    EXPECT_EQ(preview.title, "Begleitzettel");
    EXPECT_EQ(preview.pages, 2);
}

TEST_F(ReportWindowTest, InvoiceAndArchiveListOpenInThePreviewAndABadFooterStopsThePrint) {
    PreviewWatch invoice;
    program->PrintInvoice(dir.file("import/2024-1101.xml"), InvoicePrintForm::Detailed, true);
    EXPECT_EQ(invoice.title, "Rechnung 2024-1101");
    EXPECT_EQ(invoice.pages, 1);

    PreviewWatch list;
    program->PrintInvoiceArchive(ArchiveListTitle(std::nullopt));
    EXPECT_EQ(list.title, "Alle archivierten Rechnungen");
    EXPECT_EQ(list.pages, 1);

    C().Einrichtung().BRIEFFUSS = "Taxi Rheinufer{hoehe=zwei}";
    const std::string pdf = PrintToFile("rechnung.pdf");
    EXPECT_THROW(program->PrintInvoice(dir.file("import/2024-1101.xml"), InvoicePrintForm::Short, false), Error);
    EXPECT_FALSE(FileExists(pdf));
}
