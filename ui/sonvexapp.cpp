#include "ui/sonvexapp.h"

#include "sonvex/buildconfig.h"
#include "ui/aboutdlg.h"
#include "ui/commandids.h"
#include "kit/uiseam.h"
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

bool CSonvexApp::InitInstance() {
    m_frame = std::make_unique<CMainFrame>();
    auto* view = new CSonvexView;
    m_frame->SetView(view, view);
    m_frame->SetAppTarget(this);
    m_frame->show();
    return true;
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
