#include "ui/newplaylistdlg.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CNewPlayListDlg::CNewPlayListDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("New playlist"));
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setMinimumWidth(220);
    auto* create = new QPushButton(QStringLiteral("Create"), this);
    create->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(create);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_nameEdit);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(create, &QPushButton::clicked, this, &CNewPlayListDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CNewPlayListDlg::reject);
    UpdateData(false);
}

void CNewPlayListDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strName = m_nameEdit->text();
    } else {
        m_nameEdit->setText(m_strName);
    }
}

void CNewPlayListDlg::accept() {
    UpdateData(true);
    QDialog::accept();
}
