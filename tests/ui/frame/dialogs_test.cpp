// The playlist dialogs' data exchange and validation, answered through the seam.

#include <gtest/gtest.h>
#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kit/uiseam.h"
#include "playlist/playliststore.h"
#include "ui/aboutdlg.h"
#include "ui/announcedlg.h"
#include "ui/dlgdestination.h"
#include "ui/dlgsource.h"
#include "ui/newplaylistdlg.h"
#include "ui/openplaylistdlg.h"
#include "ui/volumedialog.h"

namespace {

struct Message {
    QString text;
    QString caption;
};

// Answers every message box and file chooser, recording what was asked.
class SeamTest : public ::testing::Test {
protected:
    void SetUp() override {
        uiseam::SetMessageHandler([this](const QString& text, const QString& caption, unsigned) {
            messages.push_back({text, caption});
            return uiseam::IDOK;
        });
        uiseam::SetOpenFileHandler([this](const QString&, const QString&, const QString& filter) {
            filters.push_back(filter);
            return nextFile;
        });
    }
    void TearDown() override {
        uiseam::SetMessageHandler({});
        uiseam::SetOpenFileHandler({});
    }

    std::vector<Message> messages;
    std::vector<QString> filters;
    QString nextFile;
};

using SourceDialog = SeamTest;

TEST_F(SourceDialog, StartsEmptyWithTheFirstRows) {
    CDlgSource dialog;
    EXPECT_EQ(dialog.FormatList()->count(), 3);
    EXPECT_EQ(dialog.FormatList()->itemText(1), QStringLiteral("A-LAW"));
    EXPECT_EQ(dialog.FormatList()->itemText(2), QStringLiteral("G.722"));
    EXPECT_EQ(dialog.PacketizationList()->count(), 4);
    EXPECT_EQ(dialog.PacketizationList()->itemText(3), QStringLiteral("160"));
    EXPECT_EQ(dialog.FormatList()->currentIndex(), 0);
    EXPECT_EQ(dialog.PacketizationList()->currentIndex(), 0);
    EXPECT_TRUE(dialog.PathEdit()->text().isEmpty());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select source file"));
}

TEST_F(SourceDialog, OkWithoutAFileAsksForOneAndStaysOpen) {
    CDlgSource dialog;
    dialog.accept();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("Please select the source file"));
    EXPECT_EQ(messages[0].caption, QStringLiteral("Sonvex"));
    EXPECT_NE(dialog.result(), QDialog::Accepted);
}

TEST_F(SourceDialog, BrowseFillsNameAndPathAndOkTheOutputSettings) {
    nextFile = QStringLiteral("/srv/audio/intro.mp3");
    CDlgSource dialog;
    dialog.OnBrowse();
    ASSERT_EQ(filters.size(), 1u);
    EXPECT_EQ(filters[0], QStringLiteral("mp3 and wav (*.mp3 *wav)"));
    EXPECT_EQ(dialog.PathEdit()->text(), nextFile);
    dialog.accept();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const PlaylistFile& entry = dialog.m_sourceEntry;
    EXPECT_STREQ(entry.Name, "intro.mp3");
    EXPECT_STREQ(entry.Source.path, "/srv/audio/intro.mp3");
    EXPECT_EQ(entry.DstFormat, 7);
    EXPECT_EQ(entry.DstSampleRate, 8000);
    EXPECT_EQ(entry.DstPacketization, 20);
    // Everything else stays zero.
    EXPECT_EQ(entry.Valid, 0);
    EXPECT_EQ(entry.Source.durationSeconds, 0);
    EXPECT_EQ(entry.Source.chunkBytes, 0);
    EXPECT_EQ(entry.Source.format, nullptr);
}

struct Choice {
    bool beforeBrowse;  // rows chosen before Browse are reset by it
    int formatRow;
    int packetRow;
    int expectFormat;
    int expectPacket;
    int expectRate = 8000;  // G.722's files are resampled to 16 kHz
};

class SourceChoices : public SeamTest, public ::testing::WithParamInterface<Choice> {};

