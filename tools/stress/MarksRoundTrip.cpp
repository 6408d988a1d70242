#include "tools/stress/MarksRoundTrip.h"

#include "Platform/PdfAnnotations.h"
#include "Platform/PdfForms.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/Redaction.h"

#include <cmath>
#include <set>
#include <stdexcept>
#include <vector>

namespace stress {

namespace {

using platform::PdfAnnotation;
using platform::PdfDocument;
using platform::PdfPoint;
using platform::PdfRect;
using quarnkit::RGBA;
namespace annots = platform::PdfAnnotations;
namespace factory = quarnkit::AnnotationFactory;

// One mark of every kind, laid out over the page's visible box.
std::vector<PdfAnnotation> everyKind(const PdfRect& box)
{
    const auto at = [&](double fx, double fy) { return PdfPoint{box.x + box.width * fx, box.y + box.height * fy}; };
    const auto area = [&](double fx, double fy) {
        const PdfPoint p = at(fx, fy);
        return PdfRect{p.x, p.y, box.width * 0.15, box.height * 0.04};
    };
    const RGBA red{0.8, 0.1, 0.1, 1}, blue{0.1, 0.2, 0.8, 1};
    std::vector<std::optional<PdfAnnotation>> made{
        factory::highlight(area(0.1, 0.9), RGBA::highlighter),
        factory::textMarkup("Underline", area(0.1, 0.8), blue),
        factory::textMarkup("StrikeOut", area(0.1, 0.7), red),
        factory::ink({at(0.5, 0.9), at(0.55, 0.85), at(0.6, 0.9), at(0.65, 0.85)}, blue, 3),
        factory::rectangle(at(0.5, 0.7), at(0.6, 0.78), red, 2, true),
        factory::ellipse(at(0.7, 0.7), at(0.8, 0.78), blue, 4, false),
        factory::line(at(0.1, 0.5), at(0.3, 0.55), red, 2, false),
        factory::arrow(at(0.4, 0.5), at(0.6, 0.55), blue, 3),
        factory::freeText(at(0.1, 0.35), "Round trip", red, 14, quarnkit::TextFont::serif, box),
        factory::note(at(0.7, 0.35), "A note", RGBA::yellow, box),
        quarnkit::Redaction::mark(at(0.1, 0.15), at(0.3, 0.2)),
    };
    std::vector<PdfAnnotation> marks;
    for (const auto& mark : made)
        if (mark) marks.push_back(*mark);
    return marks;
}

bool near(double a, double b) { return std::fabs(a - b) <= 0.01; }

bool sameStyle(const quarnkit::MarkStyle& a, const quarnkit::MarkStyle& b)
{
    return a.kind == b.kind && near(a.color.r, b.color.r) && near(a.color.g, b.color.g) && near(a.color.b, b.color.b)
           && near(a.color.a, b.color.a) && near(a.stroke, b.stroke) && a.filled == b.filled
           && near(a.textSize, b.textSize) && a.font == b.font && a.head == b.head;
}

// What the file holds of its own that the round trip must leave alone.
struct OwnContent {
    std::vector<PdfAnnotation> firstPage; // without the marks added
    std::vector<std::string> links;
    std::vector<std::string> fields;
    std::vector<std::string> outline;
};

void flatten(const std::vector<platform::PdfOutlineItem>& items, std::vector<std::string>& out)
{
    for (const auto& item : items) {
        out.push_back(item.title + " → " + (item.page ? std::to_string(*item.page) : item.uri));
        flatten(item.children, out);
    }
}

OwnContent ownContent(const PdfDocument& doc, const std::set<int>& added)
{
    OwnContent own;
    for (auto& a : annots::list(doc, 0))
        if (!added.count(a.objectNumber)) own.firstPage.push_back(std::move(a));
    for (int page = 0; page < doc.pageCount(); ++page)
        for (const auto& link : doc.links(page)) own.links.push_back(std::to_string(page) + " " + link.uri);
    for (const auto& w : platform::PdfForms::widgets(doc))
        own.fields.push_back(w.name + "=" + w.value.value_or("") + "/" + std::to_string(w.state));
    flatten(doc.outline(), own.outline);
    return own;
}

void expectSame(const OwnContent& before, const OwnContent& after)
{
    if (before.firstPage.size() != after.firstPage.size())
        throw std::runtime_error("the first page's own annotations went from " + std::to_string(before.firstPage.size())
                                 + " to " + std::to_string(after.firstPage.size()));
    for (size_t i = 0; i < before.firstPage.size(); ++i) {
        const auto& a = before.firstPage[i];
        const auto& b = after.firstPage[i];
        if (a.objectNumber != b.objectNumber || a.subtype != b.subtype || !near(a.rect.x, b.rect.x)
            || !near(a.rect.y, b.rect.y))
            throw std::runtime_error("the file's own " + a.subtype + " annotation changed");
    }
    if (before.links != after.links) throw std::runtime_error("the file's links changed");
    if (before.fields != after.fields) throw std::runtime_error("the file's form fields changed");
    if (before.outline != after.outline) throw std::runtime_error("the file's outline changed");
}

} // namespace

int roundTripMarks(PdfDocument& doc, const std::function<void(const std::string&)>& step,
                   const std::function<void(const std::string&, const QByteArray&)>& written)
{
    if (doc.pageCount() < 1) return 0;
    const OwnContent own = ownContent(doc, {});
    const PdfRect box = doc.pageGeometry(0).cropBox;

    struct Added {
        int object;
        quarnkit::MarkStyle style;
    };
    std::vector<Added> added;
    std::set<int> numbers;
    for (const PdfAnnotation& mark : everyKind(box)) {
        const auto style = quarnkit::MarkCatalog::style(mark);
        if (!style) throw std::runtime_error("a " + mark.subtype + " mark of the factory has no kind");
        const int object = annots::add(doc, 0, mark);
        added.push_back({object, *style});
        numbers.insert(object);
    }
    step("marks added");

    // Written as Save writes a file: what nothing refers to stays out.
    platform::PdfSaveOptions collect;
    collect.garbageCollect = true;
    const QByteArray marked = doc.save(collect);
    written("with its marks", marked);
    auto reopened = PdfDocument::openBytes(marked);
    for (const Added& mark : added) {
        const auto back = annots::find(*reopened, 0, mark.object);
        const auto style = back ? quarnkit::MarkCatalog::style(*back) : std::nullopt;
        const std::string name(quarnkit::rawValue(mark.style.kind));
        if (!style) throw std::runtime_error("the " + name + " mark did not come back as a mark");
        if (!sameStyle(*style, mark.style))
            throw std::runtime_error("the " + name + " mark came back in another style");
    }
    expectSame(own, ownContent(*reopened, numbers));
    step("marks read back");

    for (const Added& mark : added)
        if (!annots::remove(*reopened, 0, mark.object)) throw std::runtime_error("a mark could not be deleted");
    const QByteArray deleted = reopened->save(collect);
    written("with the marks deleted", deleted);
    auto cleaned = PdfDocument::openBytes(deleted);
    std::string kept; // the deleted marks an earlier revision keeps, by design
    for (const Added& mark : added) {
        // Putting the object back works only while it is an annotation in the file.
        if (!annots::insert(*cleaned, 0, mark.object, 0)) continue;
        const std::string what =
            "a deleted " + std::string(quarnkit::rawValue(mark.style.kind)) + " mark is still in the file";
        // An update after the copy with the marks keeps that copy's bytes as
        // they are: a signed file's, or one whose objects ravlen cannot read
        // as other readers do. The marks must still be gone from the page.
        const bool appended = deleted.size() > marked.size() && deleted.startsWith(marked);
        if (reopened->isSigned()) kept = what + ", in the signed revision";
        else if (appended) kept = what + ", in the revision the update appends to";
        else throw std::runtime_error(what);
        break;
    }
    cleaned = PdfDocument::openBytes(reopened->save(collect));
    expectSame(own, ownContent(*cleaned, {}));
    step("marks deleted");
    if (!kept.empty()) throw KeptInEarlierRevision(kept);
    return int(added.size());
}

} // namespace stress
