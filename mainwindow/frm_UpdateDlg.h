#pragma once

// The download dialog of the updates, "Update läuft...": the file-copy
// animation, the bar, the label and the button "Abbruch" (" Schliessen "
// once a message is shown) over UpdateDownload, whose states the dialog's
// timer drives one step per tick. The dialog ends with OK only after a
// complete download; the button, Escape and the window's close button stop
// it (a running transfer is cancelled first, its partial file removed).

#include <QDialog>
#include <QTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace brenvo {

class UpdateDownload;

class TUpdateDlgForm : public QDialog {
    Q_OBJECT
public:
    explicit TUpdateDlgForm(UpdateDownload& download, QWidget* parent = nullptr);

    // The time between two steps: one second; the tests take less.
    void SetInterval(int milliseconds) { interval_ = milliseconds; }
    // Shows the dialog modally until the download ends or is stopped; true
    // when the file arrived completely.
    bool Execute();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void Tick();
    void Restart();
    void ShowState();
    void Stop();
    void EndIfFinished();

    UpdateDownload& download_;
    QTimer timer_;
    QWidget* animation_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* label_ = nullptr;
    QPushButton* button_ = nullptr;
    int interval_ = 1000;
    qint64 scale_ = 1;       // bytes per step of the bar (its range is an int)
    bool started_ = false;
    bool ticking_ = false;   // inside a step: the dialog ends only after it
};

} // namespace brenvo
