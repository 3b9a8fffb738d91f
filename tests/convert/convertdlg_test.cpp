#include "convert/convertdlg.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "codec/waveformat.h"
#include "convert/convertdoneevent.h"
#include "kit/uiseam.h"
#include "qstringprint.h"
#include "testmedia.h"

namespace {

struct Shown {
    QString text;
    QString caption;
    unsigned type;
};

class ConvertDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        uiseam::SetMessageHandler(
            [this](const QString& text, const QString& caption, unsigned type) {
                m_shown.push_back({text, caption, type});
                return m_answer;
            });
        uiseam::SetOpenFileHandler([this](const QString&, const QString&, const QString& filter) {
            m_filter = filter;
            return m_openReply;
        });
        uiseam::SetFolderHandler([this](const QString& caption, const QString& dir) {
            m_folderCaption = caption;
            m_folderOpenedAt = dir;
            return m_folderReply;
        });
    }
    void TearDown() override {
        uiseam::SetMessageHandler({});
        uiseam::SetOpenFileHandler({});
        uiseam::SetFolderHandler({});
    }

    QString Path(const std::string& relative) const {
        const auto path = m_dir / relative;
        std::filesystem::create_directories(path.parent_path());
        return QString::fromStdString(path.string());
    }
    QString Folder(const std::string& relative) const {
        std::filesystem::create_directories(m_dir / relative);
        return QString::fromStdString((m_dir / relative).string());
    }
    QString Wave(const std::string& relative, uint32_t frames = 8000) const {
        const QString path = Path(relative);
        testmedia::WriteWave(path.toStdString(), WAVE_FORMAT_PCM, 1, 8000, 16,
                             testmedia::Tone(frames, 1, 8000, 440, 0.5));
        return path;
    }
    void Browse(CConvertDlg& dialog, const QString& path) {
        m_openReply = path;
        dialog.OnBrowse();
    }
    static QLineEdit* Edit(CConvertDlg& dialog, const char* name) {
        return dialog.findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    static QPushButton* Button(CConvertDlg& dialog, const char* name) {
        return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
    }
    // Where Tab goes from `widget`, as the focus chain has it (without showing the dialog,
    // which the race detector cannot follow into Qt's own threads).
    static QWidget* NextTabStop(QWidget* widget) {
        QWidget* next = widget->nextInFocusChain();
        while (next != widget && (!(next->focusPolicy() & Qt::TabFocus) || !next->isEnabled())) {
            next = next->nextInFocusChain();
        }
        return next;
    }
    static bool IsDone(const QString& text) { return text.startsWith(QStringLiteral("Done: ")); }
    // Lets posted messages arrive until the conversion's end is shown or the time runs out.
    bool WaitForEnd(int timeoutMs = 20000) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (!m_shown.empty() &&
                (IsDone(m_shown.back().text) ||
                 m_shown.back().text == QStringLiteral("Media file conversion failed..."))) {
                return true;
            }
        }
        return false;
    }
    int CountDone() const {
        int n = 0;
        for (const auto& shown : m_shown) {
            n += IsDone(shown.text) ? 1 : 0;
        }
        return n;
    }
    int Count(const QString& text) const {
        int n = 0;
        for (const auto& shown : m_shown) {
            n += shown.text == text ? 1 : 0;
        }
        return n;
    }

    testmedia::TempDir m_dir;
    std::vector<Shown> m_shown;
    int m_answer = uiseam::IDOK;
    QString m_openReply;
    QString m_filter;
    QString m_folderReply;
    QString m_folderCaption;
    QString m_folderOpenedAt;
};

// song.mp3 proposes song_convert.wav beside it; a second input keeps the folder.
TEST_F(ConvertDlgTest, OutputNameFollowsFirstInputsFolder) {
    CConvertDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("File format conversion"));
    Browse(dialog, Wave("music/song.wav"));
    EXPECT_EQ(dialog.OutputPath(), Path("music/song_convert.wav"));
    EXPECT_EQ(dialog.OutputFolder(), Path("music/"));
    EXPECT_EQ(dialog.SampleRate(), 8000);
    EXPECT_EQ(dialog.ChannelsText(), QStringLiteral("Mono"));
    EXPECT_EQ(dialog.Duration(), 1);
    EXPECT_FALSE(dialog.FormatName().isEmpty());
    EXPECT_NE(dialog.FormatName(), QStringLiteral("Unknown format"));
    EXPECT_EQ(Edit(dialog, "outputPath")->text(), dialog.OutputPath());

    Browse(dialog, Wave("other/a.b.wav"));
    EXPECT_EQ(dialog.OutputPath(), Path("music/a.b_convert.wav"));
}

