#include "Quarn/Design/Symbols.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

#include <memory>

// The resources live in a static library; naming their initialiser keeps the
// linker from dropping them.
static void initSymbolResources() { Q_INIT_RESOURCE(symbols); }

namespace quarn {

namespace {

QString resourcePath(const QString& name) { return QStringLiteral(":/symbols/%1.svg").arg(name); }

QSvgRenderer* renderer(const QString& name)
{
    static bool initialised = (initSymbolResources(), true);
    (void)initialised;
    // Main thread only, like every view; the renderers live as long as the program.
    static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
    const QString key = QFile::exists(resourcePath(name)) ? name : QStringLiteral("circle");
    auto it = cache.find(key);
    if (it == cache.end()) it = cache.insert(key, std::make_shared<QSvgRenderer>(resourcePath(key)));
    return it->get();
}

} // namespace

bool hasSymbol(const QString& name)
{
    renderer(name); // makes sure the resources are registered
    return QFile::exists(resourcePath(name));
}

QPixmap symbolPixmap(const QString& name, QSize size, const QColor& color, qreal devicePixelRatio)
{
    const QSize pixels = (QSizeF(size) * devicePixelRatio).toSize();
    QPixmap pixmap(pixels.expandedTo(QSize(1, 1)));
    pixmap.fill(Qt::transparent);
    {
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        renderer(name)->render(&p, QRectF(QPointF(0, 0), QSizeF(pixmap.size())));
        // The drawings are black shapes; keep their coverage and take the colour.
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(pixmap.rect(), color);
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

void drawSymbol(QPainter& painter, const QString& name, const QRectF& rect, const QColor& color)
{
    const qreal side = std::min(rect.width(), rect.height());
    const QSize size(int(std::ceil(side)), int(std::ceil(side)));
    const QPixmap pixmap =
        symbolPixmap(name, size, color, painter.device() ? painter.device()->devicePixelRatioF() : 1.0);
    const QPointF origin(rect.center().x() - size.width() / 2.0, rect.center().y() - size.height() / 2.0);
    painter.drawPixmap(origin, pixmap);
}

} // namespace quarn
