#pragma once
// Command identifiers shared by the menu, the toolbar and the handlers, with the texts of
// their menu items, status-bar prompts and tooltips. One QAction per identifier.

#include <QString>

namespace cmd {

constexpr int ID_FILE_NEW = 57600;            // "&New..."         (view)
constexpr int ID_FILE_OPEN = 57601;           // "&Open..."        (view)
constexpr int ID_PLAYLIST_DELETE = 32790;     // "De&lete..."      (view)
constexpr int ID_MOVE_DOWN = 32817;           // "Move &down"      (view)
constexpr int ID_MOVE_UP = 32818;             // "Move &up"        (view)
constexpr int ID_APP_EXIT = 57665;            // "E&xit"           (frame: close)
constexpr int ID_VIEW_TOOLBAR = 59392;        // "&Toolbar"        (frame)
constexpr int ID_VIEW_STATUS_BAR = 59393;     // "&Status Bar"     (frame)
constexpr int ID_ADD_FILE = 32786;            // "Add &file to playlist..."   (view)
constexpr int ID_REMOVE_FILE = 32787;         // "R&emove file from playlist" (view)
constexpr int ID_ADD_DESTINATION = 32773;     // "Add &RTP destination..."    (view)
constexpr int ID_REMOVE_DESTINATION = 32774;  // "Re&move RTP destination"    (view)
constexpr int ID_START_STREAMING = 32775;     // "&Start streaming"           (view)
constexpr int ID_STOP = 32777;                // "S&top"                      (view)
constexpr int ID_LOOP_MODE = 32776;           // "&Loop mode"                 (view, checkable)
constexpr int ID_TOOLS_CONVERT = 32815;       // "&Convert..."                (view)
constexpr int ID_VOLUME = 32822;              // "&Volume adjustment"         (view)
constexpr int ID_ANNOUNCE = 32830;            // "&Announcements and reports..." (view)
constexpr int ID_PAGE = 32831;                // "&Page"                      (view, checkable)
constexpr int ID_PAGE_SETTINGS = 32832;       // "Page settin&gs..."          (view)
constexpr int ID_HELP_QSV = 32813;            // "QSV &help", F1                (frame)
constexpr int ID_APP_ABOUT = 57664;           // "&About Sonvex..."           (application)
constexpr int ID_TRAY_EXIT = 32814;           // tray menu "E&xit"
constexpr int ID_VIEW_SOUNDBOARD = 32840;     // "Sound&board"                (view, checkable)
constexpr int ID_THEME_SYSTEM = 32841;        // the theme: the system's, light or dark
constexpr int ID_THEME_LIGHT = 32842;         // (view, checkable, one of the three)
constexpr int ID_THEME_DARK = 32843;

struct CommandText {
    int id;
    const char* menuText;
    const char* prompt;   // status-bar prompt; empty for none
    const char* tooltip;  // empty for none
};

// The system's own prompts and tooltips ("Remove  file" keeps its two blanks).
inline constexpr CommandText kCommandTexts[] = {
    {ID_FILE_NEW, "&New...", "New playlist", "New playlist"},
    {ID_FILE_OPEN, "&Open...", "Open playlist", "Open playlist"},
    {ID_PLAYLIST_DELETE, "De&lete...", "Delete playlist", "Delete playlist"},
    {ID_MOVE_DOWN, "Move &down", "Move the file down", "Move the file down"},
    {ID_MOVE_UP, "Move &up", "Move the file up", "Move the file up"},
    {ID_APP_EXIT, "E&xit", "Quit the application", "Exit"},
    {ID_VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar", "Toggle ToolBar"},
    {ID_VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar", "Toggle StatusBar"},
    {ID_ADD_FILE, "Add &file to playlist...", "Add file to playlist", "Add file to playlist"},
    {ID_REMOVE_FILE, "R&emove file from playlist", "Remove  file from playlist",
     "Remove  file from playlist"},
    {ID_ADD_DESTINATION, "Add &RTP destination...", "Add RTP destination", "Add RTP destination"},
    {ID_REMOVE_DESTINATION, "Re&move RTP destination", "Remove RTP destination",
     "Remove RTP destination"},
    {ID_START_STREAMING, "&Start streaming", "Start streaming", "Start streaming"},
    {ID_STOP, "S&top", "Stop streaming", "Stop streaming"},
    {ID_PAGE, "&Page", "Page live from the capture device to the playlist's destinations", "Page"},
    {ID_PAGE_SETTINGS, "Page settin&gs...",
     "Capture device, hold or toggle, encoding and packet time of a page", ""},
    {ID_LOOP_MODE, "&Loop mode", "", ""},
    {ID_ANNOUNCE, "&Announcements and reports...", "SAP announcements and RTCP reports", ""},
    {ID_TOOLS_CONVERT, "&Convert...", "Convert file", "Convert file"},
    {ID_VOLUME, "&Volume adjustment", "Volume adjustment", "Volume adjustment"},
    {ID_HELP_QSV, "QSV &help", "", ""},
    {ID_VIEW_SOUNDBOARD, "Sound&board",
     "Show or hide the buttons that play the announcement playlists", ""},
    {ID_THEME_SYSTEM, "Theme of the s&ystem", "Look as the desktop does, light or dark", ""},
    {ID_THEME_LIGHT, "&Light theme", "Dark text on a light window", ""},
    {ID_THEME_DARK, "&Dark theme", "Light text on a dark window", ""},
    {ID_APP_ABOUT, "&About Sonvex...", "Display program information, version number and copyright",
     "About"},
};

}  // namespace cmd
