#pragma once
// A line of text in a file panel, under its controls, saying what the panel
// is for ("ravlen saves one image per page into a new folder named …"). The
// panels that carry one are ravlen's own (not the desktop's), so the line shows.
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>

namespace quarn {

inline QLabel* addPanelMessage(QFileDialog& panel, const QString& text)
{
    panel.setOption(QFileDialog::DontUseNativeDialog);
    auto* message = new QLabel(text, &panel);
    message->setObjectName(QStringLiteral("panelMessage"));
    message->setTextFormat(Qt::PlainText); // it may hold a file's name
    message->setWordWrap(true);
    if (auto* grid = qobject_cast<QGridLayout*>(panel.layout())) grid->addWidget(message, grid->rowCount(), 0, 1, -1);
    return message;
}

} // namespace quarn
