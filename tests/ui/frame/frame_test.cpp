// The main frame: menus, toolbar, prompts, accelerators, sizing, command routing and
// updating, the tray toggle and tray menu, and how help is looked for and opened.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLayout>
#include <QMenuBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <map>
#include <set>
#include <vector>

#include "kit/uiseam.h"
#include "sonvex/buildconfig.h"
#include "ui/commandids.h"
#include "ui/helpfile.h"
#include "ui/mainframe.h"

namespace {

// A stand-in form that records the commands offered to it and rules the states it is told.
class RecordingView : public QWidget, public cmd::CommandTarget {
public:
    RecordingView() { setMinimumSize(300, 200); }
    bool OnCommand(int id) override {
        offered.push_back(id);
        return handles.count(id) != 0;
    }
    bool OnUpdateCommand(int id, cmd::CommandState& state) override {
        ++updates;
        const auto it = states.find(id);
        if (it == states.end()) {
            return false;
        }
        state = it->second;
        return true;
    }
    std::vector<int> offered;
    std::map<int, bool> handles;
    std::map<int, cmd::CommandState> states;
    int updates = 0;
};

class RecordingApp : public cmd::CommandTarget {
public:
    bool OnCommand(int id) override {
        offered.push_back(id);
        return id == cmd::ID_APP_ABOUT;
    }
    bool OnUpdateCommand(int, cmd::CommandState&) override { return false; }
    std::vector<int> offered;
};

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        view = new RecordingView;
        frame.SetView(view, view);
        frame.SetAppTarget(&app);
    }
    // The id behind each entry of a widget's action list, 0 for a separator.
    static std::vector<int> Ids(const QList<QAction*>& actions) {
        std::vector<int> ids;
        for (const QAction* action : actions) {
            ids.push_back(action->isSeparator() ? 0 : action->data().toInt());
        }
        return ids;
    }

    CMainFrame frame;
    RecordingView* view = nullptr;
    RecordingApp app;
};

TEST_F(FrameTest, MenusHaveTheirItemsInOrder) {
    using namespace cmd;
    const std::vector<std::pair<QString, std::vector<int>>> expected = {
        {QStringLiteral("&Playlist"),
         {ID_FILE_NEW, ID_FILE_OPEN, ID_PLAYLIST_DELETE, 0, ID_MOVE_DOWN, ID_MOVE_UP, 0,
          ID_APP_EXIT}},
        {QStringLiteral("&View"),
         {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, ID_VIEW_SOUNDBOARD, 0, ID_THEME_SYSTEM,
          ID_THEME_LIGHT, ID_THEME_DARK}},
        {QStringLiteral("&Streaming"),
         {ID_ADD_FILE, ID_REMOVE_FILE, 0, ID_ADD_DESTINATION, ID_REMOVE_DESTINATION, 0,
          ID_START_STREAMING, ID_STOP, 0, ID_PAGE, ID_PAGE_SETTINGS, 0, ID_LOOP_MODE, ID_ANNOUNCE}},
        {QStringLiteral("&Tools"), {ID_TOOLS_CONVERT, ID_VOLUME}},
        {QStringLiteral("&Help"), {ID_HELP_QSV, 0, ID_APP_ABOUT}},
    };
    const QList<QAction*> menus = frame.menuBar()->actions();
    ASSERT_EQ(menus.size(), static_cast<qsizetype>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        const QAction* popup = menus[static_cast<qsizetype>(i)];
        EXPECT_EQ(popup->text(), expected[i].first);
        ASSERT_NE(popup->menu(), nullptr);
        EXPECT_EQ(Ids(popup->menu()->actions()), expected[i].second) << i;
    }
}

