// The program start of the real `brenvo`: one running copy per program
// file, a second start that brings the first forward and ends with 0, two
// starts at the same moment, a lock left by a killed copy.
//
// Every test works in a temporary directory of its own (TMPDIR), where the
// lock and the socket of the running copy live, so that a `brenvo` a
// developer runs at the same time is never disturbed.

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

#include "common/TempDir.h"
#include "lib/Basics/qt_applicationframe.h"

using namespace brenvo;

namespace {

class ProgramStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedTmp_ = qgetenv("TMPDIR");
        qputenv("TMPDIR", QByteArray::fromStdString(tmp.path()));
        std::filesystem::copy(std::filesystem::path(BRENVO_SOURCE_DIR) / "demo", data.path(),
                              std::filesystem::copy_options::recursive);
    }
    void TearDown() override {
        for (auto& p : processes) {
            p->kill();
            p->waitForFinished(5000);
        }
        if (savedTmp_.isEmpty()) qunsetenv("TMPDIR");
        else qputenv("TMPDIR", savedTmp_);
    }

    // Starts the real program on the demo copy.
    QProcess& Launch() {
        processes.push_back(std::make_unique<QProcess>());
        QProcess& p = *processes.back();
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(BRENVO_PROGRAM), {QStringLiteral("-d"), QString::fromStdString(data.path())});
        EXPECT_TRUE(p.waitForStarted(10000));
        return p;
    }
    // The running copy answers on its socket.
    static bool Listening(const TApplicationFrame& frame) {
        return QTest::qWaitFor(
            [&] {
                QLocalSocket s;
                s.connectToServer(frame.Name());
                return s.waitForConnected(100);
            },
            30000);
    }

    TempDir tmp, data;
    std::vector<std::unique_ptr<QProcess>> processes;
    QByteArray savedTmp_;
};

} // namespace

TEST_F(ProgramStartTest, SecondStartRaisesTheRunningCopyAndEndsWithZero) {
    // This test process registers as the running copy of the program file.
    TApplicationFrame running(QStringLiteral(BRENVO_PROGRAM));
    ASSERT_EQ(running.Register(), TApplicationFrame::Role::Running);
    QSignalSpy raised(&running, &TApplicationFrame::RaiseRequested);
    QProcess& second = Launch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return raised.count() == 1; }, 10000));
    // The data directory was never touched by the second start.
    EXPECT_FALSE(std::filesystem::exists(data.file("Logs")));
}

TEST_F(ProgramStartTest, AnotherProgramFileIsAnotherCopy) {
    TApplicationFrame first(QStringLiteral("/opt/brenvo/brenvo"));
    TApplicationFrame other(QStringLiteral("/home/anna/brenvo/brenvo"));
    EXPECT_EQ(first.Register(), TApplicationFrame::Role::Running);
    EXPECT_EQ(other.Register(), TApplicationFrame::Role::Running);
}

TEST_F(ProgramStartTest, RealSecondStartWhileTheFirstRuns) {
    QProcess& first = Launch();
    TApplicationFrame probe(QStringLiteral(BRENVO_PROGRAM));   // only for its name
    ASSERT_TRUE(Listening(probe));
    QProcess& second = Launch();
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(ProgramStartTest, TwoStartsAtTheSameMomentLeaveOne) {
    QProcess& a = Launch();
    QProcess& b = Launch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.state() == QProcess::NotRunning || b.state() == QProcess::NotRunning; },
                                60000));
    QProcess& ended = a.state() == QProcess::NotRunning ? a : b;
    QProcess& stays = &ended == &a ? b : a;
    EXPECT_EQ(ended.exitCode(), 0);
    EXPECT_FALSE(stays.waitForFinished(1000));
    EXPECT_EQ(stays.state(), QProcess::Running);
}

TEST_F(ProgramStartTest, LockOfAKilledCopyIsTakenOver) {
    QProcess& first = Launch();
    TApplicationFrame next(QStringLiteral(BRENVO_PROGRAM));
    ASSERT_TRUE(Listening(next));
    first.kill();   // no chance to clean up
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_TRUE(std::filesystem::exists(next.LockFilePath().toStdString()));
    EXPECT_EQ(next.Register(2000), TApplicationFrame::Role::Running);
}
