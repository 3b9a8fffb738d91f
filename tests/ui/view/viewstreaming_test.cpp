// Real streaming runs driven through the main view: a worker thread, RTP datagrams on
// 127.0.0.1, progress reports, volume changes mid-run, failure reports and shutdown.

#include <unistd.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTimer>
#include <chrono>
#include <thread>

#include "ui/dlgdestination.h"
#include "ui/volumedialog.h"
#include "viewfixture.h"

namespace viewtest {
namespace {

class ViewStreamingTest : public ViewFixture {
protected:
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

    // Collects datagrams while the event loop runs, for about `ms`.
    std::vector<std::vector<uint8_t>> Receive(int ms) {
        std::vector<std::vector<uint8_t>> all;
        WaitFor(
            [&] {
                for (auto& datagram : m_receiver.TakeAll()) {
                    all.push_back(std::move(datagram));
                }
                return false;
            },
            ms);
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

    const auto datagrams = Receive(1600);
    ASSERT_GT(datagrams.size(), 40u);  // 20 ms packets
    EXPECT_LT(datagrams.size(), 120u);
    EXPECT_EQ(datagrams[0].size(), 12u + 160u);
    EXPECT_EQ(datagrams[0][0], 0x80);         // RTP version 2
    EXPECT_EQ(datagrams[5][1] & 0x7F, 0);     // PCMU
    EXPECT_GT(MeanLevel(datagrams, 5), 500);  // the tone, not silence
    EXPECT_EQ(m_frame->MessageText(), QStringLiteral("Streaming: first.wav"));
    EXPECT_GE(m_view->Progress()->value(), 1);
    EXPECT_EQ(m_view->Progress()->maximum(), 3);
    EXPECT_GE(m_view->ElapsedSeconds(), 1);

    // The next file follows; its row is selected.
    ASSERT_TRUE(WaitFor(
        [this] { return m_frame->MessageText() == QStringLiteral("Streaming: second.wav"); },
        4000));
    EXPECT_EQ(m_view->FileList()->currentRow(), 1);

    m_frame->OnCommand(cmd::ID_STOP);
    EXPECT_FALSE(Enabled(cmd::ID_STOP));
    // The worker still reads the playlist until its final report: no edits until then.
    for (int id : {cmd::ID_START_STREAMING, cmd::ID_ADD_FILE, cmd::ID_REMOVE_FILE, cmd::ID_MOVE_UP,
                   cmd::ID_ADD_DESTINATION, cmd::ID_FILE_OPEN}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    EXPECT_TRUE(Enabled(cmd::ID_VOLUME));
    ASSERT_TRUE(WaitForIdle(3000));
    EXPECT_EQ(m_frame->MessageText(), QStringLiteral("Ready"));
    EXPECT_EQ(m_view->Progress()->value(), 0);
    EXPECT_EQ(m_view->ElapsedSeconds(), 0);
    for (int id :
         {cmd::ID_ADD_DESTINATION, cmd::ID_START_STREAMING, cmd::ID_ADD_FILE, cmd::ID_FILE_NEW}) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    EXPECT_TRUE(m_frame->Action(cmd::ID_START_STREAMING)->isEnabled());
    m_receiver.Drain();
    EXPECT_TRUE(Receive(200).empty());

    // A second run starts cleanly on the same engine.
    m_frame->OnCommand(cmd::ID_START_STREAMING);
    EXPECT_FALSE(Receive(300).empty());
    m_frame->OnCommand(cmd::ID_STOP);
    ASSERT_TRUE(WaitForIdle(3000));
}

TEST_F(ViewStreamingTest, VolumeChangedDuringStreamingLowersTheReceivedLevel) {
    NewPlaylist(QStringLiteral("live"));
    AddFile(MakeWav("tone.wav", 6.0, 8000));
    AddLoopbackDestination();
    m_frame->OnCommand(cmd::ID_START_STREAMING);
    const double before = MeanLevel(Receive(700), 5);
    ASSERT_GT(before, 1000);

    m_ui->AnswerDialog<CVolumeDialog>([](CVolumeDialog& dialog) {
        dialog.InitDialog();
        dialog.Slider()->setValue(-9);
        dialog.accept();
        return dialog.result();
    });
    m_view->OnCommand(cmd::ID_VOLUME);
    EXPECT_TRUE(m_view->IsStreaming());
    const double after = MeanLevel(Receive(700), 5);
    const double ratio = after / before;
    EXPECT_GT(ratio, 0.28);  // 10^(-9/20) = 0.355
    EXPECT_LT(ratio, 0.43);

    m_frame->OnCommand(cmd::ID_STOP);
    ASSERT_TRUE(WaitForIdle(3000));
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

    m_frame->OnCommand(cmd::ID_START_STREAMING);
    ASSERT_TRUE(WaitForIdle(4000));
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
    ASSERT_FALSE(Receive(300).empty());

    // As the tray's "E&xit" does: the event loop ends without closing the frame.
    QTimer::singleShot(200, [] { QCoreApplication::quit(); });
    QElapsedTimer timer;
    timer.start();
    QCoreApplication::exec();
    EXPECT_FALSE(m_view->IsWorkerRunning());
    EXPECT_FALSE(m_view->IsStreaming());
    EXPECT_LT(timer.elapsed(), 3000);
    m_receiver.Drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_TRUE(m_receiver.TakeAll().empty());
}

TEST_F(ViewStreamingTest, ClosingTheWindowWhileStreamingStopsBeforeTheViewGoes) {
    NewPlaylist(QStringLiteral("live"));
    AddFile(MakeWav("tone.wav", 4.0));
    AddLoopbackDestination();
    m_frame->OnCommand(cmd::ID_START_STREAMING);
    ASSERT_FALSE(Receive(300).empty());
    QElapsedTimer timer;
    timer.start();
    m_frame->close();
    DestroyWindows();  // the view and its engine go
    EXPECT_LT(timer.elapsed(), 3000);
    m_receiver.Drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_TRUE(m_receiver.TakeAll().empty());
    QCoreApplication::processEvents();  // nothing of the run may be left to deliver
}

}  // namespace
}  // namespace viewtest
