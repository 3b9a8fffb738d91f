#include "convert/folderdialog.h"

#include <QApplication>
#include <QByteArray>
#include <QFileInfo>
#include <cstring>

#include "kit/fixedtext.h"
#include "kit/uiseam.h"

namespace {

// A rejected entry whose handler keeps the browser open asks again; a handler that keeps
// rejecting ends the run as cancelled after this many rounds rather than never.
constexpr int kMaxBrowseRounds = 16;

}  // namespace

CFolderDialog::CFolderDialog(const QString& title, const char* initialFolder, QWidget* parent,
                             unsigned flags)
    : m_owner(parent),
      m_title(title),
      m_flags(flags),
      m_displayName(std::make_unique<char[]>(kFolderPathChars)) {
    if (initialFolder != nullptr) {
        SetInitialFolder(initialFolder);
    }
}

CFolderDialog::~CFolderDialog() = default;

int CFolderDialog::DoModal() {
    std::memset(m_selectedPath, 0, sizeof m_selectedPath);
    m_statusText.clear();
    FolderBrowser browser;
    const auto self = reinterpret_cast<intptr_t>(this);
    BrowseCallbackProc(&browser, BFFM_INITIALIZED, 0, self);

    for (int round = 0; round < kMaxBrowseRounds; ++round) {
        const QString chosen = uiseam::GetExistingDirectory(m_owner, m_title, browser.selection);
        if (chosen.isEmpty()) {
            return uiseam::IDCANCEL;
        }
        const QByteArray bytes = chosen.toUtf8();
        const auto text = reinterpret_cast<intptr_t>(bytes.constData());
        if (!QFileInfo(chosen).isDir()) {
            if ((m_flags & BIF_VALIDATE) == 0) {
                return -1;
            }
            if (BrowseCallbackProc(&browser, BFFM_VALIDATEFAILEDA, text, self) == 0) {
                return uiseam::IDCANCEL;
            }
            continue;
        }
        BrowseCallbackProc(&browser, BFFM_SELCHANGED, text, self);
        fixedtext::ToFixed(QFileInfo(chosen).fileName(), m_displayName.get(), kFolderPathChars);
        return fixedtext::ToFixed(chosen, m_selectedPath) ? uiseam::IDOK : -1;
    }
    return uiseam::IDCANCEL;
}

int CFolderDialog::BrowseCallbackProc(FolderBrowser* browser, unsigned notification, intptr_t param,
                                      intptr_t data) {
    auto* self = reinterpret_cast<CFolderDialog*>(data);
    if (self == nullptr) {
        return 0;
    }
    self->m_browser = browser;
    int result = 0;
    switch (notification) {
        case BFFM_INITIALIZED:
            self->HandleBrowserReady();
            break;
        case BFFM_SELCHANGED:
            self->HandleSelectionChange(reinterpret_cast<const char*>(param));
            break;
        case BFFM_VALIDATEFAILEDA:
            result = self->HandleValidationFailure(reinterpret_cast<const char*>(param));
            break;
        case BFFM_IUNKNOWN:
            self->HandleShellInterface(reinterpret_cast<void*>(param));
            break;
        default:
            break;
    }
    self->m_browser = nullptr;
    return result;
}

void CFolderDialog::HandleBrowserReady() {
    if (m_initialFolder[0] != '\0') {
        SetBrowserSelection(m_initialFolder);
    }
}

void CFolderDialog::HandleSelectionChange(const char* item) {
    if ((m_flags & BIF_STATUSTEXT) == 0 || item == nullptr) {
        return;
    }
    char path[kFolderPathChars] = {};
    if (std::strlen(item) < sizeof path) {
        std::memcpy(path, item, std::strlen(item));
        SetBrowserStatusText(path);
    }
}

int CFolderDialog::HandleValidationFailure(const char*) {
    QApplication::beep();
    return 1;
}

void CFolderDialog::HandleShellInterface(void*) {}

bool CFolderDialog::SetInitialFolder(const char* path) {
    if (path == nullptr || std::strlen(path) >= sizeof m_initialFolder) {
        return false;
    }
    std::memset(m_initialFolder, 0, sizeof m_initialFolder);
    std::memcpy(m_initialFolder, path, std::strlen(path));
    return true;
}

void CFolderDialog::SetBrowserSelection(const char* path) {
    if (m_browser != nullptr && path != nullptr) {
        m_browser->selection = QString::fromUtf8(path);
    }
}

void CFolderDialog::SetBrowserStatusText(const char* text) {
    if (m_browser != nullptr && text != nullptr) {
        m_browser->statusText = QString::fromUtf8(text);
        m_statusText = m_browser->statusText;
    }
}
