#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mainwindow/FtpClient.h"
#include "mainwindow/ProgressSink.h"

namespace brenvo {

// What the download dialog fetches: the server (host, port, time limits),
// the file on the server and the local file it replaces.
struct UpdateDownloadParams {
    FtpOptions server;
    std::string remoteFile;  // "ftp-pub/updateData.zip"
    std::string localFile;   // "<root>/Downloads/updateKT.zip"
};

// The logic of the download dialog "Update läuft...", driven by its one-second
// timer. The window shows Label(), the bar (BarPosition() of BarMaximum()),
// the animation while Animating() and a button with ButtonCaption() that
// calls Abort(). It calls Start() when shown, then Tick() at every timer event
// while TimerRunning(), and closes when Finished(); Result() is Ok only after
// a complete download.
//
// States: 0 connect, 1 log in, 2 size query, 3 start the animation,
// 4 download, 5 show the message and wait for the button.
//
// The ticks run the FTP operations on the calling (window) thread; they block
// until their operation ends (within the time limits of the server options),
// calling OnChange at every progress step and over and over while they wait.
// There the window repaints and handles pending events, so that Abort can be
// pressed at any time. A Tick called while another one runs (a timer event
// handled inside OnChange) does nothing; the object must outlive a running
// Tick, so the window ends the dialog and frees it only after Tick returns.
class UpdateDownload {
public:
    enum class Result { None, Ok, Cancel };

    static constexpr const char* Caption = "Update läuft...";

    explicit UpdateDownload(UpdateDownloadParams params);
    ~UpdateDownload();

    void Start();
    void Tick();
    // The button "Abbruch" (later " Schliessen "): stops the timer,
    // disconnects and ends the dialog with Cancel. From inside a running
    // operation it cancels that operation, which then ends the same way.
    void Abort();

    bool TimerRunning() const { return timer_; }
    bool Finished() const { return result_ != Result::None; }
    Result GetResult() const { return result_; }
    int State() const { return state_; }

    const std::string& Label() const { return label_; }
    const std::string& ButtonCaption() const { return button_; }
    int64_t BarPosition() const { return barPosition_; }
    int64_t BarMaximum() const { return barMaximum_; }
    bool Animating() const { return animating_; }
    // The message of state 5 ("Keine Verbindung", "Kein Update verfügbar.",
    // "Kein neueres Update verfügbar.", "Fehler bei der Dateiübertragung ...").
    const std::string& Message() const { return message_; }
    // The underlying failure of "Keine Verbindung" (for the log); "" otherwise.
    const std::string& Detail() const { return detail_; }
    // The message with its detail in brackets, as the log keeps it; "" when
    // the dialog ended without one.
    std::string LogText() const;

    std::function<void()> OnChange;

    // bar position div 1024 "kB von " bar maximum div 1024 "kB"
    static std::string ProgressText(int64_t position, int64_t maximum);

private:
    void Changed();
    void GoToMessage(std::string message);
    void Finish(Result result);

    UpdateDownloadParams params_;
    std::unique_ptr<FtpClient> ftp_;
    int state_ = 0;
    bool timer_ = false;
    bool busy_ = false;          // inside an FTP operation
    bool aborted_ = false;
    bool succeeded_ = false;
    Result result_ = Result::None;
    std::string label_ = "Verbinden...";
    std::string button_ = "Abbruch";
    std::string message_;
    std::string detail_;
    int64_t barPosition_ = 0;
    int64_t barMaximum_ = 100;
    bool animating_ = false;
};

// Runs the dialog's logic without a window, as fast as the server allows:
// ticks until the dialog ends or waits for its button, which is then
// "pressed". The message of state 5 (with its detail) goes to the log when
// one is given. True when the file was downloaded completely.
bool RunUpdateDownloadUnattended(UpdateDownload& dialog, IProgressSink* log = nullptr);

} // namespace brenvo
