#include "mainwindow/UpdateDlg.h"

#include <utility>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

namespace brenvo {

UpdateDownload::UpdateDownload(UpdateDownloadParams params)
    : params_(std::move(params)), ftp_(std::make_unique<FtpClient>(params_.server)) {
    ftp_->OnWait = [this] { Changed(); };
}

UpdateDownload::~UpdateDownload() = default;

std::string UpdateDownload::ProgressText(int64_t position, int64_t maximum) {
    return IntToStr(position / 1024) + "kB von " + IntToStr(maximum / 1024) + "kB";
}

void UpdateDownload::Changed() {
    if (OnChange) OnChange();
}

void UpdateDownload::Start() {
    timer_ = true;
    Changed();
}

void UpdateDownload::GoToMessage(std::string message) {
    message_ = std::move(message);
    state_ = 5;
    timer_ = true;
}

void UpdateDownload::Finish(Result result) {
    timer_ = false;
    if (!busy_) ftp_->Disconnect();
    if (result_ == Result::None) result_ = result;
    Changed();
}

void UpdateDownload::Abort() {
    if (Finished()) return;
    aborted_ = true;
    ftp_->Cancel();
    Finish(Result::Cancel);
}

void UpdateDownload::Tick() {
    if (!timer_ || Finished()) return;
    timer_ = false;
    busy_ = true;
    try {
        switch (state_) {
        case 0:
            label_ = "Login...";
            Changed();
            try {
                ftp_->Connect();
                state_ = 1;
                timer_ = true;
            } catch (const Error& e) {
                detail_ = e.what();
                GoToMessage("Keine Verbindung");
            }
            break;
        case 1:
            // libcurl logs in together with the connection (state 0); the
            // session is ready here.
            state_ = 2;
            timer_ = true;
            break;
        case 2: {
            barPosition_ = 0;
            try {
                int64_t size = ftp_->Size(params_.remoteFile);
                if (size == -1) {
                    GoToMessage("Kein Update verfügbar.");
                } else if (size == FileSize(params_.localFile)) {
                    GoToMessage("Kein neueres Update verfügbar.");
                } else {
                    barMaximum_ = size;
                    label_ = ProgressText(barPosition_, barMaximum_);
                    state_ = 3;
                    timer_ = true;
                }
            } catch (const Error& e) {
                GoToMessage(std::string("Kein Update verfügbar.") + e.what());
            }
            break;
        }
        case 3:
            animating_ = true;
            state_ = 4;
            timer_ = true;
            break;
        case 4:
            try {
                ftp_->Get(params_.remoteFile, params_.localFile, barMaximum_, [this](int64_t received) {
                    barPosition_ = received;
                    label_ = ProgressText(barPosition_, barMaximum_);
                    Changed();
                });
                barPosition_ = barMaximum_;
                succeeded_ = true;
            } catch (const Error& e) {
                GoToMessage(std::string("Fehler bei der Dateiübertragung ") + e.what());
            }
            break;
        case 5:
            animating_ = false;
            label_ = message_;
            button_ = " Schliessen ";
            break;
        }
    } catch (...) {
        busy_ = false;
        throw;
    }
    busy_ = false;
    if (aborted_) {
        Finish(Result::Cancel);
        return;
    }
    if (succeeded_) {
        // the disconnection after a complete download ends the dialog with OK
        Finish(Result::Ok);
        return;
    }
    Changed();
}

std::string UpdateDownload::LogText() const {
    if (message_.empty()) return "";
    return detail_.empty() ? message_ : message_ + " (" + detail_ + ")";
}

bool RunUpdateDownloadUnattended(UpdateDownload& dialog, IProgressSink* log) {
    dialog.Start();
    while (dialog.TimerRunning()) dialog.Tick();
    if (!dialog.Finished()) {
        if (log) log->LogLine(dialog.LogText());
        dialog.Abort();
    }
    return dialog.GetResult() == UpdateDownload::Result::Ok;
}

} // namespace brenvo