TEST_P(SourceChoices, BrowsePushesTheMembersBackToTheLists) {
    const Choice& c = GetParam();
    nextFile = QStringLiteral("/srv/audio/loop.wav");
    CDlgSource dialog;
    if (c.beforeBrowse) {
        dialog.FormatList()->setCurrentIndex(c.formatRow);
        dialog.PacketizationList()->setCurrentIndex(c.packetRow);
        dialog.OnBrowse();
    } else {
        dialog.OnBrowse();
        dialog.FormatList()->setCurrentIndex(c.formatRow);
        dialog.PacketizationList()->setCurrentIndex(c.packetRow);
    }
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_sourceEntry.DstFormat, c.expectFormat);
    EXPECT_EQ(dialog.m_sourceEntry.DstPacketization, c.expectPacket);
    EXPECT_EQ(dialog.m_sourceEntry.DstSampleRate, c.expectRate);
}

std::string ChoiceName(const ::testing::TestParamInfo<Choice>& info) {
    const Choice& c = info.param;
    return std::string(c.beforeBrowse ? "Before" : "After") + "Browse_Format" +
           std::to_string(c.expectFormat) + "_" + std::to_string(c.expectPacket) + "ms";
}

INSTANTIATE_TEST_SUITE_P(Rows, SourceChoices,
                         ::testing::Values(Choice{true, 1, 2, 7, 20}, Choice{false, 1, 2, 6, 80},
                                           Choice{false, 0, 1, 7, 40}, Choice{false, 1, 3, 6, 160},
                                           Choice{false, 2, 0, 0x65, 20, 16000}),
                         ChoiceName);

TEST_F(SourceDialog, CancelledBrowseChangesNothing) {
    nextFile = QStringLiteral("/srv/audio/first.wav");
    CDlgSource dialog;
    dialog.OnBrowse();
    nextFile.clear();
    dialog.FormatList()->setCurrentIndex(1);
    dialog.OnBrowse();
    EXPECT_EQ(dialog.FormatList()->currentIndex(), 1);
    EXPECT_STREQ(dialog.m_sourceEntry.Name, "first.wav");
}

TEST_F(SourceDialog, PathTooLongForTheEntryIsRefused) {
    nextFile = QStringLiteral("/srv/audio/short.wav");
    CDlgSource dialog;
    dialog.OnBrowse();
    nextFile = QStringLiteral("/srv/") + QString(300, QLatin1Char('a')) + QStringLiteral(".mp3");
    dialog.OnBrowse();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("The path of the file is too long"));
    EXPECT_STREQ(dialog.m_sourceEntry.Source.path, "/srv/audio/short.wav");
    EXPECT_EQ(dialog.PathEdit()->text(), QStringLiteral("/srv/audio/short.wav"));
}

TEST_F(SourceDialog, TypedPathIsTakenInsteadOfTheBrowsedOne) {
    nextFile = QStringLiteral("/srv/audio/browsed.wav");
    CDlgSource dialog;
    dialog.OnBrowse();
    // Typed over the browsed file: the typed one counts, with its own name.
    dialog.PathEdit()->setText(QStringLiteral("/srv/audio/LOUD.MP3"));
    dialog.PacketizationList()->setCurrentIndex(1);
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_STREQ(dialog.m_sourceEntry.Name, "LOUD.MP3");
    EXPECT_STREQ(dialog.m_sourceEntry.Source.path, "/srv/audio/LOUD.MP3");
    EXPECT_EQ(dialog.m_sourceEntry.DstPacketization, 40);
    EXPECT_TRUE(dialog.m_moreEntries.empty());
}

using NewPlaylistDialog = SeamTest;

