#pragma once
// Filling one form field, each change one undo step of the document named for
// the Edit menu ("Typing", "Check", "Choice"). The step holds the values of the
// field's own widgets (the buttons of one radio group, the copies of one text
// field) before and after, and every page they stand on is announced as edited.
#include "QuarnKit/Document/FormFields.h"

#include <QString>

#include <string>
#include <vector>

namespace quarnkit::FormFieldEdits {

// `group` holds the widgets that share the field's name, as last read (the
// field itself is added when missing). Each returns false when the field
// refused the value (read-only, or rejected by its own checks); a failure of
// the PDF throws, after whatever changed was recorded.
bool setText(QuarnDocument& document, const FormFields::Widget& field, const std::vector<FormFields::Widget>& group,
             const std::string& text, const QString& name);
bool toggle(QuarnDocument& document, const FormFields::Widget& field, const std::vector<FormFields::Widget>& group,
            const QString& name);
// One of the offered texts, an export value, or any text in an editable combo box.
bool choose(QuarnDocument& document, const FormFields::Widget& field, const std::vector<FormFields::Widget>& group,
            const std::string& option, const QString& name);

} // namespace quarnkit::FormFieldEdits
