#pragma once

// The frame of the window program: the application's German set-up and the
// one running copy per program file.
//
// A program file runs once. The first start takes a lock file named after
// the program file's full path and listens on a local socket of that name;
// a later start of the same file finds the lock taken, asks the running
// copy over the socket to bring its window to the front and ends. The lock
// names the process holding it: when that process is gone (even killed),
// the next start takes the lock over. Two starts at the same moment meet at
// the lock, so exactly one of them becomes the running copy.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QApplication;

namespace brenvo {

// German locale for dates and numbers, German texts in Qt's own dialogs
// (when the translations are installed), the program's fonts and icon.
void SetUpApplication(QApplication& app);

class TApplicationFrame : public QObject {
    Q_OBJECT
public:
    enum class Role {
        Running,      // this process is the running copy
        SecondCopy,   // another copy runs; it was asked to come to the front
    };

    // programPath: the program file (QCoreApplication::applicationFilePath()).
    explicit TApplicationFrame(const QString& programPath, QObject* parent = nullptr);
    ~TApplicationFrame() override;

    // The check before any window exists. A start that finds the lock taken
    // but the running copy not yet listening (it started a moment earlier)
    // tries again until waitMs have passed.
    Role Register(int waitMs = 10000);

    // The name of the lock and the socket ("brenvo-" and a hash of the path).
    const QString& Name() const { return name_; }
    QString LockFilePath() const;

signals:
    // A later start asked this copy to bring its window to the front.
    void RaiseRequested();

private:
    void OnConnection();

    QString name_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

} // namespace brenvo