TEST_F(NewPlaylistDialog, RefusesNamesTheStoreCannotTakeAndStaysOpen) {
    const QString backslash = QStringLiteral("A playlist name cannot contain a backslash (\\).");
    const std::pair<QString, QString> refused[] = {
        {QString(), QStringLiteral("Please enter a name for the playlist.")},
        {QStringLiteral("A\\B"), backslash},
        {QStringLiteral("trail\\"), backslash},
        {QStringLiteral("two\nlines"),
         QStringLiteral("A playlist name cannot contain a line break, a tab or another control "
                        "character.")},
        {QStringLiteral("Lobby "),
         QStringLiteral("A playlist name cannot begin or end with a blank.")},
    };
    for (const auto& [typed, message] : refused) {
        messages.clear();
        CNewPlayListDlg dialog;
        dialog.NameEdit()->setText(typed);
        dialog.accept();
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, message);
    }
    CNewPlayListDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("New playlist"));
    // The field is named by a label that leads to it.
    const auto labels = dialog.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                            [&dialog](QLabel* l) { return l->buddy() == dialog.NameEdit(); }));
    dialog.NameEdit()->setText(QStringLiteral("spaced  / name"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_strName, QStringLiteral("spaced  / name"));
}

// The sharing settings beside the announcement ones: members to controls and back, an unset
// priority shown as its role's default, values a damaged store could hold shown as the
// defaults it reads them as, the level of ducking only while ducking.
TEST(AnnounceDialog, SharingSettingsGoBothWaysBesideTheAnnouncementOnes) {
    CAnnounceDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Announcements and reports"));
    dialog.m_nSapAnnounce = kSapAll;
    dialog.m_nPriority = 100;
    dialog.m_nRole = kRoleAnnouncement;
    dialog.m_nInterrupted = kInterruptedMute;
    dialog.m_nDuckDb = -30;
    dialog.InitDialog();
    EXPECT_EQ(dialog.SapBox()->currentIndex(), kSapAll);
    EXPECT_EQ(dialog.PriorityBox()->value(), 100);
    EXPECT_EQ(dialog.RoleBox()->currentIndex(), kRoleAnnouncement);
    EXPECT_EQ(dialog.InterruptedBox()->currentIndex(), kInterruptedMute);
    EXPECT_EQ(dialog.DuckBox()->value(), -30);
    EXPECT_FALSE(dialog.DuckBox()->isEnabled());

    dialog.PriorityBox()->setValue(dialog.PriorityBox()->minimum());
    EXPECT_EQ(dialog.PriorityBox()->text(), QStringLiteral("Default (50)"));
    dialog.RoleBox()->setCurrentIndex(kRoleBackground);
    EXPECT_EQ(dialog.PriorityBox()->text(), QStringLiteral("Default (10)"));
    dialog.InterruptedBox()->setCurrentIndex(kInterruptedDuck);
    EXPECT_TRUE(dialog.DuckBox()->isEnabled());
    dialog.DuckBox()->setValue(-61);  // held to the range
    dialog.RtcpBox()->setChecked(true);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_nSapAnnounce, kSapAll);
    EXPECT_EQ(dialog.m_nRtcpReports, 1);
    EXPECT_EQ(dialog.m_nPriority, kPriorityUnset);
    EXPECT_EQ(dialog.m_nRole, kRoleBackground);
    EXPECT_EQ(dialog.m_nInterrupted, kInterruptedDuck);
    EXPECT_EQ(dialog.m_nDuckDb, kMinDuckDb);

    CAnnounceDlg damaged;
    damaged.m_nPriority = 250;
    damaged.m_nRole = 7;
    damaged.m_nInterrupted = -3;
    damaged.m_nDuckDb = 12;
    damaged.InitDialog();
    damaged.accept();
    EXPECT_EQ(damaged.m_nPriority, kPriorityUnset);
    EXPECT_EQ(damaged.m_nRole, kRoleBackground);
    EXPECT_EQ(damaged.m_nInterrupted, kInterruptedDuck);
    EXPECT_EQ(damaged.m_nDuckDb, kDefaultDuckDb);
}

