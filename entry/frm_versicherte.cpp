#include "entry/frm_versicherte.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "lib/Basics/qt_Dialogs.h"
#include "lib/Basics/qt_TableModel.h"

namespace brenvo {

TfrmVersicherte::TfrmVersicherte(TdmVerwaltung& dm, TVersicherteEditor::Mode mode, QWidget* parent)
    : QDialog(parent), editor_(dm, mode), ui_(this) {
    setObjectName(QStringLiteral("frmVersicherte"));
    setWindowTitle(ToQ(TVersicherteEditor::kTitle));
    editor_.Open();
    const bool selecting = mode == TVersicherteEditor::Mode::Selection;

    auto* filterRow = new QHBoxLayout;
    auto* filterLabel = new QLabel(QStringLiteral("Filter (Nachname)"));
    filter_ = new QLineEdit;
    filter_->setObjectName(QStringLiteral("edFilter"));
    filterLabel->setBuddy(filter_);
    count_ = new QLabel;
    count_->setObjectName(QStringLiteral("lblAnzahl"));
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(filter_, 1);
    filterRow->addWidget(count_);
    connect(filter_, &QLineEdit::textEdited, this, [this](const QString& t) { SetFilterText(FromQ(t)); });

    grid_ = NewGrid("grdVersicherte");
    model_ = new TTableModel(&editor_.Versicherte(), TVersicherteEditor::Columns(), this);
    if (!selecting)
        model_->SetCellWriter(
            [this](Table&, const TGridColumn& c, const std::string& text) { editor_.SetCell(c.Field, text); });
    model_->AttachView(grid_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filterRow);
    layout->addWidget(grid_, 1);
    auto* buttons = new QHBoxLayout;
    if (selecting) {
        grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        grid_->installEventFilter(this);
        connect(grid_, &QTableView::doubleClicked, this, &QDialog::accept);
        auto* choose = new QPushButton(QStringLiteral("Auswahl in Verordnung übernehmen"));
        choose->setObjectName(QStringLiteral("btnAuswahl"));
        choose->setDefault(true);
        connect(choose, &QPushButton::clicked, this, &QDialog::accept);
        auto* cancel = new QPushButton(QStringLiteral("Abbruch"));
        cancel->setObjectName(QStringLiteral("btnAbbruch"));
        cancel->setAutoDefault(false);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        auto* take = new QAction(QStringLiteral("Daten übernehmen"), this);
        take->setObjectName(QStringLiteral("actDatenUebernehmen"));
        take->setShortcut(QKeySequence(Qt::Key_F10));
        connect(take, &QAction::triggered, this, &QDialog::accept);
        addAction(take);
        buttons->addStretch();
        buttons->addWidget(choose);
        buttons->addWidget(cancel);
    } else {
        auto nav = NewNavigator(grid_, QStringLiteral("Vorlage"), [this] { editor_.Insert(); },
                                [this] { editor_.Delete(ui_); });
        buttons->addWidget(nav.bar, 1);
        auto* close = new QPushButton(QStringLiteral("Schließen"));
        close->setObjectName(QStringLiteral("btnSchliessen"));
        close->setAutoDefault(false);
        connect(close, &QPushButton::clicked, this, &QDialog::accept);
        buttons->addWidget(close);
    }
    layout->addLayout(buttons);
    resize(980, 520);
}

TfrmVersicherte::~TfrmVersicherte() { model_->SetTable(nullptr); }

bool TfrmVersicherte::Choose(TdmVerwaltung& dm, const std::string& surname, QWidget* parent) {
    TfrmVersicherte window(dm, TVersicherteEditor::Mode::Selection, parent);
    window.SetFilterText(surname);
    window.grid_->setFocus();
    window.exec();
    return window.Editor().Chosen();
}

void TfrmVersicherte::SetFilterText(const std::string& text) {
    if (filter_->text() != ToQ(text)) filter_->setText(ToQ(text));
    editor_.SetFilter(text);
    count_->setText(ToQ(editor_.CountText()));
}

bool TfrmVersicherte::eventFilter(QObject* watched, QEvent* event) {
    if (watched == grid_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmVersicherte::done(int result) {
    if (result == QDialog::Accepted)
        editor_.Confirm();
    else
        editor_.Cancel();
    if (!editor_.Close(ui_)) return;   // maintenance: what could not be written stays; the window stays open
    model_->SetTable(nullptr);
    QDialog::done(result);
}

} // namespace brenvo
