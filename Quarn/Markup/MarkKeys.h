#pragma once
// The mark keys of a document window (tool letters, swatch digits, Delete,
// the arrow nudges, Return and Escape) wherever the focus is in the window:
// an application-wide filter that hands a key to the page view's mark editing
// when the focus is on a control of the window such as the inspector or the
// marks list. It yields to text fields, where the keys are typing, and to
// the page view itself, which takes its keys as they come.
#include <QObject>
#include <QPointer>

class QKeyEvent;

namespace quarn {

class QuarnPDFView;

class MarkKeys : public QObject {
    Q_OBJECT
public:
    // Installs itself on the application for the window `view` is in.
    explicit MarkKeys(QuarnPDFView* view, QObject* parent = nullptr);
    ~MarkKeys() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool take(QKeyEvent* event, QObject* receiver);
    QPointer<QuarnPDFView> view_;
};

} // namespace quarn
