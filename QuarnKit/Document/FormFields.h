#pragma once
// The logic behind filling PDF forms: which widgets are fillable fields, the
// order a reader expects them in (page by page, top to bottom, left to right),
// the next field for Tab and Shift-Tab, and which fields changed since a
// snapshot of their values. Stateless: every function reads what it is given.
#include "Platform/PdfForms.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quarnkit {
namespace FormFields {

using Widget = platform::PdfWidget;
using WidgetKind = platform::PdfWidgetKind;

// The value of one widget at one moment.
struct Value {
    std::optional<std::string> string; // the field's value; none when it has none
    int state = 0;                     // buttons: 1 while on
    friend bool operator==(const Value&, const Value&) = default;
};

// Values by widget identity (the object number of the widget annotation).
using Snapshot = std::map<int, Value>;

// A displayed text field, choice field, check box or radio button. Push
// buttons, signature fields and hidden widgets are not fields.
bool isField(const Widget& widget);
// A field the keyboard fills: any field that is not read-only. Of a radio
// group, Tab stops on one button (see next).
bool isTabStop(const Widget& widget);
// A field that takes typed text: a text field that is not read-only.
bool takesText(const Widget& widget);

// True when the catalog's /AcroForm holds a non-empty /Fields array.
bool declaresFields(const platform::PdfDocument& doc);
// Every field of the document, read afresh: pages in order, each in reading order.
std::vector<Widget> fields(const platform::PdfDocument& doc);
// One widget read afresh; none when it is gone or its page cannot be read.
std::optional<Widget> widget(const QuarnDocument& document, int page, int objectNumber);

// The fields of a document, with whether it has a form at all: a PDF whose
// catalog declares no fields gets none, whatever widgets its pages carry; one
// accepted before is read again without that test, since deleting pages may
// leave its field list behind.
struct Reading {
    bool accepted = false;
    std::vector<Widget> fields;
};
// The reading as a job for any thread: it holds the PDF while it runs.
std::function<Reading()> readingJob(const QuarnDocument& document, bool wasAccepted);

// The fields given, their values read afresh, as a job for any thread: it
// holds the PDF while it runs. A field on a page that cannot be read keeps
// the value it had; one gone from its page is kept as it was.
std::function<std::vector<Widget>()> valuesJob(const QuarnDocument& document, std::vector<Widget> fields);

// Rows from the top down, each row left to right; equal keys keep their input order.
std::vector<Widget> readingOrder(std::vector<Widget> widgets);

// Where Tab (Shift+Tab, `backward`) goes from `current` (none when no field
// has the focus): the next tab stop in reading order, a radio group's chosen
// button (else its first) standing for the group, and whether it went round
// past the last stop (the first). A current field no longer among `fields`
// is placed where it reads. None when `fields` holds no tab stop.
struct TabStep {
    Widget field;
    bool wrapped = false;
};
std::optional<TabStep> next(const std::optional<Widget>& current, const std::vector<Widget>& fields, bool backward);
// The buttons of `field`'s radio group among `fields`, in reading order; none
// for any other field.
std::vector<Widget> radioGroup(const Widget& field, const std::vector<Widget>& fields);

Value value(const Widget& widget);
// A later widget with the same identity replaces an earlier one.
Snapshot values(const std::vector<Widget>& widgets);
// The widgets of `current` (read after the change) whose value differs from
// the snapshot, or that the snapshot does not hold, in list order.
std::vector<Widget> changed(const std::vector<Widget>& current, const Snapshot& snapshot);

} // namespace FormFields
} // namespace quarnkit
