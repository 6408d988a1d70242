// The drawings of form fields: how ravlen makes each one it writes and how it
// judges one, so that other readers (poppler) draw a field as ravlen's window
// shows it. MuPDF 1.21 makes the drawings; what it makes, and what a file
// brings, is mended here.
#include "Platform/PdfInternal.h"

#include <cmath>
#include <cstring>

namespace platform {
namespace {

bool isNumberBoxC(fz_context* ctx, pdf_obj* box)
{
    if (!pdf_is_array(ctx, box) || pdf_array_len(ctx, box) != 4) return false;
    for (int i = 0; i < 4; ++i)
        if (!pdf_is_number(ctx, pdf_array_get(ctx, box, i))) return false;
    return true;
}

// A Dingbats font the reader supplies, with a named encoding: poppler looks
// its glyphs up by that encoding's names, which the font lacks, and draws
// nothing (MuPDF 1.21 gives the tick it draws the WinAnsi encoding).
bool hidesGlyphsC(fz_context* ctx, pdf_obj* font)
{
    pdf_obj* base = pdf_dict_get(ctx, font, PDF_NAME(BaseFont));
    return pdf_is_name(ctx, base) && !std::strcmp(pdf_to_name(ctx, base), "ZapfDingbats")
           && !pdf_dict_get(ctx, font, PDF_NAME(FontDescriptor))
           && pdf_is_name(ctx, pdf_dict_get(ctx, font, PDF_NAME(Encoding)));
}

// Whether the drawing lacks a box readers can take, or carries a font that
// hides its glyphs: what mendDrawingC mends.
bool wantsMendingC(fz_context* ctx, pdf_obj* drawing)
{
    if (!pdf_is_stream(ctx, drawing)) return false;
    if (!isNumberBoxC(ctx, pdf_dict_get(ctx, drawing, PDF_NAME(BBox)))) return true;
    pdf_obj* fonts = pdf_dict_getp(ctx, drawing, "Resources/Font");
    for (int i = 0, n = pdf_dict_len(ctx, fonts); i < n; ++i)
        if (hidesGlyphsC(ctx, pdf_dict_get_val(ctx, fonts, i))) return true;
    return false;
}

// Makes a drawing of the widget one every reader draws where that changes
// nothing it shows: a drawing without a box gets the widget's rectangle as
// its box (as the readers that draw such drawings take it), a Dingbats font
// its own encoding.
void mendDrawingC(fz_context* ctx, pdf_obj* widget, pdf_obj* drawing)
{
    if (!wantsMendingC(ctx, drawing)) return;
    if (!isNumberBoxC(ctx, pdf_dict_get(ctx, drawing, PDF_NAME(BBox)))) {
        const fz_rect rect = pdf_dict_get_rect(ctx, widget, PDF_NAME(Rect));
        const fz_matrix m = pdf_xobject_matrix(ctx, drawing);
        if (rect.x1 > rect.x0 && rect.y1 > rect.y0 && std::fabs(m.a * m.d - m.b * m.c) > 1e-9f) {
            // The box that the drawing's matrix maps onto the rectangle's size.
            const fz_rect own = fz_make_rect(0, 0, rect.x1 - rect.x0, rect.y1 - rect.y0);
            pdf_dict_put_rect(ctx, drawing, PDF_NAME(BBox), fz_transform_rect(own, fz_invert_matrix(m)));
        }
    }
    pdf_obj* fonts = pdf_dict_getp(ctx, drawing, "Resources/Font");
    for (int i = 0, n = pdf_dict_len(ctx, fonts); i < n; ++i)
        if (hidesGlyphsC(ctx, pdf_dict_get_val(ctx, fonts, i)))
            pdf_dict_del(ctx, pdf_dict_get_val(ctx, fonts, i), PDF_NAME(Encoding));
}

// Calls `visit` on each drawing of the widget: its normal and down
// appearances, each a drawing or a set of states.
template <typename Visit>
void eachDrawingC(fz_context* ctx, pdf_obj* widget, Visit visit)
{
    pdf_obj* ap = pdf_dict_get(ctx, widget, PDF_NAME(AP));
    for (pdf_obj* key : {PDF_NAME(N), PDF_NAME(D)}) {
        pdf_obj* set = pdf_dict_get(ctx, ap, key);
        if (pdf_is_stream(ctx, set)) visit(set);
        else
            for (int i = 0, n = pdf_dict_len(ctx, set); i < n; ++i) visit(pdf_dict_get_val(ctx, set, i));
    }
}

void mendWidgetDrawingsC(fz_context* ctx, pdf_obj* widget)
{
    eachDrawingC(ctx, widget, [&](pdf_obj* drawing) { mendDrawingC(ctx, widget, drawing); });
}

// Whether this session made or changed the drawing: one MuPDF drew for the
// screen alone, or one it wrote since the file was read (the document's
// incremental section holds it). A document changed in place (repaired, or
// made here) does not tell, and counts all as made now.
bool madeNowC(fz_context* ctx, pdf_obj* drawing)
{
    pdf_document* doc = pdf_get_bound_document(ctx, drawing);
    if (!doc || !pdf_is_indirect(ctx, drawing) || pdf_is_local_object(ctx, doc, drawing)) return true;
    if (doc->repair_attempted || doc->save_in_progress || !doc->file) return true;
    return doc->num_incremental_sections > 0 && pdf_xref_is_incremental(ctx, doc, pdf_to_num(ctx, drawing));
}

// Calls `visit` on each widget that page `index` lists, read from the page's
// objects: before MuPDF loads the page.
template <typename Visit>
void eachWidgetObjectC(fz_context* ctx, pdf_document* doc, int index, Visit visit)
{
    pdf_obj* annots = pdf_dict_get(ctx, pdf_lookup_page_obj(ctx, doc, index), PDF_NAME(Annots));
    for (int i = 0, n = pdf_array_len(ctx, annots); i < n; ++i) {
        pdf_obj* annot = pdf_array_get(ctx, annots, i);
        if (pdf_name_eq(ctx, pdf_dict_get(ctx, annot, PDF_NAME(Subtype)), PDF_NAME(Widget))) visit(annot);
    }
}

// ---------------------------------------------------------------- one line of text

// A number or an operator of a content stream, by its place in the bytes.
struct Token {
    size_t start = 0, end = 0;
    float value = 0;
};

// Reads the next token of `data` from `*at`: 'n' a number, 'o' an operator,
// 0 at the end, '?' anything else (a string, a name, a delimiter).
char nextTokenC(const unsigned char* data, size_t len, size_t* at, Token* token)
{
    auto space = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0; };
    auto delimiter = [](unsigned char c) { return std::strchr("()<>[]{}/%", c) != nullptr; };
    size_t i = *at;
    while (i < len && space(data[i])) ++i;
    if (i >= len) return 0;
    token->start = i;
    char kind = '?';
    if (data[i] == '(') {
        for (int depth = 0; i < len; ++i) {
            if (data[i] == '\\') ++i;
            else if (data[i] == '(') ++depth;
            else if (data[i] == ')' && --depth == 0) break;
        }
        ++i;
    } else if (data[i] == '<' && i + 1 < len && data[i + 1] != '<') {
        while (i < len && data[i] != '>') ++i;
        ++i;
    } else if (data[i] == '%') {
        while (i < len && data[i] != '\n' && data[i] != '\r') ++i;
    } else if (data[i] == '/' || !delimiter(data[i])) {
        ++i;
        while (i < len && !space(data[i]) && !delimiter(data[i])) ++i;
        const size_t n = i - token->start;
        char text[32];
        if (data[token->start] != '/' && n < sizeof text) {
            std::memcpy(text, data + token->start, n);
            text[n] = 0;
            char* end = nullptr;
            token->value = fz_strtof(text, &end); // whatever the locale's decimal point
            kind = end == text + n ? 'n' : 'o';
        }
    } else {
        ++i;
    }
    token->end = std::min(i, len);
    *at = token->end;
    return kind;
}

bool isOperator(const unsigned char* data, const Token& t, const char* name)
{
    const size_t n = std::strlen(name);
    return t.end - t.start == n && !std::memcmp(data + t.start, name, n);
}

// Puts the line of text that MuPDF drew for a widget where other readers put
// it. MuPDF centres the font's em square in the box, which sets the capitals
// so high that a box barely taller than the font cuts their tops; poppler
// puts the baseline 0.4 em below the box's middle, which centres them. The
// line moves there, and with no border drawn the text may use the whole box,
// as in poppler. A field of several lines holding one is placed so too when
// the box is shorter than a line (MuPDF hangs the line from the top). Reads
// MuPDF's own layout: a clip ("x y w h re W n") before the text, then "BT",
// "x y Td" (a further "0 -h Td" for each line of a field of several lines),
// "/F size Tf" and the text.
void placeLineC(fz_context* ctx, pdf_annot* widget, pdf_obj* drawing, bool lines)
{
    if (!pdf_is_stream(ctx, drawing)) return;
    fz_buffer* content = pdf_load_stream(ctx, drawing);
    fz_buffer* placed = nullptr;
    fz_var(placed);
    fz_try(ctx) {
        unsigned char* data = nullptr;
        const size_t len = fz_buffer_storage(ctx, content, &data);
        Token operands[4], clip[4], token, y, size;
        int count = 0, step = 0; // step: 0 before the clip, 1 after "re", 2 after "W", 3 in the text
        int moves = 0, shows = 0;
        float drop = 0; // how far the moves after the first take the line down
        bool clipped = false;
        size_t at = 0;
        for (char kind; (kind = nextTokenC(data, len, &at, &token)) != 0;) {
            if (kind == 'n') {
                for (int i = 0; i < 3; ++i) operands[i] = operands[i + 1];
                operands[3] = token;
                ++count;
                continue;
            }
            if (kind == 'o' && step < 3) {
                if (step == 0 && isOperator(data, token, "re") && count >= 4 && !clipped) {
                    std::copy(operands, operands + 4, clip);
                    step = 1;
                } else if (step == 1 && isOperator(data, token, "W")) {
                    step = 2;
                } else if (step == 2 && isOperator(data, token, "n")) {
                    clipped = true;
                    step = 0;
                } else {
                    step = isOperator(data, token, "BT") ? 3 : 0;
                }
            } else if (kind == 'o' && isOperator(data, token, "Td") && count >= 2 && !shows) {
                if (moves++ == 0) y = operands[3];
                else drop += operands[3].value;
            } else if (kind == 'o' && isOperator(data, token, "Tf") && count >= 1 && !size.end) {
                size = operands[3];
            } else if (kind == 'o'
                       && (isOperator(data, token, "Tj") || isOperator(data, token, "TJ")
                           || isOperator(data, token, "'") || isOperator(data, token, "\""))) {
                ++shows;
            }
            count = 0;
        }
        const fz_rect box = pdf_xobject_bbox(ctx, drawing);
        const bool single = lines ? shows == 1 && moves == 2 && 1.116f * size.value > box.y1 - box.y0 : moves == 1;
        if (single && size.end && size.value > 0) {
            const float border = pdf_annot_border(ctx, widget);
            const int edged =
                border > 0 && pdf_array_len(ctx, pdf_dict_getp(ctx, pdf_annot_obj(ctx, widget), "MK/BC")) > 0;
            placed = fz_new_buffer(ctx, len + 64);
            size_t from = 0;
            if (clipped && !edged) {
                fz_append_data(ctx, placed, data, clip[0].start);
                fz_append_printf(ctx, placed, "%g %g %g %g", box.x0, box.y0, box.x1 - box.x0, box.y1 - box.y0);
                from = clip[3].end;
            }
            fz_append_data(ctx, placed, data + from, y.start - from);
            fz_append_printf(ctx, placed, "%g", (box.y0 + box.y1) / 2 - 0.4f * size.value - drop);
            fz_append_data(ctx, placed, data + y.end, len - y.end);
            unsigned char* now = nullptr;
            const size_t n = fz_buffer_storage(ctx, placed, &now);
            // Placed before (a drawing for the screen is met again at every
            // loading of its page): nothing to write.
            if (n != len || std::memcmp(now, data, len) != 0)
                pdf_update_stream(ctx, pdf_get_bound_document(ctx, drawing), drawing, placed, 0);
        }
    }
    fz_always(ctx) {
        fz_drop_buffer(ctx, placed);
        fz_drop_buffer(ctx, content);
    }
    fz_catch(ctx) fz_rethrow(ctx);
}

// Marks the chosen options in the drawing MuPDF just made for a list box as
// poppler marks them: white letters on a black bar across the box, 1.1 em
// tall from 0.2 em below the line's baseline. MuPDF 1.21 draws every option,
// one a line, and marks none. Reads MuPDF's own layout: a clip ("x y w h re W
// n"), then "BT", the colour of the letters, "x y Td", and for each option
// "0 -h Td /F size Tf (text) Tj"; a drawing that holds another number of
// lines than the field has options is left as it is.
void markChosenC(fz_context* ctx, pdf_annot* widget, pdf_obj* drawing)
{
    if (!pdf_is_stream(ctx, drawing)) return;
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    const int options = pdf_choice_field_option_count(ctx, obj);
    bool any = false;
    for (int i = 0; i < options && !any; ++i) any = chosenOptionC(ctx, obj, i);
    if (!any) return;
    struct Line {
        size_t start, end; // of "(text) Tj"
        float y;           // its baseline
    };
    Line* lines = static_cast<Line*>(fz_calloc(ctx, size_t(options), sizeof(Line)));
    fz_buffer* content = nullptr;
    fz_buffer* marked = nullptr;
    fz_var(content);
    fz_var(marked);
    fz_try(ctx) {
        content = pdf_load_stream(ctx, drawing);
        unsigned char* data = nullptr;
        const size_t len = fz_buffer_storage(ctx, content, &data);
        int shows = 0;
        Token operands[4], clip[4], token;
        size_t textStart = 0, colourStart = 0, colourEnd = 0, operandStart = 0;
        int count = 0, moves = 0;
        float y = 0, size = 0;
        bool clipped = false, inText = false, other = false;
        size_t at = 0;
        for (char kind; (kind = nextTokenC(data, len, &at, &token)) != 0;) {
            if (kind != 'o') {
                if (kind == 'n') {
                    for (int i = 0; i < 3; ++i) operands[i] = operands[i + 1];
                    operands[3] = token;
                }
                if (count++ == 0) operandStart = token.start;
                continue;
            }
            if (!inText && isOperator(data, token, "re") && count >= 4 && !clipped) {
                std::copy(operands, operands + 4, clip);
                clipped = true;
            } else if (!inText && isOperator(data, token, "BT") && !textStart) {
                textStart = token.start;
                inText = true;
            } else if (inText && !colourEnd && count > 0
                       && (isOperator(data, token, "g") || isOperator(data, token, "rg")
                           || isOperator(data, token, "k"))) {
                colourStart = operandStart;
                colourEnd = token.end;
            } else if (inText && isOperator(data, token, "Td") && count >= 2) {
                y += operands[3].value;
                ++moves;
            } else if (inText && isOperator(data, token, "Tf") && count >= 1) {
                size = operands[3].value;
            } else if (inText && isOperator(data, token, "Tj") && count == 1 && shows < options) {
                lines[shows++] = {operandStart, token.end, y};
            } else if (inText && isOperator(data, token, "ET")) {
                inText = false;
            } else if (inText) {
                other = true;
            }
            count = 0;
        }
        const fz_rect box = pdf_xobject_bbox(ctx, drawing);
        const float x0 = clipped ? clip[0].value : box.x0, w = clipped ? clip[2].value : box.x1 - box.x0;
        if (textStart && !other && size > 0 && moves == options + 1 && shows == options) {
            marked = fz_new_buffer(ctx, len + 64 * size_t(options));
            fz_append_data(ctx, marked, data, textStart);
            for (int i = 0; i < options; ++i)
                if (chosenOptionC(ctx, obj, i))
                    fz_append_printf(ctx, marked, "q 0 g %g %g %g %g re f Q\n", x0, lines[i].y - 0.2f * size, w,
                                     1.1f * size);
            size_t from = textStart;
            for (int i = 0; i < options; ++i) {
                if (!chosenOptionC(ctx, obj, i)) continue;
                fz_append_data(ctx, marked, data + from, lines[i].start - from);
                fz_append_string(ctx, marked, "1 g ");
                fz_append_data(ctx, marked, data + lines[i].start, lines[i].end - lines[i].start);
                fz_append_byte(ctx, marked, '\n');
                // The other options keep the field's colour.
                if (colourEnd) fz_append_data(ctx, marked, data + colourStart, colourEnd - colourStart);
                else fz_append_string(ctx, marked, "0 g");
                from = lines[i].end;
            }
            fz_append_data(ctx, marked, data + from, len - from);
            pdf_update_stream(ctx, pdf_get_bound_document(ctx, drawing), drawing, marked, 0);
        }
    }
    fz_always(ctx) {
        fz_drop_buffer(ctx, marked);
        fz_drop_buffer(ctx, content);
        fz_free(ctx, lines);
    }
    fz_catch(ctx) fz_rethrow(ctx);
}

// How MuPDF draws the widget's value: 1 as one line of text, 2 as a text of
// several lines, 3 as a list box's options, 0 otherwise.
int textLayoutC(fz_context* ctx, pdf_annot* widget)
{
    const int flags = pdf_field_flags(ctx, pdf_annot_obj(ctx, widget));
    switch (pdf_widget_type(ctx, widget)) {
    case PDF_WIDGET_TYPE_TEXT: return flags & PDF_TX_FIELD_IS_MULTILINE ? 2 : flags & PDF_TX_FIELD_IS_COMB ? 0 : 1;
    case PDF_WIDGET_TYPE_COMBOBOX: return 1;
    case PDF_WIDGET_TYPE_LISTBOX: return 3;
    default: return 0;
    }
}

// Mends the drawings MuPDF just made for a widget, and only those: a drawing
// the file holds, shared with another field or not, stays as it is (a signed
// file's update must not write it). One it made only for the screen lives in
// the annotation's scratch table, which must be in use to reach and change
// it; one made for the file must not.
void mendMadeC(fz_context* ctx, pdf_annot* widget)
{
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    if (pdf_widget_type(ctx, widget) == PDF_WIDGET_TYPE_COMBOBOX && drawnForScreenC(ctx, widget))
        showLabelForScreenC(ctx, widget);
    pdf_annot_push_local_xref(ctx, widget);
    int pushed = 1;
    fz_var(pushed);
    fz_try(ctx) {
        if (!pdf_is_local_object(ctx, pdf_get_bound_document(ctx, obj), pdf_dict_getp(ctx, obj, "AP/N"))) {
            pdf_annot_pop_local_xref(ctx, widget);
            pushed = 0;
        }
        eachDrawingC(ctx, obj, [&](pdf_obj* drawing) {
            if (madeNowC(ctx, drawing)) mendDrawingC(ctx, obj, drawing);
        });
        pdf_obj* normal = pdf_dict_getp(ctx, obj, "AP/N");
        const int layout = madeNowC(ctx, normal) ? textLayoutC(ctx, widget) : 0;
        if (layout == 3) markChosenC(ctx, widget, normal);
        else if (layout) placeLineC(ctx, widget, normal, layout == 2);
    }
    fz_always(ctx) {
        if (pushed) pdf_annot_pop_local_xref(ctx, widget);
    }
    fz_catch(ctx) fz_rethrow(ctx);
}

// ---------------------------------------------------------------- buttons

// Whether a content stream paints anything: text, a form or an image, a
// filled or stroked path (a button's tick). Strings and comments are skipped.
bool paintsC(const unsigned char* data, size_t len)
{
    static const char* const painting[] = {"Tj", "TJ", "'", "\"", "Do", "f",  "F", "f*",
                                           "S",  "s",  "B", "B*", "b",  "b*", "sh"};
    size_t at = 0;
    Token token;
    for (char kind; (kind = nextTokenC(data, len, &at, &token)) != 0;)
        if (kind == 'o')
            for (const char* op : painting)
                if (isOperator(data, token, op)) return true;
    return false;
}

// The name of the state a button shows when on: the one it shows, else the
// one its drawings name.
pdf_obj* onStateC(fz_context* ctx, pdf_obj* widget)
{
    pdf_obj* look = pdf_dict_get(ctx, widget, PDF_NAME(AS));
    if (pdf_is_name(ctx, look) && !pdf_name_eq(ctx, look, PDF_NAME(Off))) return look;
    return pdf_button_field_on_state(ctx, widget);
}

// Whether a button's drawing of `state` may stay: a drawing every reader
// draws that, for an on state, paints something.
int stateSoundC(fz_context* ctx, pdf_obj* states, pdf_obj* state)
{
    pdf_obj* drawing = pdf_dict_get(ctx, states, state);
    if (!usableDrawingC(ctx, drawing)) return 0;
    if (pdf_name_eq(ctx, state, PDF_NAME(Off))) return 1;
    fz_buffer* content = pdf_load_stream(ctx, drawing);
    unsigned char* data = nullptr;
    const size_t len = fz_buffer_storage(ctx, content, &data);
    const int paints = paintsC(data, len);
    fz_drop_buffer(ctx, content);
    return paints;
}

} // namespace

