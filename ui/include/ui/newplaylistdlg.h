#pragma once
// "New playlist": asks for the name of a new playlist. Create refuses a name the store
// cannot take (empty, too long, holding a backslash) with a message and stays open; an
// existing name is handed to the view, which asks before replacing. UI thread only.

#include <QDialog>
#include <QString>

class QLineEdit;

class CNewPlayListDlg : public QDialog {
    Q_OBJECT

public:
    explicit CNewPlayListDlg(QWidget* parent = nullptr);

    // Data exchange: true reads the edit box into m_strName, false pushes it back.
    void UpdateData(bool saveAndValidate);
    // Create: takes the name and closes with OK unless it is refused.
    void accept() override;

    // Why a playlist cannot be called `name`, as the operator is told; empty when it can.
    static QString NameProblem(const QString& name);

    QLineEdit* NameEdit() const { return m_nameEdit; }

    QString m_strName;

private:
    QLineEdit* m_nameEdit = nullptr;
};
