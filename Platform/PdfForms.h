#pragma once
// The interactive form (AcroForm) of a PDF: its widget annotations read as
// plain values, and the few edits a reader makes to them. Every edit rewrites
// the widget's appearance stream, so other readers show the new value.
#include "Platform/PdfDocument.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class PdfWidgetKind { text, checkBox, radioButton, choice, pushButton, signature, unknown };

// One widget annotation as it is when read. A widget is identified by the
// object number of its annotation dictionary, never by a pointer.
struct PdfWidget {
    int objectNumber = 0;
    int page = 0;
    int annotIndex = 0; // position among the page's annotations (/Annots order)
    PdfWidgetKind kind = PdfWidgetKind::unknown;
    std::string name;  // fully qualified field name ("address.city")
    std::string label; // the name the form gives people (/TU), or empty: what a reader hears
    // The field's value (/V, inherited from the parent field) as text: for a
    // check box or radio button the name of the chosen state, for a multiple
    // choice its first selection. None when the field has no value at all.
    std::optional<std::string> value;
    int state = 0;                    // buttons: 1 while this widget shows its on state
    std::string onState;              // buttons: the name of this widget's on state
    PdfRect rect;                     // user space
    std::vector<std::string> options; // choice fields: the texts offered
    std::vector<std::string>
        exportValues; // the value each option stores; the texts themselves when the field names none
    bool readOnly = false;
    bool hidden = false;    // not shown on screen (drawsMark): the Hidden or NoView annotation flag
    bool multiline = false; // text fields
    bool password = false;  // text fields whose value is never drawn nor shown, only masked
    bool comboBox = false;  // choice fields: a pop-up rather than a list
    bool editable = false;  // combo boxes that take text of the user's own
    int maxLength = 0;      // text fields; 0 for no limit
    // Buttons: the option this widget stands for, as people read it: its
    // caption (/MK /CA), else its export value (/Opt, else the on state).
    std::string option;

    friend bool operator==(const PdfWidget&, const PdfWidget&) = default;
};

class PdfForms {
public:
    // True when the catalog's /AcroForm holds a /Fields array with at least one entry.
    static bool declaresFields(const PdfDocument& doc);

    // The widgets of one page in /Annots order, or of every page, page by page.
    // A form that asks readers to draw its fields (/NeedAppearances) has each
    // field whose drawing does not show its value drawn anew from it, as a
    // save draws it; that changes the page as drawn but no value. Every
    // drawing ravlen makes is one other readers draw as ravlen shows it (see
    // PdfFormDrawings.cpp).
    static std::vector<PdfWidget> widgets(const PdfDocument& doc, int page);
    static std::vector<PdfWidget> widgets(const PdfDocument& doc);
    // The widget with this object number on the page, read afresh.
    static std::optional<PdfWidget> widget(const PdfDocument& doc, int page, int objectNumber);

    // Edits. Each throws PdfError(general) when the widget is not on the page
    // or is not of the right kind, and returns false when the field refused the
    // value (read-only, or rejected by the field's own checks). Each one that
    // succeeds regenerates the page's appearances.
    static bool setText(PdfDocument& doc, int page, int objectNumber, const std::string& text);
    // Check boxes and radio buttons. Turning a radio button on turns the
    // other buttons of its field off.
    static bool setChecked(PdfDocument& doc, int page, int objectNumber, bool on);
    static bool toggle(PdfDocument& doc, int page, int objectNumber);
    // Choice fields: one of the offered texts (the field stores its export
    // value) or an export value, or any text in an editable combo box.
    // An empty text that no option offers chooses none, as clearChoice does.
    static bool choose(PdfDocument& doc, int page, int objectNumber, const std::string& option);
    // Leaves a choice field with no value at all (no /V), drawn empty: what
    // undoing the first choice in a field that had none puts back.
    static bool clearChoice(PdfDocument& doc, int page, int objectNumber);
};

} // namespace platform
