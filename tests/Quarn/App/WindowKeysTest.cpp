// Where the keys go as the window's own keys open a part of it: the part
// shown takes them (its first field, the list of the tab chosen, the
// dialog's default button), and a reader is told of one object focused.
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/App/ViewerScreen.h"
#include "Quarn/App/ViewerScreenHarness.h"
#include "Quarn/Markup/MarksList.h"
#include "Quarn/Pages/OutlineList.h"
#include "Quarn/Viewer/DocumentInfoView.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QLineEdit>
#include <QListView>
#include <QTest>
#include <QTreeWidget>

using namespace quarn;

namespace {

const bool privateConfig = testsupport::usePrivateConfigDir();

// Three pages; an outline of A (page 1) and B (page 2); two squares on page 1.
QByteArray outlinedAndMarkedPdf()
{
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R >>",
        "<< /Type /Pages /Kids [6 0 R 7 0 R 8 0 R] /Count 3 >>",
        "<< /Type /Outlines /First 4 0 R /Last 5 0 R /Count 2 >>",
        "<< /Title (A) /Parent 3 0 R /Next 5 0 R /Dest [6 0 R /Fit] >>",
        "<< /Title (B) /Parent 3 0 R /Prev 4 0 R /Dest [7 0 R /Fit] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Annots [9 0 R 10 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] >>",
    };
    for (const char* rect : {"[20 20 80 80]", "[120 120 180 180]"})
        objects.push_back(std::string("<< /Type /Annot /Subtype /Square /Rect ") + rect + " /C [1 0 0] /P 6 0 R >>");
    return testsupport::writePdf(objects);
}

// The names of the objects a reader is told are focused, under `node`.
QStringList focusedUnder(QAccessibleInterface* node)
{
    QStringList found;
    if (node->state().focused) found << node->text(QAccessible::Name);
    for (int i = 0; i < node->childCount(); ++i)
        if (QAccessibleInterface* child = node->child(i)) found << focusedUnder(child);
    return found;
}

// The names of `list`'s rows a reader is told are selected.
QStringList selectedRows(QWidget* list)
{
    QStringList found;
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(list);
    for (int i = 0; i < node->childCount(); ++i)
        if (node->child(i)->state().selected) found << node->child(i)->text(QAccessible::Name);
    return found;
}

} // namespace

TEST(WindowKeys, WhatTheWindowsKeysOpenTakesTheKeys)
{
    QTemporaryDir dir;
    DocumentController controller;
    controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    DocumentWindow* window = controller.openDocument(testsupport::writeFile(dir, "doc.pdf", outlinedAndMarkedPdf()));
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window) && viewertest::waitForPages(*window->screen()));
    QWindow* keys = window->windowHandle();
    QWidget* page = window->screen()->pageViewHost()->view();
    const struct {
        const char* name;
        QKeyCombination open;
        std::function<QWidget*()> takesKeys; // once open
        QString typed;                       // then typed, or Down when empty
        QStringList focused;                 // what a reader is told is focused after it; empty: any one
    } rows[] = {
        {"Document Info",
         Qt::ControlModifier | Qt::Key_I,
         []() -> QWidget* {
             auto* popover = qobject_cast<DocumentInfoPopover*>(QApplication::activePopupWidget());
             return popover ? popover->view()->field(DocumentInfoView::Field::title) : nullptr;
         },
         "Typed",
         {"Title"}},
        {"Outline",
         Qt::ControlModifier | Qt::AltModifier | Qt::Key_2,
         [&]() -> QWidget* {
             auto* outline = window->findChild<OutlineList*>();
             return outline ? outline->view() : nullptr;
         },
         {},
         {"B, page 2"}},
        {"Marks",
         Qt::ControlModifier | Qt::AltModifier | Qt::Key_3,
         [&]() -> QWidget* {
             auto* marks = window->findChild<MarksList*>();
             return marks ? marks->tree() : nullptr;
         },
         {},
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        page->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(keys, row.open.key(), row.open.keyboardModifiers());
        QWidget* taker = nullptr;
        ASSERT_TRUE(testsupport::waitFor([&] { return (taker = row.takesKeys()) && taker->hasFocus(); }));
        if (row.typed.isEmpty()) {
            QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Down);
            EXPECT_EQ(window->screen()->model().pageIndex(), 0); // the list's row moved, not the page
            // One object focused, the row the keys are on, and that row the one selected.
            const QStringList focused = focusedUnder(QAccessible::queryAccessibleInterface(window));
            ASSERT_EQ(focused.size(), 1) << focused.join(", ").toStdString();
            EXPECT_TRUE(row.focused.isEmpty() || focused == row.focused) << focused.join(", ").toStdString();
            EXPECT_EQ(selectedRows(taker), focused);
        } else {
            for (const QChar c : row.typed) QTest::keyClick(QGuiApplication::focusWindow(), c.toLatin1());
            EXPECT_EQ(static_cast<QLineEdit*>(taker)->text(), row.typed);
            EXPECT_EQ(focusedUnder(QAccessible::queryAccessibleInterface(taker)), row.focused);
            QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
        }
    }
    controller.closeAll();
}
