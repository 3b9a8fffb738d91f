#pragma once
// The main form's keyboard and drop input on its tables: the Delete key on a table asks for
// that table's remove command, and local files dropped from a file manager on the file table
// are handed over as paths (after the drop has ended, so that probing and any message do
// not hold the drag). UI thread only.

#include <QObject>
#include <QStringList>
#include <functional>

class QTableWidget;
class QWidget;

class ListInput : public QObject {
public:
    struct Handlers {
        std::function<void(QTableWidget* table)> deletePressed;
        std::function<bool()> dropsAccepted;  // whether files may be added now
        std::function<void(const QStringList& paths)> filesDropped;
    };

    // Watches both tables; a child of the file table.
    ListInput(QTableWidget* fileList, QTableWidget* destinationList, Handlers handlers);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool OnDrag(QEvent* event);

    // Compared, never called, in the filter: events still pass while the tables go.
    QTableWidget* m_fileList;
    QTableWidget* m_destinationList;
    QWidget* m_viewport;
    Handlers m_handlers;
};
