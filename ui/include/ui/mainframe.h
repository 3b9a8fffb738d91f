#pragma once
// The main window: menu bar, toolbar, status bar with the message pane and the lock-key
// indicators, and the notification-area icon through which the window is hidden, restored
// and the application ended. Every command is one QAction shared by menu and toolbar; a
// triggered command is offered to the view first, then to the frame, then to the
// application, and afterwards every action's enabled/checked state is recomputed. The frame
// is never smaller than the view asks, and a maximised frame gives the view the screen. While
// a page is on the air the status bar says so, and the fly-by prompts of the commands the
// pointer passes over do not cover it. UI thread only.

#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>
#include <map>

#include "ui/commandtarget.h"

class HelpLauncher;
class QAction;
class QLabel;
class QToolBar;
class QToolButton;

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Puts the view in the frame; the frame owns it. target handles the view's commands (the
    // view itself, usually); either may be null.
    void SetView(QWidget* view, cmd::CommandTarget* target);
    // Commands nobody else handles (the About box) go here last.
    void SetAppTarget(cmd::CommandTarget* target) { m_appTarget = target; }

    // The action of a command id; null when the frame has none.
    QAction* Action(int id) const;
    QToolBar* ToolBar() const { return m_toolBar; }
    // The toolbar's Page button: it mirrors the Page action and hands the main view its
    // presses, releases and clicks.
    QToolButton* PageButton() const { return m_pageButton; }
    QMenu& TrayMenu() { return m_trayMenu; }
    // The tray icon, or null where the desktop has no notification area.
    QSystemTrayIcon* TrayIcon() const { return m_tray; }
    // Whether the desktop shows a notification area; asked when the frame is created and
    // again when it is minimised. Tests answer for the desktop before creating a frame.
    using TrayProbe = std::function<bool()>;
    static void SetTrayProbe(TrayProbe probe);
    bool IsHiddenToTray() const { return m_bHiddenToTray; }

    // Routes a command: view, frame, application; then refreshes every action's state.
    // False when nobody handled it.
    bool OnCommand(int id);
    // Recomputes enabled/checked of every action from the view's update handlers.
    void UpdateCommands();
    // Adds a pane of the view's to the status bar, after those added before and ahead of the
    // lock-key indicators, which keep the right edge.
    void AddStatusPane(QWidget* pane);
    // Shows a text in the message pane (the view's status texts; empty is "Ready") until the
    // next one; the command states follow.
    void SetMessageText(const QString& text);
    // The text shown in the message pane right now ("Ready" when idle).
    QString MessageText() const;
    // A page went on the air (true) or ended.
    void SetOnAir(bool onAir);
    bool IsOnAir() const { return m_bOnAir; }

    // The tray icon was clicked: a left click shows or hides the frame, a right click opens
    // the tray menu; double and middle clicks do nothing.
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
    // The frame was minimised. Where the tray icon is shown the frame leaves the screen and
    // the taskbar, and the icon brings it back; elsewhere it stays minimised on the taskbar,
    // since nothing else could bring a hidden frame back.
    void OnMinimized();
    // Where the tray menu is shown; returns the chosen command id or 0. Tests replace it.
    using TrayMenuTracker = std::function<int(QMenu& menu)>;
    void SetTrayMenuTracker(TrayMenuTracker tracker) { m_trackTrayMenu = std::move(tracker); }

    // "QSV help": opens the help file next to the executable in the background; a message
    // follows when nothing opens it.
    void OnHelp();
    // Shows the help's HTML pages in a window of the program's own.
    void ShowHelpInside(const QString& htmlFile);
    HelpLauncher& Help() { return *m_help; }

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    // The toolbar's images for the palette's lightness.
    void ShowIcons();
    void AddPageButton();
    void CreateStatusBar();
    // Creates the tray icon where the desktop has a notification area and none exists yet;
    // true when the icon is there.
    bool CreateTrayIcon();
    bool OnFrameCommand(int id);
    bool OnFrameUpdate(int id, cmd::CommandState& state) const;
    void RefreshIndicators();
    cmd::CommandTarget* ViewTarget() const;
    void ShowFromTray();

    QToolBar* m_toolBar = nullptr;
    QToolButton* m_pageButton = nullptr;
    QLabel* m_messagePane = nullptr;
    QLabel* m_onAirPane = nullptr;
    bool m_bOnAir = false;
    bool m_bDarkIcons = false;
    QLabel* m_capsPane = nullptr;
    QLabel* m_numPane = nullptr;
    QLabel* m_scrollPane = nullptr;
    int m_viewPanes = 0;  // panes the view added, between the message pane and the indicators
    QSystemTrayIcon* m_tray = nullptr;
    QMenu m_trayMenu;
    HelpLauncher* m_help = nullptr;
    // The help's pages shown by the program itself, when no application opens them.
    QWidget* m_helpWindow = nullptr;
    bool m_bHiddenToTray = false;

    std::map<int, QAction*> m_actions;
    QPointer<QWidget> m_view;
    bool m_bHasView = false;
    cmd::CommandTarget* m_viewTarget = nullptr;
    cmd::CommandTarget* m_appTarget = nullptr;
    TrayMenuTracker m_trackTrayMenu;
    bool m_bUpdating = false;
};
