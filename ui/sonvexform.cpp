#include "ui/sonvexform.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>

namespace {

// The form was laid out in dialog units; these are the pixels of one unit at the UI font.
constexpr double kUnitX = 2.0;
constexpr double kUnitY = 1.75;

QRect Dlu(int x, int y, int w, int h) {
    return QRect(static_cast<int>(x * kUnitX), static_cast<int>(y * kUnitY),
                 static_cast<int>(w * kUnitX), static_cast<int>(h * kUnitY));
}

constexpr int kFormWidth = 344;
constexpr int kFormHeight = 250;

QListWidget* MakeList(QWidget* parent, const QRect& rect) {
    auto* list = new QListWidget(parent);
    list->setGeometry(rect);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return list;
}

QPlainTextEdit* MakePane(QWidget* parent, const QRect& rect) {
    auto* pane = new QPlainTextEdit(parent);
    pane->setGeometry(rect);
    pane->setReadOnly(true);
    return pane;
}

}  // namespace

SonvexForm BuildSonvexForm(QWidget* view) {
    // The form's size is its smallest; it grows with the window (the view's StretchForm).
    const QSize base(static_cast<int>(kFormWidth * kUnitX), static_cast<int>(kFormHeight * kUnitY));
    view->setMinimumSize(base);
    view->resize(base);
    SonvexForm form;
    auto* filesBox = new QGroupBox(QStringLiteral("Playlist files"), view);
    filesBox->setGeometry(Dlu(7, 7, 230, 210));
    form.fileList = MakeList(view, Dlu(14, 17, 125, 193));
    form.description = MakePane(view, Dlu(144, 18, 87, 145));
    form.settings = MakePane(view, Dlu(144, 168, 88, 42));

    auto* destinationsBox = new QGroupBox(QStringLiteral("RTP destinations"), view);
    destinationsBox->setGeometry(Dlu(239, 7, 97, 210));
    form.destinationList = MakeList(view, Dlu(244, 18, 85, 193));

    auto* progressBox = new QGroupBox(QStringLiteral("Progress"), view);
    progressBox->setGeometry(Dlu(7, 216, 329, 26));
    form.progress = new QProgressBar(view);
    form.progress->setGeometry(Dlu(13, 227, 182, 10));
    form.progress->setTextVisible(false);
    form.progress->setRange(0, 100);
    form.progress->setValue(0);
    auto* elapsedLabel = new QLabel(QStringLiteral("Time elapsed (seconds)"), view);
    elapsedLabel->setGeometry(Dlu(204, 227, 77, 8));
    form.elapsed = new QLineEdit(view);
    form.elapsed->setGeometry(Dlu(287, 224, 43, 14));
    form.elapsed->setReadOnly(true);
    form.filesBox = filesBox;
    form.destinationsBox = destinationsBox;
    form.progressBox = progressBox;
    form.elapsedLabel = elapsedLabel;

    form.fileList->setObjectName(QStringLiteral("fileList"));
    form.destinationList->setObjectName(QStringLiteral("destinationList"));
    form.description->setObjectName(QStringLiteral("description"));
    form.settings->setObjectName(QStringLiteral("settings"));
    form.elapsed->setObjectName(QStringLiteral("elapsed"));
    return form;
}
