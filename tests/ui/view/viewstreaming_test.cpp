// Real streaming runs driven through the main view: a worker thread, RTP datagrams on
// 127.0.0.1, progress reports, volume changes mid-run, failure reports and shutdown, and
// live pages from a capture device made of a tone file. The worker's ticks come from a
// clock the test releases tick by tick.

#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QSpinBox>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>

#include "support/faketicksource.h"
#include "support/tonedevice.h"
#include "ui/announcedlg.h"
#include "ui/dlgdestination.h"
#include "ui/pagesettingsdlg.h"
#include "ui/playlistrows.h"
#include "ui/statuspanes.h"
#include "ui/volumedialog.h"
#include "viewfixture.h"

namespace viewtest {
namespace {

class ViewStreamingTest : public ViewFixture {
protected:
    void SetUp() override {
        ViewFixture::SetUp();
        m_ticks.Hold();
        ASSERT_TRUE(m_view->Document().SetTickSource(m_ticks));
    }

    // A test that failed half-way leaves the worker asleep on the held clock; letting the
    // clock run lets the view's shutdown end the worker instead of waiting on it for ever.
    void TearDown() override {
        m_ticks.RunFree();
        ViewFixture::TearDown();
    }

    void AddLoopbackDestination() {
        const int port = m_receiver.Port();
        ASSERT_GT(port, 0);
        m_ui->AnswerDialog<CDlgDestination>([port](CDlgDestination& dialog) {
            const char* octets[] = {"127", "0", "0", "1"};
            for (int i = 0; i < 4; ++i) {
                dialog.OctetEdit(i)->setText(QString::fromLatin1(octets[i]));
            }
            dialog.PortEdit()->setText(QString::number(port));
            dialog.accept();
            return dialog.result();
        });
        m_view->OnCommand(cmd::ID_ADD_DESTINATION);
    }

    // Lets `ticks` ticks pass and collects the datagrams they sent, while the event loop runs.
    std::vector<std::vector<uint8_t>> Tick(int ticks, size_t datagrams) {
        EXPECT_TRUE(m_ticks.ReleaseSleeps(ticks));
        std::vector<std::vector<uint8_t>> all;
        WaitFor(
            [&] {
                for (auto& datagram : m_receiver.TakeAll()) {
                    all.push_back(std::move(datagram));
                }
                return all.size() >= datagrams;
            },
            10000);
        return all;
    }

    bool WaitForIdle(int ms) {
        return WaitFor([this] { return !m_view->IsStreaming() && !m_view->IsWorkerRunning(); }, ms);
    }

    static double MeanLevel(const std::vector<std::vector<uint8_t>>& datagrams, size_t skip) {
        double sum = 0;
        size_t count = 0;
        for (size_t i = skip; i < datagrams.size(); ++i) {
            sum += PayloadLevel(datagrams[i]);
            ++count;
        }
        return count == 0 ? 0 : sum / static_cast<double>(count);
    }