// Whether the widget shows a drawing MuPDF made for the screen alone, as it
// does for a field the file holds no drawing of when its page loads.
bool drawnForScreenC(fz_context* ctx, pdf_annot* widget)
{
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    pdf_annot_push_local_xref(ctx, widget);
    bool local = false;
    fz_try(ctx) local = pdf_is_local_object(ctx, pdf_get_bound_document(ctx, obj), pdf_dict_getp(ctx, obj, "AP/N"));
    fz_always(ctx) pdf_annot_pop_local_xref(ctx, widget);
    fz_catch(ctx) fz_rethrow(ctx);
    return local;
}

int soundStatesC(fz_context* ctx, pdf_obj* widget)
{
    pdf_obj* states = pdf_dict_getp(ctx, widget, "AP/N");
    if (!pdf_is_dict(ctx, states) || pdf_is_stream(ctx, states)) return 0;
    return stateSoundC(ctx, states, onStateC(ctx, widget)) && stateSoundC(ctx, states, PDF_NAME(Off));
}

int chosenOptionC(fz_context* ctx, pdf_obj* field, int i)
{
    const char* exported = pdf_choice_field_option(ctx, field, 1, i);
    pdf_obj* value = pdf_dict_get_inheritable(ctx, field, PDF_NAME(V));
    for (int k = 0, n = pdf_is_array(ctx, value) ? pdf_array_len(ctx, value) : 1; k < n; ++k) {
        pdf_obj* one = pdf_is_array(ctx, value) ? pdf_array_get(ctx, value, k) : value;
        if (!pdf_is_string(ctx, one)) continue;
        const char* text = pdf_to_text_string(ctx, one);
        if (exported && !std::strcmp(text, exported)) return 1;
    }
    return 0;
}

