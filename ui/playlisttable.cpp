#include "ui/playlisttable.h"

#include <QHeaderView>
#include <QPainter>

PlaylistTable::PlaylistTable(const QStringList& headers, int stretchColumn, QWidget* parent)
    : QTableWidget(parent) {
    setColumnCount(static_cast<int>(headers.size()));
    setHorizontalHeaderLabels(headers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setAlternatingRowColors(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    QHeaderView* header = horizontalHeader();
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(stretchColumn, QHeaderView::Stretch);
}

void PlaylistTable::SetHint(const QString& hint) {
    if (hint != m_hint) {
        m_hint = hint;
        viewport()->update();
    }
}

void PlaylistTable::paintEvent(QPaintEvent* event) {
    QTableWidget::paintEvent(event);
    if (rowCount() > 0 || m_hint.isEmpty()) {
        return;
    }
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    const QRect area = viewport()->rect().adjusted(12, 12, -12, -12);
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, m_hint);
}
