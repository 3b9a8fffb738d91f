// A playlist made on the command line opens in the desktop view, and the view's edits are
// what the command line then sees: both work on one store with one record layout.

#include <QApplication>
#include <sstream>
#include <vector>

#include "cli/cliapp.h"
#include "viewfixture.h"

namespace viewtest {
namespace {

class ViewCliTest : public ViewFixture {
protected:
    int Cli(std::vector<std::string> args, std::string* out = nullptr) {
        args.insert(args.begin(), "sonvex-cli");
        std::vector<const char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(arg.c_str());
        }
        std::ostringstream text;
        std::ostringstream err;
        CliConsole console{text, err, false};
        const int status = RunCli(static_cast<int>(argv.size()), argv.data(), console);
        EXPECT_EQ(err.str(), "");
        if (out != nullptr) {
            *out = text.str();
        }
        return status;
    }
};

TEST_F(ViewCliTest, APlaylistMadeOnTheCommandLineOpensInTheView) {
    const std::string tone = MakeWav("tone.wav", 2.0);
    ASSERT_EQ(Cli({"create", "Front desk"}), 0);
    ASSERT_EQ(Cli({"add-file", "Front desk", tone, "--law", "a", "--ptime", "40"}), 0);
    ASSERT_EQ(Cli({"add-dest", "Front desk", "127.0.0.1", "5004"}), 0);
    ASSERT_EQ(Cli({"add-dest", "Front desk", "239.1.1.1", "5006", "--ttl", "3", "--iface", "lo"}),
              0);

    OpenPlaylist(QStringLiteral("Front desk"));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Sonvex - Front desk"));
    EXPECT_EQ(FileRows(), QStringList{QStringLiteral("tone.wav")});
    EXPECT_EQ(m_view->CurrentPlaylist().Files.at(0).Valid, 1);
    EXPECT_EQ(m_view->Settings(),
              QStringLiteral("Format: A-law\r\nSampleRate(Hz): 8000\r\nPacketization(ms): 40"));
    ASSERT_EQ(m_view->DestinationList()->count(), 2);
    EXPECT_EQ(m_view->DestinationList()->item(0)->text(), QStringLiteral("127.0.0.1 : 5004"));
    EXPECT_EQ(m_view->CurrentPlaylist().Destinations.at(1).Ttl, 3u);

    // The view's next edit keeps what it did not touch, and the command line sees the edit.
    AddFile(MakeWav("second.wav"));
    std::string shown;
    ASSERT_EQ(Cli({"show", "Front desk"}, &shown), 0);
    EXPECT_NE(shown.find("2. second.wav (U-law, 8000 Hz, 20 ms, 1 s)"), std::string::npos)
        << shown;
    EXPECT_NE(shown.find("2. 239.1.1.1 : 5006 (TTL 3, lo)"), std::string::npos) << shown;
}

}  // namespace
}  // namespace viewtest
