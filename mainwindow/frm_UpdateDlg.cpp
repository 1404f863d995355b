#include "mainwindow/frm_UpdateDlg.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <climits>

#include "lib/Basics/qt_Dialogs.h"
#include "mainwindow/UpdateDlg.h"

namespace brenvo {

namespace {

// A sheet flying from one folder to the other while a file is copied.
class TCopyAnimation : public QWidget {
public:
    explicit TCopyAnimation(QWidget* parent = nullptr) : QWidget(parent) {
        setObjectName(QStringLiteral("aniKopieren"));
        setFixedSize(272, 60);
        timer_.setInterval(60);
        connect(&timer_, &QTimer::timeout, this, [this] {
            step_ = (step_ + 1) % kSteps;
            update();
        });
    }
    void SetRunning(bool on) {
        if (on == timer_.isActive()) return;
        if (on) {
            timer_.start();
        } else {
            timer_.stop();
            step_ = 0;
        }
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor folder(230, 190, 80), edge(150, 115, 30);
        auto drawFolder = [&](int x) {
            p.setPen(edge);
            p.setBrush(folder);
            p.drawRect(x, 22, 44, 30);
            p.drawRect(x, 16, 18, 6);
        };
        drawFolder(8);
        drawFolder(width() - 52);
        if (!timer_.isActive()) return;
        // the sheet rises from the left folder and falls into the right one
        const double t = double(step_) / (kSteps - 1);
        const int x = int(30 + t * (width() - 90));
        const int y = int(26 - 22 * 4 * t * (1 - t));
        p.setPen(QColor(90, 90, 90));
        p.setBrush(Qt::white);
        p.drawRect(x, y, 16, 20);
        for (int line = 0; line < 3; ++line) p.drawLine(x + 3, y + 5 + 4 * line, x + 12, y + 5 + 4 * line);
    }

private:
    static constexpr int kSteps = 24;
    QTimer timer_;
    int step_ = 0;
};

} // namespace

TUpdateDlgForm::TUpdateDlgForm(UpdateDownload& download, QWidget* parent) : QDialog(parent), download_(download) {
    setObjectName(QStringLiteral("UpdateDlgForm"));
    setWindowTitle(ToQ(UpdateDownload::Caption));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    animation_ = new TCopyAnimation;
    bar_ = new QProgressBar;
    bar_->setObjectName(QStringLiteral("pbUpdate"));
    bar_->setTextVisible(false);
    label_ = new QLabel;
    label_->setObjectName(QStringLiteral("lblUpdate"));
    label_->setWordWrap(true);
    label_->setMinimumHeight(label_->fontMetrics().lineSpacing() * 2);
    button_ = new QPushButton;
    button_->setObjectName(QStringLiteral("btnUpdate"));
    button_->setAutoDefault(false);
    connect(button_, &QPushButton::clicked, this, &TUpdateDlgForm::Stop);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(button_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(animation_, 0, Qt::AlignHCenter);
    layout->addWidget(bar_);
    layout->addWidget(label_);
    layout->addLayout(buttons);
    setFixedWidth(320);

    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &TUpdateDlgForm::Tick);
    ShowState();
}

bool TUpdateDlgForm::Execute() {
    // Every step of a transfer (and every wait for the server) shows its
    // state and keeps the window answering, so that the button works.
    download_.OnChange = [this] {
        ShowState();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    };
    const bool ok = exec() == QDialog::Accepted;
    download_.OnChange = nullptr;
    return ok;
}

void TUpdateDlgForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    // The first step after the dialog has been painted.
    QTimer::singleShot(0, this, [this] {
        download_.Start();
        Restart();
    });
}

void TUpdateDlgForm::Tick() {
    if (ticking_) return;
    ticking_ = true;
    download_.Tick();
    ticking_ = false;
    ShowState();
    EndIfFinished();
    if (!download_.Finished()) Restart();
}

void TUpdateDlgForm::Restart() {
    if (download_.TimerRunning() && !download_.Finished()) timer_.start(interval_);
}

void TUpdateDlgForm::ShowState() {
    const int64_t maximum = std::max<int64_t>(download_.BarMaximum(), 1);
    scale_ = maximum / INT_MAX + 1;
    bar_->setRange(0, int(maximum / scale_));
    bar_->setValue(int(std::clamp<int64_t>(download_.BarPosition(), 0, maximum) / scale_));
    label_->setText(ToQ(download_.Label()));
    button_->setText(ToQ(download_.ButtonCaption()));
    static_cast<TCopyAnimation*>(animation_)->SetRunning(download_.Animating());
}

// "Abbruch" / " Schliessen ", Escape and the close button.
void TUpdateDlgForm::Stop() {
    timer_.stop();
    download_.Abort();
    EndIfFinished();
}

void TUpdateDlgForm::reject() { Stop(); }

void TUpdateDlgForm::EndIfFinished() {
    // A step still running ends the dialog itself once it returns.
    if (ticking_ || !download_.Finished() || !isVisible()) return;
    timer_.stop();
    static_cast<TCopyAnimation*>(animation_)->SetRunning(false);
    done(download_.GetResult() == UpdateDownload::Result::Ok ? QDialog::Accepted : QDialog::Rejected);
}

} // namespace brenvo