TEST_F(FrameTest, EveryMenuItemHasItsOwnMnemonicAndF1OpensTheHelp) {
    const std::map<int, QString> texts = {
        {cmd::ID_FILE_NEW, QStringLiteral("&New...")},
        {cmd::ID_FILE_OPEN, QStringLiteral("&Open...")},
        {cmd::ID_PLAYLIST_DELETE, QStringLiteral("De&lete...")},
        {cmd::ID_MOVE_DOWN, QStringLiteral("Move &down")},
        {cmd::ID_APP_EXIT, QStringLiteral("E&xit")},
        {cmd::ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar")},
        {cmd::ID_REMOVE_FILE, QStringLiteral("R&emove file from playlist")},
        {cmd::ID_REMOVE_DESTINATION, QStringLiteral("Re&move RTP destination")},
        {cmd::ID_STOP, QStringLiteral("S&top")},
        {cmd::ID_HELP_QSV, QStringLiteral("QSV &help")},
        {cmd::ID_APP_ABOUT, QStringLiteral("&About Sonvex...")},
    };
    for (const auto& [id, text] : texts) {
        ASSERT_NE(frame.Action(id), nullptr) << id;
        EXPECT_EQ(frame.Action(id)->text(), text) << id;
    }
    // Alt and one letter reach every item; no two items of a menu share the letter.
    for (const QAction* popup : frame.menuBar()->actions()) {
        std::set<QChar> letters;
        for (const QAction* item : popup->menu()->actions()) {
            if (item->isSeparator()) {
                continue;
            }
            const QString text = item->text();
            const qsizetype amp = text.indexOf(QLatin1Char('&'));
            ASSERT_TRUE(amp >= 0 && amp + 1 < text.size()) << text.toStdString();
            EXPECT_TRUE(letters.insert(text[amp + 1].toLower()).second) << text.toStdString();
        }
    }
    EXPECT_EQ(frame.Action(cmd::ID_HELP_QSV)->shortcut(), QKeySequence(Qt::Key_F1));
}

TEST_F(FrameTest, ToolbarHasFourteenButtonsAndFiveSeparators) {
    using namespace cmd;
    // The buttons in their groups; a separator stands between two groups.
    const std::vector<std::vector<int>> groups = {{ID_FILE_NEW, ID_FILE_OPEN, ID_PLAYLIST_DELETE},
                                                  {ID_MOVE_DOWN, ID_MOVE_UP},
                                                  {ID_ADD_FILE, ID_REMOVE_FILE},
                                                  {ID_ADD_DESTINATION, ID_REMOVE_DESTINATION},
                                                  {ID_START_STREAMING, ID_STOP, ID_PAGE},
                                                  {ID_TOOLS_CONVERT, ID_VOLUME}};
    std::vector<int> expected;
    for (const std::vector<int>& group : groups) {
        if (!expected.empty()) {
            expected.push_back(0);
        }
        expected.insert(expected.end(), group.begin(), group.end());
    }
    const QList<QAction*> actions = frame.ToolBar()->actions();
    EXPECT_EQ(Ids(actions), expected);
    EXPECT_EQ(frame.ToolBar()->iconSize(), QSize(16, 16));
    // Page is a button of its own (it tells a press from a release) with the action's face.
    ASSERT_NE(frame.PageButton(), nullptr);
    EXPECT_FALSE(frame.PageButton()->icon().pixmap(16, 16).isNull());
    EXPECT_EQ(frame.PageButton()->statusTip(), frame.Action(ID_PAGE)->statusTip());
    EXPECT_TRUE(frame.Action(ID_PAGE)->isCheckable());
    for (const QAction* action : actions) {
        if (!action->isSeparator() && action->data().toInt() != ID_PAGE) {
            // An icon that cannot draw at 16 x 16 leaves an empty button.
            EXPECT_FALSE(action->icon().pixmap(16, 16).isNull()) << action->data().toInt();
            // Menu and toolbar share the one action of each command.
            EXPECT_EQ(action, frame.Action(action->data().toInt()));
        }
    }
}

TEST_F(FrameTest, PromptsAndTooltipsComeFromTheTable) {
    const std::map<int, QString> own = {
        {cmd::ID_FILE_NEW, QStringLiteral("New playlist")},
        {cmd::ID_FILE_OPEN, QStringLiteral("Open playlist")},
        {cmd::ID_PLAYLIST_DELETE, QStringLiteral("Delete playlist")},
        {cmd::ID_MOVE_DOWN, QStringLiteral("Move the file down")},
        {cmd::ID_MOVE_UP, QStringLiteral("Move the file up")},
        {cmd::ID_ADD_FILE, QStringLiteral("Add file to playlist")},
        {cmd::ID_REMOVE_FILE, QStringLiteral("Remove  file from playlist")},
        {cmd::ID_ADD_DESTINATION, QStringLiteral("Add RTP destination")},
        {cmd::ID_REMOVE_DESTINATION, QStringLiteral("Remove RTP destination")},
        {cmd::ID_START_STREAMING, QStringLiteral("Start streaming")},
        {cmd::ID_STOP, QStringLiteral("Stop streaming")},
        {cmd::ID_TOOLS_CONVERT, QStringLiteral("Convert file")},
        {cmd::ID_VOLUME, QStringLiteral("Volume adjustment")},
    };
    for (const auto& [id, text] : own) {
        EXPECT_EQ(frame.Action(id)->statusTip(), text) << id;
        EXPECT_EQ(frame.Action(id)->toolTip(), text) << id;
    }
    EXPECT_TRUE(frame.Action(cmd::ID_LOOP_MODE)->statusTip().isEmpty());
    EXPECT_TRUE(frame.Action(cmd::ID_HELP_QSV)->statusTip().isEmpty());
}

TEST_F(FrameTest, KeysBindNewOpenStartStopAndHelp) {
    int bound = 0;
    for (QAction* action : frame.findChildren<QAction*>()) {
        if (!action->shortcut().isEmpty()) {
            ++bound;
        }
    }
    EXPECT_EQ(bound, 5);
    EXPECT_EQ(frame.Action(cmd::ID_FILE_NEW)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    EXPECT_EQ(frame.Action(cmd::ID_FILE_OPEN)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    // The menu items show the keys beside their texts.
    EXPECT_EQ(frame.Action(cmd::ID_START_STREAMING)->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(frame.Action(cmd::ID_STOP)->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F5));
}

TEST_F(FrameTest, FrameResizesAndMaximisesButNeverGoesBelowItsForm) {
    frame.show();
    QApplication::processEvents();
    EXPECT_TRUE(frame.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(frame.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    const QSize fitted = frame.size();
    frame.resize(fitted + QSize(200, 100));
    QApplication::processEvents();
    EXPECT_EQ(frame.size(), fitted + QSize(200, 100));
    frame.resize(fitted);
    QApplication::processEvents();
    // The frame follows the view: a larger form gives a larger frame.
    view->setMinimumSize(500, 400);
    QApplication::processEvents();
    frame.layout()->activate();
    EXPECT_GT(frame.size().width(), fitted.width());
}

TEST_F(FrameTest, CommandsGoToTheViewFirstThenFrameThenApplication) {
    view->handles[cmd::ID_ADD_FILE] = true;
    EXPECT_TRUE(frame.OnCommand(cmd::ID_ADD_FILE));
    EXPECT_EQ(view->offered, std::vector<int>{cmd::ID_ADD_FILE});
    EXPECT_TRUE(app.offered.empty());

    // The view does not claim the toolbar command: the frame toggles the bar.
    ASSERT_FALSE(frame.ToolBar()->isHidden());
    EXPECT_TRUE(frame.OnCommand(cmd::ID_VIEW_TOOLBAR));
    EXPECT_TRUE(frame.ToolBar()->isHidden());
    EXPECT_FALSE(frame.Action(cmd::ID_VIEW_TOOLBAR)->isChecked());
    frame.Action(cmd::ID_VIEW_TOOLBAR)->trigger();
    EXPECT_FALSE(frame.ToolBar()->isHidden());
    EXPECT_TRUE(frame.Action(cmd::ID_VIEW_TOOLBAR)->isChecked());
    EXPECT_TRUE(app.offered.empty());

    EXPECT_TRUE(frame.OnCommand(cmd::ID_APP_ABOUT));
    EXPECT_EQ(app.offered, std::vector<int>{cmd::ID_APP_ABOUT});
    EXPECT_EQ(view->offered.back(), cmd::ID_APP_ABOUT);

    // A command nobody takes is reported unhandled.
    EXPECT_FALSE(frame.OnCommand(cmd::ID_TRAY_EXIT));
}

TEST_F(FrameTest, StatesFollowTheViewAfterHandlersAndStatusMessages) {
    view->states[cmd::ID_REMOVE_FILE] = {false, false};
    view->states[cmd::ID_LOOP_MODE] = {true, true};
    view->handles[cmd::ID_ADD_FILE] = true;
    frame.OnCommand(cmd::ID_ADD_FILE);
    EXPECT_FALSE(frame.Action(cmd::ID_REMOVE_FILE)->isEnabled());
    EXPECT_TRUE(frame.Action(cmd::ID_LOOP_MODE)->isChecked());

    view->states[cmd::ID_REMOVE_FILE] = {true, false};
    view->states[cmd::ID_LOOP_MODE] = {true, false};
    frame.SetMessageText(QStringLiteral("Streaming: a.wav"));
    EXPECT_TRUE(frame.Action(cmd::ID_REMOVE_FILE)->isEnabled());
    EXPECT_FALSE(frame.Action(cmd::ID_LOOP_MODE)->isChecked());

    // A text put straight into the status bar refreshes the states too.
    view->states[cmd::ID_REMOVE_FILE] = {false, false};
    frame.statusBar()->showMessage(QStringLiteral("x"));
    EXPECT_FALSE(frame.Action(cmd::ID_REMOVE_FILE)->isEnabled());

    // The Page button shows the action's state, not what a click made of it.
    QToolButton* page = frame.PageButton();
    view->states[cmd::ID_PAGE] = {true, false};
    frame.UpdateCommands();
    EXPECT_TRUE(page->isEnabled());
    page->click();
    EXPECT_TRUE(page->isChecked());  // by itself
    frame.UpdateCommands();
    EXPECT_FALSE(page->isChecked());
    view->states[cmd::ID_PAGE] = {true, true};
    frame.UpdateCommands();
    EXPECT_TRUE(page->isChecked());
    view->states[cmd::ID_PAGE] = {false, false};
    frame.UpdateCommands();
    EXPECT_FALSE(page->isEnabled());
    EXPECT_FALSE(page->isChecked());
}

TEST_F(FrameTest, MessagePaneKeepsItsTextUnderFlyByPrompts) {
    EXPECT_EQ(frame.MessageText(), QStringLiteral("Ready"));
    const QString failed = QStringLiteral("Failed to stream, check the file and audio codecs");
    frame.SetMessageText(failed);
    EXPECT_EQ(frame.MessageText(), failed);
    // The pointer passes over a toolbar button and leaves it.
    frame.statusBar()->showMessage(QStringLiteral("Add file to playlist"));
    EXPECT_EQ(frame.MessageText(), QStringLiteral("Add file to playlist"));
    frame.statusBar()->clearMessage();
    EXPECT_EQ(frame.MessageText(), failed);
    frame.SetMessageText(QString());
    EXPECT_EQ(frame.MessageText(), QStringLiteral("Ready"));
}

TEST_F(FrameTest, StatesSurviveTheViewGoingFirst) {
    delete view;
    view = nullptr;
    frame.UpdateCommands();  // must not reach the deleted view
    EXPECT_TRUE(frame.Action(cmd::ID_ADD_FILE)->isEnabled());
    EXPECT_FALSE(frame.OnCommand(cmd::ID_ADD_FILE));
}

TEST_F(FrameTest, LeftClicksOnTheTrayIconToggleTheFrame) {
    frame.show();
    ASSERT_FALSE(frame.IsHiddenToTray());
    frame.OnTrayActivated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(frame.IsHiddenToTray());
    EXPECT_FALSE(frame.isVisible());
    frame.OnTrayActivated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(frame.IsHiddenToTray());
    EXPECT_TRUE(frame.isVisible());
}

// Lets the frame's deferred reaction to a minimise run.
void SettleMinimise(CMainFrame& frame) {
    for (int i = 0; i < 5 && !frame.IsHiddenToTray(); ++i) {
        QApplication::processEvents();
    }
}

// Hiding is for a frame whose tray icon can bring it back; without one the minimised frame
// stays on the taskbar.
TEST_F(FrameTest, MinimisingHidesToTheTrayOnlyWhereTheIconExists) {
    ASSERT_EQ(frame.TrayIcon(), nullptr);  // the offscreen desktop has no notification area
    frame.show();
    QApplication::processEvents();
    frame.setWindowState(Qt::WindowMinimized);
    SettleMinimise(frame);
    frame.OnMinimized();
    EXPECT_FALSE(frame.IsHiddenToTray());
    EXPECT_TRUE(frame.isVisible());
    EXPECT_TRUE(frame.isMinimized());

    CMainFrame::SetTrayProbe([] { return true; });
    struct ProbeReset {
        ~ProbeReset() { CMainFrame::SetTrayProbe({}); }
    } reset;
    CMainFrame trayed;
    ASSERT_NE(trayed.TrayIcon(), nullptr);
    trayed.show();
    QApplication::processEvents();
    trayed.setWindowState(Qt::WindowMinimized);
    SettleMinimise(trayed);
    EXPECT_TRUE(trayed.IsHiddenToTray());
    EXPECT_FALSE(trayed.isVisible());
    trayed.OnTrayActivated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(trayed.isVisible());
    EXPECT_FALSE(trayed.isMinimized());
    EXPECT_FALSE(trayed.IsHiddenToTray());
}

TEST_F(FrameTest, OtherClicksOnTheTrayIconAreIgnored) {
    frame.show();
    int tracked = 0;
    frame.SetTrayMenuTracker([&](QMenu&) {
        ++tracked;
        return 0;
    });
    for (const auto reason :
         {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown}) {
        frame.OnTrayActivated(reason);
    }
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(frame.IsHiddenToTray());
    EXPECT_EQ(tracked, 0);
}

TEST_F(FrameTest, TheTrayIconsClickReachesTheHandlerOnceTheSignalReturns) {
    CMainFrame::SetTrayProbe([] { return true; });
    struct ProbeReset {
        ~ProbeReset() { CMainFrame::SetTrayProbe({}); }
    } reset;
    CMainFrame trayed;
    ASSERT_NE(trayed.TrayIcon(), nullptr);
    trayed.show();
    Q_EMIT trayed.TrayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(trayed.IsHiddenToTray());
    QApplication::processEvents();
    EXPECT_TRUE(trayed.IsHiddenToTray());
}

TEST_F(FrameTest, TrayMenuHoldsOnlyExit) {
    const QList<QAction*> items = frame.TrayMenu().actions();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0]->text(), QStringLiteral("E&xit"));
    EXPECT_EQ(items[0]->data().toInt(), cmd::ID_TRAY_EXIT);
}

// Runs the event loop with a right click on the tray whose menu answers `chosen`; returns the
// loop's exit code (7 when nothing ended it).
int RunTrayMenu(CMainFrame& frame, int chosen) {
    frame.SetTrayMenuTracker([chosen](QMenu&) { return chosen; });
    QTimer::singleShot(0, &frame, [&frame] { frame.OnTrayActivated(QSystemTrayIcon::Context); });
    QTimer::singleShot(300, &frame, [] { QCoreApplication::exit(7); });
    return QApplication::exec();
}

TEST_F(FrameTest, TrayExitEndsTheEventLoopWithCodeZero) {
    frame.show();
    EXPECT_EQ(RunTrayMenu(frame, cmd::ID_TRAY_EXIT), 0);
    // The quit bypasses the close: the frame is still there.
    EXPECT_TRUE(frame.isVisible());
}

TEST_F(FrameTest, DismissedTrayMenuDoesNothing) {
    frame.show();
    EXPECT_EQ(RunTrayMenu(frame, 0), 7);
    EXPECT_TRUE(frame.isVisible());
}

TEST_F(FrameTest, ExitClosesTheFrame) {
    frame.show();
    frame.Action(cmd::ID_APP_EXIT)->trigger();
    EXPECT_FALSE(frame.isVisible());
}

// Help -----------------------------------------------------------------------------------

// Writes an executable shell script.
QString Script(const QTemporaryDir& dir, const QString& name, const QString& body) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("#!/bin/sh\n%1\n").arg(body).toUtf8());
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return path;
}

// An installed program finds the help in the data folder reached from its own folder; a build
// folder's help beside the executable still comes first.
TEST(HelpFile, InstalledHelpFoundFromTheExecutablesFolder) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString bin = root.filePath(QStringLiteral("prefix/bin"));
    const QString help =
        QDir::cleanPath(bin + QLatin1Char('/') + QString::fromLatin1(sonvex::kHelpDirFromBin));
    if (!help.startsWith(root.path() + QLatin1Char('/'))) {
        GTEST_SKIP() << "help folder configured outside the prefix: " << help.toStdString();
    }
    ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(help));
    const auto touch = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly);
    };
    ASSERT_TRUE(touch(help + QStringLiteral("/qsvhelp.chm")));
    ASSERT_TRUE(touch(help + QStringLiteral("/index.html")));

    EXPECT_EQ(helpfile::CompiledHelpPath(bin), help + QStringLiteral("/qsvhelp.chm"));
    EXPECT_EQ(helpfile::HelpCandidates(bin, false).value(0), help + QStringLiteral("/index.html"));

    ASSERT_TRUE(touch(bin + QStringLiteral("/qsvhelp.chm")));
    ASSERT_TRUE(QDir(bin).mkdir(QStringLiteral("help")));
    ASSERT_TRUE(touch(bin + QStringLiteral("/help/index.html")));
    EXPECT_EQ(helpfile::CompiledHelpPath(bin), bin + QStringLiteral("/qsvhelp.chm"));
    EXPECT_EQ(helpfile::HtmlHelpPath(bin), bin + QStringLiteral("/help/index.html"));
}

