// main() of the window tests: GoogleTest with a QApplication set up as the
// program sets it up, on Qt's offscreen platform unless another is asked for.

#include <QApplication>

#include <gtest/gtest.h>

#include <cstring>

#include "lib/Basics/qt_applicationframe.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (at build time) needs no application.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    brenvo::SetUpApplication(app);
    return RUN_ALL_TESTS();
}
