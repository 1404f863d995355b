#include "mainwindow/frm_Busy.h"

#include <QCloseEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "lib/Basics/qt_Dialogs.h"

namespace brenvo {

TFormBusy::TFormBusy(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("formBusy"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
    text_ = new QLabel;
    text_->setObjectName(QStringLiteral("lblBusy"));
    QFont bold = text_->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 1);
    text_->setFont(bold);
    text_->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 24);
    layout->addWidget(text_);
    setMinimumWidth(320);
}

void TFormBusy::Open(const std::string& title, const std::string& text) {
    setWindowTitle(ToQ(title));
    text_->setText(DisplayText(text));
    adjustSize();
    if (parentWidget()) move(parentWidget()->window()->geometry().center() - rect().center());
    show();
    raise();
}

void TFormBusy::Close() {
    closing_ = true;
    hide();
    closing_ = false;
}

QString TFormBusy::Text() const { return text_->text(); }

void TFormBusy::closeEvent(QCloseEvent* event) {
    if (closing_) event->accept();
    else event->ignore();
}

} // namespace brenvo
