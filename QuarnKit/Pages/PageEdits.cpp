#include "QuarnKit/Pages/PageEdits.h"

#include "QuarnKit/Document/DocumentEngine.h"

#include <QObject>

namespace quarnkit::PageEdits {

using platform::PdfDocument;

namespace {

// Pushes the step; what its first redo made, none when it changed nothing.
std::optional<PageEdit> push(QuarnDocument& document, PageEditCommand::Make make, PageEditCommand::Name name)
{
    auto* command = new PageEditCommand(document, std::move(make), std::move(name));
    if (!DocumentCommand::push(command)) return std::nullopt;
    return command->edit(); // on the stack now
}

// Names an edit by its verb and the number of its pages: "Rotate 3 Pages".
PageEditCommand::Name titled(const QString& verb)
{
    return [verb](const PageEdit& edit) { return PageEditor::title(verb, edit.pageCount(), false); };
}

} // namespace

std::optional<PageEdit> rotate(QuarnDocument& document, const std::set<int>& pages, int degrees)
{
    return push(
        document, [pages, degrees](PdfDocument& pdf) { return PageEditor::rotate(pages, degrees, pdf); },
        titled(QObject::tr("Rotate")));
}

std::optional<PageEdit> deletePages(QuarnDocument& document, const std::set<int>& pages)
{
    return push(
        document, [pages](PdfDocument& pdf) { return PageEditor::deletePages(pages, pdf); },
        titled(QObject::tr("Delete")));
}

std::optional<PageEdit> move(QuarnDocument& document, const std::set<int>& pages, int gap)
{
    return push(
        document, [pages, gap](PdfDocument& pdf) { return PageEditor::move(pages, gap, pdf); },
        titled(QObject::tr("Move")));
}

std::optional<PageEdit> duplicate(QuarnDocument& document, const std::set<int>& pages)
{
    return push(
        document, [pages](PdfDocument& pdf) { return PageEditor::duplicate(pages, pdf); },
        titled(QObject::tr("Duplicate")));
}

std::optional<PageEdit> insert(QuarnDocument& document, const std::vector<SourcePage>& pages, int gap)
{
    return push(
        document, [pages, gap](PdfDocument& pdf) { return PageEditor::insert(pages, gap, pdf); },
        titled(QObject::tr("Insert")));
}

std::optional<PageEdit> insertBlank(QuarnDocument& document, int index)
{
    return push(
        document, [index](PdfDocument& pdf) { return std::optional(PageEditor::insertBlank(index, pdf)); },
        [](const PageEdit&) { return QObject::tr("Insert Blank Page"); });
}

std::function<bool()> extractInto(const QuarnDocument& document, const std::set<int>& pages, ChosenFile file,
                                  bool lossAccepted)
{
    // Asked before the snapshot, which no longer knows what reading the file had to repair.
    if (copyNeedsLossQuestion(*pdfOf(document), lossAccepted))
        throw DocumentError(DocumentError::Code::fileWriteCopyShowsLess, "the copy may show less than the file");
    return [snapshot = std::shared_ptr<const PdfDocument>(pdfOf(document)->copy()), pages, file = std::move(file)] {
        const auto extracted = PageEditor::extract(pages, *snapshot);
        if (!extracted || extracted->pageCount() == 0) return false;
        extracted->saveToFile(file);
        return true;
    };
}

} // namespace quarnkit::PageEdits
