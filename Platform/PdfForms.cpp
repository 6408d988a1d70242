#include "Platform/PdfForms.h"

#include "Platform/PdfInternal.h"

#include <algorithm>

namespace platform {
namespace {

// ---------------------------------------------------------------- MuPDF helpers (C style)

// One widget as read inside fz_try: strings are fz_malloc'd and freed by freeRaw.
struct RawWidget {
    int num = 0;
    int annotIndex = 0;
    int type = PDF_WIDGET_TYPE_UNKNOWN;
    int fieldFlags = 0;
    int annotFlags = 0;
    int state = 0;
    int maxLength = 0;
    fz_rect rect = fz_empty_rect;
    char* name = nullptr;
    char* value = nullptr; // null: no /V at all
    char* onState = nullptr;
    int optionCount = 0;
    char** options = nullptr;
    int exportCount = 0;
    char** exports = nullptr;
};

void freeRaw(fz_context* ctx, RawWidget* raw)
{
    fz_free(ctx, raw->name);
    fz_free(ctx, raw->value);
    fz_free(ctx, raw->onState);
    for (int i = 0; i < raw->optionCount; ++i)
        if (raw->options) fz_free(ctx, raw->options[i]);
    fz_free(ctx, raw->options);
    for (int i = 0; i < raw->exportCount; ++i)
        if (raw->exports) fz_free(ctx, raw->exports[i]);
    fz_free(ctx, raw->exports);
    *raw = RawWidget{};
}

int declaresFieldsC(fz_context* ctx, pdf_document* doc, FzError* err)
{
    int count = 0;
    fz_var(count);
    fz_try(ctx) {
        pdf_obj* form = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/AcroForm");
        pdf_obj* fields = pdf_dict_get(ctx, form, PDF_NAME(Fields));
        count = pdf_is_array(ctx, fields) ? pdf_array_len(ctx, fields) : 0;
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        count = 0;
    }
    return count;
}

// Copies a choice widget's option texts (or export values) into an
// fz_malloc'd array; throws like any MuPDF call, leaving what it copied
// counted in *count for freeRaw.
void readOptionsC(fz_context* ctx, pdf_annot* widget, int exportValues, char*** list, int* count)
{
    const int n = pdf_choice_widget_options(ctx, widget, exportValues, nullptr);
    if (n <= 0) return;
    // One block: the copies first, MuPDF's borrowed texts after them.
    *list = static_cast<char**>(fz_calloc(ctx, 2 * size_t(n), sizeof(char*)));
    const char** texts = const_cast<const char**>(*list + n);
    pdf_choice_widget_options(ctx, widget, exportValues, texts);
    for (int i = 0; i < n; ++i) {
        (*list)[i] = fz_strdup(ctx, texts[i] ? texts[i] : "");
        *count = i + 1;
    }
}

void readWidgetC(fz_context* ctx, pdf_page* page, pdf_annot* widget, RawWidget* out, FzError* err)
{
    fz_try(ctx) {
        pdf_obj* obj = pdf_annot_obj(ctx, widget);
        out->num = pdf_to_num(ctx, obj);
        out->annotIndex = pdf_array_find(ctx, pdf_dict_get(ctx, page->obj, PDF_NAME(Annots)), obj);
        out->type = pdf_widget_type(ctx, widget);
        out->fieldFlags = pdf_field_flags(ctx, obj);
        out->annotFlags = pdf_annot_flags(ctx, widget);
        out->rect = pdf_dict_get_rect(ctx, obj, PDF_NAME(Rect));
        out->name = pdf_field_name(ctx, obj);

        pdf_obj* v = pdf_dict_get_inheritable(ctx, obj, PDF_NAME(V));
        if (pdf_is_array(ctx, v))
            v = pdf_array_get(ctx, v, 0);
        if (pdf_is_name(ctx, v))
            out->value = fz_strdup(ctx, pdf_to_name(ctx, v));
        else if (pdf_is_string(ctx, v))
            out->value = fz_strdup(ctx, pdf_to_text_string(ctx, v));
        else if (v)
            out->value = fz_strdup(ctx, pdf_field_value(ctx, obj));

        if (out->type == PDF_WIDGET_TYPE_CHECKBOX || out->type == PDF_WIDGET_TYPE_RADIOBUTTON) {
            pdf_obj* as = pdf_dict_get(ctx, obj, PDF_NAME(AS));
            out->state = pdf_is_name(ctx, as) && !pdf_name_eq(ctx, as, PDF_NAME(Off));
            pdf_obj* on = pdf_button_field_on_state(ctx, obj);
            out->onState = fz_strdup(ctx, pdf_is_name(ctx, on) ? pdf_to_name(ctx, on) : "");
        }
        if (out->type == PDF_WIDGET_TYPE_TEXT)
            out->maxLength = pdf_text_widget_max_len(ctx, widget);
        if (out->type == PDF_WIDGET_TYPE_COMBOBOX || out->type == PDF_WIDGET_TYPE_LISTBOX) {
            readOptionsC(ctx, widget, 0, &out->options, &out->optionCount);
            readOptionsC(ctx, widget, 1, &out->exports, &out->exportCount);
        }
    }
    fz_catch(ctx) captureError(ctx, err);
}

enum class EditOp { setText, toggle, choose };

// Applies one edit to the widget `num` of the page and regenerates the page's
// appearances. Returns -1 when no widget has that number, else whether the
// field took the change.
int editWidgetC(fz_context* ctx, pdf_page* page, int num, int op, const char* text, FzError* err)
{
    int result = -1;
    fz_var(result);
    fz_try(ctx) {
        pdf_annot* found = nullptr;
        for (pdf_annot* w = pdf_first_widget(ctx, page); w && !found; w = pdf_next_widget(ctx, w))
            if (pdf_to_num(ctx, pdf_annot_obj(ctx, w)) == num) found = w;
        if (found) {
            if (op == int(EditOp::setText))
                result = pdf_set_text_field_value(ctx, found, text) ? 1 : 0;
            else if (op == int(EditOp::choose))
                result = pdf_set_choice_field_value(ctx, found, text) ? 1 : 0;
            else {
                // Some producers (pdflatex among them) store a button's states as
                // empty dictionaries instead of appearance streams: the box would
                // look blank in every reader. Let MuPDF draw the states then.
                pdf_obj* normal = pdf_dict_getp(ctx, pdf_annot_obj(ctx, found), "AP/N");
                int drawable = pdf_is_dict(ctx, normal) && pdf_dict_len(ctx, normal) > 0;
                for (int i = 0; drawable && i < pdf_dict_len(ctx, normal); ++i)
                    drawable = pdf_is_stream(ctx, pdf_dict_get_val(ctx, normal, i));
                if (!drawable) pdf_annot_request_resynthesis(ctx, found);
                result = pdf_toggle_widget(ctx, found) ? 1 : 0;
            }
            pdf_update_page(ctx, page);
        }
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        result = -1;
    }
    return result;
}

// ---------------------------------------------------------------- conversion

struct RawGuard {
    RawWidget raw;
    ~RawGuard() { freeRaw(pdfContext(), &raw); }
};

PdfWidgetKind kindOf(int type)
{
    switch (type) {
    case PDF_WIDGET_TYPE_TEXT: return PdfWidgetKind::text;
    case PDF_WIDGET_TYPE_CHECKBOX: return PdfWidgetKind::checkBox;
    case PDF_WIDGET_TYPE_RADIOBUTTON: return PdfWidgetKind::radioButton;
    case PDF_WIDGET_TYPE_COMBOBOX:
    case PDF_WIDGET_TYPE_LISTBOX: return PdfWidgetKind::choice;
    case PDF_WIDGET_TYPE_BUTTON: return PdfWidgetKind::pushButton;
    case PDF_WIDGET_TYPE_SIGNATURE: return PdfWidgetKind::signature;
    default: return PdfWidgetKind::unknown;
    }
}

PdfWidget convert(const RawWidget& raw, int pageIndex)
{
    PdfWidget w;
    w.objectNumber = raw.num;
    w.page = pageIndex;
    w.annotIndex = raw.annotIndex;
    w.kind = kindOf(raw.type);
    w.name = raw.name ? raw.name : "";
    if (raw.value) w.value = std::string(raw.value);
    w.state = raw.state;
    w.onState = raw.onState ? raw.onState : "";
    w.rect = fromFz(raw.rect);
    for (int i = 0; i < raw.optionCount; ++i) w.options.emplace_back(raw.options[i] ? raw.options[i] : "");
    for (int i = 0; i < raw.exportCount; ++i) w.exportValues.emplace_back(raw.exports[i] ? raw.exports[i] : "");
    if (w.exportValues.size() != w.options.size()) w.exportValues = w.options;
    w.readOnly = raw.fieldFlags & PDF_FIELD_IS_READ_ONLY;
    w.hidden = raw.annotFlags & (PDF_ANNOT_IS_HIDDEN | PDF_ANNOT_IS_NO_VIEW);
    w.multiline = w.kind == PdfWidgetKind::text && (raw.fieldFlags & PDF_TX_FIELD_IS_MULTILINE);
    w.comboBox = raw.type == PDF_WIDGET_TYPE_COMBOBOX;
    w.editable = w.comboBox && (raw.fieldFlags & PDF_CH_FIELD_IS_EDIT);
    w.maxLength = std::max(0, raw.maxLength);
    return w;
}

std::vector<PdfWidget> widgetsOfPage(const PdfDocument::Impl& d, int pageIndex)
{
    PageRef page = loadPage(d, pageIndex);
    fz_context* ctx = pdfContext();
    std::vector<PdfWidget> result;
    for (pdf_annot* w = pdf_first_widget(ctx, page.page); w; w = pdf_next_widget(ctx, w)) {
        RawGuard guard;
        FzError err;
        readWidgetC(ctx, page.page, w, &guard.raw, &err);
        throwIfFailed(err, PdfErrorCode::damaged);
        result.push_back(convert(guard.raw, pageIndex));
    }
    return result;
}

// Runs one edit and reports whether the field took it; throws when the widget is gone.
bool applyEdit(PdfDocument& doc, int pageIndex, int objectNumber, EditOp op, const std::string& text)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    PageRef page = loadPage(d, pageIndex);
    FzError err;
    const int result = editWidgetC(pdfContext(), page.page, objectNumber, int(op), text.c_str(), &err);
    throwIfFailed(err);
    if (result < 0)
        throw PdfError(PdfErrorCode::general, "no form field " + std::to_string(objectNumber) + " on page " + std::to_string(pageIndex + 1));
    // MuPDF may have touched the form even when the value was refused.
    doc.bumpRevision();
    return result == 1;
}

PdfWidget requireWidget(const PdfDocument& doc, int page, int objectNumber)
{
    auto w = PdfForms::widget(doc, page, objectNumber);
    if (!w)
        throw PdfError(PdfErrorCode::general, "no form field " + std::to_string(objectNumber) + " on page " + std::to_string(page + 1));
    return *w;
}

bool isButton(const PdfWidget& w)
{
    return w.kind == PdfWidgetKind::checkBox || w.kind == PdfWidgetKind::radioButton;
}

} // namespace

