#include "convert/folderdialog.h"

#include <gtest/gtest.h>

#include <QString>
#include <filesystem>
#include <string>
#include <vector>

#include "kit/uiseam.h"
#include "qstringprint.h"
#include "testmedia.h"

namespace {

// Answers the folder chooser with a script of replies and records the folders it opened at.
class FolderDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        uiseam::SetFolderHandler([this](const QString& caption, const QString& dir) {
            m_captions.push_back(caption);
            m_openedAt.push_back(dir);
            if (m_replies.empty()) {
                return QString();
            }
            QString reply = m_replies.front();
            m_replies.erase(m_replies.begin());
            return reply;
        });
    }
    void TearDown() override { uiseam::SetFolderHandler({}); }

    QString Dir(const std::string& name = {}) const {
        const auto path = name.empty() ? m_dir.Path() : m_dir / name;
        std::filesystem::create_directories(path);
        return QString::fromStdString(path.string());
    }

    testmedia::TempDir m_dir;
    std::vector<QString> m_replies;
    std::vector<QString> m_openedAt;
    std::vector<QString> m_captions;
};

class CountingFolderDialog : public CFolderDialog {
public:
    using CFolderDialog::CFolderDialog;
    int m_rejected = 0;
    int m_keepOpen = 1;
    void* m_shellInterface = nullptr;

protected:
    int HandleValidationFailure(const char*) override {
        ++m_rejected;
        return m_keepOpen;
    }
    void HandleShellInterface(void* shellInterface) override { m_shellInterface = shellInterface; }
};

TEST_F(FolderDialogTest, ChoiceCancelAndInitialFolder) {
    const QString out = Dir("out");
    {
        CFolderDialog dialog(QStringLiteral("Select output folder"), nullptr, nullptr,
                             BIF_RETURNONLYFSDIRS);
        m_replies = {out};
        EXPECT_EQ(dialog.DoModal(), uiseam::IDOK);
        EXPECT_EQ(QString::fromUtf8(dialog.GetFolderPath()), out);
        // No initial folder: the chooser opens at its default place.
        EXPECT_TRUE(m_openedAt.back().isEmpty());
        EXPECT_EQ(m_captions.back(), QStringLiteral("Select output folder"));
    }
    {
        // A folder ending in a separator, as the Convert dialog passes it, is preselected.
        const QByteArray initial = (out + QLatin1Char('/')).toUtf8();
        CFolderDialog dialog(QStringLiteral("t"), initial.constData());
        EXPECT_EQ(dialog.DoModal(), uiseam::IDCANCEL);
        EXPECT_EQ(m_openedAt.back(), out + QLatin1Char('/'));
        EXPECT_STREQ(dialog.GetFolderPath(), "");
    }
}

TEST_F(FolderDialogTest, ChoiceWithoutFileSystemPathIsMinusOne) {
    CFolderDialog dialog(QStringLiteral("t"));
    m_replies = {QString::fromStdString((m_dir / "gone").string())};
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_STREQ(dialog.GetFolderPath(), "");

    // A real folder whose path does not fit 259 bytes.
    const QString deep = Dir(std::string(200, 'a') + "/" + std::string(100, 'b'));
    m_replies = {deep};
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_STREQ(dialog.GetFolderPath(), "");
}

TEST_F(FolderDialogTest, LongInitialFolderIsRefused) {
    const std::string tooLong(260, 'x');
    CFolderDialog dialog(QStringLiteral("t"), tooLong.c_str());
    EXPECT_STREQ(dialog.GetInitialFolder(), "");
    EXPECT_FALSE(dialog.SetInitialFolder(tooLong.c_str()));
    const std::string fits(259, 'y');
    EXPECT_TRUE(dialog.SetInitialFolder(fits.c_str()));
    EXPECT_EQ(std::string(dialog.GetInitialFolder()), fits);
}

