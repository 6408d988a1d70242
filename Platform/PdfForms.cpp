#include "Platform/PdfForms.h"

#include "Platform/PdfInternal.h"
#include "Platform/PdfMarkVisibility.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

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
    char* label = nullptr;
    char* value = nullptr; // null: no /V at all
    char* onState = nullptr;
    char* option = nullptr;
    int optionCount = 0;
    char** options = nullptr;
    int exportCount = 0;
    char** exports = nullptr;
};

void freeRaw(fz_context* ctx, RawWidget* raw)
{
    fz_free(ctx, raw->name);
    fz_free(ctx, raw->label);
    fz_free(ctx, raw->value);
    fz_free(ctx, raw->onState);
    fz_free(ctx, raw->option);
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

// The option a button stands for, as people read it: its caption where it
// has one (a single character is the symbol drawn in the box, not a
// caption), else the export value /Opt gives its on state, else the on
// state's own name.
char* readOptionC(fz_context* ctx, pdf_obj* obj, const char* onState)
{
    pdf_obj* caption = pdf_dict_getp(ctx, obj, "MK/CA");
    if (pdf_is_string(ctx, caption)) {
        const char* text = pdf_to_text_string(ctx, caption);
        if (fz_utflen(text) > 1) return fz_strdup(ctx, text);
    }
    pdf_obj* opt = pdf_dict_get_inheritable(ctx, obj, PDF_NAME(Opt));
    char* end = nullptr;
    const long at = std::strtol(onState, &end, 10);
    if (pdf_is_array(ctx, opt) && *onState && end && !*end && at >= 0 && at < pdf_array_len(ctx, opt)) {
        pdf_obj* value = pdf_array_get(ctx, opt, int(at));
        if (pdf_is_string(ctx, value)) return fz_strdup(ctx, pdf_to_text_string(ctx, value));
    }
    return fz_strdup(ctx, onState);
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
        // The label belongs to the field: the widget itself where it names
        // one (/T), else the field it is a kid of. A few steps only: a damaged
        // file's parents may lead round in a circle.
        pdf_obj* field = obj;
        for (int step = 0; field && step < 32; ++step, field = pdf_dict_get(ctx, field, PDF_NAME(Parent))) {
            pdf_obj* tu = pdf_dict_get(ctx, field, PDF_NAME(TU));
            if (pdf_is_string(ctx, tu)) out->label = fz_strdup(ctx, pdf_to_text_string(ctx, tu));
            if (tu || pdf_dict_get(ctx, field, PDF_NAME(T))) break;
        }

        pdf_obj* v = pdf_dict_get_inheritable(ctx, obj, PDF_NAME(V));
        if (pdf_is_array(ctx, v)) v = pdf_array_get(ctx, v, 0);
        if (pdf_is_name(ctx, v)) out->value = fz_strdup(ctx, pdf_to_name(ctx, v));
        else if (pdf_is_string(ctx, v)) out->value = fz_strdup(ctx, pdf_to_text_string(ctx, v));
        else if (v) out->value = fz_strdup(ctx, pdf_field_value(ctx, obj));

        if (out->type == PDF_WIDGET_TYPE_CHECKBOX || out->type == PDF_WIDGET_TYPE_RADIOBUTTON) {
            pdf_obj* as = pdf_dict_get(ctx, obj, PDF_NAME(AS));
            out->state = pdf_is_name(ctx, as) && !pdf_name_eq(ctx, as, PDF_NAME(Off));
            pdf_obj* on = pdf_button_field_on_state(ctx, obj);
            out->onState = fz_strdup(ctx, pdf_is_name(ctx, on) ? pdf_to_name(ctx, on) : "");
            out->option = readOptionC(ctx, obj, out->onState);
        }
        if (out->type == PDF_WIDGET_TYPE_TEXT) out->maxLength = pdf_text_widget_max_len(ctx, widget);
        if (out->type == PDF_WIDGET_TYPE_COMBOBOX || out->type == PDF_WIDGET_TYPE_LISTBOX) {
            readOptionsC(ctx, widget, 0, &out->options, &out->optionCount);
            readOptionsC(ctx, widget, 1, &out->exports, &out->exportCount);
        }
    }
    fz_catch(ctx) captureError(ctx, err);
}

// The drawing a widget shows now: its normal appearance, or of a set of
// states the one its /AS names (other readers take a missing /AS for Off).
// Null when that is no drawing at all (some files give a state a name).
pdf_obj* shownDrawingC(fz_context* ctx, pdf_obj* obj)
{
    pdf_obj* normal = pdf_dict_getp(ctx, obj, "AP/N");
    if (pdf_is_stream(ctx, normal)) return normal;
    pdf_obj* look = pdf_dict_get(ctx, obj, PDF_NAME(AS));
    pdf_obj* shown = pdf_dict_get(ctx, normal, pdf_is_name(ctx, look) ? look : PDF_NAME(Off));
    return pdf_is_stream(ctx, shown) ? shown : nullptr;
}

// The text the widget's drawing shows as any reader draws it: what lies
// outside the widget's rectangle, the drawing's box, other readers cut off.
// fz_malloc'd; throws like any MuPDF call.
char* drawnTextC(fz_context* ctx, pdf_annot* widget)
{
    fz_stext_page* text = nullptr;
    fz_device* dev = nullptr;
    fz_buffer* buf = nullptr;
    char* drawn = nullptr;
    fz_var(text);
    fz_var(dev);
    fz_var(buf);
    fz_var(drawn);
    fz_try(ctx) {
        fz_stext_options options{};
        options.flags = FZ_STEXT_MEDIABOX_CLIP;
        text = fz_new_stext_page(ctx, pdf_bound_annot(ctx, widget));
        dev = fz_new_stext_device(ctx, text, &options);
        pdf_run_annot(ctx, widget, dev, fz_identity, nullptr);
        fz_close_device(ctx, dev);
        buf = fz_new_buffer_from_stext_page(ctx, text);
        drawn = fz_strdup(ctx, fz_string_from_buffer(ctx, buf));
    }
    fz_always(ctx) {
        fz_drop_buffer(ctx, buf);
        fz_drop_device(ctx, dev);
        fz_drop_stext_page(ctx, text);
    }
    fz_catch(ctx) fz_rethrow(ctx);
    return drawn;
}

