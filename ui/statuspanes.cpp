#include "ui/statuspanes.h"

#include <QLabel>

void StatusPanes::Create(QWidget* owner) {
    m_volume = new QLabel(owner);
    m_volume->setObjectName(QStringLiteral("volumePane"));
    m_volume->setToolTip(QStringLiteral("Volume adjustment"));
    m_loop = new QLabel(owner);
    m_loop->setObjectName(QStringLiteral("loopPane"));
    m_loop->setToolTip(QStringLiteral("Loop mode"));
}

QLabel* StatusPanes::Volume() const {
    return m_volume;
}

QLabel* StatusPanes::Loop() const {
    return m_loop;
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
