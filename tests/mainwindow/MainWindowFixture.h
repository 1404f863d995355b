#pragma once

// The window program on a fresh copy of the demo installation, for window
// tests: the long-lived objects created as the program creates them, the
// pauses of start-up and shut-down left out.

#include <QAction>
#include <QLineEdit>
#include <QListView>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ControllerFixture.h"
#include "mainwindow/qt_Program.h"

namespace ctltest {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy(DemoDir(), dir.path(), std::filesystem::copy_options::recursive);
        program = TProgram::Create(dir.path());
        Main().SetPauseScale(0);
    }

    TfrmMain& Main() { return *program->frmMain; }
    TMainController& C() { return Main().Controller(); }

    // Shows the window and waits until start-up has run.
    void Start() {
        Main().show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return Main().StartupFinished(); }, 20000));
    }
    bool Logged(const std::string& line) const {
        const auto& log = program->frmMain->Controller().ActivityLog();
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    long IndexOf(const std::string& line) {
        const auto& log = C().ActivityLog();
        auto it = std::find(log.begin(), log.end(), line);
        return it == log.end() ? -1 : long(it - log.begin());
    }
    QAction* Action(MainAction id) { return Main().Action(id); }
    std::vector<std::string> Files(const std::string& rel) const { return ListFiles(dir.file(rel), "*"); }
    int Rows(const std::string& stammFile) const {
        Table t;
        t.LoadFromFile(dir.file("Stammdaten/" + stammFile));
        return t.RecordCount();
    }
    QListView* List(const char* name) { return Main().findChild<QListView*>(name); }
    template <class W>
    W* Child(const char* name) {
        W* w = Main().findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // Replaces the text of a line as the user does: select all, type.
    void Retype(const char* name, const QString& text) {
        QLineEdit* edit = Child<QLineEdit>(name);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    // Closes the window as the user does and waits for the shut-down.
    void CloseProgram() {
        Main().close();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Main().isVisible(); }, 20000));
        program.reset();
    }

    TempDir dir;
    std::unique_ptr<TProgram> program;
};


} // namespace ctltest
