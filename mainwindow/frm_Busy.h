#pragma once

// The busy dialog: a modal window without a close button, with a title and
// one line in bold, shown while the program waits for DAKOTA. It does not
// block its caller: the caller keeps the events flowing and closes it.

#include <QDialog>

#include <string>

class QLabel;

namespace brenvo {

class TFormBusy : public QDialog {
    Q_OBJECT
public:
    explicit TFormBusy(QWidget* parent = nullptr);

    void Open(const std::string& title, const std::string& text);
    void Close();
    QString Text() const;

protected:
    void reject() override {}   // neither Escape nor the window manager ends the wait
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* text_;
    bool closing_ = false;
};

} // namespace brenvo
