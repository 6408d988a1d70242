#pragma once
// The markup tools in the window's toolbar: one icon button per single tool
// and, for the text-markup tools and the shapes, one split button that shows
// the group's current or remembered tool and opens a small menu of its
// members. The palette only reads the window's model and chooses tools
// through it; it keeps no state beyond hover and the open menu.
#include "QuarnKit/Markup/MarkupTool.h"

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

#include <map>
#include <optional>
#include <vector>

namespace quarn {

class ViewerModel;
class ChromeToolButton;
class ToolGroupMenu;

// One part of a group button: the tool's icon, or the chevron that opens the menu.
class ToolGroupPart : public QAbstractButton {
    Q_OBJECT
public:
    ToolGroupPart(QSize size, QWidget* parent = nullptr);
    void setLook(const QString& symbol, double symbolSize, const QColor& color);
    QString symbol() const { return symbol_; }
    QColor color() const { return color_; }
    QSize sizeHint() const override { return size_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void nextCheckState() override {} // the group's choice sets the state

private:
    QSize size_;
    QString symbol_;
    double symbolSize_ = 14;
    QColor color_;
};

class ToolGroupButton : public QWidget {
    Q_OBJECT
public:
    ToolGroupButton(quarnkit::ToolGroup group, ViewerModel* model, QWidget* parent = nullptr);

    quarnkit::ToolGroup group() const { return group_; }
    // The model's tool while it is a member, else the group's remembered choice:
    // always the tool a click on the tool part chooses.
    quarnkit::MarkupTool shownTool() const;
    bool isActive() const;
    bool isHovered() const { return hover_; }
    // The background as drawn now (transparent when none).
    QColor background() const;
    ToolGroupPart* toolPart() const { return tool_; }
    ToolGroupPart* menuPart() const { return menuButton_; }
    // The member menu while it is open.
    ToolGroupMenu* openMenu() const { return menu_; }
    void toggleMenu();
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    quarnkit::ToolGroup group_;
    QPointer<ViewerModel> model_;
    ToolGroupPart* tool_;
    ToolGroupPart* menuButton_;
    QPointer<ToolGroupMenu> menu_;
    bool hover_ = false;
};

// The members of a group, one row each, shown under the chevron.
class ToolGroupMenu : public QWidget {
    Q_OBJECT
public:
    ToolGroupMenu(quarnkit::ToolGroup group, quarnkit::MarkupTool current,
                  std::function<void(quarnkit::MarkupTool)> pick, QWidget* parent = nullptr);

    quarnkit::MarkupTool current() const { return current_; }
    std::optional<quarnkit::MarkupTool> hovered() const { return hovered_; }
    QAbstractButton* row(quarnkit::MarkupTool tool) const;
    // Puts the keys on the current tool's row, else the first; from the
    // keyboard, Return then picks it.
    void takeKeys(bool fromKeyboard);
    // Entering and leaving rows: a leave clears only its own row's hover.
    void rowEntered(quarnkit::MarkupTool tool);
    void rowLeft(quarnkit::MarkupTool tool);

private:
    quarnkit::ToolGroup group_;
    quarnkit::MarkupTool current_;
    std::function<void(quarnkit::MarkupTool)> pick_;
    std::optional<quarnkit::MarkupTool> hovered_;
    std::map<quarnkit::MarkupTool, QAbstractButton*> rows_;
};

class ToolPalette : public QWidget {
    Q_OBJECT
public:
    explicit ToolPalette(ViewerModel* model, QWidget* parent = nullptr);

    ChromeToolButton* toolButton(quarnkit::MarkupTool tool) const;
    ToolGroupButton* groupButton(quarnkit::ToolGroup group) const;
    void refresh();

private:
    QPointer<ViewerModel> model_;
    std::map<quarnkit::MarkupTool, ChromeToolButton*> tools_;
    std::map<quarnkit::ToolGroup, ToolGroupButton*> groups_;
};

} // namespace quarn
