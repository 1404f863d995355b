#include "lib/Basics/qt_Dialogs.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace brenvo {

QString ToQ(const std::string& text) { return QString::fromStdString(text); }

std::string FromQ(const QString& text) { return text.toStdString(); }

QString DisplayText(const std::string& text) {
    QString out;
    out.reserve(qsizetype(text.size()));
    const QString in = ToQ(text);
    for (qsizetype i = 0; i < in.size(); ++i) {
        const QChar c = in[i];
        if (c == u'\r' || c == u'\n') {
            // CR LF and LF CR are one line break.
            if (i + 1 < in.size() && (in[i + 1] == u'\r' || in[i + 1] == u'\n') && in[i + 1] != c) ++i;
            out += u'\n';
        } else {
            out += c;
        }
    }
    return out;
}

QString AnswerCaption(Answer answer) {
    switch (answer) {
    case Answer::Ok: return QStringLiteral("OK");
    case Answer::Cancel: return QStringLiteral("Abbrechen");
    case Answer::Yes: return QStringLiteral("Ja");
    case Answer::No: return QStringLiteral("Nein");
    case Answer::Abort: return QStringLiteral("Abbruch");
    case Answer::Retry: return QStringLiteral("Wiederholen");
    case Answer::Ignore: return QStringLiteral("Ignorieren");
    }
    return {};
}

QString MessageTitle(MessageKind kind) {
    switch (kind) {
    case MessageKind::Information: return QStringLiteral("Information");
    case MessageKind::Warning: return QStringLiteral("Warnung");
    case MessageKind::Error: return QStringLiteral("Fehler");
    case MessageKind::Confirmation: return QStringLiteral("Bestätigen");
    }
    return {};
}

namespace {

QMessageBox::Icon IconOf(MessageKind kind) {
    switch (kind) {
    case MessageKind::Information: return QMessageBox::Information;
    case MessageKind::Warning: return QMessageBox::Warning;
    case MessageKind::Error: return QMessageBox::Critical;
    case MessageKind::Confirmation: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::ButtonRole RoleOf(Answer a) {
    switch (a) {
    case Answer::Ok:
    case Answer::Yes:
    case Answer::Retry:
    case Answer::Ignore: return QMessageBox::AcceptRole;
    case Answer::No: return QMessageBox::NoRole;
    case Answer::Cancel:
    case Answer::Abort: return QMessageBox::RejectRole;
    }
    return QMessageBox::AcceptRole;
}

bool Has(const std::vector<Answer>& v, Answer a) { return std::find(v.begin(), v.end(), a) != v.end(); }

} // namespace

Answer MessageDialog(QWidget* parent, MessageKind kind, const std::string& text, const std::vector<Answer>& buttons,
                     const std::string& title) {
    std::vector<Answer> offered = buttons.empty() ? std::vector<Answer>{Answer::Ok} : buttons;
    QMessageBox box(parent);
    box.setIcon(IconOf(kind));
    box.setWindowTitle(title.empty() ? MessageTitle(kind) : ToQ(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(DisplayText(text));
    std::vector<std::pair<QAbstractButton*, Answer>> map;
    for (Answer a : offered) {
        QPushButton* b = box.addButton(AnswerCaption(a), RoleOf(a));
        map.emplace_back(b, a);
    }
    box.setDefaultButton(static_cast<QPushButton*>(map.front().first));
    const Answer escape = Has(offered, Answer::Cancel) ? Answer::Cancel
                          : Has(offered, Answer::No)   ? Answer::No
                          : offered.size() == 1        ? offered.front()
                                                       : Answer::Cancel;
    for (auto& [b, a] : map)
        if (a == escape) box.setEscapeButton(b);
    box.exec();
    for (auto& [b, a] : map)
        if (box.clickedButton() == b) return a;
    return escape;
}

void ShowMessageDialog(QWidget* parent, MessageKind kind, const std::string& text, const std::string& title) {
    MessageDialog(parent, kind, text, {Answer::Ok}, title);
}

} // namespace brenvo
