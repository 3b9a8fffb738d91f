#include "ui/newplaylistdlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "document/playlistdocument.h"
#include "kit/uiseam.h"
#include "ui/dialogbuttonrow.h"

CNewPlayListDlg::CNewPlayListDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("New playlist"));
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setMinimumWidth(220);
    QHBoxLayout* buttons = MakeDialogButtonRow(this, QStringLiteral("C&reate"));
    // Named, for the eye and for a screen reader; Alt+N reaches it.
    auto* label = new QLabel(QStringLiteral("&Name of the new playlist:"), this);
    label->setBuddy(m_nameEdit);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
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
    return QString::fromStdString(PlaylistDocument::NameProblem(name.toStdString()));
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
