// The playlist commands of the main view against the real store and real probes.

#include <unistd.h>

#include <QComboBox>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>
#include <cstdio>
#include <fstream>

#include "playlist/outputcodec.h"
#include "support/readonlyfiles.h"

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
        // The fixed text, then the file with the reader's reason, as the command line says it.
        SourceFormatInfo info;
        const std::string reason = ProbeSourceFile(path.c_str(), info).reason;
        ASSERT_FALSE(reason.empty());
        EXPECT_EQ(m_ui->Messages().back().text,
                  QStringLiteral("No such file or unsupported media type:\n%1: %2")
                      .arg(QString::fromStdString(std::filesystem::path(path).filename().string()),
                           QString::fromStdString(reason)));
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

// Each row shows the file's length as m:ss from its exact length (2.6 s is 0:03, 61.4 s
// 1:01), its source, the law as every text but the details pane writes it, its packet time
// and whether it can be streamed; an empty table says what to do next.
TEST_F(ViewPlaylistTest, FileRowsShowLengthSourceLawAndPacketTimeAndAnEmptyTableAHint) {
    EXPECT_TRUE(m_view->FileList()->Hint().contains(QStringLiteral("No playlist is open")));
    NewPlaylist(QStringLiteral("columns"));
    EXPECT_TRUE(m_view->FileList()->Hint().contains(QStringLiteral("Add file")));
    EXPECT_TRUE(m_view->DestinationList()->Hint().contains(QStringLiteral("Add RTP destination")));
    AddFile(MakeWav("short.wav", 2.6), kFormatMulaw, 20);
    AddFile(MakeWav("long.wav", 61.4), kFormatG722, 40);
    const auto cell = [this](int row, int column) {
        return m_view->FileList()->item(row, column)->text();
    };
    EXPECT_EQ(cell(0, rows::kFileLength), QStringLiteral("0:03"));
    EXPECT_EQ(cell(0, rows::kFileSource), QStringLiteral("WAV 16-bit, 8 kHz, mono"));
    EXPECT_EQ(cell(0, rows::kFileLaw), QStringLiteral("mu-law"));
    EXPECT_EQ(cell(0, rows::kFilePacket), QStringLiteral("20 ms"));
    EXPECT_EQ(cell(0, rows::kFileValid), QStringLiteral("yes"));
    EXPECT_EQ(cell(1, rows::kFileLength), QStringLiteral("1:01"));
    EXPECT_EQ(cell(1, rows::kFileLaw), QStringLiteral("G.722"));
    EXPECT_EQ(rows::Clock(3'599'600), QStringLiteral("1:00:00"));
    EXPECT_EQ(rows::Clock(-5), QStringLiteral("0:00"));
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

    // The row says so before it is selected: a warning icon and why.
    const QTableWidgetItem* good = m_view->FileList()->item(0, 0);
    const QTableWidgetItem* bad = m_view->FileList()->item(1, 0);
    EXPECT_TRUE(good->icon().isNull() && good->toolTip().isEmpty());
    EXPECT_FALSE(bad->icon().isNull());
    EXPECT_TRUE(bad->toolTip().contains(QStringLiteral("cannot be streamed")));
    EXPECT_NE(bad->foreground(), good->foreground());
    EXPECT_EQ(m_view->FileList()->item(1, rows::kFileValid)->text(), QStringLiteral("no"));

    ClickFile(1);
    // The details name the file and why it cannot be read.
    EXPECT_TRUE(m_view->Description().startsWith(QStringLiteral("Invalid file\r\n")));
    EXPECT_TRUE(m_view->Description().contains(QString::fromStdString(second)));
    EXPECT_TRUE(m_view->Description().contains(QStringLiteral("No such file or directory")));
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

    // The dialog starts on the open playlist, not on the first one; the question answers
    // No to Enter.
    NewPlaylist(QStringLiteral("alpha"));
    OpenPlaylist(QStringLiteral("keep"));
    m_ui->AnswerDialog<COpenPlayListDlg>([](COpenPlayListDlg& dialog) {
        EXPECT_EQ(dialog.m_list->item(0)->text(), QStringLiteral("alpha"));
        EXPECT_EQ(dialog.m_strSelected, QStringLiteral("keep"));
        EXPECT_EQ(dialog.m_list->currentRow(), 2);
        return static_cast<int>(QDialog::Rejected);
    });
    m_view->OnCommand(cmd::ID_PLAYLIST_DELETE);
    OpenPlaylist(QStringLiteral("demo"));

    deleteAnswer(QStringLiteral("demo"), uiseam::IDNO);
    EXPECT_EQ(m_ui->Messages().back().text,
              QStringLiteral("Are you sure to delete playlist: demo?"));
    EXPECT_NE(m_ui->Messages().back().type & uiseam::MB_DEFBUTTON2, 0u);
    EXPECT_TRUE(Stored("demo", stored));

    deleteAnswer(QStringLiteral("keep"), uiseam::IDYES);
    EXPECT_FALSE(Stored("keep", stored));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - demo"));
    EXPECT_EQ(FileRows().size(), 1);

    deleteAnswer(QStringLiteral("demo"), uiseam::IDYES);
    EXPECT_FALSE(Stored("demo", stored));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - No playlist"));
    EXPECT_TRUE(FileRows().isEmpty());
    EXPECT_EQ(m_view->DestinationList()->rowCount(), 0);
    EXPECT_TRUE(m_view->Description().isEmpty());
    EXPECT_FALSE(Enabled(cmd::ID_ADD_FILE));
}