// A text field with the Password flag: its value is drawn as a mask only.
int isPasswordC(fz_context* ctx, pdf_annot* widget)
{
    return pdf_widget_type(ctx, widget) == PDF_WIDGET_TYPE_TEXT
           && (pdf_field_flags(ctx, pdf_annot_obj(ctx, widget)) & PDF_TX_FIELD_IS_PASSWORD);
}

// The mask other readers draw for a password: one asterisk a character.
// fz_malloc'd.
char* passwordMaskC(fz_context* ctx, const char* value)
{
    size_t n = 0;
    for (const char* p = value ? value : ""; *p; ++p)
        if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80) ++n;
    char* mask = static_cast<char*>(fz_malloc(ctx, n + 1));
    std::memset(mask, '*', n);
    mask[n] = 0;
    return mask;
}

// Whether drawn text holds no character but the marks readers mask a
// password with (asterisks, bullets) and spaces.
bool onlyMaskC(const char* text)
{
    static const char* const marks[] = {"*", "\xE2\x80\xA2", "\xE2\x97\x8F", " ", "\t", "\r", "\n"};
    while (*text) {
        bool known = false;
        for (const char* mark : marks) {
            const size_t n = std::strlen(mark);
            if (!std::strncmp(text, mark, n)) {
                text += n;
                known = true;
                break;
            }
        }
        if (!known) return false;
    }
    return true;
}

// Whether the widget's drawing shows no more than a mask. Throws like any
// MuPDF call.
bool showsMaskC(fz_context* ctx, pdf_annot* widget)
{
    char* drawn = drawnTextC(ctx, widget);
    const bool masked = onlyMaskC(drawn);
    fz_free(ctx, drawn);
    return masked;
}

// The text other readers show for a field's value: a password's mask, the
// label of the option a choice's value names (MuPDF would show the value
// itself), else the value. fz_malloc'd; throws like any MuPDF call.
char* shownValueC(fz_context* ctx, pdf_annot* widget)
{
    const char* value = pdf_field_value(ctx, pdf_annot_obj(ctx, widget));
    if (!value) value = "";
    if (isPasswordC(ctx, widget)) return passwordMaskC(ctx, value);
    const int type = pdf_widget_type(ctx, widget);
    const int n = type == PDF_WIDGET_TYPE_COMBOBOX || type == PDF_WIDGET_TYPE_LISTBOX
                      ? pdf_choice_widget_options(ctx, widget, 0, nullptr)
                      : 0;
    if (n <= 0) return fz_strdup(ctx, value);
    // Labels first, export values after them, both borrowed.
    char** options = static_cast<char**>(fz_calloc(ctx, 2 * size_t(n), sizeof(char*)));
    char* shown = nullptr;
    fz_var(shown);
    fz_try(ctx) {
        pdf_choice_widget_options(ctx, widget, 0, const_cast<const char**>(options));
        pdf_choice_widget_options(ctx, widget, 1, const_cast<const char**>(options + n));
        const char* label = value;
        for (int i = 0; i < n; ++i)
            if (options[n + i] && options[i] && !std::strcmp(options[n + i], value)) {
                label = options[i];
                break;
            }
        shown = fz_strdup(ctx, label);
    }
    fz_always(ctx) fz_free(ctx, options);
    fz_catch(ctx) fz_rethrow(ctx);
    return shown;
}

// Draws a text or choice field anew as other readers show its value
// (shownValueC): MuPDF draws the value it is given, so for the drawing the
// widget holds the shown text in place of its value, which is put back at
// once. Throws like any MuPDF call, the value put back.
void drawShownC(fz_context* ctx, pdf_annot* widget)
{
    // MuPDF draws a list box's options, whatever its value: that stays, for
    // the options it names to be marked.
    if (pdf_widget_type(ctx, widget) == PDF_WIDGET_TYPE_LISTBOX) {
        drawAnewC(ctx, widget);
        return;
    }
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    pdf_obj* own = pdf_keep_obj(ctx, pdf_dict_get(ctx, obj, PDF_NAME(V)));
    char* shown = nullptr;
    fz_var(shown);
    fz_try(ctx) {
        shown = shownValueC(ctx, widget);
        pdf_dict_put_text_string(ctx, obj, PDF_NAME(V), shown);
        drawAnewC(ctx, widget);
    }
    fz_always(ctx) {
        // Replacing or removing an entry allocates nothing: this cannot fail.
        if (own) pdf_dict_put(ctx, obj, PDF_NAME(V), own);
        else pdf_dict_del(ctx, obj, PDF_NAME(V));
        pdf_drop_obj(ctx, own);
        fz_free(ctx, shown);
    }
    fz_catch(ctx) fz_rethrow(ctx);
}

// Whether two texts hold the same words, however the spaces and line ends
// between them run.
int sameWordsC(const char* a, const char* b)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; };
    const auto skip = [&](const char*& p) {
        while (*p && space(*p)) ++p;
    };
    skip(a);
    skip(b);
    while (*a && *b) {
        if (space(*a) || space(*b)) {
            if (!space(*a) || !space(*b)) return 0;
            skip(a);
            skip(b);
        } else if (*a++ != *b++) {
            return 0;
        }
    }
    skip(a);
    skip(b);
    return !*a && !*b;
}

