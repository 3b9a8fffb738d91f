// The whole application: it starts showing "Sonvex - No playlist" and ends cleanly through
// "E&xit" and through the tray menu; it starts where the last session left off and takes
// files named on its command line.

#include <gtest/gtest.h>

#include <QAction>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <string>

#include "convert/convertdlg.h"
#include "kit/uiseam.h"
#include "playlist/playliststore.h"
#include "support/wavefile.h"
#include "ui/commandids.h"
#include "ui/mainframe.h"
#include "ui/playlisttable.h"
#include "ui/sonvexapp.h"
#include "ui/sonvexview.h"

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

    // A one-second tone in the scratch folder, named on the command line.
    void NameAFile() {
        wav = config.path().toStdString() + "/tone.wav";
        ASSERT_TRUE(testsupport::WriteWave(wav, 1, 1, 8000, 16,
                                           testsupport::SinePcm16(8000, 1, 8000, 440, 8000)));
        argv[1] = wav.data();
        argc = 2;
    }

    QTemporaryDir config;
    QByteArray home;
    QByteArray machine;
    std::string wav;
    int argc = 1;
    char name[7] = "sonvex";
    char* argv[3] = {name, nullptr, nullptr};
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
    QTimer::singleShot(100, frame, [frame] { frame->OnTrayActivated(QSystemTrayIcon::Context); });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(9); });
    EXPECT_EQ(app.Run(), 0);
}

TEST_F(AppTest, StartsWhereTheLastSessionLeftOffAndAddsTheFilesNamed) {
    {
        PlaylistStore store;
        ASSERT_TRUE(store.Create("demo"));
        ASSERT_TRUE(store.SavePlaylist(Playlist{}));
        ASSERT_TRUE(store.WriteSetting(CSonvexView::kLastPlaylistSetting, "demo"));
        ASSERT_TRUE(store.WriteSetting(CSonvexApp::kWindowPositionSetting, "40,30"));
    }
    NameAFile();
    CSonvexApp app(argc, argv);
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Sonvex - demo"));
    EXPECT_EQ(frame->pos(), QPoint(40, 30));
    int rows = -1;
    QRect placed;
    QSize size0;
    QTimer::singleShot(100, frame, [&] {
        rows = app.View()->FileList()->rowCount();
        frame->move(60, 50);
        size0 = frame->size();
        frame->resize(size0 + QSize(120, 80));  // the size is kept as well
        placed = frame->geometry();
        frame->Action(cmd::ID_APP_EXIT)->trigger();
    });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(9); });
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(rows, 1);
    // Stored as Qt's own geometry record, which the next start restores.
    std::string geometry;
    ASSERT_TRUE(PlaylistStore().ReadSetting(CSonvexApp::kWindowGeometrySetting, geometry));
    QWidget next;
    ASSERT_TRUE(next.restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(geometry))));
    EXPECT_EQ(next.geometry(), placed);
    EXPECT_EQ(placed.size(), size0 + QSize(120, 80));
}

TEST_F(AppTest, AFileNamedWithNoPlaylistOpenGoesToTheConvertTool) {
    // The playlist remembered is gone: it is skipped without a word.
    ASSERT_TRUE(PlaylistStore().WriteSetting(CSonvexView::kLastPlaylistSetting, "gone"));
    NameAFile();
    QString input;
    uiseam::SetModalHandler([&input](QDialog& dialog) {
        if (auto* convert = dynamic_cast<CConvertDlg*>(&dialog)) {
            input = convert->InputPath();
        }
        QCoreApplication::exit(0);
        return static_cast<int>(QDialog::Rejected);
    });
    CSonvexApp app(argc, argv);
    ASSERT_TRUE(app.InitInstance());
    QTimer::singleShot(10000, [] { QCoreApplication::exit(9); });
    EXPECT_EQ(app.Run(), 0);
    uiseam::SetModalHandler({});
    EXPECT_EQ(app.MainFrame()->windowTitle(), QStringLiteral("Sonvex - No playlist"));
    EXPECT_EQ(input.toStdString(), wav);
}

}  // namespace
