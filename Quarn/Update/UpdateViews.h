#pragma once
// The three small views of the Software Update window: the release notes, the
// download progress and a line of information with its symbol.
#include <QColor>
#include <QStringList>
#include <QWidget>

#include <optional>

class QLabel;
class QVBoxLayout;

namespace quarn {

// "What's new" and the first six notes, each after an accent dot and cut to
// three lines.
class ReleaseNotes : public QWidget {
    Q_OBJECT
public:
    static constexpr int shownNotes = 6;
    static constexpr int linesPerNote = 3;

    explicit ReleaseNotes(QWidget* parent = nullptr);
    void setNotes(const QStringList& notes);
    // The notes as shown, cut where they are cut.
    QStringList shownTexts() const;

private:
    QVBoxLayout* rows_ = nullptr;
    QStringList notes_;
};

// A thin bar and, under it, "Downloading… 1.2 MB of 4.5 MB" or a label.
class DownloadProgress : public QWidget {
    Q_OBJECT
public:
    explicit DownloadProgress(QWidget* parent = nullptr);
    void set(double fraction, qint64 total, const std::optional<QString>& label);
    QString labelText() const;
    // The accent fill's width in a bar `barWidth` wide: never under 4.
    static double fillWidth(double fraction, double barWidth);
    // "13 percent": the whole percentage, halves away from zero.
    static QString spokenValue(double fraction);

private:
    class Bar;
    Bar* bar_ = nullptr;
    QLabel* label_ = nullptr;
};

// A symbol in a tint, then a wrapping line of text.
class InfoLine : public QWidget {
    Q_OBJECT
public:
    explicit InfoLine(QWidget* parent = nullptr);
    void set(const QString& symbol, const QString& text, const QColor& tint);
    QString symbol() const { return symbol_; }
    QString text() const;

private:
    QLabel* icon_ = nullptr;
    QLabel* text_ = nullptr;
    QString symbol_;
};

} // namespace quarn