int marksChosenC(fz_context* ctx, pdf_annot* widget)
{
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    const int options = pdf_choice_field_option_count(ctx, obj);
    fz_stext_page* text = nullptr;
    fz_device* dev = nullptr;
    int marks = 1;
    fz_var(text);
    fz_var(dev);
    fz_try(ctx) {
        fz_stext_options opts{};
        opts.flags = FZ_STEXT_MEDIABOX_CLIP;
        text = fz_new_stext_page(ctx, pdf_bound_annot(ctx, widget));
        dev = fz_new_stext_device(ctx, text, &opts);
        pdf_run_annot(ctx, widget, dev, fz_identity, nullptr);
        fz_close_device(ctx, dev);
        for (fz_stext_block* block = text->first_block; block; block = block->next) {
            if (block->type != FZ_STEXT_BLOCK_TEXT) continue;
            for (fz_stext_line* line = block->u.t.first_line; line; line = line->next) {
                // The line's text, up to a length no label of a list box reaches.
                char words[512];
                size_t n = 0;
                bool white = true;
                for (fz_stext_char* ch = line->first_char; ch; ch = ch->next) {
                    if (n + FZ_UTFMAX < sizeof words) n += size_t(fz_runetochar(words + n, ch->c));
                    if (ch->c != ' ') white = white && (ch->color & 0xFFFFFF) == 0xFFFFFF;
                }
                while (n > 0 && words[n - 1] == ' ') --n;
                words[n] = 0;
                bool chosen = false;
                for (int i = 0; i < options && !chosen; ++i) {
                    const char* label = pdf_choice_field_option(ctx, obj, 0, i);
                    chosen = label && !std::strcmp(words, label) && chosenOptionC(ctx, obj, i);
                }
                if (n > 0 && white != chosen) marks = 0;
            }
        }
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_stext_page(ctx, text);
    }
    fz_catch(ctx) fz_rethrow(ctx);
    return marks;
}