// Whether widget `other` is `widget` or another widget of its field.
bool sameFieldC(fz_context* ctx, pdf_annot* widget, pdf_annot* other)
{
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    pdf_obj* field = pdf_dict_get(ctx, obj, PDF_NAME(T)) ? obj : pdf_dict_get(ctx, obj, PDF_NAME(Parent));
    pdf_obj* its = pdf_annot_obj(ctx, other);
    // References are compared by the object they name.
    return other == widget
           || (field
               && (!pdf_objcmp(ctx, its, field) || !pdf_objcmp(ctx, pdf_dict_get(ctx, its, PDF_NAME(Parent)), field)));
}

// The choice field of a widget left with no value: /V (and the selected
// indices /I) go from the widget and from its field, and the field's widgets
// on the page are drawn again.
void clearChoiceC(fz_context* ctx, pdf_page* page, pdf_annot* widget)
{
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    // Up to the level that names the field; bounded, as a damaged file may
    // make its parents a cycle.
    pdf_obj* level = obj;
    for (int depth = 0; level && depth < 32; ++depth) {
        pdf_dict_del(ctx, level, PDF_NAME(V));
        pdf_dict_del(ctx, level, PDF_NAME(I));
        if (pdf_dict_get(ctx, level, PDF_NAME(T))) break;
        level = pdf_dict_get(ctx, level, PDF_NAME(Parent));
    }
    for (pdf_annot* w = pdf_first_widget(ctx, page); w; w = pdf_next_widget(ctx, w))
        if (sameFieldC(ctx, widget, w)) pdf_annot_request_resynthesis(ctx, w);
}

// The widgets of a pop-up just chosen from, which MuPDF draws showing the
// value, show the label of the option chosen, as other readers show it.
void drawLabelsC(fz_context* ctx, pdf_page* page, pdf_annot* chosen)
{
    for (pdf_annot* w = pdf_first_widget(ctx, page); w; w = pdf_next_widget(ctx, w)) {
        if (!sameFieldC(ctx, chosen, w) || pdf_widget_type(ctx, w) != PDF_WIDGET_TYPE_COMBOBOX) continue;
        const char* value = pdf_field_value(ctx, pdf_annot_obj(ctx, w));
        char* shown = shownValueC(ctx, w);
        const bool label = std::strcmp(shown, value ? value : "") != 0;
        fz_free(ctx, shown);
        if (label) drawShownC(ctx, w);
    }
}

// A password field whose drawing shows anything but a mask (MuPDF drew its
// value, or the file stores it so) is drawn as its mask. In a signed file,
// whose fields stay as signed, a drawing the file holds stays but for the
// widgets of the field `edited` (none when null), which the edit just drew.
// `staySigned` says whether the file is signed, -1 when that is not known
// yet (signedDocument): then it is asked, and only of a page with a drawing
// to change. Never throws: a widget that cannot be drawn again keeps its drawing.
void maskPasswordsOfPageC(fz_context* ctx, pdf_page* page, pdf_annot* edited, int staySigned)
{
    fz_var(staySigned);
    for (pdf_annot* w = pdf_first_widget(ctx, page); w; w = pdf_next_widget(ctx, w)) {
        fz_try(ctx) {
            if (isPasswordC(ctx, w) && !showsMaskC(ctx, w)) {
                const bool held = pdf_dict_get(ctx, pdf_annot_obj(ctx, w), PDF_NAME(AP)) != nullptr;
                const bool edit = edited && sameFieldC(ctx, edited, w);
                if (held && !edit && staySigned < 0) staySigned = isSignedC(ctx, page->doc, 0);
                if (!held || edit || !staySigned) drawShownC(ctx, w);
            }
        }
        fz_catch(ctx) {}
    }
}

enum class EditOp { setText, toggle, choose, clearChoice };

// A widget of a field with several widgets carries no value of its own; some
// files leave a stale /V on one, which it would keep showing while the typed
// value went to the field. Those stale values go, so every widget shows the field's.
void dropStaleWidgetValuesC(fz_context* ctx, pdf_annot* widget)
{
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    if (pdf_dict_get(ctx, obj, PDF_NAME(T))) return;
    pdf_obj* field = pdf_dict_get(ctx, obj, PDF_NAME(Parent));
    if (!pdf_dict_get(ctx, field, PDF_NAME(T))) return;
    pdf_obj* kids = pdf_dict_get(ctx, field, PDF_NAME(Kids));
    const int n = pdf_array_len(ctx, kids);
    for (int i = 0; i < n; ++i) {
        pdf_obj* kid = pdf_array_get(ctx, kids, i);
        if (!pdf_dict_get(ctx, kid, PDF_NAME(T)) && pdf_dict_get(ctx, kid, PDF_NAME(V)))
            pdf_dict_del(ctx, kid, PDF_NAME(V));
    }
}

// MuPDF sets a check box's value to its on state but turns its look (/AS)
// on only when the appearance has that state: a box with no appearance was
// stored checked and shown unchecked. The look follows the value here.
void matchLookToValueC(fz_context* ctx, pdf_annot* widget)
{
    if (pdf_widget_type(ctx, widget) != PDF_WIDGET_TYPE_CHECKBOX) return;
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    pdf_obj* value = pdf_dict_get_inheritable(ctx, obj, PDF_NAME(V));
    pdf_obj* look = pdf_dict_get(ctx, obj, PDF_NAME(AS));
    const int on = pdf_is_name(ctx, value) && !pdf_name_eq(ctx, value, PDF_NAME(Off));
    if (on && !pdf_name_eq(ctx, look, value)) pdf_dict_put(ctx, obj, PDF_NAME(AS), value);
    else if (!on && pdf_is_name(ctx, look) && !pdf_name_eq(ctx, look, PDF_NAME(Off)))
        pdf_dict_put(ctx, obj, PDF_NAME(AS), PDF_NAME(Off));
}