TEST_F(FolderDialogTest, StatusTextOnlyWithStatusFlag) {
    const QString out = Dir("out");
    CFolderDialog plain(QStringLiteral("t"), nullptr, nullptr, BIF_RETURNONLYFSDIRS);
    m_replies = {out};
    ASSERT_EQ(plain.DoModal(), uiseam::IDOK);
    EXPECT_TRUE(plain.StatusText().isEmpty());

    CFolderDialog status(QStringLiteral("t"), nullptr, nullptr,
                         BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT);
    m_replies = {out};
    ASSERT_EQ(status.DoModal(), uiseam::IDOK);
    EXPECT_EQ(status.StatusText(), out);
}

TEST_F(FolderDialogTest, RejectedEntryKeepsBrowserOpenUntilHandlerLetsGo) {
    const QString out = Dir("out");
    const QString bogus = QString::fromStdString((m_dir / "typed").string());
    {
        CountingFolderDialog dialog(QStringLiteral("t"), nullptr, nullptr, BIF_VALIDATE);
        m_replies = {bogus, out};
        EXPECT_EQ(dialog.DoModal(), uiseam::IDOK);
        EXPECT_EQ(dialog.m_rejected, 1);
        EXPECT_EQ(QString::fromUtf8(dialog.GetFolderPath()), out);
    }
    {
        CountingFolderDialog dialog(QStringLiteral("t"), nullptr, nullptr, BIF_VALIDATE);
        dialog.m_keepOpen = 0;
        m_replies = {bogus, out};
        EXPECT_EQ(dialog.DoModal(), uiseam::IDCANCEL);
        EXPECT_EQ(dialog.m_rejected, 1);
    }
    {
        // A handler that rejects forever does not hang the run.
        CountingFolderDialog dialog(QStringLiteral("t"), nullptr, nullptr, BIF_VALIDATE);
        m_replies.assign(100, bogus);
        EXPECT_EQ(dialog.DoModal(), uiseam::IDCANCEL);
        EXPECT_GT(dialog.m_rejected, 1);
    }
}

TEST_F(FolderDialogTest, CallbackRoutesNotifications) {
    CountingFolderDialog dialog(QStringLiteral("t"), "/initial/", nullptr, BIF_STATUSTEXT);
    const auto self = reinterpret_cast<intptr_t>(&dialog);
    FolderBrowser browser;

    EXPECT_EQ(CFolderDialog::BrowseCallbackProc(&browser, BFFM_INITIALIZED, 0, self), 0);
    EXPECT_EQ(browser.selection, QStringLiteral("/initial/"));

    const char* item = "/picked";
    EXPECT_EQ(CFolderDialog::BrowseCallbackProc(&browser, BFFM_SELCHANGED,
                                                reinterpret_cast<intptr_t>(item), self),
              0);
    EXPECT_EQ(browser.statusText, QStringLiteral("/picked"));

    EXPECT_EQ(CFolderDialog::BrowseCallbackProc(&browser, BFFM_VALIDATEFAILEDA,
                                                reinterpret_cast<intptr_t>(item), self),
              1);
    // The wide-character rejection is not handled.
    EXPECT_EQ(CFolderDialog::BrowseCallbackProc(&browser, BFFM_VALIDATEFAILEDW,
                                                reinterpret_cast<intptr_t>(item), self),
              0);
    EXPECT_EQ(dialog.m_rejected, 1);

    int shellObject = 0;
    EXPECT_EQ(CFolderDialog::BrowseCallbackProc(&browser, BFFM_IUNKNOWN,
                                                reinterpret_cast<intptr_t>(&shellObject), self),
              0);
    EXPECT_EQ(dialog.m_shellInterface, &shellObject);

    // Outside a notification the utilities reach no browser.
    dialog.SetBrowserSelection("/elsewhere");
    EXPECT_EQ(browser.selection, QStringLiteral("/initial/"));
}

}  // namespace
