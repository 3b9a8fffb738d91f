#include "ui/volumedialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>

CVolumeDialog::CVolumeDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Set the volume"));

    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setRange(kMinDb, kMaxDb);
    m_slider->setTickPosition(QSlider::TicksBelow);
    m_slider->setTickInterval(1);
    m_slider->setPageStep(3);
    m_slider->setMinimumWidth(200);
    m_valueEdit = new QLineEdit(this);
    m_valueEdit->setReadOnly(true);
    m_valueEdit->setFixedWidth(40);
    m_valueEdit->setAlignment(Qt::AlignCenter);

    auto* sliderRow = new QHBoxLayout;
    sliderRow->addWidget(new QLabel(QStringLiteral("-9 dB"), this));
    sliderRow->addWidget(m_slider);
    sliderRow->addWidget(new QLabel(QStringLiteral("+9 dB"), this));
    sliderRow->addWidget(m_valueEdit);

    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CVolumeDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &CVolumeDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(sliderRow);
    layout->addLayout(buttons);

    // The value box follows every movement of the thumb, whatever moved it.
    connect(m_slider, &QSlider::valueChanged, this, &CVolumeDialog::OnSliderMoved);
    UpdateData(false);
}

void CVolumeDialog::UpdateData(bool save) {
    if (save) {
        m_nPositionDb = m_slider->value();
        m_nShownDb = m_valueEdit->text().toInt();
        return;
    }
    const QSignalBlocker block(m_slider);
    m_slider->setValue(std::clamp(m_nPositionDb, kMinDb, kMaxDb));
    m_valueEdit->setText(QString::number(m_nShownDb));
}

void CVolumeDialog::InitDialog() {
    if (m_initialised) {
        return;
    }
    m_initialised = true;
    UpdateData(false);
    // The position may have been set after construction; the box shows where the thumb is.
    OnSliderMoved();
}

void CVolumeDialog::OnSliderMoved() {
    UpdateData(true);
    m_nShownDb = m_nPositionDb;
    UpdateData(false);
}

void CVolumeDialog::showEvent(QShowEvent* event) {
    InitDialog();
    QDialog::showEvent(event);
}

void CVolumeDialog::accept() {
    InitDialog();  // a dialog accepted before it was ever shown still reports its position
    UpdateData(true);
    QDialog::accept();
}
