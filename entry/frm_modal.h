#pragma once

// The text dialog: shown modally with only a close box, either as a
// read-only text view in a fixed-pitch font (an accompanying slip, an order
// file, billing data, a report) or as the program information (the logo, the
// program name and its version).

#include <QDialog>

#include <string>

class QLabel;
class QPlainTextEdit;
class QStackedWidget;

namespace brenvo {

class TformModal : public QDialog {
    Q_OBJECT
public:
    explicit TformModal(QWidget* parent = nullptr);

    // The text view: title, the text (its CR and CR LF line breaks shown as
    // lines), modal until closed.
    void ShowText(const std::string& title, const std::string& text);
    // The same without waiting: the dialog stays open (for screen pictures).
    void OpenText(const std::string& title, const std::string& text);
    // "Programm": the logo, "Brenvo", "Version: ...", centred on the screen,
    // as wide as the logo and 150 pixels higher; modal until closed.
    void ShowProgramInfo();
    void OpenProgramInfo();

    QString Text() const;

private:
    void PrepareText(const std::string& title, const std::string& text);
    void PrepareProgramInfo();

    QStackedWidget* pages_;
    QPlainTextEdit* text_;
    QLabel* logo_;
    QLabel* name_;
    QLabel* version_;
};

} // namespace brenvo
