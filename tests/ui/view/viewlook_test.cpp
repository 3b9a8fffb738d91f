// The window's look: the theme follows the desktop or the operator's choice, with toolbar
// images that read on it, and the soundboard plays the announcement playlists through the
// command line program.

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "ui/soundboard.h"
#include "ui/theme.h"
#include "viewfixture.h"

namespace viewtest {
namespace {

using theme::DesktopHints;

void WriteText(const QString& path, const char* text) {
    QDir().mkpath(QFileInfo(path).path());
    std::ofstream(path.toStdString()) << text;
}

TEST(ThemeTest, TheDesktopsDarkPreferenceIsReadFromEachOfItsPlaces) {
    QTemporaryDir config;
    const QPalette light = QApplication::style()->standardPalette();
    const QPalette dark = theme::DarkPalette();
    DesktopHints hints{QString(), QString(), config.path()};
    EXPECT_FALSE(theme::PrefersDark(hints, light));  // nothing said: the platform's palette
    EXPECT_TRUE(theme::PrefersDark(hints, dark));

    WriteText(config.filePath(QStringLiteral("gtk-3.0/settings.ini")),
              "[Settings]\ngtk-theme-name=Adwaita-dark\n");
    EXPECT_TRUE(theme::PrefersDark(hints, light));
    WriteText(config.filePath(QStringLiteral("gtk-3.0/settings.ini")),
              "[Settings]\ngtk-theme-name=Adwaita-dark\ngtk-application-prefer-dark-theme=0\n");
    EXPECT_FALSE(theme::PrefersDark(hints, dark));  // the explicit preference wins
    QFile::remove(config.filePath(QStringLiteral("gtk-3.0/settings.ini")));
    WriteText(config.filePath(QStringLiteral("kdeglobals")), "[General]\nColorScheme=BreezeDark\n");
    EXPECT_TRUE(theme::PrefersDark(hints, light));

    hints.gtkTheme = QStringLiteral("Adwaita");  // $GTK_THEME comes before the files
    EXPECT_FALSE(theme::PrefersDark(hints, light));
    hints.gtkTheme = QStringLiteral("Adwaita:dark");
    EXPECT_TRUE(theme::PrefersDark(hints, light));
    hints.colorScheme = QStringLiteral("'prefer-light'");  // GNOME's setting above all
    EXPECT_FALSE(theme::PrefersDark(hints, dark));
    hints.colorScheme = QStringLiteral("'prefer-dark'");
    EXPECT_TRUE(theme::PrefersDark(hints, light));
    EXPECT_EQ(theme::FromWord(QStringLiteral("sepia")), theme::Choice::System);
}

// The largest difference of one colour channel between two images of one size; 256 when the
// sizes differ.
int MaxDifference(const QImage& a, const QImage& b) {
    const QImage left = a.convertToFormat(QImage::Format_ARGB32);
    const QImage right = b.convertToFormat(QImage::Format_ARGB32);
    if (left.size() != right.size()) {
        return 256;
    }
    int most = 0;
    for (int y = 0; y < left.height(); ++y) {
        for (int x = 0; x < left.width(); ++x) {
            const QRgb p = left.pixel(x, y);
            const QRgb q = right.pixel(x, y);
            most = std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                             std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    }
    return most;
}

class ViewLookTest : public ViewFixture {};

TEST_F(ViewLookTest, ADarkThemeIsAppliedRememberedAndGetsLightToolbarImages) {
    QAction* start = m_frame->Action(cmd::ID_START_STREAMING);
    EXPECT_EQ(start->property("iconPath").toString(), QStringLiteral(":/icons/start.png"));
    // Crisp at twice the density: the image drawn at 32 pixels, not the 16 scaled up (the
    // two differ by the rounding of faint premultiplied edges at most).
    QImage sharp = start->icon().pixmap(QSize(16, 16), 2.0).toImage();
    EXPECT_LE(MaxDifference(sharp, QImage(QStringLiteral(":/icons/start@2x.png"))), 8);
    EXPECT_GT(MaxDifference(sharp, QImage(QStringLiteral(":/icons/start.png")).scaled(32, 32)), 40);

    m_frame->OnCommand(cmd::ID_THEME_DARK);
    EXPECT_TRUE(theme::IsDark(QApplication::palette()));
    EXPECT_TRUE(m_frame->Action(cmd::ID_THEME_DARK)->isChecked());
    EXPECT_FALSE(m_frame->Action(cmd::ID_THEME_SYSTEM)->isChecked());
    QApplication::processEvents();
    EXPECT_EQ(start->property("iconPath").toString(), QStringLiteral(":/icons/dark/start.png"));
    std::string stored;
    ASSERT_TRUE(m_view->Document().ReadSetting("Theme", stored));
    EXPECT_EQ(stored, "dark");

    // The next start takes it up before the window shows.
    m_frame->OnCommand(cmd::ID_THEME_LIGHT);
    QApplication::processEvents();
    EXPECT_FALSE(theme::IsDark(QApplication::palette()));
    EXPECT_EQ(start->property("iconPath").toString(), QStringLiteral(":/icons/start.png"));
    ASSERT_TRUE(m_view->Document().WriteSetting("Theme", "dark"));
    CSonvexView next;
    next.ApplyStoredLook();
    EXPECT_EQ(next.Theme(), theme::Choice::Dark);
    EXPECT_TRUE(theme::IsDark(QApplication::palette()));
    m_frame->OnCommand(cmd::ID_THEME_SYSTEM);
}

// One button per announcement playlist; a click streams it once through the command line
// (no server here, so the program streams it itself) and the button is down while it plays;
// a playlist the command line refuses says why in the status bar.
TEST_F(ViewLookTest, TheSoundboardPlaysAnAnnouncementOnceAndTellsWhyOneCannotPlay) {
    ASSERT_EQ(setenv("SONVEX_CLI", SONVEX_TEST_CLI, 1), 0);
    RtpReceiver receiver;
    {
        PlaylistStore store;
        Playlist bell;
        PlaylistFile entry;
        const std::string path = MakeWav("bell.wav", 0.5);
        entry.SetName("bell.wav");
        entry.Source.SetPath(path.c_str());
        entry.DstFormat = 7;
        entry.DstSampleRate = 8000;
        entry.DstPacketization = 20;
        bell.AppendFile(entry);
        bell.AppendDestination(RtpDestination::FromOctets(127, 0, 0, 1, receiver.Port()));
        bell.Role = kRoleAnnouncement;
        ASSERT_TRUE(store.CreateWith("Bell", bell));
        Playlist nowhere = bell;
        nowhere.Destinations.clear();
        ASSERT_TRUE(store.CreateWith("Nowhere", nowhere));
        ASSERT_TRUE(store.CreateWith("Music", Playlist{}));  // background: no button
    }
    Soundboard* board = m_view->SoundboardPane();
    board->Reload();
    EXPECT_EQ(board->Names(), (QStringList{QStringLiteral("Bell"), QStringLiteral("Nowhere")}));

    board->Button(QStringLiteral("Bell"))->click();
    EXPECT_TRUE(board->Button(QStringLiteral("Bell"))->isChecked());
    EXPECT_EQ(m_frame->MessageText(), QStringLiteral("Announcing: Bell"));
    size_t packets = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            packets += receiver.TakeAll().size();
            return !board->IsPlaying(QStringLiteral("Bell"));
        },
        15000));
    packets += receiver.TakeAll().size();
    EXPECT_GE(packets, 25u);  // half a second of 20 ms packets
    EXPECT_FALSE(board->Button(QStringLiteral("Bell"))->isChecked());

    board->Button(QStringLiteral("Nowhere"))->click();
    ASSERT_TRUE(WaitFor([&] { return !board->IsPlaying(QStringLiteral("Nowhere")); }, 15000));
    EXPECT_TRUE(m_frame->MessageText().startsWith(QStringLiteral("\"Nowhere\" did not play: ")))
        << m_frame->MessageText().toStdString();
    unsetenv("SONVEX_CLI");
}

}  // namespace
}  // namespace viewtest
