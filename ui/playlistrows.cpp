#include "ui/playlistrows.h"

#include <QListWidget>
#include <QSignalBlocker>
#include <QStyle>

#include "kit/fixedtext.h"

namespace rows {
namespace {

const QString kInvalidEntryTip = QStringLiteral(
    "This file cannot be streamed: it is missing, unreadable or not a supported MP3 or WAV file.");

}  // namespace

int SelectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.first());
}

void SelectRow(QListWidget* list, int row) {
    const QSignalBlocker block(list);
    list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

void Clear(QListWidget* list) {
    // The selection handlers must not run on rows that are going.
    const QSignalBlocker block(list);
    list->clear();
}

QString DestinationRow(const RtpDestination& destination) {
    return QString::fromStdString(destination.ListText());
}

void FillFiles(QListWidget* list, const std::vector<PlaylistFile>& files) {
    Clear(list);
    for (const PlaylistFile& file : files) {
        list->addItem(fixedtext::FromFixed(file.Name));
        MarkFileRow(list, list->count() - 1, file.Valid != 0);
    }
}

void FillDestinations(QListWidget* list, const std::vector<RtpDestination>& destinations) {
    const QSignalBlocker block(list);
    list->clear();
    for (const RtpDestination& destination : destinations) {
        list->addItem(DestinationRow(destination));
    }
}

bool SyncDestinations(QListWidget* list, const std::vector<RtpDestination>& destinations) {
    bool same = list->count() == static_cast<int>(destinations.size());
    for (int i = 0; same && i < list->count(); ++i) {
        same = list->item(i)->text() == DestinationRow(destinations[static_cast<size_t>(i)]);
    }
    if (!same) {
        FillDestinations(list, destinations);
    }
    return !same;
}

void MarkFileRow(QListWidget* list, int row, bool valid, const std::string& reason) {
    QListWidgetItem* item = list->item(row);
    if (item == nullptr) {
        return;
    }
    if (valid) {
        item->setIcon(QIcon());
        item->setToolTip(QString());
        item->setData(Qt::ForegroundRole, QVariant());
    } else {
        item->setIcon(list->style()->standardIcon(QStyle::SP_MessageBoxWarning));
        item->setToolTip(reason.empty() ? kInvalidEntryTip
                                        : kInvalidEntryTip + QLatin1Char('\n') +
                                              QString::fromStdString(reason));
        item->setForeground(list->palette().brush(QPalette::Disabled, QPalette::Text));
    }
}

}  // namespace rows
