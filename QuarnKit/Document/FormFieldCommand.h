#pragma once
// The undo step of a form-field edit: the values of a field's widgets before
// and after. Widgets are kept with their page object, so the step finds them
// on their page wherever it stands by then.
#include "QuarnKit/Document/DocumentCommand.h"
#include "QuarnKit/Document/FormFields.h"

#include <vector>

namespace quarnkit {

namespace FormFields {
// The same widgets read afresh from their pages; those gone are left out.
std::vector<Widget> reread(const platform::PdfDocument& doc, const std::vector<Widget>& widgets);
} // namespace FormFields

class FormFieldCommand : public DocumentCommand {
public:
    // The edit is already made: `before` and `after` are the widgets read around it.
    FormFieldCommand(QuarnDocument& document, const QString& name, const std::vector<FormFields::Widget>& before,
                     const std::vector<FormFields::Widget>& after);

protected:
    bool apply(QuarnDocument& document, bool forward) override;

private:
    struct Placed {
        platform::PdfPageId page;
        FormFields::Widget widget;
    };
    std::vector<Placed> place(QuarnDocument& document, const std::vector<FormFields::Widget>& widgets) const;
    std::vector<Placed> before_, after_;
};

} // namespace quarnkit
