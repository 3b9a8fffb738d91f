// One QApplication for the whole test process, with the stores pointed at scratch folders
// before anything constructs one.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
    QTemporaryDir config;
    if (!config.isValid()) {
        return 1;
    }
    const QByteArray home = (config.path() + QStringLiteral("/home")).toLocal8Bit();
    const QByteArray machine = (config.path() + QStringLiteral("/machine")).toLocal8Bit();
    setenv("XDG_CONFIG_HOME", home.constData(), 1);
    setenv("XDG_CONFIG_DIRS", machine.constData(), 1);
    // Listing the tests at build time has no display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
