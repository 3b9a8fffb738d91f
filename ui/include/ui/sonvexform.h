#pragma once
// The main form's controls: the playlist's files as a table above the selected file's two
// text panes, the RTP destinations as a table beside them (a splitter between), and the
// progress area below with the time elapsed and remaining, the "ON AIR" sign of a page, and
// the elapsed seconds. Laid out to fit half a laptop's screen and to use a maximised window.
// Built on the view, whose children they are. UI thread only.

class PlaylistTable;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QSplitter;
class QWidget;

struct SonvexForm {
    PlaylistTable* fileList = nullptr;
    QPlainTextEdit* description = nullptr;  // media description or "Invalid file"
    QPlainTextEdit* settings = nullptr;     // output settings of the selected file
    PlaylistTable* destinationList = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* elapsedClock = nullptr;    // "m:ss" into the file
    QLabel* remainingClock = nullptr;  // "-m:ss" of the file left
    QLabel* onAir = nullptr;           // shown while a page runs
    QLineEdit* elapsed = nullptr;      // "Time elapsed (seconds)"
    QSplitter* splitter = nullptr;     // files | destinations
};

// Creates the controls as children of `view`, in its layout, and gives it its smallest size.
SonvexForm BuildSonvexForm(QWidget* view);