TEST_F(ConvertDlgTest, Mp3InputNamesItsOutput) {
    // Long enough for the frame scan to find its frames.
    const QString wav = Path("in/tone.wav");
    testmedia::WriteWave(wav.toStdString(), WAVE_FORMAT_PCM, 2, 44100, 16,
                         testmedia::Tone(44100 * 5, 2, 44100, 1020, 0.5));
    const QString mp3 = Path("music/song.mp3");
    if (!testmedia::EncodeMp3(wav.toStdString(), mp3.toStdString())) {
        GTEST_SKIP() << "no MP3 encoder";
    }
    CConvertDlg dialog;
    Browse(dialog, mp3);
    EXPECT_EQ(dialog.OutputPath(), Path("music/song_convert.wav"));
    EXPECT_TRUE(m_filter.contains(QStringLiteral("*.mp3")));
}

// An input that cannot be opened leaves nothing to convert: the output proposed for an
// earlier input goes, and Convert (and Enter) wait for a usable input.
TEST_F(ConvertDlgTest, RefusedInputClearsTheOutputAndDisablesConvert) {
    CConvertDlg dialog;
    Browse(dialog, Wave("music/song.wav"));
    Edit(dialog, "outputPath")->setText(QStringLiteral("typed.wav"));

    const QString junk = Path("music/junk.wav");
    std::ofstream(junk.toStdString()) << "not audio";
    Browse(dialog, junk);
    EXPECT_EQ(dialog.InputPath(), QStringLiteral("File format not supported"));
    EXPECT_EQ(dialog.SampleRate(), 0);
    EXPECT_EQ(dialog.Duration(), 0);
    EXPECT_EQ(dialog.ChannelsText(), QStringLiteral("Mono"));
    EXPECT_TRUE(dialog.FormatName().isEmpty());
    EXPECT_TRUE(dialog.OutputPath().isEmpty());
    EXPECT_TRUE(Edit(dialog, "outputPath")->text().isEmpty());
    EXPECT_FALSE(Button(dialog, "convertButton")->isEnabled());
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_TRUE(m_shown.empty());
    EXPECT_FALSE(dialog.IsConverting());
    // The refusal text is no name to build an output from.
    m_folderReply = Folder("out");
    dialog.OnSaveTo();
    EXPECT_EQ(dialog.OutputPath(), Path("out/_convert.wav"));

    // Cancelling the chooser changes nothing; a usable input brings Convert back.
    Browse(dialog, QString());
    EXPECT_EQ(dialog.InputPath(), QStringLiteral("File format not supported"));
    EXPECT_FALSE(Button(dialog, "convertButton")->isEnabled());
    Browse(dialog, Wave("music/tune.wav"));
    EXPECT_TRUE(Button(dialog, "convertButton")->isEnabled());
    EXPECT_EQ(dialog.OutputPath(), Path("out/tune_convert.wav"));

    // Tab goes from the input path to its Browse, from there past the four fields that
    // describe the input to the output, and from the output to its Save to.
    EXPECT_EQ(NextTabStop(Edit(dialog, "inputPath")), Button(dialog, "browseButton"));
    EXPECT_EQ(NextTabStop(Button(dialog, "browseButton")), Edit(dialog, "outputPath"));
    EXPECT_EQ(NextTabStop(Edit(dialog, "outputPath")), Button(dialog, "saveToButton"));
    // Every button answers to Alt and its own letter.
    std::set<QChar> letters;
    for (const char* name : {"browseButton", "saveToButton", "convertButton", "cancelButton"}) {
        const QString text = Button(dialog, name)->text();
        const qsizetype amp = text.indexOf(QLatin1Char('&'));
        ASSERT_TRUE(amp >= 0 && amp + 1 < text.size()) << name;
        EXPECT_TRUE(letters.insert(text[amp + 1].toLower()).second) << name;
    }
}

// A single local file dropped on the dialog is taken as if chosen with Browse.
TEST_F(ConvertDlgTest, DroppedFileBecomesTheInput) {
    CConvertDlg dialog;
    const QString song = Wave("music/song.wav");
    const auto drop = [&dialog](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&dialog, &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&dialog, &dropped);
        return dropped.isAccepted();
    };
    EXPECT_FALSE(drop({QUrl::fromLocalFile(song), QUrl::fromLocalFile(Wave("music/b.wav"))}));
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.com/a.wav"))}));
    EXPECT_TRUE(dialog.InputPath().isEmpty());

    EXPECT_TRUE(drop({QUrl::fromLocalFile(song)}));
    EXPECT_EQ(dialog.InputPath(), song);
    EXPECT_EQ(Edit(dialog, "outputPath")->text(), Path("music/song_convert.wav"));
}

