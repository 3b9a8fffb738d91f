#pragma once
// The centred button row the playlist, source and destination dialogs end with: the accepting
// button (the default) and Cancel, wired to the dialog's accept and reject.

#include <QString>

class QDialog;
class QHBoxLayout;

// The row, for the caller to add to its layout; the buttons are children of `dialog`.
QHBoxLayout* MakeDialogButtonRow(QDialog* dialog, const QString& acceptText);
