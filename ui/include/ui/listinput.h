#pragma once
// The main form's keyboard and drop input on its lists: the Delete key on a list asks for
// that list's remove command, and local files dropped from a file manager on the file list
// are handed over as paths (after the drop has ended, so that probing and any message do
// not hold the drag). UI thread only.

#include <QObject>
#include <QStringList>
#include <functional>

class QListWidget;

class ListInput : public QObject {
public:
    struct Handlers {
        std::function<void(QListWidget* list)> deletePressed;
        std::function<bool()> dropsAccepted;  // whether files may be added now
        std::function<void(const QStringList& paths)> filesDropped;
    };

    // Watches both lists; a child of the file list.
    ListInput(QListWidget* fileList, QListWidget* destinationList, Handlers handlers);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool OnDrag(QEvent* event);

    // Compared, never called, in the filter: events still pass while the lists go.
    QListWidget* m_fileList;
    QListWidget* m_destinationList;
    QWidget* m_viewport;
    Handlers m_handlers;
};
