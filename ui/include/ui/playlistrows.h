#pragma once
// The rows of the main form's two tables: row i of the file table shows entry i of the open
// playlist (name, length, source format, law, packet time, whether it can be streamed), row i
// of the destination table its destination i (address, port, mode, TTL and interface, state).
// Rows change here without the tables' selection-change notifications. UI thread only.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

#include "playlist/playlist.h"

class QTableWidget;

namespace rows {

enum FileColumn { kFileName, kFileLength, kFileSource, kFileLaw, kFilePacket, kFileValid };
enum DestinationColumn { kDestAddress, kDestPort, kDestMode, kDestRoute, kDestState };

QStringList FileHeaders();
QStringList DestinationHeaders();

// A length as a person reads it on a player: "m:ss", "h:mm:ss" from an hour on; the
// milliseconds are rounded to the nearest second.
QString Clock(int64_t ms);
// The exact length of an entry where its file was read, else its stored whole seconds.
int64_t LengthMs(const SourceFormatInfo& source);

// The selected row, or -1 when nothing is selected or the table is empty.
int SelectedRow(const QTableWidget* table);
// Selects a row the way the program does it: without a selection-change notification.
void SelectRow(QTableWidget* table, int row);
// Removes every row.
void Clear(QTableWidget* table);
// What a row stands for as one text: a file's name, a destination's "IP : PORT" text with its
// TTL, interface and mode.
QString RowText(const QTableWidget* table, int row);
// A destination's whole text: its "IP:PORT" text, and for a multicast group its TTL and
// interface.
QString DestinationRow(const RtpDestination& destination);
// One row per entry, each marked by its Valid flag.
void FillFiles(QTableWidget* table, const std::vector<PlaylistFile>& files);
// Adds the entry's row at the end.
void AppendFile(QTableWidget* table, const PlaylistFile& file, bool valid,
                const std::string& reason = {});
// Writes the row anew from the entry: its cells, and marked as MarkFileRow does.
void ShowFile(QTableWidget* table, int row, const PlaylistFile& file, bool valid,
              const std::string& reason = {});
// One row per destination, each "idle".
void FillDestinations(QTableWidget* table, const std::vector<RtpDestination>& destinations);
// Rebuilds the destination rows unless they show the destinations already; true when it did.
bool SyncDestinations(QTableWidget* table, const std::vector<RtpDestination>& destinations);
// The state cell of a destination's row: "idle", "sending", "left out: ...", "taken by a page".
void SetDestinationState(QTableWidget* table, int row, const QString& state);
// Greys a row whose file cannot be streamed and gives it a warning icon and a tooltip with
// the reason; a valid row looks plain again.
void MarkFileRow(QTableWidget* table, int row, bool valid, const std::string& reason = {});
// Marks the row being streamed (an icon and bold type) or takes the mark off.
void MarkPlaying(QTableWidget* table, int row, bool playing);

}  // namespace rows
