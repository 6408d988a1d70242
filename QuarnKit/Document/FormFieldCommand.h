#pragma once
// The undo step of a form-field edit: the values of a field's widgets before
// and after. Its first redo makes the change and reads the widgets around it;
// widgets are kept with their page object, so undo and redo find them on
// their page wherever it stands by then. FormFieldEdits.h makes and pushes it.
#include "QuarnKit/Document/DocumentCommand.h"
#include "QuarnKit/Document/FormFields.h"

#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace quarnkit {

namespace FormFields {
// The same widgets read afresh from their pages; those gone are left out.
std::vector<Widget> reread(const platform::PdfDocument& doc, const std::vector<Widget>& widgets);
} // namespace FormFields

class FormFieldCommand : public DocumentCommand {
public:
    // The change of the field: false when the field refused the value.
    using Change = std::function<bool(platform::PdfDocument&)>;
    // What the first redo's change answered, read after the push, which may
    // have dropped the step: whether the field took the value, and the
    // failure of the PDF that stopped it part way (what changed before it is
    // still recorded).
    struct Outcome {
        bool took = false;
        std::exception_ptr failure;
    };
    // `group`: the widgets the change may touch (the field and those sharing its name).
    FormFieldCommand(QuarnDocument& document, const QString& name, std::vector<FormFields::Widget> group, Change change,
                     std::shared_ptr<Outcome> outcome);

protected:
    bool apply(QuarnDocument& document, bool forward) override;

private:
    struct Placed {
        platform::PdfPageId page;
        FormFields::Widget widget;
    };
    std::vector<Placed> place(QuarnDocument& document, const std::vector<FormFields::Widget>& widgets) const;
    // The first redo: makes the change and keeps the widgets before and after.
    bool make(QuarnDocument& document);
    std::vector<FormFields::Widget> group_;
    Change change_;
    std::shared_ptr<Outcome> outcome_;
    std::vector<Placed> before_, after_;
};

} // namespace quarnkit
