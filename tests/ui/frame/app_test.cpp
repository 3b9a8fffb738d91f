// The whole application: it starts showing "Sonvex - No playlist" and ends cleanly through
// "E&xit" and through the tray menu.

#include <gtest/gtest.h>

#include <QAction>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>

#include "ui/commandids.h"
#include "ui/mainframe.h"
#include "ui/sonvexapp.h"
#include "ui/traynotifyevent.h"

namespace {

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid());
        home = (config.path() + QStringLiteral("/home")).toLocal8Bit();
        machine = (config.path() + QStringLiteral("/machine")).toLocal8Bit();
        setenv("XDG_CONFIG_HOME", home.constData(), 1);
        setenv("XDG_CONFIG_DIRS", machine.constData(), 1);
    }

    QTemporaryDir config;
    QByteArray home;
    QByteArray machine;
    int argc = 1;
    char name[7] = "sonvex";
    char* argv[2] = {name, nullptr};
};

TEST_F(AppTest, StartsWithNoPlaylistAndExitsThroughTheMenu) {
    CSonvexApp app(argc, argv);
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    QString title;
    bool shown = false;
    QTimer::singleShot(100, frame, [&] {
        title = frame->windowTitle();
        shown = frame->isVisible();
        frame->Action(cmd::ID_APP_EXIT)->trigger();
    });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(9); });  // a hang fails, not blocks
    EXPECT_EQ(app.Run(), 0);
    EXPECT_TRUE(shown);
    EXPECT_EQ(title, QStringLiteral("Sonvex - No playlist"));
    EXPECT_FALSE(frame->isVisible());
}

TEST_F(AppTest, TrayMenuExitEndsTheApplication) {
    CSonvexApp app(argc, argv);
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    frame->SetTrayMenuTracker([](QMenu& menu) {
        // Choose the menu's own item, as the operator would.
        return menu.actions().value(0)->data().toInt();
    });
    QTimer::singleShot(100, frame, [frame] {
        QCoreApplication::postEvent(frame, new TrayNotifyEvent(kTrayIconId, WM_RBUTTONDOWN));
    });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(9); });
    EXPECT_EQ(app.Run(), 0);
}

}  // namespace
