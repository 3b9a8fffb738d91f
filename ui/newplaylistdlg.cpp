#include "ui/newplaylistdlg.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "kit/uiseam.h"
#include "playlist/playliststore.h"
#include "ui/dialogbuttonrow.h"

CNewPlayListDlg::CNewPlayListDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("New playlist"));
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setMinimumWidth(220);
    QHBoxLayout* buttons = MakeDialogButtonRow(this, QStringLiteral("Create"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_nameEdit);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    UpdateData(false);
}

void CNewPlayListDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strName = m_nameEdit->text();
    } else {
        m_nameEdit->setText(m_strName);
    }
}

QString CNewPlayListDlg::NameProblem(const QString& name) {
    if (name.isEmpty()) {
        return QStringLiteral("Please enter a name for the playlist.");
    }
    // A backslash separates the store's key names: the name would point into another key.
    if (name.contains(QLatin1Char('\\'))) {
        return QStringLiteral("A playlist name cannot contain a backslash (\\).");
    }
    if (name.toUtf8().size() > static_cast<qsizetype>(PlaylistStore::kMaxNameBytes)) {
        return QStringLiteral("The playlist name is too long: at most %1 bytes are allowed.")
            .arg(PlaylistStore::kMaxNameBytes);
    }
    return QString();
}

void CNewPlayListDlg::accept() {
    UpdateData(true);
    const QString problem = NameProblem(m_strName);
    if (!problem.isEmpty()) {
        uiseam::MessageBox(this, problem);
        m_nameEdit->setFocus();
        return;
    }
    QDialog::accept();
}
