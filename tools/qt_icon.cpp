// brenvo_icon: the program icon as PNG files for the desktop's icon theme,
// made when the program is built and installed with it.
//
//   brenvo_icon AUSGABEVERZEICHNIS
//
// writes AUSGABEVERZEICHNIS/hicolor/<n>x<n>/apps/brenvo.png for every size the
// window program draws its icon in.

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

#include "lib/Basics/qt_Logo.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Aufruf: brenvo_icon AUSGABEVERZEICHNIS\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("hicolor/%1x%1/apps").arg(size);
        const QString file = out.filePath(dir + QStringLiteral("/brenvo.png"));
        if (!out.mkpath(dir) || !brenvo::ProgramIconPixmap(size).save(file, "PNG")) {
            std::fprintf(stderr, "brenvo_icon: %s kann nicht geschrieben werden\n", file.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
