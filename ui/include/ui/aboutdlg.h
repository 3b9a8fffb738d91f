#pragma once
// The About box: the program's icon, name, version and copyright, and an OK button.

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
