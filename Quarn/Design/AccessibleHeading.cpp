#include "Quarn/Design/AccessibleHeading.h"

#include <QAccessibleWidget>

namespace quarn {

namespace {

class HeadingAccessible : public QAccessibleWidget {
public:
    explicit HeadingAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::Heading) {}
    QString text(QAccessible::Text t) const override
    {
        const auto* label = static_cast<const QLabel*>(widget());
        if (t == QAccessible::Name && label->accessibleName().isEmpty()) return label->text();
        return QAccessibleWidget::text(t);
    }
};

// Asked with the most derived class name first, before the label's own.
QAccessibleInterface* headingAccessible(const QString& className, QObject* object)
{
    auto* label = qobject_cast<HeadingLabel*>(object);
    return label && className == QLatin1String(HeadingLabel::staticMetaObject.className())
               ? new HeadingAccessible(label)
               : nullptr;
}

} // namespace

HeadingLabel::HeadingLabel(const QString& text, QWidget* parent) : QLabel(parent)
{
    static const bool installed = (QAccessible::installFactory(headingAccessible), true);
    Q_UNUSED(installed);
    setTextFormat(Qt::PlainText);
    setText(text);
}

} // namespace quarn