// Alt and a letter press every button; no two buttons of a dialog share the letter.
TEST_F(SeamTest, EveryDialogButtonHasItsOwnMnemonic) {
    CNewPlayListDlg newPlaylist;
    COpenPlayListDlg openPlaylist;
    CDlgSource source;
    CDlgDestination add;
    CDlgDestination change;
    change.SetDestination(RtpDestination::FromOctets(10, 0, 0, 1, 5004));
    CVolumeDialog volume;
    CAboutDlg about;
    const std::vector<QDialog*> dialogs = {&newPlaylist, &openPlaylist, &source, &add,
                                           &change,      &volume,       &about};
    for (QDialog* dialog : dialogs) {
        const QList<QPushButton*> buttons = dialog->findChildren<QPushButton*>();
        ASSERT_FALSE(buttons.isEmpty()) << dialog->metaObject()->className();
        std::set<QChar> letters;
        for (const QPushButton* button : buttons) {
            const QString text = button->text();
            const qsizetype amp = text.indexOf(QLatin1Char('&'));
            ASSERT_TRUE(amp >= 0 && amp + 1 < text.size())
                << dialog->metaObject()->className() << ": " << text.toStdString();
            EXPECT_TRUE(letters.insert(text[amp + 1].toLower()).second)
                << dialog->metaObject()->className() << ": " << text.toStdString();
        }
    }
    EXPECT_EQ(change.findChildren<QPushButton*>().size(), 2);
}

// The list dialog reads the real store in this process's scratch configuration.
class OpenPlaylistDialog : public ::testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear() {
        PlaylistStore store;
        std::vector<std::string> names;
        store.ListPlaylists(names);
        for (const std::string& name : names) {
            store.Delete(name);
        }
    }
    static std::vector<std::string> StoreThree() {
        PlaylistStore store;
        for (const char* name : {"morning", "Lobby", "evening"}) {
            store.Create(name);
            store.Save(Playlist{});
        }
        std::vector<std::string> names;
        store.ListPlaylists(names);
        return names;
    }
};

TEST_F(OpenPlaylistDialog, ListsTheStoredNamesWithTheFirstSelected) {
    const std::vector<std::string> names = StoreThree();
    ASSERT_EQ(names.size(), 3u);
    COpenPlayListDlg dialog;
    ASSERT_EQ(dialog.m_list->count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dialog.m_list->item(i)->text().toStdString(), names[static_cast<size_t>(i)]);
    }
    EXPECT_EQ(dialog.m_list->currentRow(), 0);
    EXPECT_EQ(dialog.m_strSelected.toStdString(), names[0]);
    dialog.accept();
    EXPECT_EQ(dialog.m_strSelected.toStdString(), names[0]);
    // Delete starts on the open playlist; a name not listed leaves the selection alone.
    COpenPlayListDlg preselected;
    preselected.Preselect(QString::fromStdString(names[2]));
    EXPECT_EQ(preselected.m_list->currentRow(), 2);
    EXPECT_EQ(preselected.m_strSelected.toStdString(), names[2]);
    preselected.Preselect(QStringLiteral("not stored"));
    EXPECT_EQ(preselected.m_list->currentRow(), 2);
}

TEST_F(OpenPlaylistDialog, SelectionAndDoubleClickTakeTheRow) {
    const std::vector<std::string> names = StoreThree();
    COpenPlayListDlg dialog;
    dialog.m_list->setCurrentRow(1);
    EXPECT_EQ(dialog.m_strSelected.toStdString(), names[1]);
    dialog.OnDoubleClicked(-1);  // not on a row
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    dialog.OnDoubleClicked(2);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_strSelected.toStdString(), names[2]);
}

TEST_F(OpenPlaylistDialog, EmptyStoreGivesAnEmptyName) {
    COpenPlayListDlg dialog;
    EXPECT_EQ(dialog.m_list->count(), 0);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.m_strSelected.isEmpty());
}

TEST_F(OpenPlaylistDialog, CaptionIsTheOneSetBeforeShowing) {
    COpenPlayListDlg dialog;
    EXPECT_EQ(dialog.m_strCaption, QStringLiteral("Playlist"));
    dialog.m_strCaption = QStringLiteral("Select playlist to delete");
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select playlist to delete"));
    dialog.hide();
}

}  // namespace