void Touch(const QString& path, const QByteArray& content = QByteArray()) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QStringList Lines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The desktop is asked in the background: Start returns while the opener still works; the
// files go to it in turn, and when none is taken the operator is told which.
TEST(HelpLauncherTest, OffersTheFilesInTurnWithoutWaitingAndSaysWhenNoneOpens) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(helpfile::HelpCandidates(dir.path(), true).isEmpty());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("help")));
    const QString chm = dir.filePath(QStringLiteral("qsvhelp.chm"));
    const QString html = dir.filePath(QStringLiteral("help/index.html"));
    Touch(chm);
    Touch(html);
    EXPECT_EQ(helpfile::HelpCandidates(dir.path(), true), QStringList({chm, html}));

    // The query names a viewer only when the file "viewer" exists; the opener notes each
    // file and ends with the code in "answer" once there is one.
    const QString viewer = dir.filePath(QStringLiteral("viewer"));
    const QString answer = dir.filePath(QStringLiteral("answer"));
    const QString offered = dir.filePath(QStringLiteral("offered"));
    const QString query = Script(dir, QStringLiteral("query"),
                                 QStringLiteral("cat '%1' 2>/dev/null; exit 0").arg(viewer));
    const QString opener =
        Script(dir, QStringLiteral("opener"),
               QStringLiteral("echo \"$1\" >> '%1'\nwhile [ ! -f '%2' ]; do sleep 0.05; done\n"
                              "exit $(cat '%2')")
                   .arg(offered, answer));

    HelpLauncher launcher;
    launcher.SetPrograms(query, opener);
    QSignalSpy opened(&launcher, &HelpLauncher::Opened);
    QSignalSpy failed(&launcher, &HelpLauncher::Failed);
    ASSERT_TRUE(launcher.Start(dir.path()));
    EXPECT_TRUE(launcher.IsBusy());
    EXPECT_FALSE(launcher.Start(dir.path()));  // one request at a time
    QElapsedTimer waited;
    waited.start();
    while (Lines(offered).isEmpty() && waited.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    // Without a known viewer the pages go first; the opener is still at work.
    EXPECT_EQ(Lines(offered), QStringList{html});
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(failed.isEmpty());

    // When no application takes either, the program shows the pages itself.
    QSignalSpy inside(&launcher, &HelpLauncher::OpenInside);
    Touch(answer, "4");
    ASSERT_TRUE(inside.wait(20000));
    EXPECT_EQ(Lines(offered), QStringList({html, chm}));
    EXPECT_EQ(inside.front().front().toString(), html);
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_FALSE(launcher.IsBusy());

    // Without the pages, the operator is told which files nothing opens.
    QFile::remove(html);
    QFile::remove(offered);
    ASSERT_TRUE(launcher.Start(dir.path()));
    ASSERT_TRUE(failed.wait(20000));
    EXPECT_EQ(failed.front().front().toString(),
              QStringLiteral("The help could not be opened: no application on this system "
                             "opens %1.")
                  .arg(chm));
    failed.clear();
    Touch(html);

    // A known viewer gets the compiled help, and an opener that takes it ends the search.
    Touch(viewer, "viewer.desktop\n");
    Touch(answer, "0");
    QFile::remove(offered);
    ASSERT_TRUE(launcher.Start(dir.path()));
    ASSERT_TRUE(opened.wait(20000));
    EXPECT_EQ(opened.front().front().toString(), chm);
    EXPECT_EQ(Lines(offered), QStringList{chm});
    EXPECT_TRUE(failed.isEmpty());
}

