// A playlist made on the command line opens in the desktop view, and the view's edits are
// what the command line then sees: both work on one store with one record layout.

#include <QApplication>
#include <QSpinBox>
#include <sstream>
#include <vector>

#include "cli/cliapp.h"
#include "ui/dlgdestination.h"
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
    ASSERT_EQ(m_view->DestinationList()->rowCount(), 2);
    EXPECT_EQ(rows::RowText(m_view->DestinationList(), 0), QStringLiteral("127.0.0.1 : 5004"));
    EXPECT_EQ(rows::RowText(m_view->DestinationList(), 1),
              QStringLiteral("239.1.1.1 : 5006 (TTL 3, lo)"));

    // The view's edits keep what they do not touch, and the command line sees them: a file
    // added, and the group's TTL changed in the dialog a double-click opens.
    AddFile(MakeWav("second.wav"));
    m_ui->AnswerDialog<CDlgDestination>([](CDlgDestination& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Change RTP destination"));
        EXPECT_EQ(dialog.TtlEdit()->value(), 3);
        dialog.TtlEdit()->setValue(5);
        dialog.accept();
        return dialog.result();
    });
    Q_EMIT m_view->DestinationList()->itemDoubleClicked(m_view->DestinationList()->item(1, 0));
    EXPECT_EQ(rows::RowText(m_view->DestinationList(), 1),
              QStringLiteral("239.1.1.1 : 5006 (TTL 5, lo)"));
    std::string shown;
    ASSERT_EQ(Cli({"show", "Front desk"}, &shown), 0);
    EXPECT_NE(shown.find("2. second.wav (mu-law, 8000 Hz, 20 ms, 1 s)"), std::string::npos)
        << shown;
    EXPECT_NE(shown.find("2. 239.1.1.1 : 5006 (TTL 5, lo)"), std::string::npos) << shown;
}

}  // namespace
}  // namespace viewtest
