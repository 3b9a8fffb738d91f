// The playlist commands of the main view against the real store and real probes.

#include <unistd.h>

#include <QPlainTextEdit>
#include <fstream>

#include "viewfixture.h"

namespace viewtest {
namespace {

using Strings = std::vector<std::string>;
const QString kUlawSettings =
    QStringLiteral("Format: U-law\r\nSampleRate(Hz): 8000\r\nPacketization(ms): 20");

class ViewPlaylistTest : public ViewFixture {};

TEST_F(ViewPlaylistTest, StartsWithNoPlaylistAndOnlyPlaylistCommands) {
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - No playlist"));
    EXPECT_TRUE(Enabled(cmd::ID_FILE_NEW));
    EXPECT_TRUE(Enabled(cmd::ID_FILE_OPEN));
    EXPECT_TRUE(Enabled(cmd::ID_PLAYLIST_DELETE));
    for (int id : {cmd::ID_ADD_FILE, cmd::ID_REMOVE_FILE, cmd::ID_MOVE_DOWN, cmd::ID_MOVE_UP,
                   cmd::ID_ADD_DESTINATION, cmd::ID_REMOVE_DESTINATION, cmd::ID_START_STREAMING,
                   cmd::ID_STOP}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    cmd::CommandState loop;
    m_view->OnUpdateCommand(cmd::ID_LOOP_MODE, loop);
    EXPECT_TRUE(loop.enabled && loop.checked);
    EXPECT_TRUE(Enabled(cmd::ID_VOLUME));
    // The frame's actions follow the view's rules.
    ASSERT_NE(m_frame->Action(cmd::ID_ADD_FILE), nullptr);
    EXPECT_FALSE(m_frame->Action(cmd::ID_ADD_FILE)->isEnabled());
}

TEST_F(ViewPlaylistTest, NewThenAddFilesShowsDetailsAndSavesEachTime) {
    NewPlaylist(QStringLiteral("demo"));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - demo"));
    EXPECT_TRUE(Enabled(cmd::ID_ADD_FILE));
    EXPECT_FALSE(Enabled(cmd::ID_REMOVE_FILE));
    Playlist stored;
    ASSERT_TRUE(Stored("demo", stored));  // the key exists, still empty
    EXPECT_TRUE(stored.Files.empty());

    AddFile(MakeWav("a.wav"));
    EXPECT_EQ(FileRows(), QStringList{QStringLiteral("a.wav")});
    EXPECT_EQ(m_view->FileList()->currentRow(), 0);
    EXPECT_TRUE(m_view->FileSelected());
    EXPECT_TRUE(Enabled(cmd::ID_REMOVE_FILE));
    EXPECT_FALSE(m_view->Description().isEmpty());
    EXPECT_NE(m_view->Description(), QStringLiteral("Invalid file"));
    EXPECT_EQ(m_view->Settings(), kUlawSettings);
    EXPECT_EQ(m_view->findChild<QPlainTextEdit*>(QStringLiteral("settings"))->toPlainText(),
              QStringLiteral("Format: U-law\nSampleRate(Hz): 8000\nPacketization(ms): 20"));
    EXPECT_EQ(m_view->CurrentPlaylist().Files.at(0).Valid, 1);
    EXPECT_EQ(m_view->CurrentPlaylist().Files.at(0).Source.durationSeconds, 1);

    AddFile(MakeWav("b.wav"), 6, 160);
    EXPECT_EQ(m_view->FileList()->currentRow(), 1);
    EXPECT_EQ(m_view->Settings(),
              QStringLiteral("Format: A-law\r\nSampleRate(Hz): 8000\r\nPacketization(ms): 160"));
    ASSERT_TRUE(Stored("demo", stored));
    EXPECT_EQ(StoredNames(stored), (Strings{"a.wav", "b.wav"}));
    EXPECT_EQ(std::string(stored.Files.at(1).Source.path), m_files.File("b.wav"));
    EXPECT_EQ(stored.Files.at(1).DstPacketization, 160);
}

TEST_F(ViewPlaylistTest, AddFileThatCannotBeOpenedIsRefused) {
    NewPlaylist(QStringLiteral("demo"));
    AddFile(MakeWav("a.wav"));
    const std::string garbage = m_files.File("noise.wav");
    std::ofstream(garbage) << "this is not a RIFF file at all";
    for (const std::string& path : {m_files.File("missing.wav"), garbage, std::string()}) {
        m_ui->AnswerMessage(uiseam::IDOK);
        AddFile(path);
        ASSERT_FALSE(m_ui->Messages().empty());
        EXPECT_EQ(m_ui->Messages().back().text,
                  QStringLiteral("No such file or unsupported media type"));
        EXPECT_EQ(m_ui->Messages().back().caption, QStringLiteral("Sonvex"));
        EXPECT_EQ(m_ui->Messages().back().type & 0xF, uiseam::MB_OK);
    }
    EXPECT_EQ(FileRows(), QStringList{QStringLiteral("a.wav")});
    EXPECT_EQ(m_view->CurrentPlaylist().FileCount(), 1u);
    Playlist stored;
    ASSERT_TRUE(Stored("demo", stored));
    EXPECT_EQ(stored.Files.size(), 1u);
}

TEST_F(ViewPlaylistTest, RemoveFileAsksThenSelectsTheFirstFile) {
    NewPlaylist(QStringLiteral("demo"));
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        AddFile(MakeWav(name));
    }
    ClickFile(2);
    m_ui->AnswerMessage(uiseam::IDNO);
    m_view->OnCommand(cmd::ID_REMOVE_FILE);
    ASSERT_EQ(m_ui->Messages().size(), 1u);
    EXPECT_EQ(m_ui->Messages()[0].text, QStringLiteral("Are you sure to delete file: c.wav?"));
    EXPECT_EQ(m_ui->Messages()[0].type & 0xF, uiseam::MB_YESNO);
    EXPECT_EQ(FileRows().size(), 3);

    m_ui->AnswerMessage(uiseam::IDYES);
    m_view->OnCommand(cmd::ID_REMOVE_FILE);
    EXPECT_EQ(FileRows(), (QStringList{QStringLiteral("a.wav"), QStringLiteral("b.wav")}));
    EXPECT_EQ(m_view->FileList()->currentRow(), 0);
    EXPECT_EQ(m_view->Settings(), kUlawSettings);
    Playlist stored;
    ASSERT_TRUE(Stored("demo", stored));
    EXPECT_EQ(StoredNames(stored), (Strings{"a.wav", "b.wav"}));

    // Removing the rest leaves nothing selected and Remove disabled.
    for (int i = 0; i < 2; ++i) {
        m_ui->AnswerMessage(uiseam::IDYES);
        m_view->OnCommand(cmd::ID_REMOVE_FILE);
    }
    EXPECT_TRUE(FileRows().isEmpty());
    EXPECT_FALSE(m_view->FileSelected());
    EXPECT_FALSE(Enabled(cmd::ID_REMOVE_FILE));
    EXPECT_TRUE(m_view->Description().isEmpty());
}

TEST_F(ViewPlaylistTest, MoveDownAndUpReorderSaveAndKeepTheFileSelected) {
    NewPlaylist(QStringLiteral("demo"));
    AddFile(MakeWav("a.wav"));
    EXPECT_FALSE(Enabled(cmd::ID_MOVE_DOWN));
    EXPECT_FALSE(Enabled(cmd::ID_MOVE_UP));
    AddFile(MakeWav("b.wav"));
    AddFile(MakeWav("c.wav"));
    EXPECT_TRUE(Enabled(cmd::ID_MOVE_DOWN));

    ClickFile(0);
    m_view->OnCommand(cmd::ID_MOVE_DOWN);
    EXPECT_EQ(FileRows(), (QStringList{QStringLiteral("b.wav"), QStringLiteral("a.wav"),
                                       QStringLiteral("c.wav")}));
    EXPECT_EQ(m_view->FileList()->currentRow(), 1);
    Playlist stored;
    ASSERT_TRUE(Stored("demo", stored));
    EXPECT_EQ(StoredNames(stored), (Strings{"b.wav", "a.wav", "c.wav"}));

    ClickFile(2);
    m_view->OnCommand(cmd::ID_MOVE_DOWN);  // last row: nothing
    ClickFile(0);
    m_view->OnCommand(cmd::ID_MOVE_UP);  // first row: nothing
    EXPECT_EQ(FileRows(), (QStringList{QStringLiteral("b.wav"), QStringLiteral("a.wav"),
                                       QStringLiteral("c.wav")}));

    ClickFile(2);
    m_view->OnCommand(cmd::ID_MOVE_UP);
    EXPECT_EQ(FileRows(), (QStringList{QStringLiteral("b.wav"), QStringLiteral("c.wav"),
                                       QStringLiteral("a.wav")}));
    EXPECT_EQ(m_view->FileList()->currentRow(), 1);
    ASSERT_TRUE(Stored("demo", stored));
    EXPECT_EQ(StoredNames(stored), (Strings{"b.wav", "c.wav", "a.wav"}));
    for (const PlaylistFile& file : m_view->CurrentPlaylist().Files) {
        EXPECT_EQ(file.Valid, 1) << file.Name;
    }
}

TEST_F(ViewPlaylistTest, OpenListsAFileMissingOnDiskAsInvalid) {
    NewPlaylist(QStringLiteral("demo"));
    AddFile(MakeWav("a.wav"));
    const std::string second = MakeWav("b.wav");
    AddFile(second);
    NewPlaylist(QStringLiteral("other"));
    EXPECT_TRUE(FileRows().isEmpty());
    ASSERT_EQ(unlink(second.c_str()), 0);

    OpenPlaylist(QStringLiteral("demo"));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - demo"));
    EXPECT_EQ(FileRows(), (QStringList{QStringLiteral("a.wav"), QStringLiteral("b.wav")}));
    EXPECT_EQ(m_view->FileList()->currentRow(), 0);
    EXPECT_EQ(m_view->CurrentPlaylist().Files.at(0).Valid, 1);
    EXPECT_EQ(m_view->CurrentPlaylist().Files.at(1).Valid, 0);

    ClickFile(1);
    EXPECT_EQ(m_view->Description(), QStringLiteral("Invalid file"));
    EXPECT_TRUE(m_view->Settings().isEmpty());
    EXPECT_TRUE(Enabled(cmd::ID_REMOVE_FILE));  // the entry stays and can be removed
}

TEST_F(ViewPlaylistTest, NewAfterAnOpenPlaylistStartsEmpty) {
    NewPlaylist(QStringLiteral("first"));
    AddFile(MakeWav("a.wav"));
    AddFile(MakeWav("b.wav"));
    NewPlaylist(QStringLiteral("second"));
    EXPECT_TRUE(FileRows().isEmpty());
    EXPECT_TRUE(m_view->Description().isEmpty());
    EXPECT_FALSE(m_view->FileSelected());
    AddFile(MakeWav("c.wav"));
    Playlist stored;
    ASSERT_TRUE(Stored("second", stored));
    EXPECT_EQ(StoredNames(stored), (Strings{"c.wav"}));
    ASSERT_TRUE(Stored("first", stored));
    EXPECT_EQ(stored.Files.size(), 2u);
}

TEST_F(ViewPlaylistTest, DeleteClearsTheViewOnlyForTheOpenPlaylist) {
    NewPlaylist(QStringLiteral("keep"));
    NewPlaylist(QStringLiteral("demo"));
    AddFile(MakeWav("a.wav"));
    auto deleteAnswer = [this](const QString& name, int answer) {
        m_ui->AnswerDialog<COpenPlayListDlg>([name](COpenPlayListDlg& dialog) {
            EXPECT_EQ(dialog.m_strCaption, QStringLiteral("Select playlist to delete"));
            dialog.m_strSelected = name;
            return static_cast<int>(QDialog::Accepted);
        });
        m_ui->AnswerMessage(answer);
        m_view->OnCommand(cmd::ID_PLAYLIST_DELETE);
    };
    Playlist stored;

    deleteAnswer(QStringLiteral("demo"), uiseam::IDNO);
    EXPECT_EQ(m_ui->Messages().back().text,
              QStringLiteral("Are you sure to delete playlist: demo?"));
    EXPECT_TRUE(Stored("demo", stored));

    deleteAnswer(QStringLiteral("keep"), uiseam::IDYES);
    EXPECT_FALSE(Stored("keep", stored));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - demo"));
    EXPECT_EQ(FileRows().size(), 1);

    deleteAnswer(QStringLiteral("demo"), uiseam::IDYES);
    EXPECT_FALSE(Stored("demo", stored));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - No playlist"));
    EXPECT_TRUE(FileRows().isEmpty());
    EXPECT_EQ(m_view->DestinationList()->count(), 0);
    EXPECT_TRUE(m_view->Description().isEmpty());
    EXPECT_FALSE(Enabled(cmd::ID_ADD_FILE));
}

TEST_F(ViewPlaylistTest, DeleteComparesTheOpenNameCaseSensitively) {
    NewPlaylist(QStringLiteral("demo"));
    NewPlaylist(QStringLiteral("Demo"));  // reuses the stored key
    AddFile(MakeWav("a.wav"));
    m_ui->AnswerDialog<COpenPlayListDlg>([](COpenPlayListDlg& dialog) {
        dialog.m_strSelected = QStringLiteral("demo");
        return static_cast<int>(QDialog::Accepted);
    });
    m_ui->AnswerMessage(uiseam::IDYES);
    m_view->OnCommand(cmd::ID_PLAYLIST_DELETE);
    Playlist stored;
    EXPECT_FALSE(Stored("demo", stored) || Stored("Demo", stored));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - Demo"));
    EXPECT_EQ(FileRows().size(), 1);
    // The next edit stores the playlist again under its name.
    AddFile(MakeWav("b.wav"));
    ASSERT_TRUE(Stored("Demo", stored));
    EXPECT_EQ(StoredNames(stored), (Strings{"a.wav", "b.wav"}));
}

TEST_F(ViewPlaylistTest, OpenWithNothingChosenLeavesNoPlaylistOpen) {
    NewPlaylist(QStringLiteral("demo"));
    AddFile(MakeWav("a.wav"));
    OpenPlaylist(QString());
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - No playlist"));
    EXPECT_TRUE(FileRows().isEmpty());
    EXPECT_TRUE(m_view->CurrentPlaylist().Files.empty());
    EXPECT_FALSE(Enabled(cmd::ID_ADD_FILE));
}

TEST_F(ViewPlaylistTest, APlaylistNameTooLongForTheRegistryIsRefused) {
    NewPlaylist(QStringLiteral("demo"));
    m_ui->AnswerMessage(uiseam::IDOK);
    NewPlaylist(QString(256, QLatin1Char('x')));
    ASSERT_FALSE(m_ui->Messages().empty());
    EXPECT_TRUE(m_ui->Messages().back().text.contains(QStringLiteral("too long")));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - demo"));
    // The longest name a key holds is accepted.
    NewPlaylist(QString(255, QLatin1Char('y')));
    EXPECT_EQ(m_view->PlaylistName().size(), 255);
}

TEST_F(ViewPlaylistTest, CancelledDialogsChangeNothing) {
    NewPlaylist(QStringLiteral("demo"));
    AddFile(MakeWav("a.wav"));
    const auto cancel = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };
    for (int id :
         {cmd::ID_FILE_NEW, cmd::ID_FILE_OPEN, cmd::ID_PLAYLIST_DELETE, cmd::ID_ADD_FILE}) {
        m_ui->AnswerModal(cancel);
        m_view->OnCommand(id);
    }
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - demo"));
    EXPECT_EQ(FileRows(), QStringList{QStringLiteral("a.wav")});
    EXPECT_TRUE(m_ui->Messages().empty());
}

}  // namespace
}  // namespace viewtest
