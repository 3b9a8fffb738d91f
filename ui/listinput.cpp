#include "ui/listinput.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTableWidget>
#include <QUrl>
#include <utility>

namespace {

// The local files among dropped URLs, in the order given.
QStringList LocalFiles(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            paths << url.toLocalFile();
        }
    }
    return paths;
}

}  // namespace

ListInput::ListInput(QTableWidget* fileList, QTableWidget* destinationList, Handlers handlers)
    : QObject(fileList),
      m_fileList(fileList),
      m_destinationList(destinationList),
      m_viewport(fileList->viewport()),
      m_handlers(std::move(handlers)) {
    m_fileList->installEventFilter(this);
    m_destinationList->installEventFilter(this);
    m_fileList->setAcceptDrops(true);
    m_viewport->setAcceptDrops(true);
    m_viewport->installEventFilter(this);
}

bool ListInput::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        (watched == m_fileList || watched == m_destinationList)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            m_handlers.deletePressed(static_cast<QTableWidget*>(watched));
            return true;
        }
    } else if (watched == m_viewport && OnDrag(event)) {
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool ListInput::OnDrag(QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (!LocalFiles(drag->mimeData()).isEmpty() && m_handlers.dropsAccepted()) {
                drag->acceptProposedAction();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList paths = LocalFiles(drop->mimeData());
            if (paths.isEmpty() || !m_handlers.dropsAccepted()) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            // Probing and any message wait until the drag has ended.
            QMetaObject::invokeMethod(
                this, [this, paths] { m_handlers.filesDropped(paths); }, Qt::QueuedConnection);
            return true;
        }
        default:
            return false;
    }
}
