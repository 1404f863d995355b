#pragma once

// The one-line input dialog: a title, a few read-only lines of
// explanation, one labelled input line, "OK" and "Abbrechen".

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QLineEdit;

namespace brenvo {

class TfrmInput : public QDialog {
    Q_OBJECT
public:
    explicit TfrmInput(QWidget* parent = nullptr);

    void Prepare(const std::string& title, const std::vector<std::string>& explanation, const std::string& caption,
                 const std::string& value);
    std::string Value() const;

    // Shows the dialog modally; false on "Abbrechen", otherwise value holds
    // the text entered.
    static bool Execute(QWidget* parent, const std::string& title, const std::vector<std::string>& explanation,
                        const std::string& caption, std::string& value);

private:
    QLabel* explanation_;
    QLabel* caption_;
    QLineEdit* edit_;
};

} // namespace brenvo
