#include "entry/frm_adressen.h"

#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "lib/Basics/qt_Dialogs.h"
#include "lib/Basics/qt_TableModel.h"

namespace brenvo {

TfrmAdressen::TfrmAdressen(TdmVerwaltung& dm, QWidget* parent) : QDialog(parent), editor_(dm), ui_(this) {
    setObjectName(QStringLiteral("frmAdressen"));
    setWindowTitle(ToQ(TAdressenEditor::kTitle));
    editor_.Open();

    auto* heading = new QLabel(ToQ(TAdressenEditor::kHeading));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    grid_ = NewGrid("grdAdressen");
    model_ = new TTableModel(&editor_.Adressen(), TAdressenEditor::Columns(), this);
    model_->SetCellWriter(
        [this](Table&, const TGridColumn& c, const std::string& text) { editor_.SetCell(c.Field, text); });
    model_->AttachView(grid_);
    auto nav = NewNavigator(grid_, QStringLiteral("Adresse"), [this] { editor_.Insert(); },
                            [this] { editor_.Delete(ui_); });

    auto* close = new QPushButton(QStringLiteral("Schließen"));
    close->setObjectName(QStringLiteral("btnSchliessen"));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(grid_, 1);
    layout->addWidget(nav.bar);
    layout->addWidget(close, 0, Qt::AlignRight);
    resize(820, 480);
}

TfrmAdressen::~TfrmAdressen() { model_->SetTable(nullptr); }

void TfrmAdressen::done(int result) {
    if (!editor_.Close(ui_)) return;
    QDialog::done(result);
}

} // namespace brenvo