TEST_F(ConvertDlgTest, UnknownFormatProposesNoOutput) {
    CConvertDlg dialog;
    const QString source = Path("music/g729.wav");
    testmedia::WriteWave(source.toStdString(), WAVE_FORMAT_G729A, 1, 8000, 8,
                         std::vector<uint8_t>(16000, 0));
    Browse(dialog, source);
    EXPECT_EQ(dialog.FormatName(), QStringLiteral("Unknown format"));
    EXPECT_EQ(dialog.SampleRate(), 8000);
    EXPECT_TRUE(dialog.OutputPath().isEmpty());
    EXPECT_TRUE(dialog.OutputFolder().isEmpty());

    // Converting it anyway fails, and says so.
    Edit(dialog, "outputPath")->setText(Path("out/g729_convert.wav"));
    dialog.OnConvert();
    ASSERT_FALSE(m_shown.empty());
    EXPECT_EQ(m_shown.back().text, QStringLiteral("Media file conversion failed..."));
    EXPECT_EQ(m_shown.back().caption, QStringLiteral("Sonvex"));
    EXPECT_FALSE(dialog.IsConverting());
}

TEST_F(ConvertDlgTest, SaveToReplacesFolderAndAppendsSeparator) {
    CConvertDlg dialog;
    // Before any input: the folder and "_convert.wav" alone.
    m_folderReply = Folder("out");
    dialog.OnSaveTo();
    EXPECT_EQ(m_folderCaption, QStringLiteral("Select output folder"));
    EXPECT_TRUE(m_folderOpenedAt.isEmpty());
    EXPECT_EQ(dialog.OutputFolder(), Path("out") + QStringLiteral("/"));
    EXPECT_EQ(dialog.OutputPath(), Path("out/_convert.wav"));

    Browse(dialog, Wave("music/song.wav"));
    EXPECT_EQ(dialog.OutputPath(), Path("out/song_convert.wav"));

    // The chooser opens at the current folder; a cancel keeps everything.
    m_folderReply.clear();
    dialog.OnSaveTo();
    EXPECT_EQ(m_folderOpenedAt, Path("out") + QStringLiteral("/"));
    EXPECT_EQ(dialog.OutputPath(), Path("out/song_convert.wav"));
}

TEST_F(ConvertDlgTest, ConvertChecksOutputPathFirst) {
    CConvertDlg dialog;
    Browse(dialog, Wave("music/song.wav"));
    Edit(dialog, "outputPath")->clear();
    dialog.OnConvert();
    ASSERT_EQ(m_shown.size(), 1u);
    EXPECT_EQ(m_shown[0].text, QStringLiteral("You have to specify where to save the output"));
    EXPECT_EQ(m_shown[0].caption, QStringLiteral("Sonvex"));

    // An existing output: No keeps it untouched.
    const QString existing = Path("music/song_convert.wav");
    std::ofstream(existing.toStdString()) << "keep me";
    Edit(dialog, "outputPath")->setText(existing);
    m_answer = uiseam::IDNO;
    dialog.OnConvert();
    ASSERT_EQ(m_shown.size(), 2u);
    EXPECT_EQ(m_shown[1].text, QStringLiteral("Do you want to overwrite the existing file?"));
    EXPECT_EQ(m_shown[1].caption, QStringLiteral("Caution"));
    EXPECT_EQ(m_shown[1].type & 0xF, uiseam::MB_YESNO);
    EXPECT_FALSE(dialog.IsConverting());
    EXPECT_EQ(testmedia::ReadAll(existing.toStdString()).size(), 7u);

    // Yes converts over it.
    m_answer = uiseam::IDYES;
    dialog.OnConvert();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_GT(std::filesystem::file_size(existing.toStdString()), 58u);
}

