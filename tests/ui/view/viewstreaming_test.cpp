// Real streaming runs driven through the main view: a worker thread, RTP datagrams on
// 127.0.0.1, progress reports, volume changes mid-run, failure reports and shutdown. The
// worker's ticks come from a clock the test releases tick by tick.

#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTimer>

#include "support/faketicksource.h"
#include "ui/announcedlg.h"
#include "ui/dlgdestination.h"
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
        dialog.SapBox()->setCurrentIndex(1);
        dialog.RtcpBox()->setChecked(true);
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
    m_frame->OnCommand(cmd::ID_STOP);
    Tick(1, 1);
    ASSERT_TRUE(WaitForIdle(10000));
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

}  // namespace
}  // namespace viewtest
