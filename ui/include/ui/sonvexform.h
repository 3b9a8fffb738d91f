#pragma once
// The main form's controls, placed as the form was designed in dialog units: the playlist
// files with the selected file's two text panes, the RTP destinations, and the progress
// area. Built on the view, whose children they are. UI thread only.

class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QWidget;

struct SonvexForm {
    QListWidget* fileList = nullptr;
    QPlainTextEdit* description = nullptr;  // media description or "Invalid file"
    QPlainTextEdit* settings = nullptr;     // output settings of the selected file
    QListWidget* destinationList = nullptr;
    QProgressBar* progress = nullptr;
    QLineEdit* elapsed = nullptr;  // "Time elapsed (seconds)"
    // The frames and the label around them, which move and grow with the form.
    QWidget* filesBox = nullptr;
    QWidget* destinationsBox = nullptr;
    QWidget* progressBox = nullptr;
    QWidget* elapsedLabel = nullptr;
};

// Creates the controls as children of `view` and gives it the form's size as its smallest.
SonvexForm BuildSonvexForm(QWidget* view);
