// The view's streaming commands (start, stop, loop) and its handling of the worker's
// reports, which arrive as posted events on the UI thread.

#include "ui/sonvexview.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>

#include "kit/fixedtext.h"
#include "playlist/destinationcheck.h"
#include "ui/playlistrows.h"
#include "ui/playlisttable.h"
#include "ui/streamingevent.h"

namespace {

constexpr int kMaxProgressRange = 65535;  // the bar's range has a 16-bit upper bound
const QString kStreamFailedText =
    QStringLiteral("Failed to stream, check the file and audio codecs");
const QString kNoDestinationText =
    QStringLiteral("Nothing to stream to: add an RTP destination first");

}  // namespace

void CSonvexView::OnStartStreaming() {
    if (m_fileList->rowCount() == 0) {
        return;
    }
    // Streaming to nobody would look like streaming.
    if (m_destinationList->rowCount() == 0) {
        ShowFailureText(kNoDestinationText);
        return;
    }
    // Refused while the previous worker has not reported its end.
    if (m_document.Start()) {
        m_bStopping = false;
        m_leftOut.assign(static_cast<size_t>(m_destinationList->rowCount()), QString());
        ShowDestinationStates();
    }
}

void CSonvexView::OnStop() {
    m_bStopping = true;
    m_document.Stop();
}

void CSonvexView::OnLoopMode() {
    m_document.SetLoopMode(!LoopMode());
    ShowVolumeAndLoop();
}

void CSonvexView::ShutdownStreaming() {
    if (!m_document.IsRunning()) {
        return;
    }
    // Bounded: the worker notices the flag after its current tick, one period away.
    m_document.Shutdown();
    ShowPageMeter(false);
    // Its reports refer to a run that is over; the view may be going away.
    QCoreApplication::removePostedEvents(this, StreamingEvent::kType);
}

long CSonvexView::OnStreamingReport(const StreamingStatus& status) {
    switch (status.code) {
        case kFileStarted:
            OnFileStarted(status);
            break;
        case kSecondElapsed:
            OnSecondElapsed(status);
            break;
        case kFileFinished:
            ShowPlayingRow(-1);
            m_progress->setValue(static_cast<int>(
                std::clamp<intptr_t>(status.durationSeconds, 0, m_progress->maximum())));
            break;
        case kStreamingEnded:
            ShowPlayingRow(-1);
            // A page still pending ends with the run.
            ShowPageMeter(false);
            m_bPageStarted = false;
            m_bEndPageOnStart = false;
            OnStreamingEnded();
            break;
        case kPageStarted:
            OnPageStarted();
            break;
        case kPageEnded:
            OnPageEnded(status);
            break;
        case kDestinationSkipped:
            // The run goes on to the other destinations; the operator learns which one is
            // silent and why until the next second's report.
            if (status.index < m_document.CurrentPlaylist().Destinations.size()) {
                const QString text = QString::fromStdString(destinationcheck::SendFaultText(
                    m_document.CurrentPlaylist().Destinations[status.index],
                    static_cast<destinationcheck::SendFault>(status.fault)));
                SetStatusText(text);
                // The row says why for the rest of the run.
                m_leftOut.resize(std::max(m_leftOut.size(), status.index + 1));
                const QString marker = QStringLiteral(" not sent to: ");
                const qsizetype at = text.indexOf(marker);
                m_leftOut[status.index] = at < 0 ? text : text.mid(at + marker.size());
            }
            break;
        default:
            break;
    }
    return 0;
}

void CSonvexView::OnFileStarted(const StreamingStatus& status) {
    const size_t index = status.index;
    const PlaylistFile* entry =
        index < CurrentPlaylist().FileCount() ? &CurrentPlaylist().FileAt(index) : nullptr;
    if (status.openFailed) {
        ShowPlayingRow(-1);
        ShowFailureText(kStreamFailedText);
        if (entry != nullptr) {
            rows::MarkFileRow(m_fileList, static_cast<int>(index), false);
        }
        OnStop();
        return;
    }
    if (m_bStopping) {
        return;  // the worker moved on before it saw the stop
    }
    if (entry != nullptr) {
        // A zero range would turn the bar into a busy indicator.
        const int range =
            std::clamp(static_cast<int>(entry->Source.durationSeconds), 1, kMaxProgressRange);
        m_progress->setValue(0);
        m_progress->setRange(0, range);
        m_progress->setValue(0);
        m_nPlayingMs = rows::LengthMs(entry->Source);
    }
    m_nElapsedSeconds = 0;
    // A page that failed over the list keeps its reason in view when the entry resumes.
    if (!m_bFailureShown) {
        SetStatusText(StreamingText(status.index));
    }
    if (entry != nullptr) {
        rows::SelectRow(m_fileList, static_cast<int>(index));
        ShowSelection();
        ShowPlayingRow(static_cast<int>(index));
    }
    UpdateData();
}

void CSonvexView::OnSecondElapsed(const StreamingStatus& status) {
    if (m_bStopping) {
        return;
    }
    if (!m_bFailureShown) {
        SetStatusText(StreamingText(status.index));
    }
    m_progress->setValue(std::min(m_progress->value() + 1, m_progress->maximum()));
    m_nElapsedSeconds += 1;
    UpdateData();
}

void CSonvexView::OnStreamingEnded() {
    m_progress->setValue(0);
    m_nElapsedSeconds = 0;
    m_nPlayingMs = 0;
    m_leftOut.clear();
    UpdateData();
    OnStop();
    // The worker is returning: collect it so that Start can run a new one.
    m_document.Wait();
    m_bStopping = false;
    if (!m_bFailureShown) {
        SetStatusText(QString());  // "Ready"
    }
}

QString CSonvexView::StreamingText(size_t index) const {
    const Playlist& playlist = CurrentPlaylist();
    return QStringLiteral("Streaming: ") + (index < playlist.FileCount()
                                                ? fixedtext::FromFixed(playlist.FileAt(index).Name)
                                                : QString());
}

bool CSonvexView::event(QEvent* event) {
    m_postedReports.load(std::memory_order_acquire);
    if (event->type() == StreamingEvent::kType) {
        OnStreamingReport(static_cast<StreamingEvent*>(event)->Status());
        ShowDestinationStates();
        // Codes 2 and 3 show no text, yet Start and the editing commands change with them.
        Q_EMIT commandStatesChanged();
        return true;
    }
    return QWidget::event(event);
}
