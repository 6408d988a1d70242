#include "Quarn/Viewer/DroppedFiles.h"

#include "Quarn/Viewer/QuarnPDFView.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>

#include <optional>

namespace quarn {

QStringList droppedPdfs(const QMimeData* mime)
{
    QStringList files;
    if (!mime || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        if (QFileInfo(path).suffix().toLower() == QLatin1String("pdf")) files << path;
    }
    return files;
}

namespace {

// The first PDF of a drop, which the page opens.
std::optional<QString> droppedPdf(const QMimeData* mime)
{
    const QStringList files = droppedPdfs(mime);
    return files.isEmpty() ? std::nullopt : std::optional<QString>(files.front());
}

// Hears the drag events of the view's viewport, where the view's area gets them.
class DropFilter : public QObject {
public:
    DropFilter(QObject* parent, std::function<void(const QString&)> open) : QObject(parent), open_(std::move(open)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (droppedPdf(drag->mimeData())) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const auto path = droppedPdf(drop->mimeData());
            if (!path) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            if (open_) open_(*path);
            return true;
        }
        default: return QObject::eventFilter(watched, event);
        }
    }

private:
    std::function<void(const QString&)> open_;
};

} // namespace

void acceptDroppedPdfs(QuarnPDFView& view, std::function<void(const QString& path)> open)
{
    view.setAcceptDrops(true);
    view.viewport()->setAcceptDrops(true);
    view.viewport()->installEventFilter(new DropFilter(&view, std::move(open)));
}

} // namespace quarn
