// A file manager's part in a drag: a small window that, pressed, drags the files named on
// its command line as file URLs, the way a file manager offers them to another program. The
// desktop smoke run drives it with the pointer; it ends 0 when the drop was taken, 1 when not.
// Usage: sonvex_dragsource FILE...

#include <QApplication>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>

namespace {

constexpr int kAnswerMs = 3000;

class DragSource : public QLabel {
public:
    explicit DragSource(QList<QUrl> urls)
        : QLabel(QStringLiteral("Drag me")), m_urls(std::move(urls)) {
        setWindowTitle(QStringLiteral("Sonvex drag source"));
        setAlignment(Qt::AlignCenter);
        resize(160, 100);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) {
            return;
        }
        auto* drag = new QDrag(this);
        auto* files = new QMimeData;
        files->setUrls(m_urls);
        drag->setMimeData(files);
        const Qt::DropAction done = drag->exec(Qt::CopyAction);
        // The drop's target asks for the files after the drag has ended, as a file manager
        // that stays open answers it: stay a while.
        QTimer::singleShot(kAnswerMs,
                           [done] { QCoreApplication::exit(done == Qt::CopyAction ? 0 : 1); });
    }

private:
    QList<QUrl> m_urls;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QList<QUrl> urls;
    for (int i = 1; i < argc; ++i) {
        urls << QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i]));
    }
    if (urls.isEmpty()) {
        return 2;
    }
    DragSource source(urls);
    source.show();
    return QApplication::exec();
}
