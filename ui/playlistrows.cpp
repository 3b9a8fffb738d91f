#include "ui/playlistrows.h"

#include <QFont>
#include <QSignalBlocker>
#include <QStyle>
#include <QTableWidget>
#include <algorithm>

#include "codec/waveformat.h"
#include "kit/fixedtext.h"
#include "playlist/outputcodec.h"

namespace rows {
namespace {

const QString kInvalidEntryTip = QStringLiteral(
    "This file cannot be streamed: it is missing, unreadable or not a supported MP3 or WAV file.");
constexpr int kWholeTextRole = Qt::UserRole;

QString RateText(uint32_t hz) {
    return hz % 1000 == 0 ? QStringLiteral("%1 kHz").arg(hz / 1000)
                          : QStringLiteral("%1 kHz").arg(hz / 1000.0, 0, 'f', 1);
}

QString ChannelsText(uint16_t channels) {
    return channels == 1   ? QStringLiteral("mono")
           : channels == 2 ? QStringLiteral("stereo")
                           : QStringLiteral("%1 channels").arg(channels);
}

QString EncodingText(const WAVEFORMATEX& wfx) {
    switch (wfx.wFormatTag) {
        case WAVE_FORMAT_PCM:
            return QStringLiteral("WAV %1-bit").arg(wfx.wBitsPerSample);
        case WAVE_FORMAT_IEEE_FLOAT:
            return QStringLiteral("WAV float");
        case WAVE_FORMAT_MULAW:
            return QStringLiteral("WAV mu-law");
        case WAVE_FORMAT_ALAW:
            return QStringLiteral("WAV A-law");
        case WAVE_FORMAT_ADPCM:
        case WAVE_FORMAT_DVI_ADPCM:
            return QStringLiteral("WAV ADPCM");
        case WAVE_FORMAT_G722_ADPCM:
            return QStringLiteral("WAV G.722");
        case WAVE_FORMAT_MPEGLAYER3:
            // The MP3 record counts 1024 bits a kbit.
            return QStringLiteral("MP3 %1 kbit/s").arg(wfx.nAvgBytesPerSec / 128);
        case WAVE_FORMAT_MPEG:
            return QStringLiteral("MPEG audio");
        default:
            return QStringLiteral("WAV 0x%1").arg(wfx.wFormatTag, 4, 16, QLatin1Char('0'));
    }
}

// "MP3 128 kbit/s, 44.1 kHz, stereo"; empty when the file was not read.
QString SourceText(const SourceFormatInfo& source) {
    WAVEFORMATEX wfx{};
    if (!ReadWaveFormat(source.format.get(), static_cast<size_t>(source.formatSize), wfx) ||
        wfx.nSamplesPerSec == 0) {
        return {};
    }
    return EncodingText(wfx) + QStringLiteral(", ") + RateText(wfx.nSamplesPerSec) +
           QStringLiteral(", ") + ChannelsText(wfx.nChannels);
}

QString LawText(int32_t format) {
    // A tag no codec has is sent as A-law.
    const OutputCodec* codec = FindOutputCodec(format);
    return QString::fromLatin1(codec != nullptr ? codec->name : "A-law");
}

QTableWidgetItem* Cell(QTableWidget* table, int row, int column) {
    QTableWidgetItem* item = table->item(row, column);
    if (item == nullptr) {
        item = new QTableWidgetItem;
        table->setItem(row, column, item);
    }
    return item;
}

void SetCell(QTableWidget* table, int row, int column, const QString& text,
             Qt::Alignment align = Qt::AlignLeft) {
    QTableWidgetItem* item = Cell(table, row, column);
    item->setText(text);
    item->setTextAlignment(align | Qt::AlignVCenter);
}

QString ModeText(const RtpDestination& destination) {
    switch (destination.Mode) {
        case kModeSpa:
            return QStringLiteral("SPA, control ") +
                   QString::fromStdString(destination.ControlText());
        case kModePolycom:
            return QStringLiteral("Polycom, channel %1").arg(destination.Channel);
        default:
            return QStringLiteral("RTP");
    }
}

QString RouteText(const RtpDestination& destination) {
    if (!destination.IsMulticast()) {
        return QStringLiteral("unicast");
    }
    QString text = QStringLiteral("TTL %1").arg(destination.Ttl);
    if (destination.Interface[0] != '\0') {
        text += QStringLiteral(", ") + fixedtext::FromFixed(destination.Interface);
    }
    return text;
}

void ShowDestination(QTableWidget* table, int row, const RtpDestination& destination) {
    SetCell(table, row, kDestAddress, QString::fromStdString(destination.AddressText()));
    Cell(table, row, kDestAddress)->setData(kWholeTextRole, DestinationRow(destination));
    SetCell(table, row, kDestPort, QString::number(destination.Port), Qt::AlignRight);
    SetCell(table, row, kDestMode, ModeText(destination));
    SetCell(table, row, kDestRoute, RouteText(destination));
    SetCell(table, row, kDestState, QStringLiteral("idle"));
}

}  // namespace

QStringList FileHeaders() {
    return {QStringLiteral("Name"), QStringLiteral("Length"), QStringLiteral("Source"),
            QStringLiteral("Law"),  QStringLiteral("Packet"), QStringLiteral("Valid")};
}

QStringList DestinationHeaders() {
    return {QStringLiteral("Address"), QStringLiteral("Port"), QStringLiteral("Mode"),
            QStringLiteral("TTL / interface"), QStringLiteral("State")};
}

QString Clock(int64_t ms) {
    const int64_t seconds = (std::max<int64_t>(ms, 0) + 500) / 1000;
    const int64_t hours = seconds / 3600;
    const auto two = [](int64_t n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (hours > 0) {
        return QString::number(hours) + QLatin1Char(':') + two(seconds / 60 % 60) +
               QLatin1Char(':') + two(seconds % 60);
    }
    return QString::number(seconds / 60) + QLatin1Char(':') + two(seconds % 60);
}

int64_t LengthMs(const SourceFormatInfo& source) {
    return source.durationMs > 0 ? source.durationMs
                                 : static_cast<int64_t>(source.durationSeconds) * 1000;
}

int SelectedRow(const QTableWidget* table) {
    const QList<QTableWidgetItem*> items = table->selectedItems();
    return items.isEmpty() ? -1 : items.first()->row();
}

void SelectRow(QTableWidget* table, int row) {
    const QSignalBlocker block(table);
    table->clearSelection();
    if (row >= 0 && row < table->rowCount()) {
        table->setCurrentCell(row, 0,
                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

void Clear(QTableWidget* table) {
    // The selection handlers must not run on rows that are going.
    const QSignalBlocker block(table);
    table->setRowCount(0);
}

QString RowText(const QTableWidget* table, int row) {
    const QTableWidgetItem* item = table->item(row, 0);
    if (item == nullptr) {
        return {};
    }
    const QVariant whole = item->data(kWholeTextRole);
    return whole.isValid() ? whole.toString() : item->text();
}

QString DestinationRow(const RtpDestination& destination) {
    return QString::fromStdString(destination.ListText());
}

void FillFiles(QTableWidget* table, const std::vector<PlaylistFile>& files) {
    Clear(table);
    for (const PlaylistFile& file : files) {
        AppendFile(table, file, file.Valid != 0);
    }
}

void AppendFile(QTableWidget* table, const PlaylistFile& file, bool valid,
                const std::string& reason) {
    const QSignalBlocker block(table);
    const int row = table->rowCount();
    table->insertRow(row);
    ShowFile(table, row, file, valid, reason);
}

void ShowFile(QTableWidget* table, int row, const PlaylistFile& file, bool valid,
              const std::string& reason) {
    const QSignalBlocker block(table);
    const int64_t length = LengthMs(file.Source);
    SetCell(table, row, kFileName, fixedtext::FromFixed(file.Name));
    SetCell(table, row, kFileLength, valid && length > 0 ? Clock(length) : QString(),
            Qt::AlignRight);
    SetCell(table, row, kFileSource, valid ? SourceText(file.Source) : QString());
    SetCell(table, row, kFileLaw, LawText(file.DstFormat));
    SetCell(table, row, kFilePacket, QStringLiteral("%1 ms").arg(file.DstPacketization),
            Qt::AlignRight);
    SetCell(table, row, kFileValid, valid ? QStringLiteral("yes") : QStringLiteral("no"));
    MarkFileRow(table, row, valid, reason);
}

void FillDestinations(QTableWidget* table, const std::vector<RtpDestination>& destinations) {
    const QSignalBlocker block(table);
    table->setRowCount(0);
    table->setRowCount(static_cast<int>(destinations.size()));
    for (size_t i = 0; i < destinations.size(); ++i) {
        ShowDestination(table, static_cast<int>(i), destinations[i]);
    }
}

bool SyncDestinations(QTableWidget* table, const std::vector<RtpDestination>& destinations) {
    bool same = table->rowCount() == static_cast<int>(destinations.size());
    for (int i = 0; same && i < table->rowCount(); ++i) {
        same = RowText(table, i) == DestinationRow(destinations[static_cast<size_t>(i)]);
    }
    if (!same) {
        FillDestinations(table, destinations);
    }
    return !same;
}

void SetDestinationState(QTableWidget* table, int row, const QString& state) {
    if (row >= 0 && row < table->rowCount()) {
        Cell(table, row, kDestState)->setText(state);
        Cell(table, row, kDestState)->setToolTip(state);
    }
}

void MarkFileRow(QTableWidget* table, int row, bool valid, const std::string& reason) {
    if (row < 0 || row >= table->rowCount()) {
        return;
    }
    const QString tip = valid ? QString()
                        : reason.empty()
                            ? kInvalidEntryTip
                            : kInvalidEntryTip + QLatin1Char('\n') + QString::fromStdString(reason);
    for (int column = 0; column < table->columnCount(); ++column) {
        QTableWidgetItem* item = Cell(table, row, column);
        item->setToolTip(tip);
        if (valid) {
            item->setData(Qt::ForegroundRole, QVariant());
        } else {
            item->setForeground(table->palette().brush(QPalette::Disabled, QPalette::Text));
        }
    }
    Cell(table, row, kFileName)
        ->setIcon(valid ? QIcon() : table->style()->standardIcon(QStyle::SP_MessageBoxWarning));
    if (valid) {
        Cell(table, row, kFileValid)->setText(QStringLiteral("yes"));
    } else {
        Cell(table, row, kFileValid)->setText(QStringLiteral("no"));
    }
}

void MarkPlaying(QTableWidget* table, int row, bool playing) {
    if (row < 0 || row >= table->rowCount()) {
        return;
    }
    for (int column = 0; column < table->columnCount(); ++column) {
        QTableWidgetItem* item = Cell(table, row, column);
        QFont font = item->font();
        font.setBold(playing);
        item->setFont(font);
    }
    if (playing) {
        Cell(table, row, kFileName)->setIcon(table->style()->standardIcon(QStyle::SP_MediaPlay));
    }
}

}  // namespace rows
