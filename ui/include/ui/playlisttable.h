#pragma once
// A table of the main form (the playlist's files, its destinations): whole rows are selected
// one at a time, the columns fit their contents and one of them takes the width left, and an
// empty table says in its middle what to do next. UI thread only.

#include <QString>
#include <QTableWidget>

class QPaintEvent;

class PlaylistTable : public QTableWidget {
    Q_OBJECT

public:
    PlaylistTable(const QStringList& headers, int stretchColumn, QWidget* parent);

    // What an empty table shows; nothing when empty.
    void SetHint(const QString& hint);
    const QString& Hint() const { return m_hint; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_hint;
};
