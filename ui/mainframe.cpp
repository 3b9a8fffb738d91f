#include "ui/mainframe.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include "kit/uiseam.h"
#include "ui/commandids.h"
#include "ui/helpfile.h"
#include "ui/lockkeys.h"
#include "ui/sonvexview.h"
#include "ui/theme.h"

namespace {

// The bundled images, not the desktop theme's: a theme may name an icon it cannot draw
// (an SVG without the SVG plugin leaves an empty button), and ours match one another.
struct ToolbarIcon {
    int id;
    const char* image;
};

// Toolbar order; 0 marks a separator.
constexpr ToolbarIcon kToolbar[] = {
    {cmd::ID_FILE_NEW, ":/icons/new.png"},
    {cmd::ID_FILE_OPEN, ":/icons/open.png"},
    {cmd::ID_PLAYLIST_DELETE, ":/icons/delete.png"},
    {0, nullptr},
    {cmd::ID_MOVE_DOWN, ":/icons/movedown.png"},
    {cmd::ID_MOVE_UP, ":/icons/moveup.png"},
    {0, nullptr},
    {cmd::ID_ADD_FILE, ":/icons/addfile.png"},
    {cmd::ID_REMOVE_FILE, ":/icons/removefile.png"},
    {0, nullptr},
    {cmd::ID_ADD_DESTINATION, ":/icons/adddestination.png"},
    {cmd::ID_REMOVE_DESTINATION, ":/icons/removedestination.png"},
    {0, nullptr},
    {cmd::ID_START_STREAMING, ":/icons/start.png"},
    {cmd::ID_STOP, ":/icons/stop.png"},
    {cmd::ID_PAGE, ":/icons/page.png"},
    {0, nullptr},
    {cmd::ID_TOOLS_CONVERT, ":/icons/convert.png"},
    {cmd::ID_VOLUME, ":/icons/volume.png"},
};

// Menu layout; 0 marks a separator.
struct MenuPopup {
    const char* title;
    std::initializer_list<int> items;
};

const MenuPopup kMenus[] = {
    {"&Playlist",
     {cmd::ID_FILE_NEW, cmd::ID_FILE_OPEN, cmd::ID_PLAYLIST_DELETE, 0, cmd::ID_MOVE_DOWN,
      cmd::ID_MOVE_UP, 0, cmd::ID_APP_EXIT}},
    {"&View",
     {cmd::ID_VIEW_TOOLBAR, cmd::ID_VIEW_STATUS_BAR, cmd::ID_VIEW_SOUNDBOARD, 0,
      cmd::ID_THEME_SYSTEM, cmd::ID_THEME_LIGHT, cmd::ID_THEME_DARK}},
    {"&Streaming",
     {cmd::ID_ADD_FILE, cmd::ID_REMOVE_FILE, 0, cmd::ID_ADD_DESTINATION, cmd::ID_REMOVE_DESTINATION,
      0, cmd::ID_START_STREAMING, cmd::ID_STOP, 0, cmd::ID_PAGE, cmd::ID_PAGE_SETTINGS, 0,
      cmd::ID_LOOP_MODE, cmd::ID_ANNOUNCE}},
    {"&Tools", {cmd::ID_TOOLS_CONVERT, cmd::ID_VOLUME}},
    {"&Help", {cmd::ID_HELP_QSV, 0, cmd::ID_APP_ABOUT}},
};

constexpr int kIndicatorPollMs = 500;

QString ReadyText() {
    return QStringLiteral("Ready");
}

CMainFrame::TrayProbe& TrayProbeSlot() {
    static CMainFrame::TrayProbe probe;
    return probe;
}

bool DesktopHasTray() {
    const CMainFrame::TrayProbe& probe = TrayProbeSlot();
    return probe ? probe() : QSystemTrayIcon::isSystemTrayAvailable();
}

}  // namespace

