#pragma once
// "New playlist": asks for the name of a new playlist. The name is not checked here: an
// empty or existing name is handed to the view as typed. UI thread only.

#include <QDialog>
#include <QString>

class QLineEdit;

class CNewPlayListDlg : public QDialog {
    Q_OBJECT

public:
    explicit CNewPlayListDlg(QWidget* parent = nullptr);

    // Data exchange: true reads the edit box into m_strName, false pushes it back.
    void UpdateData(bool saveAndValidate);
    // Create: takes the name and closes with OK.
    void accept() override;

    QLineEdit* NameEdit() const { return m_nameEdit; }

    QString m_strName;

private:
    QLineEdit* m_nameEdit = nullptr;
};
