#pragma once
// Lets the operator pick a folder: constructed with a title, an initial folder, an owner
// and browse flags, run once with DoModal, then read with GetFolderPath. The chooser itself
// is the folder dialog behind uiseam; its notifications (ready, selection change, rejected
// entry, shell interface) reach the four virtual handlers through BrowseCallbackProc, and
// the utility calls act on the browser only while one of those is being handled. UI thread.

#include <QString>
#include <cstdint>
#include <memory>

class QWidget;

// Browse flags.
constexpr unsigned BIF_RETURNONLYFSDIRS = 0x0001;
constexpr unsigned BIF_STATUSTEXT = 0x0004;
constexpr unsigned BIF_VALIDATE = 0x0020;

// Browser notifications.
constexpr unsigned BFFM_INITIALIZED = 1;
constexpr unsigned BFFM_SELCHANGED = 2;
constexpr unsigned BFFM_VALIDATEFAILEDA = 3;
constexpr unsigned BFFM_VALIDATEFAILEDW = 4;
constexpr unsigned BFFM_IUNKNOWN = 5;

constexpr int kFolderPathChars = 260;  // 259 bytes and a NUL

// What the browser shows while it runs: the folder it opens at and its status line.
struct FolderBrowser {
    QString selection;
    QString statusText;
};

class CFolderDialog {
public:
    // initialFolder may be null (the browser then opens at its default place).
    CFolderDialog(const QString& title, const char* initialFolder = nullptr,
                  QWidget* parent = nullptr, unsigned flags = 0);
    CFolderDialog(const CFolderDialog&) = delete;
    CFolderDialog& operator=(const CFolderDialog&) = delete;
    virtual ~CFolderDialog();

    // IDOK with GetFolderPath filled, IDCANCEL when the operator cancels, -1 when the choice
    // has no file-system path that fits.
    virtual int DoModal();

    const char* GetFolderPath() const { return m_selectedPath; }
    const char* GetInitialFolder() const { return m_initialFolder; }
    // The status line the handlers last set during the run.
    const QString& StatusText() const { return m_statusText; }
    unsigned Flags() const { return m_flags; }

    // Copies path as the folder to preselect; a path of 260 bytes or more is refused (the
    // initial folder is then left as it was) and false returned.
    bool SetInitialFolder(const char* path);
    void SetBrowserSelection(const char* path);
    void SetBrowserStatusText(const char* text);

    // The browser's notification callback; data is the CFolderDialog. Returns what the
    // notification's handler returns (0 for all but a rejected entry).
    static int BrowseCallbackProc(FolderBrowser* browser, unsigned notification, intptr_t param,
                                  intptr_t data);

protected:
    virtual void HandleBrowserReady();
    // item: the newly selected folder's path.
    virtual void HandleSelectionChange(const char* item);
    // Beeps and returns 1, which keeps the browser open.
    virtual int HandleValidationFailure(const char* text);
    virtual void HandleShellInterface(void* shellInterface);

private:
    QWidget* m_owner = nullptr;
    QString m_title;
    unsigned m_flags = 0;
    std::unique_ptr<char[]> m_displayName;
    char m_initialFolder[kFolderPathChars] = {};
    char m_selectedPath[kFolderPathChars] = {};
    FolderBrowser* m_browser = nullptr;  // set only while a notification is handled
    QString m_statusText;
};