// The images live in this static library; the linker keeps them only when asked by name.
static void InitResources() {
    Q_INIT_RESOURCE(sonvex);
}

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    InitResources();
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    QIcon appIcon(QStringLiteral(":/icons/sonvex16.png"));
    appIcon.addFile(QStringLiteral(":/icons/sonvex32.png"));
    setWindowIcon(appIcon);
    setWindowTitle(uiseam::AppTitle());
    // The window is at least as large as its contents ask; the lists grow with it.

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreateTrayIcon();
    m_bHiddenToTray = false;
    m_help = new HelpLauncher(this);
    connect(m_help, &HelpLauncher::Failed, this,
            [this](const QString& message) { uiseam::MessageBox(this, message); });
    connect(m_help, &HelpLauncher::OpenInside, this, &CMainFrame::ShowHelpInside);

    // The idle refresh: whenever the event loop runs dry, the command states catch up with
    // whatever changed the view (selection clicks, posted progress).
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &CMainFrame::UpdateCommands);
    }
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &CMainFrame::RefreshIndicators);
    poll->start(kIndicatorPollMs);
    RefreshIndicators();
    UpdateCommands();
}

CMainFrame::~CMainFrame() {
    // Children (the view) go after this body; nothing may call into them from here on.
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        disconnect(dispatcher, nullptr, this, nullptr);
    }
    if (statusBar() != nullptr) {
        disconnect(statusBar(), nullptr, this, nullptr);
    }
    m_viewTarget = nullptr;
    m_appTarget = nullptr;
    // The view goes while the frame is whole: its shutdown may still use the frame.
    delete m_view.data();
    if (m_tray != nullptr) {
        m_tray->hide();
    }
}

void CMainFrame::SetView(QWidget* view, cmd::CommandTarget* target) {
    m_view = view;
    m_bHasView = view != nullptr;
    m_viewTarget = target;
    if (view != nullptr) {
        setCentralWidget(view);
    }
    // The main view tells the frame what to show; it never reaches up for it.
    if (auto* main = qobject_cast<CSonvexView*>(view); main != nullptr) {
        connect(main, &CSonvexView::statusTextChanged, this, &CMainFrame::SetMessageText);
        connect(main, &CSonvexView::statusPaneAdded, this, &CMainFrame::AddStatusPane);
        connect(main, &CSonvexView::commandStatesChanged, this, &CMainFrame::UpdateCommands);
        connect(main, &CSonvexView::onAirChanged, this, &CMainFrame::SetOnAir);
        using Gesture = CSonvexView::PageGesture;
        connect(m_pageButton, &QToolButton::pressed, main,
                [main] { main->OnPageButton(Gesture::Press); });
        connect(m_pageButton, &QToolButton::released, main,
                [main] { main->OnPageButton(Gesture::Release); });
        connect(m_pageButton, &QToolButton::clicked, main,
                [main] { main->OnPageButton(Gesture::Click); });
    }
    UpdateCommands();
}

