#include "ui/sonvexapp.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <string>

#include "kit/uiseam.h"
#include "sonvex/buildconfig.h"
#include "ui/aboutdlg.h"
#include "ui/commandids.h"
#include "ui/mainframe.h"
#include "ui/sonvexview.h"

CSonvexApp::CSonvexApp(int& argc, char** argv) : m_app(argc, argv) {
    // Qt's own settings (none are written today) stay apart from the playlists' tree.
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(QStringLiteral("Sonvex"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(sonvex::kVersion));
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(sonvex::kDesktopId));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/sonvex32.png")));
}

CSonvexApp::~CSonvexApp() {
    // The frame, the view and the engine go while Qt still stands.
    m_frame.reset();
}

QStringList CSonvexApp::ParseCommandLine() {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Streams playlists of audio files over RTP."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("files"),
        QStringLiteral("MP3 or WAV files to add to the open playlist, or to convert when no "
                       "playlist is open."),
        QStringLiteral("[files...]"));
    parser.process(m_app);  // --help and unknown options end the process here
    QStringList files;
    for (const QString& argument : parser.positionalArguments()) {
        // Desktops may hand over file URLs as well as paths.
        const QUrl url(argument);
        files << (url.isLocalFile() ? url.toLocalFile() : QFileInfo(argument).absoluteFilePath());
    }
    return files;
}

bool CSonvexApp::InitInstance() {
    const QStringList files = ParseCommandLine();
    m_frame = std::make_unique<CMainFrame>();
    m_view = new CSonvexView;
    m_frame->SetView(m_view, m_view);
    m_frame->SetAppTarget(this);
    m_view->ApplyStoredLook();
    RestorePosition();
    m_frame->show();
    m_view->OpenLastPlaylist();
    // The frame is gone from the screen by then, its position is not.
    QObject::connect(&m_app, &QCoreApplication::aboutToQuit, m_frame.get(),
                     [this] { RememberPosition(); });
    OpenFiles(files);
    return true;
}

void CSonvexApp::OpenFiles(const QStringList& files) {
    if (files.isEmpty()) {
        return;
    }
    // Message boxes and the Convert dialog run once the event loop does.
    QTimer::singleShot(0, m_view, [this, files] {
        if (!m_view->PlaylistName().isEmpty()) {
            m_view->AddFilesFromPaths(files);
            m_frame->UpdateCommands();
        } else {
            m_view->OnConvert(files.front());
        }
    });
}

void CSonvexApp::RestorePosition() {
    std::string text;
    // Qt's own record knows where the window manager put the frame around the window: a
    // bare position is taken as the frame's by some window managers and the window's by
    // others, and crept by a title bar at every start.
    if (m_view->Document().ReadSetting(kWindowGeometrySetting, text) &&
        m_frame->restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(text)))) {
        return;
    }
    if (!m_view->Document().ReadSetting(kWindowPositionSetting, text)) {
        return;
    }
    const QStringList parts = QString::fromStdString(text).split(QLatin1Char(','));
    bool okX = false;
    bool okY = false;
    const QPoint position(parts.value(0).toInt(&okX), parts.value(1).toInt(&okY));
    // A screen that is gone (a monitor unplugged) would leave the window out of sight.
    if (parts.size() == 2 && okX && okY && QGuiApplication::screenAt(position) != nullptr) {
        m_frame->move(position);
    }
}

void CSonvexApp::RememberPosition() {
    m_view->Document().WriteSetting(kWindowGeometrySetting,
                                    m_frame->saveGeometry().toBase64().toStdString());
}

int CSonvexApp::Run() {
    return QApplication::exec();
}

bool CSonvexApp::OnCommand(int id) {
    if (id != cmd::ID_APP_ABOUT) {
        return false;
    }
    CAboutDlg about(m_frame.get());
    uiseam::RunModal(about);
    return true;
}

bool CSonvexApp::OnUpdateCommand(int, cmd::CommandState&) {
    return false;
}
