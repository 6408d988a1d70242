#include "QuarnKit/Pages/PageEditCommand.h"

namespace quarnkit {

PageEditCommand::PageEditCommand(QuarnDocument& document, PageEdit edit, const QString& name)
    : DocumentCommand(document, name, true), edit_(std::move(edit))
{}

bool PageEditCommand::apply(QuarnDocument& document, bool forward)
{
    const PageEdit edit = forward ? edit_ : edit_.inverse();
    edit.apply(*document.pdf());
    document.noteEdit(std::nullopt);
    if (followUp) followUp(edit);
    return true;
}

} // namespace quarnkit
