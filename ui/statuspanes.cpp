#include "ui/statuspanes.h"

#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <cmath>

void StatusPanes::Create(QWidget* owner) {
    m_volume = new QLabel(owner);
    m_volume->setObjectName(QStringLiteral("volumePane"));
    m_volume->setToolTip(QStringLiteral("Volume adjustment"));
    m_loop = new QLabel(owner);
    m_loop->setObjectName(QStringLiteral("loopPane"));
    m_loop->setToolTip(QStringLiteral("Loop mode"));
    m_meter = new QProgressBar(owner);
    m_meter->setObjectName(QStringLiteral("pageMeter"));
    m_meter->setToolTip(QStringLiteral("Page level (dB of full scale)"));
    m_meter->setRange(kMeterFloorDb, 0);
    m_meter->setFormat(QStringLiteral("%v dB"));
    m_meter->setFixedWidth(m_meter->fontMetrics().horizontalAdvance(QStringLiteral("-60 dB")) * 3);
    // Explicitly hidden: the status bar leaves it so when it takes it in.
    m_meter->hide();
}

QLabel* StatusPanes::Volume() const {
    return m_volume;
}

QLabel* StatusPanes::Loop() const {
    return m_loop;
}

QProgressBar* StatusPanes::Meter() const {
    return m_meter;
}

void StatusPanes::Show(int volumeDb, bool loopMode) {
    if (m_volume != nullptr) {
        m_volume->setText(QStringLiteral("Volume: %1 dB")
                              .arg(volumeDb > 0 ? QStringLiteral("+%1").arg(volumeDb)
                                                : QString::number(volumeDb)));
    }
    if (m_loop != nullptr) {
        m_loop->setText(loopMode ? QStringLiteral("Loop: on") : QStringLiteral("Loop: off"));
    }
}

void StatusPanes::ShowMeter(bool on) {
    if (m_meter != nullptr) {
        m_meter->setValue(kMeterFloorDb);
        m_meter->setVisible(on);
    }
}

void StatusPanes::ShowLevel(float peak) {
    if (m_meter != nullptr) {
        m_meter->setValue(LevelDb(peak));
    }
}

int StatusPanes::LevelDb(float peak) {
    // Silence, and anything below the floor, is the floor; a full-scale peak is 0 dB.
    if (!(peak > 0.0F)) {
        return kMeterFloorDb;
    }
    const double db = std::round(20.0 * std::log10(static_cast<double>(peak)));
    return static_cast<int>(std::clamp(db, static_cast<double>(kMeterFloorDb), 0.0));
}
