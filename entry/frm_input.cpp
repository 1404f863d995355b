#include "entry/frm_input.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "lib/Basics/qt_Dialogs.h"

namespace brenvo {

TfrmInput::TfrmInput(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmInput"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    explanation_ = new QLabel;
    explanation_->setWordWrap(true);
    explanation_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    explanation_->setMinimumWidth(360);
    caption_ = new QLabel;
    edit_ = new QLineEdit;
    edit_->setObjectName(QStringLiteral("edInput"));
    caption_->setBuddy(edit_);
    auto* row = new QFormLayout;
    row->addRow(caption_, edit_);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(explanation_);
    layout->addSpacing(8);
    layout->addLayout(row);
    layout->addWidget(buttons);
}

void TfrmInput::Prepare(const std::string& title, const std::vector<std::string>& explanation,
                        const std::string& caption, const std::string& value) {
    setWindowTitle(ToQ(title));
    QStringList lines;
    for (const std::string& l : explanation) lines << ToQ(l);
    explanation_->setText(lines.join(u'\n'));
    caption_->setText(ToQ(caption));
    edit_->setText(ToQ(value));
    edit_->selectAll();
    edit_->setFocus();
}

std::string TfrmInput::Value() const { return FromQ(edit_->text()); }

bool TfrmInput::Execute(QWidget* parent, const std::string& title, const std::vector<std::string>& explanation,
                        const std::string& caption, std::string& value) {
    TfrmInput dialog(parent);
    dialog.Prepare(title, explanation, caption, value);
    if (dialog.exec() != QDialog::Accepted) return false;
    value = dialog.Value();
    return true;
}

} // namespace brenvo