QAction* CMainFrame::Action(int id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::CreateActions() {
    for (const cmd::CommandText& text : cmd::kCommandTexts) {
        auto* action = new QAction(QString::fromUtf8(text.menuText), this);
        action->setStatusTip(QString::fromUtf8(text.prompt));
        action->setToolTip(QString::fromUtf8(text.tooltip));
        action->setData(text.id);
        const int id = text.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        m_actions[id] = action;
    }
    Action(cmd::ID_FILE_NEW)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    Action(cmd::ID_FILE_OPEN)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    Action(cmd::ID_START_STREAMING)->setShortcut(QKeySequence(Qt::Key_F5));
    Action(cmd::ID_STOP)->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
    Action(cmd::ID_HELP_QSV)->setShortcut(QKeySequence(Qt::Key_F1));
    for (const int id :
         {cmd::ID_LOOP_MODE, cmd::ID_PAGE, cmd::ID_VIEW_TOOLBAR, cmd::ID_VIEW_STATUS_BAR,
          cmd::ID_VIEW_SOUNDBOARD, cmd::ID_THEME_SYSTEM, cmd::ID_THEME_LIGHT, cmd::ID_THEME_DARK}) {
        Action(id)->setCheckable(true);
    }
    ShowIcons();

    auto* trayExit = m_trayMenu.addAction(QStringLiteral("E&xit"));
    trayExit->setData(cmd::ID_TRAY_EXIT);
}

void CMainFrame::ShowIcons() {
    // Outlines that read on the window's colour: light ones on a dark palette.
    m_bDarkIcons = theme::IsDark(palette());
    const QString folder =
        m_bDarkIcons ? QStringLiteral(":/icons/dark/") : QStringLiteral(":/icons/");
    for (const ToolbarIcon& icon : kToolbar) {
        if (icon.id != 0) {
            // NAME@2x.png is drawn at 32 pixels for screens of twice the density (and for a
            // toolbar of large icons); Qt would look for it only on such a screen.
            const QString path =
                folder + QString::fromUtf8(icon.image).section(QLatin1Char('/'), -1);
            QIcon image(path);
            image.addFile(QString(path).replace(QStringLiteral(".png"), QStringLiteral("@2x.png")));
            Action(icon.id)->setIcon(image);
            Action(icon.id)->setProperty("iconPath", path);
        }
    }
    if (m_pageButton != nullptr) {
        m_pageButton->setIcon(Action(cmd::ID_PAGE)->icon());
    }
}

void CMainFrame::CreateMenus() {
    for (const MenuPopup& popup : kMenus) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(popup.title));
        for (const int id : popup.items) {
            if (id == 0) {
                menu->addSeparator();
            } else {
                menu->addAction(Action(id));
            }
        }
        // Menus show the states of this moment, not of the last refresh.
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommands);
    }
}

void CMainFrame::CreateToolBar() {
    m_toolBar = new QToolBar(QStringLiteral("Standard"), this);
    m_toolBar->setObjectName(QStringLiteral("toolbar"));
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setMovable(true);
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    for (const ToolbarIcon& icon : kToolbar) {
        if (icon.id == 0) {
            m_toolBar->addSeparator();
        } else if (icon.id == cmd::ID_PAGE) {
            AddPageButton();
        } else {
            m_toolBar->addAction(Action(icon.id));
        }
    }
    addToolBar(Qt::TopToolBarArea, m_toolBar);
}

void CMainFrame::AddPageButton() {
    // Held down to talk, the button must tell its press from its release, which an action
    // cannot: it is a button of its own that looks like the others and follows the Page
    // action's state; the view makes a press, a release or a click mean what the operator
    // chose.
    const QAction* action = Action(cmd::ID_PAGE);
    m_pageButton = new QToolButton(m_toolBar);
    m_pageButton->setObjectName(QStringLiteral("pageButton"));
    m_pageButton->setIcon(action->icon());
    m_pageButton->setToolTip(action->toolTip());
    m_pageButton->setStatusTip(action->statusTip());
    m_pageButton->setCheckable(true);
    m_pageButton->setAutoRaise(true);
    m_pageButton->setFocusPolicy(Qt::NoFocus);
    m_pageButton->setIconSize(m_toolBar->iconSize());
    m_pageButton->setToolButtonStyle(m_toolBar->toolButtonStyle());
    connect(m_toolBar, &QToolBar::iconSizeChanged, m_pageButton, &QToolButton::setIconSize);
    connect(m_toolBar, &QToolBar::toolButtonStyleChanged, m_pageButton,
            &QToolButton::setToolButtonStyle);
    m_toolBar->addWidget(m_pageButton)->setData(cmd::ID_PAGE);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    m_onAirPane = new QLabel(QStringLiteral("ON AIR"), bar);
    m_onAirPane->setObjectName(QStringLiteral("statusOnAir"));
    m_onAirPane->setStyleSheet(QStringLiteral(
        "QLabel { background: #c62828; color: white; font-weight: bold; padding: 0 6px; }"));
    m_onAirPane->hide();
    bar->addWidget(m_onAirPane);
    m_messagePane = new QLabel(ReadyText(), bar);
    bar->addWidget(m_messagePane, 1);
    auto indicator = [bar](const QString& longest) {
        auto* pane = new QLabel(bar);
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pane->setAlignment(Qt::AlignCenter);
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(longest) + 8);
        bar->addPermanentWidget(pane);
        return pane;
    };
    m_capsPane = indicator(QStringLiteral("CAP"));
    m_numPane = indicator(QStringLiteral("NUM"));
    m_scrollPane = indicator(QStringLiteral("SCRL"));
    // Fly-by prompts and the view's texts both pass through here.
    connect(bar, &QStatusBar::messageChanged, this, [this] { UpdateCommands(); });
}

