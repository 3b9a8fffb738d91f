#pragma once
// The rows of the main form's two lists: row i of the file list shows entry i of the open
// playlist, row i of the destination list its destination i. Rows change here without the
// lists' selection-change notifications. UI thread only.

#include <QString>
#include <string>
#include <vector>

#include "playlist/playlist.h"

class QListWidget;

namespace rows {

// The selected row, or -1 when nothing is selected or the list is empty.
int SelectedRow(const QListWidget* list);
// Selects a row the way the program does it: without a selection-change notification.
void SelectRow(QListWidget* list, int row);
// Removes every row.
void Clear(QListWidget* list);
// A destination's row: its "IP:PORT" text, and for a multicast group its TTL and interface.
QString DestinationRow(const RtpDestination& destination);
// One row per entry, each marked by its Valid flag.
void FillFiles(QListWidget* list, const std::vector<PlaylistFile>& files);
// One row per destination.
void FillDestinations(QListWidget* list, const std::vector<RtpDestination>& destinations);
// Rebuilds the destination rows unless they show the destinations already; true when it did.
bool SyncDestinations(QListWidget* list, const std::vector<RtpDestination>& destinations);
// Greys a row whose file cannot be streamed and gives it a warning icon and a tooltip with
// the reason; a valid row looks plain again.
void MarkFileRow(QListWidget* list, int row, bool valid, const std::string& reason = {});

}  // namespace rows