int usableDrawingC(fz_context* ctx, pdf_obj* drawing)
{
    if (!pdf_is_stream(ctx, drawing) || wantsMendingC(ctx, drawing)) return 0;
    const fz_rect box = pdf_to_rect(ctx, pdf_dict_get(ctx, drawing, PDF_NAME(BBox)));
    const fz_matrix m = pdf_xobject_matrix(ctx, drawing);
    // Readers fit the rectangle around the box as the matrix maps it onto
    // the widget's: a matrix that squashes the box flat, or nearly (a
    // sliver along a diagonal), leaves nothing of the drawing to see.
    const fz_rect around = fz_transform_rect(box, m);
    const double width = double(box.x1) - box.x0, height = double(box.y1) - box.y0;
    const double mapped = std::fabs(double(m.a) * m.d - double(m.b) * m.c) * width * height;
    const double fitted = (double(around.x1) - around.x0) * (double(around.y1) - around.y0);
    return width > 0 && height > 0 && fitted > 0 && mapped > 1e-3 * fitted;
}

void updateAnnotC(fz_context* ctx, pdf_annot* annot)
{
    const bool made = pdf_update_annot(ctx, annot);
    if (pdf_annot_type(ctx, annot) != PDF_ANNOT_WIDGET) return;
    // Loading a page, MuPDF draws each field the file holds no drawing of
    // for the screen and tells no one (the page load takes its word that it
    // made one): such a drawing is known by where it lives, and mended as
    // often as it is met (mending one mended changes nothing).
    if (made || drawnForScreenC(ctx, annot)) mendMadeC(ctx, annot);
}