// ---------------------------------------------------------------- PdfForms

bool PdfForms::declaresFields(const PdfDocument& doc)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    if (d.locked) return false;
    FzError err;
    const int count = declaresFieldsC(pdfContext(), d.doc, &err);
    return err.code == 0 && count > 0;
}

std::vector<PdfWidget> PdfForms::widgets(const PdfDocument& doc, int page)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    return widgetsOfPage(d, page);
}

std::vector<PdfWidget> PdfForms::widgets(const PdfDocument& doc)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    std::vector<PdfWidget> all;
    const int count = doc.pageCount();
    for (int i = 0; i < count; ++i) {
        // A page that cannot be read holds no widgets we could show or fill.
        try {
            auto page = widgetsOfPage(d, i);
            all.insert(all.end(), page.begin(), page.end());
        } catch (const PdfError&) {
        }
    }
    return all;
}

std::optional<PdfWidget> PdfForms::widget(const PdfDocument& doc, int page, int objectNumber)
{
    for (auto& w : widgets(doc, page))
        if (w.objectNumber == objectNumber) return std::move(w);
    return std::nullopt;
}

bool PdfForms::setText(PdfDocument& doc, int page, int objectNumber, const std::string& text)
{
    const PdfWidget w = requireWidget(doc, page, objectNumber);
    if (w.kind != PdfWidgetKind::text)
        throw PdfError(PdfErrorCode::general, "form field " + std::to_string(objectNumber) + " is not a text field");
    if (w.readOnly) return false;
    if (w.value && *w.value == text) return true;
    return applyEdit(doc, page, objectNumber, EditOp::setText, text);
}

