// Renders the main window with a demo playlist and two announcements on the soundboard into
// a PNG, for the documentation; nothing is streamed.
// Usage: sonvex_screenshot [--dark] OUTPUT.png AUDIOFILE...
// The demo playlist is written through the application's own store, so point XDG_CONFIG_HOME
// at a scratch folder first (scripts/screenshot.sh does).

#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "document/playlistdocument.h"
#include "kit/fixedtext.h"
#include "kit/uiseam.h"
#include "ui/commandids.h"
#include "ui/mainframe.h"
#include "ui/openplaylistdlg.h"
#include "ui/sonvexapp.h"

namespace {

const char kDemoName[] = "Lobby music";

bool Store(const char* name, const Playlist& playlist) {
    PlaylistDocument document;
    return document.Create(name) && document.Edit([&playlist](Playlist& stored) {
        stored = playlist;
        return true;
    });
}

bool WriteDemoPlaylist(int count, char** files) {
    Playlist playlist;
    for (int i = 0; i < count; ++i) {
        const QFileInfo info(QString::fromLocal8Bit(files[i]));
        PlaylistFile entry;
        if (!fixedtext::ToFixed(info.absoluteFilePath(), entry.Source.path) ||
            !fixedtext::ToFixed(info.fileName(), entry.Name)) {
            return false;
        }
        entry.DstFormat = i % 2 == 0 ? 7 : 6;
        entry.DstSampleRate = 8000;
        entry.DstPacketization = 20;
        playlist.AppendFile(entry);
    }
    playlist.AppendDestination(RtpDestination::FromOctets(127, 0, 0, 1, 5004));
    playlist.AppendDestination(RtpDestination::FromOctets(192, 168, 10, 21, 6000));
    RtpDestination group = RtpDestination::FromOctets(239, 1, 2, 3, 5004);
    group.Ttl = 4;
    playlist.AppendDestination(group);
    // The soundboard's buttons: an announcement and an emergency message.
    Playlist announcement = playlist;
    announcement.Role = kRoleAnnouncement;
    Playlist alarm = announcement;
    alarm.Priority = kPriorityEmergency;
    return Store(kDemoName, playlist) && Store("Closing in 15 minutes", announcement) &&
           Store("Evacuate the building", alarm);
}

}  // namespace

int main(int argc, char** argv) {
    const bool dark = argc > 1 && std::strcmp(argv[1], "--dark") == 0;
    const int first = dark ? 2 : 1;
    if (argc < first + 2) {
        std::fprintf(stderr, "usage: %s [--dark] OUTPUT.png AUDIOFILE...\n", argv[0]);
        return 2;
    }
    if (!WriteDemoPlaylist(argc - first - 1, argv + first + 1)) {
        std::fprintf(stderr, "sonvex_screenshot: a path is too long\n");
        return 1;
    }
    const QString output = QString::fromLocal8Bit(argv[first]);
    PlaylistDocument settings;
    settings.WriteSetting("Theme", dark ? "dark" : "light");
    int qtArgc = 1;
    CSonvexApp app(qtArgc, argv);
    if (!app.InitInstance()) {
        return 1;
    }
    CMainFrame* frame = app.MainFrame();
    // Open the demo playlist as the operator would, answering the list dialog.
    uiseam::SetModalHandler([](QDialog& dialog) {
        auto* open = qobject_cast<COpenPlayListDlg*>(&dialog);
        if (open == nullptr) {
            return static_cast<int>(QDialog::Rejected);
        }
        open->m_strSelected = QString::fromUtf8(kDemoName);
        return static_cast<int>(QDialog::Accepted);
    });
    int result = 1;
    QTimer::singleShot(300, frame, [&] {
        frame->OnCommand(cmd::ID_FILE_OPEN);
        frame->SetMessageText(QStringLiteral("Ready"));
        QTimer::singleShot(500, frame, [&] {
            result = frame->grab().save(output) ? 0 : 1;
            QCoreApplication::exit(result);
        });
    });
    app.Run();
    uiseam::SetModalHandler({});
    return result;
}