    RtpReceiver m_receiver;
    testsupport::FakeTickSource m_ticks;  // outlives the view's session
};

TEST_F(ViewStreamingTest, StreamsToLoopbackReportsProgressAndStopsBackToIdle) {
    NewPlaylist(QStringLiteral("live"));
    AddFile(MakeWav("first.wav", 3.0));
    AddFile(MakeWav("second.wav", 3.0));
    AddLoopbackDestination();

    m_frame->OnCommand(cmd::ID_START_STREAMING);
    EXPECT_TRUE(m_view->IsStreaming());
    for (int id : {cmd::ID_ADD_DESTINATION, cmd::ID_REMOVE_DESTINATION, cmd::ID_START_STREAMING,
                   cmd::ID_ADD_FILE, cmd::ID_REMOVE_FILE, cmd::ID_FILE_NEW, cmd::ID_FILE_OPEN,
                   cmd::ID_PLAYLIST_DELETE, cmd::ID_MOVE_DOWN, cmd::ID_MOVE_UP}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    EXPECT_TRUE(Enabled(cmd::ID_STOP));
    EXPECT_TRUE(Enabled(cmd::ID_VOLUME));
    EXPECT_TRUE(Enabled(cmd::ID_LOOP_MODE));
    EXPECT_TRUE(m_frame->Action(cmd::ID_STOP)->isEnabled());
    EXPECT_FALSE(m_frame->Action(cmd::ID_START_STREAMING)->isEnabled());

    // 1.6 s of 20 ms ticks: one packet each, and the first second reported.
    const auto datagrams = Tick(80, 80);
    ASSERT_EQ(datagrams.size(), 80u);
    EXPECT_EQ(datagrams[0].size(), 12u + 160u);
    EXPECT_EQ(datagrams[0][0], 0x80);         // RTP version 2
    EXPECT_EQ(datagrams[5][1] & 0x7F, 0);     // PCMU
    EXPECT_GT(MeanLevel(datagrams, 5), 500);  // the tone, not silence
    ASSERT_TRUE(WaitFor([this] { return m_view->ElapsedSeconds() == 1; }, 10000));
    EXPECT_EQ(m_frame->MessageText(), QStringLiteral("Streaming: first.wav"));
    EXPECT_EQ(m_view->Progress()->value(), 1);
    EXPECT_EQ(m_view->Progress()->maximum(), 3);
    const auto clock = [this](const char* name) {
        return m_view->findChild<QLabel*>(QString::fromLatin1(name))->text();
    };
    EXPECT_EQ(clock("elapsedClock"), QStringLiteral("0:01"));
    EXPECT_EQ(clock("remainingClock"), QStringLiteral("-0:02"));
    EXPECT_EQ(m_view->DestinationList()->item(0, rows::kDestState)->text(),
              QStringLiteral("sending"));
    EXPECT_TRUE(m_view->FileList()->item(0, rows::kFileName)->font().bold());  // the playing row

    // The next file follows the first's 150 packets and its exhausted tick; its row is
    // selected.
    EXPECT_EQ(Tick(71, 70).size(), 70u);
    ASSERT_TRUE(WaitFor(
        [this] { return m_frame->MessageText() == QStringLiteral("Streaming: second.wav"); },
        10000));
    EXPECT_EQ(m_view->FileList()->currentRow(), 1);

    m_frame->OnCommand(cmd::ID_STOP);
    EXPECT_FALSE(Enabled(cmd::ID_STOP));
    // The worker still reads the playlist until its final report: no edits until then.
    for (int id : {cmd::ID_START_STREAMING, cmd::ID_ADD_FILE, cmd::ID_REMOVE_FILE, cmd::ID_MOVE_UP,
                   cmd::ID_ADD_DESTINATION, cmd::ID_FILE_OPEN}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    EXPECT_TRUE(Enabled(cmd::ID_VOLUME));
    // The tick it was waiting for still sends its packet; then the run ends.
    EXPECT_EQ(Tick(1, 1).size(), 1u);
    ASSERT_TRUE(WaitForIdle(10000));
    EXPECT_EQ(m_frame->MessageText(), QStringLiteral("Ready"));
    EXPECT_EQ(m_view->Progress()->value(), 0);
    EXPECT_EQ(m_view->ElapsedSeconds(), 0);
    EXPECT_EQ(clock("elapsedClock"), QStringLiteral("0:00"));
    EXPECT_EQ(m_view->DestinationList()->item(0, rows::kDestState)->text(), QStringLiteral("idle"));
    for (int id :
         {cmd::ID_ADD_DESTINATION, cmd::ID_START_STREAMING, cmd::ID_ADD_FILE, cmd::ID_FILE_NEW}) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    EXPECT_TRUE(m_frame->Action(cmd::ID_START_STREAMING)->isEnabled());
    EXPECT_TRUE(m_receiver.TakeAll().empty());

    // A second run starts cleanly on the same engine.
    m_frame->OnCommand(cmd::ID_START_STREAMING);
    EXPECT_EQ(Tick(15, 15).size(), 15u);
    m_frame->OnCommand(cmd::ID_STOP);
    EXPECT_EQ(Tick(1, 1).size(), 1u);
    ASSERT_TRUE(WaitForIdle(10000));
}

TEST_F(ViewStreamingTest, VolumeChangedDuringStreamingLowersTheReceivedLevel) {
    NewPlaylist(QStringLiteral("live"));
    AddFile(MakeWav("tone.wav", 6.0, 8000));
    AddLoopbackDestination();
    m_frame->OnCommand(cmd::ID_START_STREAMING);
    const double before = MeanLevel(Tick(35, 35), 5);
    ASSERT_GT(before, 1000);

    // Set between two ticks: the next packet already carries the new gain.
    m_ui->AnswerDialog<CVolumeDialog>([](CVolumeDialog& dialog) {
        dialog.InitDialog();
        dialog.Slider()->setValue(-9);
        dialog.accept();
        return dialog.result();
    });
    m_view->OnCommand(cmd::ID_VOLUME);
    EXPECT_TRUE(m_view->IsStreaming());
    const double after = MeanLevel(Tick(35, 35), 0);
    const double ratio = after / before;
    EXPECT_GT(ratio, 0.32);  // 10^(-9/20) = 0.355
    EXPECT_LT(ratio, 0.39);

    m_frame->OnCommand(cmd::ID_STOP);
    Tick(1, 1);
    ASSERT_TRUE(WaitForIdle(10000));
}

// The playlist's announcement settings through their dialog, stored with the playlist; a
// stored destination that must not be sent to is named in the status while the run goes on
// to the others.
TEST_F(ViewStreamingTest, AnnouncementSettingsAndASkippedDestinationAreShown) {
    NewPlaylist(QStringLiteral("paging"));
    AddFile(MakeWav("tone.wav", 2.0, 8000));
    AddLoopbackDestination();
    m_ui->AnswerDialog<CAnnounceDlg>([](CAnnounceDlg& dialog) {
        dialog.InitDialog();
        EXPECT_EQ(dialog.SapBox()->currentIndex(), 0);
        EXPECT_FALSE(dialog.RtcpBox()->isChecked());
        EXPECT_EQ(dialog.PriorityBox()->value(), kPriorityUnset);
        dialog.SapBox()->setCurrentIndex(1);
        dialog.RtcpBox()->setChecked(true);
        dialog.PriorityBox()->setValue(80);
        dialog.InterruptedBox()->setCurrentIndex(kInterruptedMute);
        dialog.accept();
        return dialog.result();
    });
    m_view->OnCommand(cmd::ID_ANNOUNCE);
    {
        PlaylistStore store;
        Playlist stored;
        ASSERT_TRUE(store.Open("paging", stored));
        EXPECT_EQ(stored.SapAnnounce, kSapGroups);
        EXPECT_EQ(stored.RtcpReports, 1);
        EXPECT_EQ(stored.Priority, 80);
        EXPECT_EQ(stored.Interrupted, kInterruptedMute);
        EXPECT_EQ(stored.DuckDb, kDefaultDuckDb);
        // As an older version, or another program, may have stored it.
        stored.AppendDestination(RtpDestination::FromOctets(255, 255, 255, 255, 5004));
        ASSERT_TRUE(store.SavePlaylist(stored));
    }
    OpenPlaylist(QStringLiteral("paging"));
    m_frame->OnCommand(cmd::ID_START_STREAMING);
    EXPECT_EQ(Tick(3, 3).size(), 3u);
    EXPECT_TRUE(WaitFor(
        [this] {
            return m_frame->MessageText() ==
                   QStringLiteral(
                       "255.255.255.255 : 5004 not sent to: 255.255.255.255 is a "
                       "broadcast or unspecified address, not a destination");
        },
        10000))
        << m_frame->MessageText().toStdString();
    // The row keeps the reason for the rest of the run; the other is sent to.
    EXPECT_EQ(m_view->DestinationList()->item(0, rows::kDestState)->text(),
              QStringLiteral("sending"));
    EXPECT_EQ(m_view->DestinationList()->item(1, rows::kDestState)->text(),
              QStringLiteral("left out: 255.255.255.255 is a broadcast or unspecified address, not "
                             "a destination"));
    m_frame->OnCommand(cmd::ID_STOP);
    Tick(1, 1);
    ASSERT_TRUE(WaitForIdle(10000));
    EXPECT_EQ(m_view->DestinationList()->item(1, rows::kDestState)->text(), QStringLiteral("idle"));
}

TEST_F(ViewStreamingTest, AnEntryThatCannotBeOpenedEndsTheRunWithItsMessage) {
    NewPlaylist(QStringLiteral("broken"));
    const std::string gone = MakeWav("gone.wav", 2.0);
    AddFile(gone);
    AddFile(MakeWav("fine.wav", 2.0));
    AddLoopbackDestination();
    ASSERT_EQ(unlink(gone.c_str()), 0);
    OpenPlaylist(QStringLiteral("broken"));  // the first entry is now invalid
    ASSERT_EQ(m_view->CurrentPlaylist().Files.at(0).Valid, 0);

    // The worker may open the second entry before the view has handled the failure: its
    // ticks come at once.
    m_ticks.RunFree();
    m_frame->OnCommand(cmd::ID_START_STREAMING);
    ASSERT_TRUE(WaitForIdle(10000));
    // Still in view after the worker's last reports, whatever it sent after the failure.
    EXPECT_EQ(m_frame->MessageText(),
              QStringLiteral("Failed to stream, check the file and audio codecs"));
    EXPECT_TRUE(Enabled(cmd::ID_START_STREAMING));
    EXPECT_EQ(m_view->Progress()->value(), 0);
}

TEST_F(ViewStreamingTest, QuittingTheApplicationWhileStreamingStopsTheWorker) {
    NewPlaylist(QStringLiteral("live"));
    AddFile(MakeWav("tone.wav", 4.0));
    AddLoopbackDestination();
    m_frame->OnCommand(cmd::ID_START_STREAMING);
    ASSERT_EQ(Tick(15, 15).size(), 15u);

    // As the tray's "E&xit" does: the event loop ends without closing the frame. The ticks
    // keep coming, as real ones would, while the view waits for the worker.
    m_ticks.RunFree();
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_FALSE(m_view->IsWorkerRunning());
    EXPECT_FALSE(m_view->IsStreaming());
    m_receiver.Drain();
    EXPECT_TRUE(m_receiver.TakeAll().empty());
}

TEST_F(ViewStreamingTest, ClosingTheWindowWhileStreamingStopsBeforeTheViewGoes) {
    NewPlaylist(QStringLiteral("live"));
    AddFile(MakeWav("tone.wav", 4.0));
    AddLoopbackDestination();
    m_frame->OnCommand(cmd::ID_START_STREAMING);
    ASSERT_EQ(Tick(15, 15).size(), 15u);
    m_ticks.RunFree();
    m_frame->close();
    DestroyWindows();  // the view and its engine go
    m_receiver.Drain();
    EXPECT_TRUE(m_receiver.TakeAll().empty());
    QCoreApplication::processEvents();  // nothing of the run may be left to deliver
}

// A page needs a capture device: "tone" plays a second of a sine, unpaced, then silence.
class ViewPagingTest : public ViewStreamingTest {
protected:
    void SetUp() override {
        const char* home = std::getenv("HOME");
        m_home = home == nullptr ? std::string() : home;
        ViewStreamingTest::SetUp();
        ASSERT_TRUE(testsupport::MakeToneDevice(m_tone.Path(), 1000.0));
    }
    // After the view's worker is gone: nothing reads ALSA's configuration any more.
    void TearDown() override {
        ViewStreamingTest::TearDown();
        testsupport::RestoreHome(m_home);
    }

    QString MessageText() const { return m_frame->MessageText(); }
    QProgressBar* Meter() const { return m_view->PageMeter(); }

    TempDir m_tone;
    std::string m_home;
};

// The settings go through their dialog to the application key and back; a toggled page on
// the toolbar streams alone to the destination, with its marker, its law and packet time,
// its meter and its status, keeps Start away while it runs, and ends at the second click.
TEST_F(ViewPagingTest, SettingsAreRemembered_AToggledPageStreamsAloneWithItsMeter) {
    NewPlaylist(QStringLiteral("paging"));
    EXPECT_FALSE(Enabled(cmd::ID_PAGE));  // nowhere to page to yet
    AddLoopbackDestination();
    EXPECT_TRUE(Enabled(cmd::ID_PAGE));

    m_ui->AnswerDialog<CPageSettingsDlg>([this](CPageSettingsDlg& dialog) {
        dialog.InitDialog();
        EXPECT_EQ(dialog.DeviceBox()->itemText(0), QStringLiteral("default"));
        EXPECT_EQ(dialog.DeviceBox()->currentText(), QStringLiteral("default"));
        EXPECT_EQ(dialog.ModeBox()->currentIndex(), 0);  // held down to talk
        EXPECT_EQ(dialog.LawBox()->currentIndex(), 0);   // mu-law
        EXPECT_EQ(dialog.PtimeBox()->currentText(), QStringLiteral("20 ms"));
        // A name the request cannot hold is refused; the dialog stays.
        dialog.DeviceBox()->setCurrentText(QString(300, QLatin1Char('x')));
        m_ui->AnswerMessage(uiseam::IDOK);
        dialog.accept();
        EXPECT_NE(dialog.result(), static_cast<int>(QDialog::Accepted));
        dialog.DeviceBox()->setCurrentText(QStringLiteral("tone"));
        dialog.ModeBox()->setCurrentIndex(1);
        dialog.LawBox()->setCurrentIndex(1);
        dialog.PtimeBox()->setCurrentIndex(1);
        dialog.accept();
        return dialog.result();
    });
    m_frame->OnCommand(cmd::ID_PAGE_SETTINGS);
    ASSERT_EQ(m_ui->Messages().size(), 1u);
    EXPECT_TRUE(m_ui->Messages()[0].text.contains(QStringLiteral("too long")));
    const std::vector<std::pair<std::string, std::string>> stored = {
        {"PageDevice", "tone"}, {"PageMode", "toggle"}, {"PageLaw", "a"}, {"PagePtime", "40"}};
    for (const auto& [name, value] : stored) {
        std::string read;
        EXPECT_TRUE(m_view->Document().ReadSetting(name, read)) << name;
        EXPECT_EQ(read, value) << name;
    }
    m_ui->AnswerDialog<CPageSettingsDlg>([](CPageSettingsDlg& dialog) {
        dialog.InitDialog();
        EXPECT_EQ(dialog.DeviceBox()->currentText(), QStringLiteral("tone"));
        EXPECT_EQ(dialog.ModeBox()->currentIndex(), 1);
        EXPECT_EQ(dialog.LawBox()->currentIndex(), 1);
        EXPECT_EQ(dialog.PtimeBox()->currentText(), QStringLiteral("40 ms"));
        return static_cast<int>(QDialog::Rejected);
    });
    m_frame->OnCommand(cmd::ID_PAGE_SETTINGS);

    QToolButton* button = m_frame->PageButton();
    ASSERT_TRUE(button->isEnabled());
    m_ticks.RunFree();  // the page alone is held to its worker's clock
    button->click();    // toggle mode: a click starts the page
    EXPECT_TRUE(m_view->IsPaging());
    EXPECT_TRUE(button->isChecked());
    EXPECT_FALSE(Enabled(cmd::ID_START_STREAMING));  // the page is the run
    EXPECT_TRUE(Enabled(cmd::ID_STOP));
    std::vector<std::vector<uint8_t>> packets;
    ASSERT_TRUE(WaitFor(
        [&] {
            for (auto& datagram : m_receiver.TakeAll()) {
                if (packets.size() < 5) {
                    packets.push_back(std::move(datagram));
                }
            }
            return packets.size() == 5 && !Meter()->isHidden();
        },
        10000));
    EXPECT_EQ(packets[0].size(), 12u + 320u);  // 40 ms of A-law
    EXPECT_EQ(packets[0][1], 0x80 | 8);        // marker on the first, PCMA
    EXPECT_EQ(packets[1][1], 8);
    EXPECT_EQ(MessageText(), QStringLiteral("Paging to 1 destination"));
    // On the air: the sign says so, the destination is the page's, and a command's prompt
    // under the pointer does not cover the page's text.
    EXPECT_TRUE(m_view->OnAirSign()->isVisibleTo(m_view));
    EXPECT_TRUE(m_view->OnAirSign()->text().startsWith(QStringLiteral("ON AIR ")));
    EXPECT_TRUE(m_frame->IsOnAir());
    EXPECT_EQ(m_view->DestinationList()->item(0, rows::kDestState)->text(),
              QStringLiteral("taken by a page"));
    QStatusTipEvent tip(button->statusTip());
    QCoreApplication::sendEvent(button, &tip);
    EXPECT_EQ(MessageText(), QStringLiteral("Paging to 1 destination"));
    EXPECT_EQ(StatusPanes::LevelDb(0.0F), -60);
    EXPECT_EQ(StatusPanes::LevelDb(0.5F), -6);
    EXPECT_EQ(StatusPanes::LevelDb(1.0F), 0);
    EXPECT_EQ(StatusPanes::LevelDb(1e-5F), -60);

    button->click();  // and the next one ends it
    EXPECT_FALSE(m_view->IsPaging());
    ASSERT_TRUE(WaitForIdle(10000));
    EXPECT_TRUE(Meter()->isHidden());
    EXPECT_FALSE(m_view->OnAirSign()->isVisibleTo(m_view));
    EXPECT_FALSE(m_frame->IsOnAir());
    EXPECT_FALSE(button->isChecked());
    EXPECT_EQ(MessageText(), QStringLiteral("Ready"));
    EXPECT_TRUE(Enabled(cmd::ID_START_STREAMING));
    EXPECT_TRUE(Enabled(cmd::ID_PAGE));

    // Values another hand wrote that mean nothing read as the defaults.
    for (const char* name : {"PageMode", "PageLaw", "PagePtime"}) {
        ASSERT_TRUE(m_view->Document().WriteSetting(name, "33"));
    }
    const PageSettings fallback = PageSettings::Load(m_view->Document());
    EXPECT_FALSE(fallback.toggle);
    EXPECT_EQ(fallback.law, PageSettings::kMuLaw);
    EXPECT_EQ(fallback.ptimeMs, 20);
}

// Over a streaming list, held down: a click shorter than a tick still pages; a device that
// cannot be opened is reported and its reason stays while the entry plays on. Alone, the run ends
// with the reason and all is as before.
TEST_F(ViewPagingTest, AShortClickAndADeviceThatCannotBeOpened_TheStreamingListGoesOn) {
    NewPlaylist(QStringLiteral("failing"));
    AddFile(MakeWav("tone.wav", 3.0));
    AddLoopbackDestination();
    ASSERT_TRUE(m_view->Document().WriteSetting("PageDevice", "tone"));
    m_frame->OnCommand(cmd::ID_START_STREAMING);
    ASSERT_EQ(Tick(3, 3).size(), 3u);

    QToolButton* button = m_frame->PageButton();
    Q_EMIT button->pressed();
    Q_EMIT button->released();
    EXPECT_TRUE(m_view->IsPaging());  // until the worker has taken it
    // The entry's ticks go on while the device opens; the page takes the next one after its
    // first packet is ready, and ends at once.
    ASSERT_TRUE(WaitFor(
        [this] {
            if (!m_view->IsPaging() && Enabled(cmd::ID_PAGE) &&
                MessageText() == QStringLiteral("Streaming: tone.wav")) {
                return true;
            }
            m_ticks.ReleaseSleeps(1, 5);
            return false;
        },
        10000))
        << MessageText().toStdString();
    ASSERT_TRUE(m_ticks.WaitForSleeper());  // the worker is back asleep: all it sent is in
    m_receiver.Drain();

    ASSERT_TRUE(m_view->Document().WriteSetting("PageDevice", "nosuchdevice"));
    Q_EMIT button->pressed();
    EXPECT_TRUE(m_view->IsPaging());
    // The worker sees the page at its next tick and its failure at a tick after; the entry's
    // packets go on meanwhile.
    const QString failure =
        QStringLiteral("The page ended: the capture device \"nosuchdevice\": cannot be opened");
    size_t sent = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            if (MessageText().startsWith(failure)) {
                return true;
            }
            sent += m_ticks.ReleaseSleeps(1, 5) ? 1 : 0;
            return false;
        },
        10000))
        << MessageText().toStdString();
    Q_EMIT button->released();  // nothing left to end
    EXPECT_TRUE(m_view->IsStreaming());
    EXPECT_TRUE(Meter()->isHidden());
    // Every tick was the entry's all the same: its packets, then five more.
    EXPECT_EQ(Tick(5, sent + 5).size(), sent + 5);
    QCoreApplication::processEvents();  // the entry's reports since the failure
    EXPECT_TRUE(MessageText().startsWith(failure));
    m_frame->OnCommand(cmd::ID_STOP);
    Tick(1, 1);
    ASSERT_TRUE(WaitForIdle(10000));

    Q_EMIT button->pressed();  // alone
    ASSERT_TRUE(WaitFor([&] { return MessageText().startsWith(failure); }, 10000));
    ASSERT_TRUE(WaitForIdle(10000));
    Q_EMIT button->released();
    EXPECT_TRUE(MessageText().startsWith(failure));
    EXPECT_TRUE(m_receiver.TakeAll().empty());
    EXPECT_TRUE(Enabled(cmd::ID_START_STREAMING));
    EXPECT_TRUE(Enabled(cmd::ID_PAGE));
    m_frame->OnCommand(cmd::ID_START_STREAMING);
    EXPECT_EQ(Tick(2, 2).size(), 2u);
    m_frame->OnCommand(cmd::ID_STOP);
    Tick(1, 1);
    ASSERT_TRUE(WaitForIdle(10000));
}

}  // namespace
}  // namespace viewtest
