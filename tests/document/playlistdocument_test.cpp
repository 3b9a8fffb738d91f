#include "document/playlistdocument.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/tempdir.h"
#include "support/wavefile.h"
#include "support/xdgsandbox.h"

namespace {

// Remembers what the document said, in order.
class Heard : public DocumentObserver {
public:
    void OnStreamingStatus(const StreamingStatus&) override {}
    void OnNameChanged(const std::string& name) override { names.push_back(name); }
    void OnStoreFailure(const std::string& message) override { failures.push_back(message); }

    std::vector<std::string> names;
    std::vector<std::string> failures;
};

class DocumentTest : public XdgSandbox {
protected:
    PlaylistFile Entry(const std::string& path) {
        PlaylistFile entry;
        entry.SetName(std::filesystem::path(path).filename().c_str());
        entry.Source.SetPath(path.c_str());
        entry.DstFormat = 7;
        entry.DstSampleRate = 8000;
        entry.DstPacketization = 20;
        return entry;
    }
    std::string Wav(const std::string& name) {
        const std::string path = m_files.File(name);
        EXPECT_TRUE(testsupport::WriteWave(path, 1, 1, 8000, 16, std::vector<uint8_t>(16000)));
        return path;
    }

    testsupport::TempDir m_files;
    Heard m_heard;
};

// What the desktop shows and what the command line prints come from one report.
TEST_F(DocumentTest, ProbeReportsCarryTheReadersReasonAndKeepOnlyFilesThatOpen) {
    const std::string good = Wav("good.wav");
    const std::string garbage = m_files.File("noise.wav");
    std::ofstream(garbage) << "this is not a RIFF file at all";
    struct Case {
        std::string path;
        std::string reason;  // a part of it
    } cases[] = {{m_files.File("gone.wav"), "No such file or directory"},
                 {garbage, ""},
                 {m_files.Path().string(), "a folder, not an audio file"},
                 {"", "no file is named"}};
    for (const Case& c : cases) {
        PlaylistFile entry = Entry(c.path);
        const ProbeReport report = ProbeEntry(entry);
        EXPECT_FALSE(report.valid) << c.path;
        EXPECT_FALSE(report.reason.empty()) << c.path;
        EXPECT_NE(report.reason.find(c.reason), std::string::npos) << report.reason;
        EXPECT_EQ(std::string(entry.Source.path), c.path);  // the path survives a refusal
        const std::string details = InvalidEntryText(entry, report);
        EXPECT_EQ(details.rfind("Invalid file\r\n\r\n", 0), 0u) << details;
        EXPECT_NE(details.find(c.path + "\r\n\r\n" + report.reason), std::string::npos);
    }

    PlaylistDocument document(&m_heard);
    ASSERT_TRUE(document.Create("demo"));
    const std::vector<ProbeReport> added =
        document.AddFiles({Entry(good), Entry(garbage), Entry(good)});
    ASSERT_EQ(added.size(), 3u);
    EXPECT_TRUE(added[0].valid && !added[1].valid && added[2].valid);
    EXPECT_FALSE(added[0].description.empty());
    ASSERT_EQ(document.CurrentPlaylist().Files.size(), 2u);
    EXPECT_EQ(document.CurrentPlaylist().Files[1].Valid, 1);
    EXPECT_GT(document.CurrentPlaylist().Files[1].Source.durationSeconds, 0);

    // Reopened, entries are invalid until probed; a file gone since stays listed, invalid.
    PlaylistDocument reopened;
    ASSERT_TRUE(reopened.Open("demo"));
    EXPECT_EQ(reopened.CurrentPlaylist().Files[0].Valid, 0);
    ASSERT_EQ(std::remove(good.c_str()), 0);
    const std::vector<ProbeReport> probed = reopened.ProbeAll();
    ASSERT_EQ(probed.size(), 2u);
    EXPECT_FALSE(probed[0].valid || probed[1].valid);
    EXPECT_NE(probed[1].reason.find("No such file or directory"), std::string::npos);
    EXPECT_EQ(reopened.CurrentPlaylist().Files[0].Valid, 0);
    EXPECT_TRUE(m_heard.failures.empty());
}

// Every edit saves at once; the open playlist follows the store only as far as it can be read.
TEST_F(DocumentTest, EditsSaveAtOnceAndTheOpenPlaylistSurvivesWhatTheStoreRefuses) {
    PlaylistDocument document(&m_heard);
    EXPECT_FALSE(document.Open("nothing-stored"));  // no store yet: no word either
    EXPECT_FALSE(document.Save());                  // nothing open to save into
    ASSERT_EQ(m_heard.failures.size(), 1u);
    EXPECT_EQ(m_heard.failures[0].rfind("The playlist \"\" could not be saved: ", 0), 0u);

    ASSERT_TRUE(document.Create("demo"));
    ASSERT_TRUE(document.AddFiles({Entry(Wav("a.wav")), Entry(Wav("b.wav"))})[1].valid);
    ASSERT_TRUE(document.AddDestination(RtpDestination::FromOctets(127, 0, 0, 1, 5004)));
    ASSERT_TRUE(document.MoveFileUp(1));
    EXPECT_FALSE(document.MoveFileUp(0));
    EXPECT_FALSE(document.RemoveDestination(1));
    PlaylistDocument other;
    ASSERT_TRUE(other.Open("demo"));
    ASSERT_EQ(other.CurrentPlaylist().Files.size(), 2u);
    EXPECT_STREQ(other.CurrentPlaylist().Files[0].Name, "b.wav");
    EXPECT_EQ(other.CurrentPlaylist().Destinations.size(), 1u);

    // A store that cannot be read keeps the open playlist, and the next save still goes to it.
    const std::string file = UserFile();
    ASSERT_EQ(std::rename(file.c_str(), (file + ".away").c_str()), 0);
    std::filesystem::create_directory(file);
    EXPECT_FALSE(document.Open("demo"));
    EXPECT_EQ(document.Name(), "demo");
    EXPECT_EQ(document.CurrentPlaylist().Files.size(), 2u);
    EXPECT_TRUE(document.RemoveFile(0));  // removed here, not stored: said so
    ASSERT_EQ(m_heard.failures.size(), 2u);
    EXPECT_EQ(m_heard.failures[1].rfind("The playlist \"demo\" could not be saved: ", 0), 0u);
    EXPECT_NE(m_heard.failures[1].find(".\nThe change is shown here but is not stored."),
              std::string::npos);
    std::filesystem::remove(file);
    ASSERT_EQ(std::rename((file + ".away").c_str(), file.c_str()), 0);
    ASSERT_TRUE(document.AddDestination(RtpDestination::FromOctets(127, 0, 0, 2, 5006)));
    ASSERT_TRUE(other.Open("demo"));
    EXPECT_EQ(other.CurrentPlaylist().Files.size(), 1u);
    EXPECT_EQ(other.CurrentPlaylist().Destinations.size(), 2u);
}

// The open playlist closes only when its own name is deleted, byte for byte, although the
// store compares names without case; the next edit stores it again.
TEST_F(DocumentTest, DeletingClosesOnlyTheOpenNameAndNewReplacesAStoredOne) {
    PlaylistDocument document(&m_heard);
    ASSERT_TRUE(document.Create("demo"));
    ASSERT_TRUE(document.AddFiles({Entry(Wav("a.wav"))})[0].valid);
    ASSERT_TRUE(document.New("Demo"));  // replaces the stored key
    EXPECT_TRUE(document.CurrentPlaylist().Files.empty());
    ASSERT_TRUE(document.AddFiles({Entry(Wav("b.wav"))})[0].valid);

    ASSERT_TRUE(document.Delete("demo"));
    EXPECT_FALSE(document.Exists("Demo"));
    EXPECT_EQ(document.Name(), "Demo");
    ASSERT_TRUE(document.AddDestination(RtpDestination::FromOctets(127, 0, 0, 1, 5004)));
    EXPECT_TRUE(document.Exists("Demo"));

    ASSERT_TRUE(document.Delete("Demo"));
    EXPECT_FALSE(document.IsOpen());
    EXPECT_TRUE(document.CurrentPlaylist().Files.empty());
    EXPECT_EQ(m_heard.names, (std::vector<std::string>{"demo", "Demo", ""}));
    EXPECT_TRUE(m_heard.failures.empty());
}

}  // namespace