TEST_F(FrameTest, HelpLooksInTheExecutablesFolderAndSaysWhenThereIsNone) {
    QStringList messages;
    uiseam::SetMessageHandler([&messages](const QString& text, const QString&, unsigned) {
        messages << text;
        return uiseam::IDOK;
    });
    const QString before = QDir::currentPath();
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));
    Touch(elsewhere.filePath(QStringLiteral("qsvhelp.chm")));
    frame.Action(cmd::ID_HELP_QSV)->trigger();
    QDir::setCurrent(before);
    uiseam::SetMessageHandler({});

    // The test's folder holds no help: the message names the file that was looked for.
    EXPECT_EQ(
        messages,
        QStringList{QStringLiteral("The help file %1 was not found.")
                        .arg(helpfile::CompiledHelpPath(QCoreApplication::applicationDirPath()))});

    // Pages no application opens are shown in the program's own window, one for all asks.
    QTemporaryDir pages;
    const QString page = pages.filePath(QStringLiteral("index.html"));
    Touch(page, "<html><body><h1>Playlists</h1></body></html>");
    frame.ShowHelpInside(page);
    frame.ShowHelpInside(page);
    const auto windows = frame.findChildren<QWidget*>(QStringLiteral("helpWindow"));
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows.front()->isVisible());
    const auto* browser = windows.front()->findChild<QTextBrowser*>();
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(browser->source(), QUrl::fromLocalFile(page));
    EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("Playlists")));
    windows.front()->close();
}

}  // namespace