bool PdfForms::toggle(PdfDocument& doc, int page, int objectNumber)
{
    const PdfWidget w = requireWidget(doc, page, objectNumber);
    if (!isButton(w))
        throw PdfError(PdfErrorCode::general, "form field " + std::to_string(objectNumber) + " is not a check box or radio button");
    if (w.readOnly) return false;
    applyEdit(doc, page, objectNumber, EditOp::toggle, {});
    // pdf_toggle_widget reports success even when a radio button refuses to
    // turn itself off; the state read back is what counts.
    const PdfWidget after = requireWidget(doc, page, objectNumber);
    return after.state != w.state;
}

bool PdfForms::setChecked(PdfDocument& doc, int page, int objectNumber, bool on)
{
    const PdfWidget w = requireWidget(doc, page, objectNumber);
    if (!isButton(w))
        throw PdfError(PdfErrorCode::general, "form field " + std::to_string(objectNumber) + " is not a check box or radio button");
    if ((w.state != 0) == on) return true;
    return toggle(doc, page, objectNumber);
}

bool PdfForms::choose(PdfDocument& doc, int page, int objectNumber, const std::string& option)
{
    const PdfWidget w = requireWidget(doc, page, objectNumber);
    if (w.kind != PdfWidgetKind::choice)
        throw PdfError(PdfErrorCode::general, "form field " + std::to_string(objectNumber) + " is not a choice field");
    if (w.readOnly) return false;
    // Only an editable combo box takes text of the user's own; lists keep to their options.
    // The field's value is the export value of the option shown to the user.
    std::string value = option;
    const auto shown = std::find(w.options.begin(), w.options.end(), option);
    if (shown != w.options.end()) value = w.exportValues[size_t(shown - w.options.begin())];
    else if (std::find(w.exportValues.begin(), w.exportValues.end(), option) == w.exportValues.end() && !w.editable)
        return false;
    if (w.value && *w.value == value) return true;
    return applyEdit(doc, page, objectNumber, EditOp::choose, value);
}

} // namespace platform
