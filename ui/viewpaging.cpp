// The view's live paging: the Page command and toolbar button, the page settings, and the
// page's reports with the level meter that follows it.

#include <QLabel>
#include <QTimer>
#include <algorithm>

#include "kit/uiseam.h"
#include "ui/commandids.h"
#include "ui/pagesettingsdlg.h"
#include "ui/playlistrows.h"
#include "ui/sonvexview.h"

namespace {

// The meter reads the worker's level (an atomic) this often: smooth to the eye, no load.
constexpr int kPageMeterMs = 50;

const QString kPageRefusedText =
    QStringLiteral("Cannot page now: the previous page or streaming run is still ending");
const QString kDeviceTooLongText =
    QStringLiteral("Cannot page: the capture device name is too long; see Page settings");
const QString kSettingsNotStoredText = QStringLiteral("The page settings could not be stored");

}  // namespace

bool CSonvexView::OnUpdatePageCommand(int id, cmd::CommandState& state) {
    switch (id) {
        case cmd::ID_PAGE: {
            // A page needs somewhere to go, and the one worker free for it: a streaming run
            // hands it its senders; a run that is ending, or a page still ending, does not.
            const bool free = !m_document.IsPageActive() && (IsStreaming() || !IsWorkerRunning());
            state.enabled = m_document.IsOpen() && !CurrentPlaylist().Destinations.empty() &&
                            (IsPaging() || free);
            state.checked = IsPaging();
            return true;
        }
        case cmd::ID_PAGE_SETTINGS:
            // Taken at the next page's start: also while one runs.
            state.enabled = true;
            return true;
        default:
            return false;
    }
}

void CSonvexView::OnPage() {
    if (IsPaging()) {
        // The worker notices within a captured block and reports the page's end. A press
        // shorter than the worker's next tick would otherwise page nothing at all: such a
        // page ends as soon as it has started.
        if (m_bPageStarted) {
            m_document.EndPage();
        } else {
            m_bEndPageOnStart = true;
        }
        return;
    }
    PlaylistDocument::PageRequest request;
    if (!PageSettings::Load(m_document).ToRequest(request)) {
        ShowFailureText(kDeviceTooLongText);
        return;
    }
    const bool alone = !IsStreaming();
    if (!m_document.RequestPage(request)) {
        ShowFailureText(kPageRefusedText);
        return;
    }
    m_bPageStarted = false;
    m_bEndPageOnStart = false;
    if (alone) {
        m_bStopping = false;  // a run of its own, reported like any other
    }
}

void CSonvexView::OnPageButton(PageGesture gesture) {
    const bool toggle = PageSettings::Load(m_document).toggle;
    if (toggle) {
        if (gesture == PageGesture::Click) {
            RunCommand(cmd::ID_PAGE);
        }
        return;
    }
    // The release that follows a page which has already ended by itself changes nothing.
    if ((gesture == PageGesture::Press && !IsPaging()) ||
        (gesture == PageGesture::Release && IsPaging())) {
        RunCommand(cmd::ID_PAGE);
    }
}

void CSonvexView::OnPageSettings() {
    CPageSettingsDlg dialog(this);
    dialog.m_settings = PageSettings::Load(m_document);
    if (uiseam::RunModal(dialog) != QDialog::Accepted) {
        return;
    }
    if (!dialog.m_settings.Save(m_document)) {
        ShowFailureText(kSettingsNotStoredText);
    }
}

void CSonvexView::OnPageStarted() {
    const size_t count = std::min(CurrentPlaylist().Destinations.size(),
                                  static_cast<size_t>(PlaylistDocument::kSenderCount));
    SetStatusText(count == 1 ? QStringLiteral("Paging to 1 destination")
                             : QStringLiteral("Paging to %1 destinations").arg(count));
    ShowPageMeter(true);
    m_bPageStarted = true;
    if (m_bEndPageOnStart) {
        m_bEndPageOnStart = false;
        m_document.EndPage();
    }
}

void CSonvexView::OnPageEnded(const StreamingStatus& status) {
    ShowPageMeter(false);
    m_bPageStarted = false;
    m_bEndPageOnStart = false;
    // An ordinary end needs no words: the resumed entry or the run's end says what follows.
    if (status.openFailed) {
        // Written before the worker posted this report.
        ShowFailureText(QStringLiteral("The page ended: ") +
                        QString::fromStdString(m_document.PageFailure()));
    }
}

void CSonvexView::ShowPageMeter(bool on) {
    if (m_pageMeterTimer == nullptr) {
        m_pageMeterTimer = new QTimer(this);
        m_pageMeterTimer->setInterval(kPageMeterMs);
        connect(m_pageMeterTimer, &QTimer::timeout, this, [this] {
            m_panes.ShowLevel(m_document.PageLevel());
            const QString sign = QStringLiteral("ON AIR ") + rows::Clock(m_pageClock.elapsed());
            if (m_onAir->text() != sign) {
                m_onAir->setText(sign);
            }
        });
    }
    m_panes.ShowMeter(on);
    const bool was = m_onAir->isVisibleTo(this);
    if (on) {
        m_pageClock.start();
        m_onAir->setText(QStringLiteral("ON AIR 0:00"));
        m_pageMeterTimer->start();
    } else {
        m_pageMeterTimer->stop();
    }
    m_onAir->setVisible(on);
    if (was != on) {
        Q_EMIT onAirChanged(on);
    }
}