// Applies one edit to the widget `num` of the page and regenerates the page's
// appearances. Returns -1 when no widget has that number, else whether the
// field took the change.
int editWidgetC(fz_context* ctx, pdf_page* page, int num, int op, const char* text, int staySigned, FzError* err)
{
    int result = -1;
    fz_var(result);
    fz_try(ctx) {
        pdf_annot* found = nullptr;
        for (pdf_annot* w = pdf_first_widget(ctx, page); w && !found; w = pdf_next_widget(ctx, w))
            if (pdf_to_num(ctx, pdf_annot_obj(ctx, w)) == num) found = w;
        if (found) {
            if (op == int(EditOp::setText) || op == int(EditOp::choose)) dropStaleWidgetValuesC(ctx, found);
            if (op == int(EditOp::setText)) result = pdf_set_text_field_value(ctx, found, text) ? 1 : 0;
            else if (op == int(EditOp::choose)) result = pdf_set_choice_field_value(ctx, found, text) ? 1 : 0;
            else if (op == int(EditOp::clearChoice)) {
                clearChoiceC(ctx, page, found);
                result = 1;
            } else {
                // Drawn after the toggle: MuPDF 1.21 draws nothing into a
                // document with no unsaved change, as a fresh one has not.
                // Some producers (pdflatex among them) store a button's
                // states as empty dictionaries, which every reader shows blank.
                result = pdf_toggle_widget(ctx, found) ? 1 : 0;
                matchLookToValueC(ctx, found);
                soundButtonC(ctx, found);
            }
            drawRequestedC(ctx, page);
            if (op == int(EditOp::choose)) drawLabelsC(ctx, page, found);
            maskPasswordsOfPageC(ctx, page, found, staySigned);
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
    w.label = raw.label ? raw.label : "";
    if (raw.value) w.value = std::string(raw.value);
    w.state = raw.state;
    w.onState = raw.onState ? raw.onState : "";
    w.option = raw.option ? raw.option : "";
    w.rect = fromFz(raw.rect);
    for (int i = 0; i < raw.optionCount; ++i) w.options.emplace_back(raw.options[i] ? raw.options[i] : "");
    for (int i = 0; i < raw.exportCount; ++i) w.exportValues.emplace_back(raw.exports[i] ? raw.exports[i] : "");
    if (w.exportValues.size() != w.options.size()) w.exportValues = w.options;
    w.readOnly = raw.fieldFlags & PDF_FIELD_IS_READ_ONLY;
    w.hidden = !drawsMark(raw.annotFlags, PdfMarkUse::screen);
    w.multiline = w.kind == PdfWidgetKind::text && (raw.fieldFlags & PDF_TX_FIELD_IS_MULTILINE);
    w.password = w.kind == PdfWidgetKind::text && (raw.fieldFlags & PDF_TX_FIELD_IS_PASSWORD);
    w.comboBox = raw.type == PDF_WIDGET_TYPE_COMBOBOX;
    w.editable = w.comboBox && (raw.fieldFlags & PDF_CH_FIELD_IS_EDIT);
    w.maxLength = std::max(0, raw.maxLength);
    return w;
}

std::vector<PdfWidget> widgetsOfPage(PdfDocument::Impl& d, int pageIndex)
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
    settleBeforeEditing(d);
    PageRef page = loadPage(d, pageIndex);
    FzError err;
    const int result = editWidgetC(pdfContext(), page.page, objectNumber, int(op), text.c_str(),
                                   d.signedFile ? int(*d.signedFile) : -1, &err);
    throwIfFailed(err);
    if (result < 0)
        throw PdfError(PdfErrorCode::general,
                       "no form field " + std::to_string(objectNumber) + " on page " + std::to_string(pageIndex + 1));
    return result == 1;
}

PdfWidget requireWidget(const PdfDocument& doc, int page, int objectNumber)
{
    auto w = PdfForms::widget(doc, page, objectNumber);
    if (!w)
        throw PdfError(PdfErrorCode::general,
                       "no form field " + std::to_string(objectNumber) + " on page " + std::to_string(page + 1));
    return *w;
}

bool isButton(const PdfWidget& w) { return w.kind == PdfWidgetKind::checkBox || w.kind == PdfWidgetKind::radioButton; }

} // namespace

