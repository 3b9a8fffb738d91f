#pragma once
// The one seam through which every handler shows a message box, runs a modal dialog or
// asks for a file or folder. In the application each call shows the real Qt window; a test
// installs handlers that answer instead, so every algorithm runs headless. UI thread only.

#include <QString>
#include <QStringList>
#include <functional>

class QDialog;
class QWidget;

namespace uiseam {

// Message box buttons and icons (the values the handlers compute with).
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_YESNO = 0x4;
constexpr unsigned MB_ICONHAND = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr unsigned MB_ICONASTERISK = 0x40;
// The second button (No) is the default one.
constexpr unsigned MB_DEFBUTTON2 = 0x100;

// Results.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The application title, the caption of every message box but "Caution".
inline QString AppTitle() {
    return QStringLiteral("Sonvex");
}

using MessageHandler =
    std::function<int(const QString& text, const QString& caption, unsigned type)>;
using ModalHandler = std::function<int(QDialog& dialog)>;
using OpenFileHandler =
    std::function<QString(const QString& caption, const QString& dir, const QString& filter)>;
using OpenFilesHandler =
    std::function<QStringList(const QString& caption, const QString& dir, const QString& filter)>;
using FolderHandler = std::function<QString(const QString& caption, const QString& dir)>;

// Shows a message box; returns IDOK, IDCANCEL, IDYES or IDNO.
int MessageBox(QWidget* parent, const QString& text, const QString& caption = AppTitle(),
               unsigned type = MB_OK);
// Runs a dialog modally; returns its result (QDialog::Accepted = 1, Rejected = 0).
int RunModal(QDialog& dialog);
// An existing file chosen by the operator, or an empty string when cancelled.
QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                        const QString& filter);
// Existing files chosen together, in the order chosen; empty when cancelled. Without a
// handler of its own a test's single-file handler answers.
QStringList GetOpenFileNames(QWidget* parent, const QString& caption, const QString& dir,
                             const QString& filter);
// An existing folder chosen by the operator, or an empty string when cancelled.
QString GetExistingDirectory(QWidget* parent, const QString& caption, const QString& dir);

// Test hooks: an empty function restores the real window.
void SetMessageHandler(MessageHandler handler);
void SetModalHandler(ModalHandler handler);
void SetOpenFileHandler(OpenFileHandler handler);
void SetOpenFilesHandler(OpenFilesHandler handler);
void SetFolderHandler(FolderHandler handler);

}  // namespace uiseam