void drawRequestedC(fz_context* ctx, pdf_page* page)
{
    for (pdf_annot* a = pdf_first_annot(ctx, page); a; a = pdf_next_annot(ctx, a)) updateAnnotC(ctx, a);
    for (pdf_annot* w = pdf_first_widget(ctx, page); w; w = pdf_next_widget(ctx, w)) updateAnnotC(ctx, w);
}

void drawAnewC(fz_context* ctx, pdf_annot* widget)
{
    // MuPDF 1.21 ignores the request while the document has no unsaved
    // change: rewriting an entry with the value it has makes one.
    pdf_dict_put(ctx, pdf_annot_obj(ctx, widget), PDF_NAME(Subtype), PDF_NAME(Widget));
    pdf_annot_request_resynthesis(ctx, widget);
    drawRequestedC(ctx, pdf_annot_page(ctx, widget));
}

int soundButtonC(fz_context* ctx, pdf_annot* widget)
{
    pdf_obj* obj = pdf_annot_obj(ctx, widget);
    pdf_obj* stored = nullptr;
    pdf_obj* on = nullptr;
    int sound = 0;
    fz_var(stored);
    fz_var(on);
    fz_var(sound);
    fz_try(ctx) {
        sound = soundStatesC(ctx, obj);
        if (!sound) {
            stored = pdf_keep_obj(ctx, pdf_dict_get(ctx, obj, PDF_NAME(AP)));
            on = pdf_keep_obj(ctx, onStateC(ctx, obj));
            pdf_obj* states = pdf_dict_get(ctx, stored, PDF_NAME(N));
            drawAnewC(ctx, widget);
            pdf_obj* made = pdf_dict_getp(ctx, obj, "AP/N");
            if (pdf_is_dict(ctx, states) && !pdf_is_stream(ctx, states) && pdf_is_dict(ctx, made)) {
                // Only what was missing or unusable is MuPDF's: the form's own
                // drawings and its pressed looks stay.
                for (pdf_obj* state : {on, PDF_NAME(Off)})
                    if (stateSoundC(ctx, states, state))
                        pdf_dict_put(ctx, made, state, pdf_dict_get(ctx, states, state));
                if (pdf_obj* down = pdf_dict_get(ctx, stored, PDF_NAME(D)))
                    pdf_dict_put(ctx, pdf_dict_get(ctx, obj, PDF_NAME(AP)), PDF_NAME(D), down);
            }
            sound = soundStatesC(ctx, obj);
        }
    }
    fz_catch(ctx) sound = 0;
    if (!sound && stored) {
        fz_try(ctx) {
            pdf_dict_put(ctx, obj, PDF_NAME(AP), stored);
            pdf_set_annot_resynthesised(ctx, widget); // not tried again at every drawing
        }
        fz_catch(ctx) {}
    }
    pdf_drop_obj(ctx, on);
    pdf_drop_obj(ctx, stored);
    return sound;
}

int formDrawingsToMendC(fz_context* ctx, pdf_document* doc, int index)
{
    int found = 0;
    fz_var(found);
    fz_try(ctx)
        eachWidgetObjectC(ctx, doc, index, [&](pdf_obj* widget) {
            eachDrawingC(ctx, widget, [&](pdf_obj* drawing) { found = found || wantsMendingC(ctx, drawing); });
        });
    fz_catch(ctx) found = 0;
    return found;
}

void mendFormDrawingsC(fz_context* ctx, pdf_document* doc, int index)
{
    fz_try(ctx) eachWidgetObjectC(ctx, doc, index, [&](pdf_obj* widget) { mendWidgetDrawingsC(ctx, widget); });
    fz_catch(ctx) {}
}

} // namespace platform
