#pragma once
// The small views the library panels are built from: a text link, the panel
// header, the search field, the empty-state message and the dismissible
// problem banner. They hold no data of their own; the panel that builds them
// feeds them and hears their signals.
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/FlatField.h"
#include "QuarnKit/History/OpenProblem.h"

#include <QColor>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace quarn {

// Registers the drawings of the library's symbols (once).
void loadLibrarySymbols();
// The home folder as the folder labels shorten it, read once per run.
const QString& libraryHomePath();
// A widget holding `child` with `margins` around it.
QWidget* withPadding(QWidget* child, const QMargins& margins);
// Makes `panel` one of the library column's panels (its width, the chrome
// behind it, the library's symbols loaded, its hidden views not shown to a
// screen reader) and gives it its column of views.
QVBoxLayout* makeLibraryColumn(QWidget* panel, int width);

// A small text button in a tint: the tint's faint fill while hovered.
class LinkButton : public ChromeButton {
    Q_OBJECT
public:
    LinkButton(const QString& title, const QColor& tint, QWidget* parent = nullptr);
    QColor tint() const { return tint_; }
    QSize sizeHint() const override;
    // The font, size and look shared with the links painted into list rows.
    static QFont font();
    static QSize sizeFor(const QString& title);
    static void paint(QPainter& painter, const QRectF& rect, const QString& title, const QColor& tint, double hover);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor tint_;
};

// The title of a panel, 40 high, with an optional view at its right end.
class LibraryPanelHeader : public QWidget {
    Q_OBJECT
public:
    explicit LibraryPanelHeader(const QString& title, QWidget* trailing = nullptr, QWidget* parent = nullptr);
};

// The panels' search field: a magnifying glass, the text, and a clear button
// while there is text. Escape empties it and keeps the keys here; the clear
// button empties it and puts the keys here. Return is returnPressed.
class LibrarySearchField : public FlatField {
    Q_OBJECT
public:
    explicit LibrarySearchField(const QString& prompt, QWidget* parent = nullptr);
    QAbstractButton* clearButton() const { return clear_; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QAbstractButton* clear_;
};

// What a panel shows in place of its list: a symbol, a title, a wrapped
// detail and an optional action, at the top centre.
class LibraryMessage : public QWidget {
    Q_OBJECT
public:
    // Takes ownership of `action` (may be null).
    LibraryMessage(const QString& symbol, const QString& title, const QString& detail, QWidget* action = nullptr,
                   QWidget* parent = nullptr);
    QString symbol() const { return symbol_; }
    QString title() const;
    QString detail() const;
    QWidget* action() const { return action_; }

private:
    QString symbol_;
    QLabel* title_;
    QLabel* detail_;
    QWidget* action_;
};

// A problem of opening a file, as a banner with a Dismiss button: compact in
// a library column, roomy (larger type, more padding) in the welcome window.
class LibraryNotice : public QWidget {
    Q_OBJECT
public:
    enum class Size { compact, roomy };
    explicit LibraryNotice(QWidget* parent = nullptr, Size size = Size::compact);
    void setProblem(const quarnkit::OpenProblem& problem);
    const quarnkit::OpenProblem& problem() const { return problem_; }
    QAbstractButton* dismissButton() const { return dismiss_; }

signals:
    void dismissed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    quarnkit::OpenProblem problem_;
    Size size_;
    QMargins padding_;
    QLabel* title_;
    QLabel* detail_;
    QAbstractButton* dismiss_;
};

} // namespace quarn
