#include "ui/dialogbuttonrow.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

QHBoxLayout* MakeDialogButtonRow(QDialog* dialog, const QString& acceptText) {
    auto* accept = new QPushButton(acceptText, dialog);
    accept->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), dialog);
    // Enter in the dialog's fields must reach the default button, never Cancel.
    cancel->setAutoDefault(false);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(accept);
    row->addWidget(cancel);
    row->addStretch(1);
    // accept and reject are virtual: a dialog's own checks still run.
    QObject::connect(accept, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return row;
}