void CMainFrame::AddStatusPane(QWidget* pane) {
    // A permanent widget's index counts the ordinary items (ON AIR, the message) first.
    statusBar()->insertPermanentWidget(2 + m_viewPanes, pane);
    ++m_viewPanes;
}

void CMainFrame::SetTrayProbe(TrayProbe probe) {
    TrayProbeSlot() = std::move(probe);
}

bool CMainFrame::CreateTrayIcon() {
    if (m_tray != nullptr) {
        return true;
    }
    if (!DesktopHasTray()) {
        return false;  // no notification area: the frame works without it
    }
    m_tray = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/sonvex16.png")), this);
    m_tray->setToolTip(QStringLiteral("Quarnel Sonvex"));
    // Queued: the tray menu's own event loop must not run inside the icon's signal.
    connect(m_tray, &QSystemTrayIcon::activated, this, &CMainFrame::OnTrayActivated,
            Qt::QueuedConnection);
    m_tray->show();
    return true;
}

bool CMainFrame::OnCommand(int id) {
    cmd::CommandTarget* viewTarget = ViewTarget();
    bool handled = viewTarget != nullptr && viewTarget->OnCommand(id);
    if (!handled) {
        handled = OnFrameCommand(id);
    }
    if (!handled && m_appTarget != nullptr) {
        handled = m_appTarget->OnCommand(id);
    }
    UpdateCommands();
    return handled;
}

cmd::CommandTarget* CMainFrame::ViewTarget() const {
    // A view that went away early is not asked about commands any more.
    return m_bHasView && m_view.isNull() ? nullptr : m_viewTarget;
}

bool CMainFrame::OnFrameCommand(int id) {
    switch (id) {
        case cmd::ID_APP_EXIT:
            close();
            return true;
        case cmd::ID_VIEW_TOOLBAR:
            m_toolBar->setVisible(m_toolBar->isHidden());
            return true;
        case cmd::ID_VIEW_STATUS_BAR:
            statusBar()->setVisible(statusBar()->isHidden());
            return true;
        case cmd::ID_HELP_QSV:
            OnHelp();
            return true;
        default:
            return false;
    }
}

bool CMainFrame::OnFrameUpdate(int id, cmd::CommandState& state) const {
    switch (id) {
        case cmd::ID_VIEW_TOOLBAR:
            // isHidden, not isVisible: the answer must not depend on the frame being shown.
            state.checked = !m_toolBar->isHidden();
            return true;
        case cmd::ID_VIEW_STATUS_BAR:
            state.checked = !statusBar()->isHidden();
            return true;
        default:
            return false;
    }
}

void CMainFrame::UpdateCommands() {
    if (m_bUpdating) {
        return;  // setEnabled may itself post status changes
    }
    m_bUpdating = true;
    cmd::CommandTarget* viewTarget = ViewTarget();
    for (const auto& [id, action] : m_actions) {
        cmd::CommandState state;
        if (viewTarget == nullptr || !viewTarget->OnUpdateCommand(id, state)) {
            state = cmd::CommandState{};
            OnFrameUpdate(id, state);
        }
        action->setEnabled(state.enabled);
        if (action->isCheckable()) {
            action->setChecked(state.checked);
        }
    }
    // A click toggles the button by itself; the action's state is what counts.
    const QAction* page = Action(cmd::ID_PAGE);
    m_pageButton->setEnabled(page->isEnabled());
    m_pageButton->setChecked(page->isChecked());
    m_bUpdating = false;
}

