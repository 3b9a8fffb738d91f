#include "ui/sonvexform.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSplitter>
#include <QVBoxLayout>

#include "ui/playlistrows.h"
#include "ui/playlisttable.h"

namespace {

// Half of a 1366-pixel laptop screen, less the window's border; the toolbar fits it too.
constexpr int kSmallestWidth = 640;
constexpr int kSmallestHeight = 400;

QPlainTextEdit* MakePane(QWidget* parent, const char* name) {
    auto* pane = new QPlainTextEdit(parent);
    pane->setObjectName(QString::fromLatin1(name));
    pane->setReadOnly(true);
    // Read, not typed into: a click may select text, Tab passes it by.
    pane->setFocusPolicy(Qt::ClickFocus);
    pane->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    return pane;
}

QLabel* MakeClock(QWidget* parent, const char* name) {
    auto* clock = new QLabel(QStringLiteral("0:00"), parent);
    clock->setObjectName(QString::fromLatin1(name));
    clock->setMinimumWidth(clock->fontMetrics().horizontalAdvance(QStringLiteral("-00:00:00")));
    clock->setAlignment(Qt::AlignCenter);
    return clock;
}

QWidget* BuildFiles(QWidget* view, SonvexForm& form) {
    auto* box = new QGroupBox(QStringLiteral("Playlist files"), view);
    form.fileList = new PlaylistTable(rows::FileHeaders(), rows::kFileName, box);
    form.fileList->setObjectName(QStringLiteral("fileList"));
    form.description = MakePane(box, "description");
    form.settings = MakePane(box, "settings");
    auto* details = new QHBoxLayout;
    details->addWidget(form.description, 3);
    details->addWidget(form.settings, 2);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(form.fileList, 3);
    layout->addLayout(details, 1);
    form.description->setMinimumHeight(form.description->fontMetrics().lineSpacing() * 4);
    return box;
}

QWidget* BuildDestinations(QWidget* view, SonvexForm& form) {
    auto* box = new QGroupBox(QStringLiteral("RTP destinations"), view);
    form.destinationList = new PlaylistTable(rows::DestinationHeaders(), rows::kDestState, box);
    form.destinationList->setObjectName(QStringLiteral("destinationList"));
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(form.destinationList);
    return box;
}

QWidget* BuildProgress(QWidget* view, SonvexForm& form) {
    auto* box = new QGroupBox(QStringLiteral("Progress"), view);
    form.onAir = new QLabel(QStringLiteral("ON AIR"), box);
    form.onAir->setObjectName(QStringLiteral("onAir"));
    form.onAir->setAlignment(Qt::AlignCenter);
    // Red with white type in either theme: the sign must not be missed.
    form.onAir->setStyleSheet(QStringLiteral(
        "QLabel { background: #c62828; color: white; font-weight: bold; border-radius: 4px;"
        " padding: 2px 10px; }"));
    QSizePolicy keep = form.onAir->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    form.onAir->setSizePolicy(keep);
    form.onAir->hide();
    form.elapsedClock = MakeClock(box, "elapsedClock");
    form.remainingClock = MakeClock(box, "remainingClock");
    form.remainingClock->setText(QStringLiteral("-0:00"));
    form.progress = new QProgressBar(box);
    form.progress->setTextVisible(false);
    form.progress->setRange(0, 100);
    form.progress->setValue(0);
    auto* elapsedLabel = new QLabel(QStringLiteral("Time elapsed (seconds)"), box);
    form.elapsed = new QLineEdit(box);
    form.elapsed->setObjectName(QStringLiteral("elapsed"));
    form.elapsed->setReadOnly(true);
    form.elapsed->setFocusPolicy(Qt::ClickFocus);
    form.elapsed->setMaximumWidth(
        form.elapsed->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
    elapsedLabel->setBuddy(form.elapsed);
    auto* layout = new QHBoxLayout(box);
    layout->addWidget(form.onAir);
    layout->addWidget(form.elapsedClock);
    layout->addWidget(form.progress, 1);
    layout->addWidget(form.remainingClock);
    layout->addSpacing(8);
    layout->addWidget(elapsedLabel);
    layout->addWidget(form.elapsed);
    return box;
}

}  // namespace

SonvexForm BuildSonvexForm(QWidget* view) {
    SonvexForm form;
    form.splitter = new QSplitter(Qt::Horizontal, view);
    form.splitter->setObjectName(QStringLiteral("formSplitter"));
    form.splitter->setChildrenCollapsible(false);
    form.splitter->addWidget(BuildFiles(view, form));
    form.splitter->addWidget(BuildDestinations(view, form));
    form.splitter->setStretchFactor(0, 1);
    form.splitter->setStretchFactor(1, 1);
    form.splitter->setSizes({620, 420});
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(form.splitter, 1);
    layout->addWidget(BuildProgress(view, form));
    view->setMinimumSize(kSmallestWidth, kSmallestHeight);
    return form;
}
