#pragma once
// A label that screen readers read as a heading, named by its text, so that a
// reader can jump between the sections of a panel.
#include <QLabel>

namespace quarn {

class HeadingLabel : public QLabel {
    Q_OBJECT
public:
    explicit HeadingLabel(const QString& text, QWidget* parent = nullptr);
};

} // namespace quarn