// Draws anew, for the screen alone, a pop-up whose drawing MuPDF made for
// the screen showing its value where other readers show its option's label
// (shownValueC): the widget holds the label in place of its value while
// MuPDF draws, in the scratch table that drawing lives in, so that the
// document itself, and a signed file's fields, stay as they were.
void showLabelForScreenC(fz_context* ctx, pdf_annot* widget)
{
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    const char* value = pdf_field_value(ctx, obj);
    char* shown = shownValueC(ctx, widget);
    char* drawn = nullptr;
    pdf_obj* own = nullptr;
    int pushed = 0;
    fz_var(drawn);
    fz_var(own);
    fz_var(pushed);
    fz_try(ctx) {
        if (std::strcmp(shown, value ? value : "") != 0) drawn = drawnTextC(ctx, widget);
        if (drawn && !sameWordsC(drawn, shown)) {
            pdf_annot_push_local_xref(ctx, widget);
            pushed = 1;
            own = pdf_keep_obj(ctx, pdf_dict_get(ctx, obj, PDF_NAME(V)));
            pdf_dict_put_text_string(ctx, obj, PDF_NAME(V), shown);
            pdf_dict_del(ctx, obj, PDF_NAME(AP));
            pdf_annot_pop_local_xref(ctx, widget);
            pushed = 0;
            // A field without a drawing is drawn for the screen when MuPDF
            // next brings the page's drawings up to date, which a request to
            // draw one anew would do for the file instead.
            pdf_get_bound_document(ctx, obj)->resynth_required = 1;
            pdf_update_annot(ctx, widget);
        }
    }
    fz_always(ctx) {
        if (drawn && !sameWordsC(drawn, shown)) {
            if (!pushed) pdf_annot_push_local_xref(ctx, widget);
            // Replacing or removing an entry allocates nothing: this cannot fail.
            if (own) pdf_dict_put(ctx, obj, PDF_NAME(V), own);
            else pdf_dict_del(ctx, obj, PDF_NAME(V));
            pdf_annot_pop_local_xref(ctx, widget);
        }
        pdf_drop_obj(ctx, own);
        fz_free(ctx, drawn);
        fz_free(ctx, shown);
    }
    fz_catch(ctx) fz_rethrow(ctx);
}

void showFormC(fz_context* ctx, pdf_page* page, int staySigned)
{
    fz_try(ctx) drawRequestedC(ctx, page);
    fz_catch(ctx) {} // a drawing MuPDF made and ravlen could not mend is still shown
    maskPasswordsOfPageC(ctx, page, nullptr, staySigned);
}

