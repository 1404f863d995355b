#include "entry/frm_modal.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "lib/Basics/qt_Dialogs.h"
#include "lib/Basics/qt_Logo.h"
#include "lib/Basics/qt_Widgets.h"
#include "lib/Basics/applicationframe.h"

namespace brenvo {

TformModal::TformModal(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("formModal"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    pages_ = new QStackedWidget(this);

    text_ = new QPlainTextEdit;
    text_->setObjectName(QStringLiteral("memoText"));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(TextViewFont());
    pages_->addWidget(text_);

    auto* info = new QWidget;
    auto* infoLayout = new QVBoxLayout(info);
    infoLayout->setContentsMargins(0, 0, 0, 16);
    logo_ = new QLabel;
    logo_->setAlignment(Qt::AlignCenter);
    name_ = new QLabel(ProgramName);
    name_->setObjectName(QStringLiteral("lblProgramm"));
    QFont big = name_->font();
    big.setPointSize(16);
    big.setBold(true);
    name_->setFont(big);
    name_->setAlignment(Qt::AlignCenter);
    version_ = new QLabel(ToQ(ProgramVersionText()));
    version_->setObjectName(QStringLiteral("lblVersion"));
    version_->setAlignment(Qt::AlignCenter);
    infoLayout->addWidget(logo_);
    infoLayout->addStretch();
    infoLayout->addWidget(name_);
    infoLayout->addWidget(version_);
    infoLayout->addStretch();
    pages_->addWidget(info);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pages_);
}

QString TformModal::Text() const { return text_->toPlainText(); }

void TformModal::PrepareText(const std::string& title, const std::string& text) {
    setWindowTitle(ToQ(title));
    text_->setPlainText(DisplayText(text));
    pages_->setCurrentWidget(text_);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(760, 520);
}

void TformModal::ShowText(const std::string& title, const std::string& text) {
    PrepareText(title, text);
    exec();
}

void TformModal::OpenText(const std::string& title, const std::string& text) {
    PrepareText(title, text);
    show();
}

void TformModal::PrepareProgramInfo() {
    setWindowTitle(QStringLiteral("Programm"));
    const QPixmap logo = ProgramLogo(360);
    logo_->setPixmap(logo);
    pages_->setCurrentIndex(1);
    setFixedSize(logo.width(), logo.height() + 150);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TformModal::ShowProgramInfo() {
    PrepareProgramInfo();
    exec();
}

void TformModal::OpenProgramInfo() {
    PrepareProgramInfo();
    show();
}

} // namespace brenvo
