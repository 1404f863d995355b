#include "lib/Basics/qt_applicationframe.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocalSocket>
#include <QLocale>
#include <QProxyStyle>
#include <QThread>
#include <QTranslator>

#include "lib/Basics/applicationframe.h"
#include "lib/Basics/qt_Logo.h"

namespace brenvo {

namespace {

// The platform's style with tabs as compact as the program's ten need to
// fit its window side by side.
class TProgramStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_TabBarTabHSpace) return 12;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
    // Passwords are masked with "*".
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void SetUpApplication(QApplication& app) {
    // The application name stays the program file's name: the running-copy
    // lock records it and compares it with the holder's program file.
    QApplication::setApplicationDisplayName(QStringLiteral("Brenvo"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    // Qt's own dialogs (printer set-up, file choice) in German. The
    // translator lives as long as the application.
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    else
        delete translator;

    // Liberation Sans and Mono stand in for the Arial and Courier New the
    // program's windows were laid out with.
    if (QFontDatabase::hasFamily(QStringLiteral("Liberation Sans"))) {
        QFont font(QStringLiteral("Liberation Sans"), 9);
        QApplication::setFont(font);
    }
    QApplication::setWindowIcon(ProgramIcon());
    QApplication::setStyle(new TProgramStyle);
}

TApplicationFrame::TApplicationFrame(const QString& programPath, QObject* parent)
    : QObject(parent), name_(QString::fromStdString(InstanceName(programPath.toStdString()))) {
    connect(&server_, &QLocalServer::newConnection, this, &TApplicationFrame::OnConnection);
}

TApplicationFrame::~TApplicationFrame() {
    server_.close();
    if (lock_) lock_->unlock();
}

QString TApplicationFrame::LockFilePath() const { return QDir(QDir::tempPath()).filePath(name_ + ".lock"); }

TApplicationFrame::Role TApplicationFrame::Register(int waitMs) {
    lock_ = std::make_unique<QLockFile>(LockFilePath());
    // The lock is held for the whole run: it is stale only when the process
    // named in it is gone, never because of its age.
    lock_->setStaleLockTime(0);
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (lock_->tryLock(0)) {
            // A socket left by a copy that was killed is ours to replace.
            QLocalServer::removeServer(name_);
            server_.setSocketOptions(QLocalServer::UserAccessOption);
            server_.listen(name_);
            return Role::Running;
        }
        QLocalSocket socket;
        socket.connectToServer(name_);
        if (socket.waitForConnected(500)) {
            socket.write(RaiseRequest);
            socket.write("\n");
            socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return Role::SecondCopy;
        }
        // The copy holding the lock is still starting (or cannot be reached):
        // try again for a while, then leave it running alone.
        if (deadline.hasExpired()) return Role::SecondCopy;
        QThread::msleep(100);
    }
}

void TApplicationFrame::OnConnection() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto read = [this, socket] {
            while (socket->canReadLine())
                if (socket->readLine().trimmed() == RaiseRequest) emit RaiseRequested();
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        read();
    }
}

} // namespace brenvo
