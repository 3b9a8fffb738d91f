#include "kit/uiseam.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace uiseam {

namespace {

MessageHandler& Messages() {
    static MessageHandler handler;
    return handler;
}
ModalHandler& Modals() {
    static ModalHandler handler;
    return handler;
}
OpenFileHandler& OpenFiles() {
    static OpenFileHandler handler;
    return handler;
}
OpenFilesHandler& OpenFileLists() {
    static OpenFilesHandler handler;
    return handler;
}
FolderHandler& Folders() {
    static FolderHandler handler;
    return handler;
}

QMessageBox::Icon IconFor(unsigned type) {
    switch (type & 0xF0) {
        case MB_ICONHAND:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONEXCLAMATION:
            return QMessageBox::Warning;
        case MB_ICONASTERISK:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

int MessageBox(QWidget* parent, const QString& text, const QString& caption, unsigned type) {
    if (Messages()) {
        return Messages()(text, caption, type);
    }
    QMessageBox box(IconFor(type), caption, text, QMessageBox::NoButton, parent);
    switch (type & 0xF) {
        case MB_YESNO:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton((type & MB_DEFBUTTON2) != 0 ? QMessageBox::No : QMessageBox::Yes);
            break;
        case MB_OKCANCEL:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Cancel:
            return IDCANCEL;
        default:
            return IDOK;
    }
}

int RunModal(QDialog& dialog) {
    if (Modals()) {
        return Modals()(dialog);
    }
    return dialog.exec();
}

QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                        const QString& filter) {
    if (OpenFiles()) {
        return OpenFiles()(caption, dir, filter);
    }
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QStringList GetOpenFileNames(QWidget* parent, const QString& caption, const QString& dir,
                             const QString& filter) {
    if (OpenFileLists()) {
        return OpenFileLists()(caption, dir, filter);
    }
    if (OpenFiles()) {
        const QString chosen = OpenFiles()(caption, dir, filter);
        return chosen.isEmpty() ? QStringList() : QStringList{chosen};
    }
    return QFileDialog::getOpenFileNames(parent, caption, dir, filter);
}

QString GetExistingDirectory(QWidget* parent, const QString& caption, const QString& dir) {
    if (Folders()) {
        return Folders()(caption, dir);
    }
    return QFileDialog::getExistingDirectory(parent, caption, dir);
}

void SetMessageHandler(MessageHandler handler) {
    Messages() = std::move(handler);
}
void SetModalHandler(ModalHandler handler) {
    Modals() = std::move(handler);
}
void SetOpenFileHandler(OpenFileHandler handler) {
    OpenFiles() = std::move(handler);
}
void SetOpenFilesHandler(OpenFilesHandler handler) {
    OpenFileLists() = std::move(handler);
}
void SetFolderHandler(FolderHandler handler) {
    Folders() = std::move(handler);
}

}  // namespace uiseam