void CMainFrame::SetMessageText(const QString& text) {
    // The pane keeps the text; a fly-by prompt covers it only while the pointer is on a
    // command, and leaving the command shows it again.
    m_messagePane->setText(text.isEmpty() ? ReadyText() : text);
    UpdateCommands();
}

void CMainFrame::SetOnAir(bool onAir) {
    m_bOnAir = onAir;
    m_onAirPane->setVisible(onAir);
    if (onAir) {
        // The pointer is usually still on the Page button: its prompt goes.
        statusBar()->clearMessage();
    }
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip && m_bOnAir) {
        statusBar()->clearMessage();
        return true;
    }
    return QMainWindow::event(event);
}

QString CMainFrame::MessageText() const {
    const QString message = statusBar()->currentMessage();
    return message.isEmpty() ? m_messagePane->text() : message;
}

void CMainFrame::RefreshIndicators() {
    LockKeyState keys;
    QueryLockKeys(keys);
    m_capsPane->setText(keys.caps ? QStringLiteral("CAP") : QString());
    m_numPane->setText(keys.num ? QStringLiteral("NUM") : QString());
    m_scrollPane->setText(keys.scroll ? QStringLiteral("SCRL") : QString());
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && theme::IsDark(palette()) != m_bDarkIcons) {
        ShowIcons();
    }
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !m_bHiddenToTray) {
        // Hiding inside the state change confuses some window managers; do it right after.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) {
                OnMinimized();
            }
        });
    }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted() && m_tray != nullptr) {
        m_tray->hide();
    }
}

void CMainFrame::OnMinimized() {
    // A notification area can come and go with the desktop's panels: ask now.
    if (!CreateTrayIcon() || !DesktopHasTray()) {
        return;
    }
    hide();
    m_bHiddenToTray = true;
}

void CMainFrame::ShowFromTray() {
    // showNormal also restores a frame that was minimised before it was hidden.
    showNormal();
    raise();
    activateWindow();
    setFocus(Qt::OtherFocusReason);
    m_bHiddenToTray = false;
}

void CMainFrame::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) {
        if (m_bHiddenToTray) {
            ShowFromTray();
        } else {
            hide();
            m_bHiddenToTray = true;
        }
    } else if (reason == QSystemTrayIcon::Context) {
        activateWindow();
        int chosen = 0;
        if (m_trackTrayMenu) {
            chosen = m_trackTrayMenu(m_trayMenu);
        } else if (const QAction* action = m_trayMenu.exec(QCursor::pos())) {
            chosen = action->data().toInt();
        }
        if (chosen == cmd::ID_TRAY_EXIT) {
            // Ends the event loop at once, without the frame's close processing.
            QCoreApplication::exit(0);
        }
    }
}

void CMainFrame::ShowHelpInside(const QString& htmlFile) {
    if (m_helpWindow == nullptr) {
        m_helpWindow = new QWidget(this, Qt::Window);
        m_helpWindow->setObjectName(QStringLiteral("helpWindow"));
        m_helpWindow->setWindowTitle(QStringLiteral("Sonvex help"));
        auto* browser = new QTextBrowser(m_helpWindow);
        browser->setOpenExternalLinks(true);  // the web's pages go to a browser, if one comes
        auto* layout = new QVBoxLayout(m_helpWindow);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(browser);
        auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), m_helpWindow);
        connect(close, &QShortcut::activated, m_helpWindow, &QWidget::close);
        m_helpWindow->resize(760, 600);
    }
    auto* browser = m_helpWindow->findChild<QTextBrowser*>();
    browser->setSource(QUrl::fromLocalFile(htmlFile));
    m_helpWindow->show();
    m_helpWindow->raise();
    m_helpWindow->activateWindow();
}

void CMainFrame::OnHelp() {
    // A request while the desktop is still busy with the previous one adds nothing.
    m_help->Start(QCoreApplication::applicationDirPath());
}
