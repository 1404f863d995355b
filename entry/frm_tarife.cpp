#include "entry/frm_tarife.h"

#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "lib/Basics/qt_Dialogs.h"
#include "lib/Basics/qt_TableModel.h"

namespace brenvo {

TfrmTarife::TfrmTarife(TdmVerwaltung& dm, QWidget* parent) : QDialog(parent), editor_(dm), ui_(this) {
    setObjectName(QStringLiteral("frmTarife"));
    setWindowTitle(ToQ(TTarifeEditor::kTitle));
    editor_.Open();

    tarifGrid_ = NewGrid("grdTarife");
    tarifModel_ = new TTableModel(&editor_.Tarife(), TTarifeEditor::TarifColumns(), this);
    tarifModel_->SetCellWriter(
        [this](Table&, const TGridColumn& c, const std::string& text) { editor_.SetTarifCell(c.Field, text); });
    tarifModel_->AttachView(tarifGrid_);
    auto tarifNav = NewNavigator(
        tarifGrid_, QStringLiteral("Tarif"), [this] { editor_.InsertTarif(); },
        [this] {
            // The positions' table goes with its tariff.
            positionModel_->SetTable(nullptr);
            editor_.DeleteTarif(ui_);
            FollowTarif();
        });

    heading_ = new QLabel;
    heading_->setObjectName(QStringLiteral("lblPositionen"));
    QFont bold = heading_->font();
    bold.setBold(true);
    heading_->setFont(bold);
    positionGrid_ = NewGrid("grdTarifdetail");
    positionModel_ = new TTableModel(nullptr, TTarifeEditor::PositionColumns(), this);
    positionModel_->SetCellWriter(
        [this](Table&, const TGridColumn& c, const std::string& text) { editor_.SetPositionCell(c.Field, text); });
    positionModel_->AttachView(positionGrid_);
    auto positionNav = NewNavigator(
        positionGrid_, QStringLiteral("Position"), [this] { editor_.InsertPosition(); },
        [this] { editor_.DeletePosition(ui_); });

    auto* legend = new QLabel;
    legend->setObjectName(QStringLiteral("lblLegende"));
    QStringList lines;
    for (const std::string& l : TTarifeEditor::Legend()) lines << ToQ(l);
    legend->setText(lines.join(u'\n'));

    auto* close = new QPushButton(QStringLiteral("Schließen"));
    close->setObjectName(QStringLiteral("btnSchliessen"));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tarifGrid_, 2);
    layout->addWidget(tarifNav.bar);
    layout->addWidget(heading_);
    layout->addWidget(positionGrid_, 3);
    layout->addWidget(positionNav.bar);
    layout->addWidget(legend);
    layout->addWidget(close, 0, Qt::AlignRight);

    connect(tarifModel_, &TTableModel::CurrentRowChanged, this, [this] { FollowTarif(); });
    FollowTarif();
    resize(860, 620);
}

TfrmTarife::~TfrmTarife() {
    positionModel_->SetTable(nullptr);
    tarifModel_->SetTable(nullptr);
}

// The lower list follows the current tariff.
void TfrmTarife::FollowTarif() {
    Table* positions = editor_.Positions();
    if (positionModel_->GetTable() != positions) positionModel_->SetTable(positions);
    heading_->setText(ToQ(editor_.PositionsHeading()));
}

void TfrmTarife::done(int result) {
    if (!editor_.Close(ui_)) return;   // what could not be written stays; the window stays open
    QDialog::done(result);
}

} // namespace brenvo