namespace {

int needsAppearancesC(fz_context* ctx, pdf_document* doc, FzError* err)
{
    int needs = 0;
    fz_var(needs);
    fz_try(ctx) needs = pdf_to_bool(ctx, pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/AcroForm/NeedAppearances"));
    fz_catch(ctx) captureError(ctx, err);
    return needs;
}

// The words other readers show in a list box: its options, one a line,
// from the one its top index (/TI) names. fz_malloc'd; throws like any
// MuPDF call.
char* listedWordsC(fz_context* ctx, pdf_annot* widget)
{
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    const int n = pdf_choice_field_option_count(ctx, obj);
    fz_buffer* words = fz_new_buffer(ctx, 256);
    char* listed = nullptr;
    fz_var(listed);
    fz_try(ctx) {
        for (int i = std::max(0, pdf_dict_get_int(ctx, obj, PDF_NAME(TI))); i < n; ++i) {
            const char* label = pdf_choice_field_option(ctx, obj, 0, i);
            fz_append_string(ctx, words, label ? label : "");
            fz_append_byte(ctx, words, '\n');
        }
        listed = fz_strdup(ctx, fz_string_from_buffer(ctx, words));
    }
    fz_always(ctx) fz_drop_buffer(ctx, words);
    fz_catch(ctx) fz_rethrow(ctx);
    return listed;
}

// Whether every reader draws the widget showing its value: its drawing has
// a box, and the words it shows within it are those other readers show for
// the value (shownValueC); a list box's are its options (listedWordsC), the
// chosen ones marked as other readers mark them (marksChosenC). Throws like
// any MuPDF call.
int drawingShowsValueC(fz_context* ctx, pdf_annot* widget)
{
    if (!usableDrawingC(ctx, shownDrawingC(ctx, pdf_annot_obj(ctx, widget)))) return 0;
    const bool list = pdf_widget_type(ctx, widget) == PDF_WIDGET_TYPE_LISTBOX;
    char* drawn = nullptr;
    char* shown = nullptr;
    int shows = 0;
    fz_var(drawn);
    fz_var(shown);
    fz_var(shows);
    fz_try(ctx) {
        drawn = drawnTextC(ctx, widget);
        shown = list ? listedWordsC(ctx, widget) : shownValueC(ctx, widget);
        shows = sameWordsC(drawn, shown) && (!list || marksChosenC(ctx, widget));
    }
    fz_always(ctx) {
        fz_free(ctx, shown);
        fz_free(ctx, drawn);
    }
    fz_catch(ctx) fz_rethrow(ctx);
    return shows;
}

// Whether a check box or radio button is drawn as its value says: the state
// it shows (/AS) is the one its field's value names, and its drawing of that
// state paints something (a box ticked in the value must not look empty).
// Throws like any MuPDF call.
int buttonShowsValueC(fz_context* ctx, pdf_annot* widget)
{
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    pdf_obj* value = pdf_dict_get_inheritable(ctx, obj, PDF_NAME(V));
    pdf_obj* look = pdf_dict_get(ctx, obj, PDF_NAME(AS));
    const int on = pdf_is_name(ctx, look) && !pdf_name_eq(ctx, look, PDF_NAME(Off));
    if (on) return pdf_name_eq(ctx, value, look);
    return !pdf_name_eq(ctx, value, pdf_button_field_on_state(ctx, obj));
}

// Whether the widget's drawing shows no words: it has none, or one that
// draws none. Throws like any MuPDF call.
int showsNoWordsC(fz_context* ctx, pdf_annot* widget)
{
    if (!pdf_is_stream(ctx, shownDrawingC(ctx, pdf_annot_obj(ctx, widget)))) return 1;
    char* drawn = drawnTextC(ctx, widget);
    const int none = sameWordsC(drawn, "");
    fz_free(ctx, drawn);
    return none;
}

// Draws a text or choice field anew as other readers show its value (a
// password as its mask, a choice as its option's label): its stored drawing
// goes and MuPDF makes one. Returns 1 when every reader draws that drawing
// showing the value. Otherwise the result is 0, and the stored drawing is
// put back, but for one that showed no words: MuPDF's drawing, though it
// shows the value otherwise than other readers (a letter its font lacks),
// shows more of it.
int redrawFieldC(fz_context* ctx, pdf_annot* widget)
{
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    pdf_obj* stored = pdf_keep_obj(ctx, pdf_dict_get(ctx, obj, PDF_NAME(AP)));
    int drawn = 0, kept = 0;
    fz_var(drawn);
    fz_var(kept);
    fz_try(ctx) {
        const int blank = showsNoWordsC(ctx, widget);
        pdf_dict_del(ctx, obj, PDF_NAME(AP));
        drawShownC(ctx, widget);
        drawn = drawingShowsValueC(ctx, widget);
        kept = drawn || blank;
    }
    fz_catch(ctx) drawn = kept = 0;
    if (!drawn) {
        fz_try(ctx) {
            if (!kept) {
                if (stored) pdf_dict_put(ctx, obj, PDF_NAME(AP), stored);
                else pdf_dict_del(ctx, obj, PDF_NAME(AP));
            }
            pdf_set_annot_resynthesised(ctx, widget); // not tried again at every drawing
        }
        fz_catch(ctx) {}
    }
    pdf_drop_obj(ctx, stored);
    return drawn;
}

// The one rule by which a form that asks readers to draw its fields is
// drawn, in a save, in the window and in a flattened copy: whether the
// widget shows its value by a drawing other readers may use in place of
// their own. A text or choice shows it when its drawing shows the words
// other readers show for its value; one that shows other words (or only
// some of them, or none) is drawn anew (redrawFieldC). A button shows it
// when each of its states is drawn as every reader draws it, a state that is
// not being drawn anew (soundButtonC) whichever state it shows, and its
// look and value agree. A signature is shown as the file holds it by every
// reader, asked or not. Returns 1 when the widget shows its value; 0 when
// nothing ravlen draws would: a button whose look and value disagree (the
// request keeps other readers showing it as they do), a field MuPDF cannot
// draw, a push button (MuPDF cannot draw it as its program did). A widget that would be drawn anew is, with `draw`, and the
// result tells whether that worked; without, the result is -1 and nothing
// changes. Throws like any MuPDF call.
int showValueC(fz_context* ctx, pdf_annot* widget, int draw)
{
    switch (pdf_widget_type(ctx, widget)) {
    case PDF_WIDGET_TYPE_TEXT:
    case PDF_WIDGET_TYPE_COMBOBOX:
    case PDF_WIDGET_TYPE_LISTBOX:
        if (drawingShowsValueC(ctx, widget)) return 1;
        return draw ? redrawFieldC(ctx, widget) : -1;
    case PDF_WIDGET_TYPE_CHECKBOX:
    case PDF_WIDGET_TYPE_RADIOBUTTON: {
        const int sound = draw ? soundButtonC(ctx, widget) : soundStatesC(ctx, pdf_annot_obj(ctx, widget)) ? 1 : -1;
        if (sound < 0) return -1;
        return sound && buttonShowsValueC(ctx, widget);
    }
    // Readers draw a signature as the file holds it, whether the form asks
    // them to draw its fields or not.
    case PDF_WIDGET_TYPE_SIGNATURE: return 1;
    default: return 0;
    }
}

// Draws a text or choice field whose drawing shows other words than its
// value anew for the screen alone, as MuPDF draws a field the file holds no
// drawing of as its page loads: the drawing goes from the annotation's
// scratch copy, and the one MuPDF makes lives in the scratch table, so that
// the file's objects, and a signed file's fields, stay as the file holds
// them. Other readers asked to draw the fields show their values, and so
// does the window. Throws like any MuPDF call.
void drawValueForScreenC(fz_context* ctx, pdf_annot* widget)
{
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    pdf_annot_push_local_xref(ctx, widget);
    fz_try(ctx) {
        // Without a scratch table in use, the change would be the file's.
        pdf_annot_ensure_local_xref(ctx, widget);
        pdf_dict_del(ctx, obj, PDF_NAME(AP));
    }
    fz_always(ctx) pdf_annot_pop_local_xref(ctx, widget);
    fz_catch(ctx) fz_rethrow(ctx);
    // MuPDF draws a field without a drawing when it next brings the page's
    // drawings up to date.
    pdf_get_bound_document(ctx, obj)->resynth_required = 1;
    updateAnnotC(ctx, widget);
}

// The same, never throwing: a widget that cannot be judged shows nothing
// ravlen could draw.
int judgeFieldC(fz_context* ctx, pdf_annot* widget, int draw)
{
    int shown = 0;
    fz_var(shown);
    fz_try(ctx) shown = showValueC(ctx, widget, draw);
    fz_catch(ctx) shown = 0;
    return shown;
}

// How a widget stands: its dictionary, its drawings and field by reference,
// and the value it inherits, summed up; 0 where it cannot be read. A value
// typed or put back, a drawing made anew, changes it. Never throws.
std::uint64_t widgetLookC(fz_context* ctx, pdf_annot* widget)
{
    fz_buffer* text = nullptr;
    fz_output* out = nullptr;
    std::uint64_t look = 0;
    fz_var(text);
    fz_var(out);
    fz_var(look);
    fz_try(ctx) {
        pdf_obj* obj = pdf_resolve_indirect(ctx, pdf_annot_obj(ctx, widget));
        text = fz_new_buffer(ctx, 256);
        out = fz_new_output_with_buffer(ctx, text);
        pdf_print_obj(ctx, out, obj, 1, 0);
        pdf_print_obj(ctx, out, pdf_dict_get_inheritable(ctx, obj, PDF_NAME(V)), 1, 0);
        fz_close_output(ctx, out);
        // FNV-1a: a change is told apart, nobody forges one here.
        look = 14695981039346656037ull;
        for (size_t i = 0; i < text->len; ++i) look = (look ^ text->data[i]) * 1099511628211ull;
        if (look == 0) look = 1;
    }
    fz_always(ctx) {
        fz_drop_output(ctx, out);
        fz_drop_buffer(ctx, text);
    }
    fz_catch(ctx) look = 0;
    return look;
}

// Makes each field of the page show its value to every reader (showValueC),
// but one this document's saves left not showing it, as it stood then.
// Returns whether every widget of the page now shows its value. Never throws.
bool showFieldValuesForFile(PdfDocument::Impl& d, pdf_page* page)
{
    fz_context* ctx = pdfContext();
    bool all = true;
    for (pdf_annot* w = pdf_first_widget(ctx, page); w; w = pdf_next_widget(ctx, w)) {
        const int num = pdf_to_num(ctx, pdf_annot_obj(ctx, w));
        const auto tried = d.fieldsUndrawn.find(num);
        if (tried != d.fieldsUndrawn.end() && tried->second == widgetLookC(ctx, w)) {
            all = false;
            continue;
        }
        if (judgeFieldC(ctx, w, 1) == 1) {
            d.fieldsUndrawn.erase(num);
            continue;
        }
        all = false;
        try {
            d.fieldsUndrawn[num] = widgetLookC(ctx, w);
        } catch (const std::bad_alloc&) {} // tried again at the next save
    }
    return all;
}

// Whether page object `num` has a widget among its marks; one that cannot be
// read counts as having one. Never throws.
int holdsWidgetC(fz_context* ctx, pdf_document* doc, int num, int gen)
{
    pdf_obj* page = nullptr;
    int holds = 0;
    fz_var(page);
    fz_var(holds);
    fz_try(ctx) {
        page = pdf_new_indirect(ctx, doc, num, gen);
        pdf_obj* annots = pdf_dict_get(ctx, page, PDF_NAME(Annots));
        for (int i = 0, n = pdf_array_len(ctx, annots); i < n && !holds; ++i)
            holds =
                pdf_name_eq(ctx, pdf_dict_get(ctx, pdf_array_get(ctx, annots, i), PDF_NAME(Subtype)), PDF_NAME(Widget));
    }
    fz_always(ctx) pdf_drop_obj(ctx, page);
    fz_catch(ctx) holds = 1;
    return holds;
}

// Lets go of each object numbered `first` or more that nothing reaches: a
// field drawn anew whose new drawing was not kept (redrawFieldC) left that
// drawing behind, which every session would add to the file.
void dropUnreachedFromC(fz_context* ctx, pdf_document* doc, int first, FzError* err)
{
    unsigned char* reached = nullptr;
    fz_var(reached);
    fz_try(ctx) {
        const int objects = pdf_xref_len(ctx, doc);
        if (first < objects) {
            reached = static_cast<unsigned char*>(fz_calloc(ctx, size_t(objects) + 1, 1));
            markReachedC(ctx, doc, 1, reached);
            for (int num = first; num < objects; ++num)
                if (!reached[num]) pdf_delete_object(ctx, doc, num);
        }
    }
    fz_always(ctx) fz_free(ctx, reached);
    fz_catch(ctx) captureError(ctx, err);
}

void dropNeedAppearancesC(fz_context* ctx, pdf_document* doc, FzError* err)
{
    fz_try(ctx) pdf_dict_dels(ctx, pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/AcroForm"), "NeedAppearances");
    fz_catch(ctx) captureError(ctx, err);
}

} // namespace

bool fieldsStaySigned(PdfDocument::Impl& d) { return signedDocument(d); }

namespace {

// Whether a field of the form was changed since the file was read (a value
// typed, a box ticked): the document's update holds its object. A document
// changed in place does not tell, and counts as unchanged. Never throws.
int fieldsChangedNowC(fz_context* ctx, pdf_document* doc)
{
    if (doc->num_incremental_sections == 0 || doc->repair_attempted) return 0;
    int changed = 0;
    fz_var(changed);
    fz_try(ctx)
        changed = anyFieldC(ctx, doc, [](fz_context* c, pdf_document* d, pdf_obj* field) {
            return pdf_is_indirect(c, field) && pdf_xref_is_incremental(c, d, pdf_to_num(c, field)) ? 1 : 0;
        });
    fz_catch(ctx) changed = 0;
    return changed;
}

} // namespace

bool appearancesToDraw(PdfDocument::Impl& d)
{
    FzError err;
    if (!needsAppearancesC(pdfContext(), d.doc, &err)) return false;
    // A signed file's fields stay as it holds them, in a copy too (what is
    // drawn for it stays in the open document, which the next save in place
    // would write into the signed file), until the user fills one in: the
    // window drew it, and readers show that drawing, written into the update,
    // only once the form no longer asks them to draw its fields themselves
    // (poppler's own drawing of a box LibreOffice made shows no tick).
    return !fieldsStaySigned(d) || fieldsChangedNowC(pdfContext(), d.doc);
}

void drawNeededAppearances(PdfDocument::Impl& d)
{
    fz_context* ctx = pdfContext();
    FzError err;
    if (!appearancesToDraw(d)) return;
    // The judgement (showValueC) runs each widget's drawing, which MuPDF
    // takes from the scratch table where a signed file's fields are drawn
    // for the screen alone (showFieldValues): there they show their values
    // whatever the file holds. Each field is judged by the file's drawing:
    // that table goes first (a save drops it anyway), and the pages loaded
    // here draw nothing for the screen; the window's next loads draw again.
    struct Drawing {
        PdfDocument::Impl& d;
        ~Drawing() { d.drawingFormForFile = false; }
    } drawing{d};
    d.drawingFormForFile = true;
    if (fieldsStaySigned(d)) {
        fz_try(ctx) pdf_drop_local_xref_and_resources(ctx, d.doc);
        fz_catch(ctx) captureError(ctx, &err);
    }
    // A stored drawing may show another value than the field holds (some
    // programs leave it behind when the value changes), and the request is
    // what makes other readers draw the value instead: it goes only when
    // every field shows its value, drawn anew here where it did not.
    // Only the pages with a widget are loaded: loading one looks it up by its
    // index, which in a flat page tree passes every page before it.
    std::vector<int> withWidgets;
    bool every = true;
    try {
        const PageMap& map = pageMap(d);
        for (size_t i = 0; i < map.ids.size(); ++i) {
            if (!map.ids[i] || holdsWidgetC(ctx, d.doc, map.ids[i].object, map.ids[i].generation))
                withWidgets.push_back(int(i));
            if (map.ids[i] && d.releasesWhatItReads) releaseParsedObjectC(ctx, d.doc, map.ids[i].object);
        }
        every = !map.ids.empty();
    } catch (const PdfError&) {
        every = false; // a tree that cannot be read keeps the request for other readers
    }
    const int first = pdf_xref_len(ctx, d.doc); // never throws
    for (int i : withWidgets) {
        try {
            PageRef page = loadPage(d, i);
            if (!showFieldValuesForFile(d, page.page)) every = false;
        } catch (const PdfError&) {
            every = false; // a page that cannot be read keeps the request for other readers
        }
    }
    FzError dropped;
    if (first > 0) dropUnreachedFromC(ctx, d.doc, first, &dropped); // failing, what is left is written
    if (every && err.code == 0) dropNeedAppearancesC(ctx, d.doc, &err);
}

bool showFieldValues(PdfDocument::Impl& d, pdf_page* page)
{
    fz_context* ctx = pdfContext();
    FzError err;
    if (!needsAppearancesC(ctx, d.doc, &err)) return true;
    if (fieldsStaySigned(d)) {
        if (d.drawingFormForFile) return true; // judged by the drawings the file holds
        // A signed file's fields stay as signed; the window shows their
        // values as other readers do, drawn for the screen alone. Any change
        // of the document or a save drops such drawings: each page load
        // looks again.
        bool drawn = false;
        fz_var(drawn);
        for (pdf_annot* w = pdf_first_widget(ctx, page); w; w = pdf_next_widget(ctx, w)) {
            const int type = pdf_widget_type(ctx, w);
            if (type != PDF_WIDGET_TYPE_TEXT && type != PDF_WIDGET_TYPE_COMBOBOX && type != PDF_WIDGET_TYPE_LISTBOX)
                continue;
            fz_try(ctx) {
                if (!drawnForScreenC(ctx, w) && judgeFieldC(ctx, w, 0) < 0) {
                    drawValueForScreenC(ctx, w);
                    drawn = true;
                }
            }
            fz_catch(ctx) {} // a field that cannot be drawn shows the drawing the file holds
        }
        if (drawn) maskPasswordsOfPageC(ctx, page, nullptr, 1);
        return true;
    }
    std::vector<pdf_annot*> unjudged;
    for (pdf_annot* w = pdf_first_widget(ctx, page); w; w = pdf_next_widget(ctx, w))
        if (!d.fieldsJudged.count(pdf_to_num(ctx, pdf_annot_obj(ctx, w)))) unjudged.push_back(w);
    if (unjudged.empty()) return true;
    std::vector<pdf_annot*> redrawn;
    for (pdf_annot* w : unjudged)
        if (judgeFieldC(ctx, w, 0) < 0) redrawn.push_back(w);
    if (!redrawn.empty()) {
        if (!d.settled) return false;
        settleBeforeEditing(d);
        for (pdf_annot* w : redrawn) judgeFieldC(ctx, w, 1);
        maskPasswordsOfPageC(ctx, page, nullptr, 0);
    }
    for (pdf_annot* w : unjudged) d.fieldsJudged.insert(pdf_to_num(ctx, pdf_annot_obj(ctx, w)));
    return true;
}

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
        } catch (const PdfError&) {}
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
        throw PdfError(PdfErrorCode::general,
                       "form field " + std::to_string(objectNumber) + " is not a check box or radio button");
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
        throw PdfError(PdfErrorCode::general,
                       "form field " + std::to_string(objectNumber) + " is not a check box or radio button");
    if ((w.state != 0) == on) return true;
    return toggle(doc, page, objectNumber);
}

bool PdfForms::choose(PdfDocument& doc, int page, int objectNumber, const std::string& option)
{
    const PdfWidget w = requireWidget(doc, page, objectNumber);
    if (w.kind != PdfWidgetKind::choice)
        throw PdfError(PdfErrorCode::general, "form field " + std::to_string(objectNumber) + " is not a choice field");
    if (w.readOnly) return false;
    if (option.empty() && std::find(w.options.begin(), w.options.end(), option) == w.options.end()
        && std::find(w.exportValues.begin(), w.exportValues.end(), option) == w.exportValues.end())
        return clearChoice(doc, page, objectNumber);
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

bool PdfForms::clearChoice(PdfDocument& doc, int page, int objectNumber)
{
    const PdfWidget w = requireWidget(doc, page, objectNumber);
    if (w.kind != PdfWidgetKind::choice)
        throw PdfError(PdfErrorCode::general, "form field " + std::to_string(objectNumber) + " is not a choice field");
    if (w.readOnly) return false;
    if (!w.value) return true;
    return applyEdit(doc, page, objectNumber, EditOp::clearChoice, {});
}

} // namespace platform