// Enter converts when Convert is enabled and is ignored while a conversion runs; the bar
// follows whole seconds and "Done", naming the output, brings the idle state back.
TEST_F(ConvertDlgTest, EnterStartsConversionOnlyWhenIdle) {
    CConvertDlg dialog;
    Browse(dialog, Wave("music/song.wav", 8000 * 30));
    const QString output = dialog.OutputPath();
    QTest::keyClick(&dialog, Qt::Key_Return);
    ASSERT_TRUE(dialog.IsConverting());
    EXPECT_FALSE(Button(dialog, "convertButton")->isEnabled());
    EXPECT_FALSE(Button(dialog, "browseButton")->isEnabled());
    EXPECT_TRUE(Button(dialog, "saveToButton")->isEnabled());
    auto* progress = dialog.findChild<QProgressBar*>(QStringLiteral("progress"));
    EXPECT_EQ(progress->maximum(), 30);

    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_TRUE(m_shown.empty());  // no overwrite question: the second Enter did nothing

    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(Count(QStringLiteral("Done: ") + output), 1);
    EXPECT_FALSE(dialog.IsConverting());
    EXPECT_TRUE(Button(dialog, "convertButton")->isEnabled());
    EXPECT_TRUE(Button(dialog, "browseButton")->isEnabled());
    EXPECT_EQ(progress->value(), 0);
    EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(output.toStdString())),
                58.0 + 30 * 8000, 400.0);
}

TEST_F(ConvertDlgTest, ProgressFollowsSecondsWithinSixteenBitRange) {
    CConvertDlg dialog;
    Browse(dialog, Wave("music/song.wav", 8000 * 2));
    // A typed duration stands for a very long source: the range keeps 16 bits of it.
    Edit(dialog, "duration")->setText(QStringLiteral("70000"));
    dialog.OnConvert();
    ASSERT_TRUE(WaitForEnd());
    auto* progress = dialog.findChild<QProgressBar*>(QStringLiteral("progress"));
    EXPECT_EQ(progress->maximum(), 70000 - 65536);

    ConvertDoneEvent progressEvent(0, 3);
    QCoreApplication::sendEvent(&dialog, &progressEvent);
    EXPECT_EQ(progress->value(), 3);
    dialog.OnConvertDone(0, 100000);
    EXPECT_EQ(progress->value(), progress->maximum());
}

// Closing mid-conversion stops the worker and waits for it; the shortened conversion leaves
// no file, and no "Done" follows the closed dialog.
TEST_F(ConvertDlgTest, ClosingWhileConvertingStopsWorker) {
    const QString source = Path("music/long.wav");
    testmedia::WriteWave(source.toStdString(), WAVE_FORMAT_PCM, 2, 44100, 16,
                         testmedia::Repeat(testmedia::Tone(44100, 2, 44100, 441, 0.5), 300));
    QString output;
    {
        CConvertDlg dialog;
        Browse(dialog, source);
        output = dialog.OutputPath();
        int finished = 0;
        QObject::connect(&dialog, &QDialog::finished, [&finished] { ++finished; });
        dialog.OnConvert();
        ASSERT_TRUE(dialog.IsConverting());
        auto* progress = dialog.findChild<QProgressBar*>(QStringLiteral("progress"));
        QElapsedTimer timer;
        timer.start();
        while (progress->value() < 1 && timer.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        EXPECT_GE(progress->value(), 1);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.IsConverting());
        EXPECT_EQ(finished, 1);
        QCoreApplication::processEvents();
        EXPECT_EQ(CountDone(), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(output.toStdString()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Path("music").toStdString()), {}),
              1);
}

// A write that fails part way (a full disk; here the file size limit) ends the conversion
// as a failure: the incomplete output goes, and nothing else does.
TEST_F(ConvertDlgTest, FailedWriteEndsAsAFailureAndRemovesOnlyTheOutput) {
    CConvertDlg dialog;
    const QString source = Wave("music/song.wav", 8000 * 10);
    const QString neighbour = Path("music/notes.txt");
    std::ofstream(neighbour.toStdString()) << "keep";
    Browse(dialog, source);
    const QString output = dialog.OutputPath();

    // Past the limit a write is cut short, then refused (EFBIG instead of a signal).
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 20000;
    const sighandler_t handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    dialog.OnConvert();
    const bool ended = WaitForEnd();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);

    ASSERT_TRUE(ended);
    EXPECT_EQ(m_shown.back().text, QStringLiteral("Media file conversion failed..."));
    EXPECT_EQ(CountDone(), 0);
    EXPECT_FALSE(dialog.IsConverting());
    EXPECT_TRUE(Button(dialog, "convertButton")->isEnabled());
    EXPECT_FALSE(std::filesystem::exists(output.toStdString()));
    EXPECT_EQ(std::filesystem::file_size(source.toStdString()), 44u + 8000u * 10u * 2u);
    EXPECT_TRUE(std::filesystem::exists(neighbour.toStdString()));
}

}  // namespace
