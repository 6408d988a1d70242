#pragma once
// The strip a document window shows while find is open: the options menu
// (Match Case, Whole Words), the query field, the match count with a
// searching indicator, previous and next, and close. It edits the window's
// find state; searching, stepping and closing are the find model's. Return
// steps forward, Shift+Return backward (once), Esc closes.
#include "Quarn/Design/ChromeMenuButton.h"

#include <QPointer>
#include <QWidget>

#include <vector>

class QLabel;
class QLineEdit;

namespace quarn {

class FindModel;
class StatusIconButton;

class FindBar : public QWidget {
    Q_OBJECT
public:
    explicit FindBar(FindModel* find, QWidget* parent = nullptr);

    // "3 of 12", "No matches", or empty (no query, or searching with nothing yet).
    static QString countText(const QString& query, int index, int count, bool searching);
    // "Find options", "Find options: match case, whole words", …
    static QString optionsText(bool matchCase, bool wholeWords);

    std::vector<ChromeMenuItem> optionItems() const;

    QLineEdit* field() const { return field_; }
    QLabel* countLabel() const { return count_; }
    QWidget* searchingIndicator() const { return spinner_; }
    StatusIconButton* previousButton() const { return previous_; }
    StatusIconButton* nextButton() const { return next_; }
    StatusIconButton* closeButton() const { return close_; }
    ChromeMenuButton* optionsButton() const { return options_; }

    QSize sizeHint() const override { return {720, 40}; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void focusField();

    QPointer<FindModel> model_;
    ChromeMenuButton* options_ = nullptr;
    QLineEdit* field_ = nullptr;
    QWidget* spinner_ = nullptr;
    QLabel* count_ = nullptr;
    QWidget* steps_ = nullptr;
    StatusIconButton* previous_ = nullptr;
    StatusIconButton* next_ = nullptr;
    StatusIconButton* close_ = nullptr;
};

} // namespace quarn
