#include "ui/aboutdlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "sonvex/buildconfig.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Sonvex"));
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/sonvex32.png")).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    auto* name = new QLabel(
        QStringLiteral("Sonvex, Version %1").arg(QString::fromLatin1(sonvex::kVersion)), this);
    auto* copyright = new QLabel(QStringLiteral("Copyright (C) Quarnel Technologies"), this);
    auto* texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addWidget(copyright);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(texts, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
