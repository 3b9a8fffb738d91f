#pragma once
// A main frame around a real view, over a private registry, with scripted dialogs.

#include <QCoreApplication>
#include <QTableWidget>
#include <filesystem>
#include <memory>
#include <string>

#include "kit/uiseam.h"
#include "playlist/playliststore.h"
#include "ui/commandids.h"
#include "ui/dlgsource.h"
#include "ui/mainframe.h"
#include "ui/newplaylistdlg.h"
#include "ui/openplaylistdlg.h"
#include "ui/playlistrows.h"
#include "ui/playlisttable.h"
#include "ui/sonvexview.h"
#include "viewtestsupport.h"

namespace viewtest {

class ViewFixture : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        m_registry = std::make_unique<TempRegistry>();
        m_ui = std::make_unique<ScriptedUi>();
        m_frame = std::make_unique<CMainFrame>();
        m_view = new CSonvexView;
        m_frame->SetView(m_view, m_view);
        m_view->OnInitialUpdate();
    }

    void TearDown() override {
        DestroyWindows();
        EXPECT_TRUE(m_ui->Idle()) << "a scripted answer was not used";
        m_ui.reset();
        m_registry.reset();
    }

    // The view goes first: it stops streaming and joins its worker while the frame stands.
    void DestroyWindows() {
        delete m_view;
        m_view = nullptr;
        m_frame.reset();
    }

    bool Enabled(int id) {
        cmd::CommandState state;
        EXPECT_TRUE(m_view->OnUpdateCommand(id, state)) << id;
        return state.enabled;
    }

    void NewPlaylist(const QString& name) {
        m_ui->AnswerDialog<CNewPlayListDlg>([name](CNewPlayListDlg& dialog) {
            dialog.m_strName = name;
            return static_cast<int>(QDialog::Accepted);
        });
        m_view->OnCommand(cmd::ID_FILE_NEW);
    }

    void OpenPlaylist(const QString& name) {
        m_ui->AnswerDialog<COpenPlayListDlg>([name](COpenPlayListDlg& dialog) {
            EXPECT_EQ(dialog.m_strCaption, QStringLiteral("Select playlist to open"));
            dialog.m_strSelected = name;
            return static_cast<int>(QDialog::Accepted);
        });
        m_view->OnCommand(cmd::ID_FILE_OPEN);
    }

    // Add file as the source dialog hands an entry over.
    void AddFile(const std::string& path, int format = 7, int packetization = 20) {
        m_ui->AnswerDialog<CDlgSource>([=](CDlgSource& dialog) {
            PlaylistFile entry;
            entry.SetName(std::filesystem::path(path).filename().c_str());
            entry.Source.SetPath(path.c_str());
            entry.DstFormat = format;
            entry.DstSampleRate = 8000;
            entry.DstPacketization = packetization;
            dialog.m_sourceEntry = entry;
            return static_cast<int>(QDialog::Accepted);
        });
        m_view->OnCommand(cmd::ID_ADD_FILE);
    }

    // A generated one-second file in the test's folder.
    std::string MakeWav(const std::string& name, double seconds = 1.0, double amplitude = 8000) {
        const std::string path = m_files.File(name);
        EXPECT_TRUE(WriteSineWav(path, 8000, seconds, amplitude));
        return path;
    }

    // The user clicks a row.
    void ClickFile(int row) { m_view->FileList()->selectRow(row); }
    void ClickDestination(int row) { m_view->DestinationList()->selectRow(row); }

    QStringList FileRows() const {
        QStringList texts;
        for (int i = 0; i < m_view->FileList()->rowCount(); ++i) {
            texts << rows::RowText(m_view->FileList(), i);
        }
        return texts;
    }

    static bool Stored(const std::string& name, Playlist& playlist) {
        PlaylistStore store;
        std::vector<std::string> names;
        store.ListPlaylists(names);
        if (std::find(names.begin(), names.end(), name) == names.end() ||
            !store.Open(name, playlist)) {
            return false;
        }
        return true;
    }

    static std::vector<std::string> StoredNames(const Playlist& playlist) {
        std::vector<std::string> names;
        for (const PlaylistFile& file : playlist.Files) {
            names.emplace_back(file.Name);
        }
        return names;
    }

    TempDir m_files;
    std::unique_ptr<TempRegistry> m_registry;
    std::unique_ptr<ScriptedUi> m_ui;
    std::unique_ptr<CMainFrame> m_frame;
    CSonvexView* m_view = nullptr;  // a child of the frame
};

}  // namespace viewtest
