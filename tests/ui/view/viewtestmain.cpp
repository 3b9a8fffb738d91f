// One QApplication for the whole test process, alive across every test and destroyed at the
// end so that Qt releases what it holds.

#include <gtest/gtest.h>

#include <QApplication>

#include "viewtestsupport.h"

// Read by the leak checker of sanitizer builds. fontconfig leaves parts of its parsed
// configuration unreachable once Qt has loaded the fonts; nothing of ours is suppressed.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    viewtest::UsePrivateConfigFolders();
    // Test discovery at build time runs this without the ctest environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    viewtest::SetApp(&app);
    return RUN_ALL_TESTS();
}
