#include "ui/formstretch.h"

#include <QEvent>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

FormStretch::FormStretch(QWidget* form) : QObject(form), m_base(form->size()) {
    form->installEventFilter(this);
}

void FormStretch::Add(QWidget* child, Share share) {
    m_entries.push_back({child, child->geometry(), share});
}

bool FormStretch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        Apply(static_cast<QResizeEvent*>(event)->size());
    }
    return QObject::eventFilter(watched, event);
}

void FormStretch::Apply(const QSize& size) {
    const int dx = std::max(0, size.width() - m_base.width());
    const int dy = std::max(0, size.height() - m_base.height());
    const auto part = [](int growth, double share) {
        return static_cast<int>(std::lround(growth * share));
    };
    for (const Entry& entry : m_entries) {
        if (entry.widget.isNull()) {
            continue;
        }
        const Share& s = entry.share;
        entry.widget->setGeometry(
            entry.base.x() + part(dx, s.moveX), entry.base.y() + part(dy, s.moveY),
            entry.base.width() + part(dx, s.growX), entry.base.height() + part(dy, s.growY));
    }
}