TEST_F(ViewPlaylistTest, NewOverAnExistingNameAsksFirstAndOpensNothingOnNo) {
    NewPlaylist(QStringLiteral("demo"));
    AddFile(MakeWav("a.wav"));
    AddFile(MakeWav("b.wav"));
    NewPlaylist(QStringLiteral("other"));
    AddFile(MakeWav("c.wav"));

    m_ui->AnswerMessage(uiseam::IDNO);
    NewPlaylist(QStringLiteral("DEMO"));  // names compare without case in the store
    ASSERT_EQ(m_ui->Messages().size(), 1u);
    EXPECT_TRUE(m_ui->Messages()[0].text.contains(QStringLiteral("already exists")));
    EXPECT_EQ(m_ui->Messages()[0].type & 0xF, uiseam::MB_YESNO);
    EXPECT_TRUE(m_ui->Messages()[0].type & uiseam::MB_DEFBUTTON2);  // No is the default
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - other"));
    EXPECT_EQ(FileRows(), QStringList{QStringLiteral("c.wav")});
    Playlist stored;
    ASSERT_TRUE(Stored("demo", stored));
    EXPECT_EQ(StoredNames(stored), (Strings{"a.wav", "b.wav"}));

    m_ui->AnswerMessage(uiseam::IDYES);
    NewPlaylist(QStringLiteral("demo"));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - demo"));
    EXPECT_TRUE(FileRows().isEmpty());
    ASSERT_TRUE(Stored("demo", stored));
    EXPECT_TRUE(stored.Files.empty());
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

TEST_F(ViewPlaylistTest, APlaylistNameTheStoreCannotTakeIsRefused) {
    NewPlaylist(QStringLiteral("demo"));
    AddFile(MakeWav("a.wav"));
    // A name that would list as two, hide a character or stand beside "demo" looking the
    // same is refused as well.
    for (const QString& name :
         {QString(), QStringLiteral("demo\\Files"), QStringLiteral("trail\\"),
          QString(256, QLatin1Char('x')), QStringLiteral("two\nlines"), QStringLiteral("cr\r"),
          QStringLiteral("tab\there"), QStringLiteral("bell\a"), QStringLiteral("del\x7f"),
          QStringLiteral("c1\u0085"), QStringLiteral("demo "), QStringLiteral(" demo"),
          QStringLiteral("   ")}) {
        m_ui->AnswerMessage(uiseam::IDOK);
        NewPlaylist(name);
        EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - demo")) << name.toStdString();
    }
    ASSERT_EQ(m_ui->Messages().size(), 13u);
    EXPECT_TRUE(m_ui->Messages()[0].text.contains(QStringLiteral("enter a name")));
    EXPECT_TRUE(m_ui->Messages()[1].text.contains(QStringLiteral("backslash")));
    EXPECT_TRUE(m_ui->Messages()[3].text.contains(QStringLiteral("too long")));
    for (size_t i = 4; i < 10; ++i) {
        EXPECT_TRUE(m_ui->Messages()[i].text.contains(QStringLiteral("control character"))) << i;
    }
    EXPECT_TRUE(m_ui->Messages()[10].text.contains(QStringLiteral("begin or end with a blank")));
    EXPECT_TRUE(m_ui->Messages()[11].text.contains(QStringLiteral("begin or end with a blank")));
    EXPECT_TRUE(m_ui->Messages()[12].text.contains(QStringLiteral("enter a name")));
    EXPECT_EQ(FileRows(), QStringList{QStringLiteral("a.wav")});
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

// A playlist put straight into the store, with two destinations.
void StorePlaylist(const std::string& name, const std::vector<std::string>& paths) {
    Playlist playlist;
    for (const std::string& path : paths) {
        PlaylistFile file;
        file.SetName(std::filesystem::path(path).filename().c_str());
        file.Source.SetPath(path.c_str());
        file.DstFormat = 7;
        file.DstSampleRate = 8000;
        file.DstPacketization = 20;
        playlist.AppendFile(file);
    }
    playlist.AppendDestination(RtpDestination::FromOctets(127, 0, 0, 1, 5004));
    playlist.AppendDestination(RtpDestination::FromOctets(127, 0, 0, 2, 5006));
    PlaylistStore store;
    ASSERT_TRUE(store.Create(name));
    ASSERT_TRUE(store.SavePlaylist(playlist));
}

TEST_F(ViewPlaylistTest, ReadOnlyStoreShowsPlaylistsAndSaysEditsCannotBeSaved) {
    StorePlaylist("demo", {MakeWav("a.wav")});
    const std::filesystem::path file = PlaylistStore::FilePath();
    testsupport::ReadOnlyFiles readOnly({file, file.parent_path()});
    if (!readOnly.Active()) {
        GTEST_SKIP() << "this file system cannot make the store read-only";
    }
    OpenPlaylist(QStringLiteral("demo"));
    EXPECT_EQ(FileRows(), QStringList{QStringLiteral("a.wav")});
    EXPECT_EQ(m_view->DestinationList()->rowCount(), 2);

    m_ui->AnswerMessage(uiseam::IDOK);
    AddFile(MakeWav("b.wav"));
    m_ui->AnswerMessage(uiseam::IDOK);
    NewPlaylist(QStringLiteral("fresh"));
    ASSERT_EQ(m_ui->Messages().size(), 2u);
    EXPECT_TRUE(m_ui->Messages()[0].text.startsWith(
        QStringLiteral("The playlist \"demo\" could not be saved: the playlist store ")));
    EXPECT_TRUE(m_ui->Messages()[0].text.contains(QStringLiteral("is read-only")));
    EXPECT_TRUE(m_ui->Messages()[1].text.contains(QStringLiteral("could not be created")));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - demo"));
}

TEST_F(ViewPlaylistTest, DamagedStoreIsAnnouncedOnceNamingTheSetAsideFile) {
    StorePlaylist("demo", {MakeWav("a.wav")});
    std::ofstream(PlaylistStore::FilePath(), std::ios::trunc) << std::string(4096, 'G');
    m_ui->AnswerMessage(uiseam::IDOK);
    OpenPlaylist(QStringLiteral("demo"));  // the list finds the damage
    ASSERT_EQ(m_ui->Messages().size(), 1u);
    const QString text = m_ui->Messages()[0].text;
    const qsizetype at = text.indexOf(QString::fromStdString(PlaylistStore::FilePath()) +
                                      QStringLiteral(".corrupt-"));
    ASSERT_GE(at, 0) << text.toStdString();
    const QString aside = text.mid(at).section(QLatin1Char(' '), 0, 0);
    EXPECT_TRUE(std::filesystem::exists(aside.toStdString())) << aside.toStdString();
    OpenPlaylist(QString());
    EXPECT_EQ(m_ui->Messages().size(), 1u);
}

TEST_F(ViewPlaylistTest, UnreadableStoreKeepsTheViewAndThePlaylistInStep) {
    StorePlaylist("demo", {MakeWav("a.wav"), MakeWav("b.wav")});
    OpenPlaylist(QStringLiteral("demo"));
    const std::string file = PlaylistStore::FilePath();
    ASSERT_EQ(std::rename(file.c_str(), (file + ".away").c_str()), 0);
    std::filesystem::create_directory(file);  // nothing can open it now

    ClickFile(0);
    m_ui->AnswerMessage(uiseam::IDOK);
    m_view->OnCommand(cmd::ID_MOVE_DOWN);
    ASSERT_EQ(m_ui->Messages().size(), 1u);
    EXPECT_TRUE(m_ui->Messages()[0].text.contains(QStringLiteral("could not be saved")));
    EXPECT_EQ(FileRows(), (QStringList{QStringLiteral("b.wav"), QStringLiteral("a.wav")}));
    EXPECT_EQ(m_view->CurrentPlaylist().Destinations.size(), 2u);

    std::filesystem::remove(file);
    ASSERT_EQ(std::rename((file + ".away").c_str(), file.c_str()), 0);
    ClickFile(1);
    m_view->OnCommand(cmd::ID_MOVE_UP);  // the next edit stores what the view shows
    Playlist stored;
    ASSERT_TRUE(Stored("demo", stored));
    EXPECT_EQ(StoredNames(stored), (Strings{"a.wav", "b.wav"}));
    EXPECT_EQ(stored.Destinations.size(), 2u);
}

TEST_F(ViewPlaylistTest, SeveralFilesChosenAreAddedInOrderWithTheDialogsSettings) {
    NewPlaylist(QStringLiteral("demo"));
    const std::string noise = m_files.File("noise.wav");
    std::ofstream(noise) << "not audio";
    const QStringList chosen{QString::fromStdString(MakeWav("z.wav")),
                             QString::fromStdString(noise),
                             QString::fromStdString(MakeWav("a.wav"))};
    uiseam::SetOpenFilesHandler(
        [&](const QString&, const QString&, const QString&) { return chosen; });
    m_ui->AnswerDialog<CDlgSource>([](CDlgSource& dialog) {
        dialog.OnBrowse();
        dialog.FormatList()->setCurrentIndex(1);
        dialog.PacketizationList()->setCurrentIndex(1);
        dialog.accept();
        return dialog.result();
    });
    m_ui->AnswerMessage(uiseam::IDOK);
    m_view->OnCommand(cmd::ID_ADD_FILE);
    uiseam::SetOpenFilesHandler({});
    SourceFormatInfo info;

    EXPECT_EQ(FileRows(), (QStringList{QStringLiteral("z.wav"), QStringLiteral("a.wav")}));
    EXPECT_EQ(m_ui->Messages().back().text,
              QStringLiteral("No such file or unsupported media type:\nnoise.wav: ") +
                  QString::fromStdString(ProbeSourceFile(noise.c_str(), info).reason));
    Playlist stored;
    ASSERT_TRUE(Stored("demo", stored));
    ASSERT_EQ(stored.Files.size(), 2u);
    EXPECT_TRUE(stored.Files[1].DstFormat == 6 && stored.Files[1].DstPacketization == 40);
}

TEST_F(ViewPlaylistTest, FilesDroppedOnTheListAreAddedAsMuLawAt20Ms) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(MakeWav("a.wav"))),
                  QUrl::fromLocalFile(QString::fromStdString(MakeWav("b.wav")))});
    QWidget* target = m_view->FileList()->viewport();
    const auto drop = [&] {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &dropped);
        QCoreApplication::processEvents();
        return enter.isAccepted() && dropped.isAccepted();
    };
    EXPECT_FALSE(drop());  // no playlist open
    NewPlaylist(QStringLiteral("demo"));
    EXPECT_TRUE(drop());
    EXPECT_EQ(FileRows(), (QStringList{QStringLiteral("a.wav"), QStringLiteral("b.wav")}));
    const PlaylistFile& added = m_view->CurrentPlaylist().Files.at(1);
    EXPECT_TRUE(added.DstFormat == 7 && added.DstPacketization == 20);
}

TEST_F(ViewPlaylistTest, DeleteKeyRemovesTheSelectedFileOrDestination) {
    StorePlaylist("demo", {MakeWav("a.wav"), MakeWav("b.wav")});
    OpenPlaylist(QStringLiteral("demo"));
    const auto pressDelete = [](QWidget* list) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        QCoreApplication::sendEvent(list, &key);
    };
    ClickFile(1);
    m_ui->AnswerMessage(uiseam::IDYES);
    pressDelete(m_view->FileList());
    EXPECT_EQ(m_ui->Messages().back().text, QStringLiteral("Are you sure to delete file: b.wav?"));
    EXPECT_EQ(FileRows(), QStringList{QStringLiteral("a.wav")});

    pressDelete(m_view->DestinationList());  // nothing selected: nothing asked
    ClickDestination(0);
    m_ui->AnswerMessage(uiseam::IDYES);
    pressDelete(m_view->DestinationList());
    EXPECT_EQ(m_view->DestinationList()->rowCount(), 1);
    EXPECT_EQ(m_ui->Messages().size(), 2u);
}

}  // namespace
}  // namespace viewtest
