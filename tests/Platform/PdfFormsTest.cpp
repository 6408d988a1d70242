#include "Platform/PdfForms.h"
#include "Platform/PdfWriting.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

#include <QProcess>
#include <QRegularExpression>

#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <optional>

using platform::PdfDocument;
using platform::PdfError;
using platform::PdfForms;
using platform::PdfWidget;
using platform::PdfWidgetKind;

namespace {

// A one-page PDF written by hand from the page's /Annots entries and the extra
// objects they name (numbered from 4: 1 catalog, 2 pages, 3 page). `acroForm`
// is the catalog's /AcroForm value, or empty for none.
QByteArray makeFormPdf(const std::string& annots, const std::vector<std::string>& extra, const std::string& acroForm)
{
    std::vector<std::string> objects;
    objects.push_back("<< /Type /Catalog /Pages 2 0 R" + (acroForm.empty() ? "" : " /AcroForm " + acroForm) + " >>");
    objects.push_back("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [" + annots + "] >>");
    objects.insert(objects.end(), extra.begin(), extra.end());
    return testsupport::writePdf(objects, "1.7");
}

const PdfWidget& byName(const std::vector<PdfWidget>& widgets, const std::string& name)
{
    const auto it = std::find_if(widgets.begin(), widgets.end(), [&](const PdfWidget& w) { return w.name == name; });
    if (it == widgets.end()) throw std::runtime_error("no widget " + name);
    return *it;
}

std::vector<const PdfWidget*> allNamed(const std::vector<PdfWidget>& widgets, const std::string& name)
{
    std::vector<const PdfWidget*> out;
    for (const auto& w : widgets)
        if (w.name == name) out.push_back(&w);
    return out;
}

// Dark pixels inside a widget's rectangle on a page image drawn at two pixels
// a point, a small margin left out so that borders do not count.
int darkPixelsIn(const QImage& drawn, const PdfDocument& doc, int page, const platform::PdfRect& rect)
{
    const QImage image = drawn.convertToFormat(QImage::Format_RGB888);
    const platform::PdfRect shown = doc.pageGeometry(page).userToDisplay.mapRect(rect);
    int dark = 0;
    for (int y = std::max(0, int(shown.y * 2) + 3); y < std::min(image.height(), int(shown.maxY() * 2) - 3); ++y)
        for (int x = std::max(0, int(shown.x * 2) + 3); x < std::min(image.width(), int(shown.maxX() * 2) - 3); ++x) {
            const QRgb c = image.pixel(x, y);
            if (qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100) ++dark;
        }
    return dark;
}

// What a reader that draws the stored appearance shows.
int darkPixelsIn(const PdfDocument& doc, int page, const platform::PdfRect& rect)
{
    return darkPixelsIn(doc.render(page, 2.0), doc, page, rect);
}

// A page of the file at `pdf` as another program (poppler) draws it, at two
// pixels a point, or at `dpi` and only the `pixels` at its top left.
QImage popplerImage(const QString& pdf, const QTemporaryDir& dir, int page = 0, int dpi = 144, QSize pixels = {})
{
    const QString prefix = dir.filePath(QStringLiteral("poppler"));
    const QString part =
        pixels.isValid() ? QStringLiteral("-x 0 -y 0 -W %1 -H %2").arg(pixels.width()).arg(pixels.height()) : QString();
    const QString command = QStringLiteral("pdftoppm -r %1 %2 -png -singlefile -f %3 -l %3 '%4' '%5'")
                                .arg(dpi)
                                .arg(part)
                                .arg(page + 1)
                                .arg(pdf, prefix);
    if (std::system(command.toUtf8().constData()) != 0) return {};
    return QImage(prefix + QStringLiteral(".png"));
}

// The count of dark pixels in `rect` on the page as poppler draws the file at `pdf`.
int darkPixelsByPoppler(const QString& pdf, const PdfDocument& doc, int page, const platform::PdfRect& rect,
                        const QTemporaryDir& dir)
{
    const QImage image = popplerImage(pdf, dir, page);
    if (image.isNull()) return -1;
    return darkPixelsIn(image, doc, page, rect);
}

// The same count once the document is saved.
int darkPixelsByPoppler(const PdfDocument& doc, int page, const platform::PdfRect& rect, const QTemporaryDir& dir)
{
    const QString pdf = dir.filePath(QStringLiteral("poppler.pdf"));
    doc.saveToFile(testsupport::chosen(pdf.toStdString()));
    return darkPixelsByPoppler(pdf, doc, page, rect, dir);
}

// Saves to a file and opens that file again, as a user's next session would.
std::shared_ptr<PdfDocument> saveAndReopen(const PdfDocument& doc, const QTemporaryDir& dir)
{
    const std::string path = dir.filePath(QStringLiteral("filled.pdf")).toStdString();
    doc.saveToFile(testsupport::chosen(path));
    return PdfDocument::openFile(path);
}

} // namespace

TEST(PdfForms, ReadsTheWidgetsOfCorpusForms)
{
    auto latex = PdfDocument::openFile(testsupport::corpusPath("pdflatex-forms.pdf"));
    EXPECT_TRUE(PdfForms::declaresFields(*latex));
    const auto widgets = PdfForms::widgets(*latex);
    ASSERT_EQ(widgets.size(), 3u);
    EXPECT_EQ(byName(widgets, "Name").kind, PdfWidgetKind::text);
    EXPECT_EQ(byName(widgets, "Check").kind, PdfWidgetKind::checkBox);
    EXPECT_EQ(byName(widgets, "Check").onState, "Yes");
    EXPECT_EQ(byName(widgets, "Check").state, 0);
    EXPECT_EQ(byName(widgets, "Submit").kind, PdfWidgetKind::pushButton);
    for (size_t i = 0; i < widgets.size(); ++i) {
        EXPECT_EQ(widgets[i].annotIndex, int(i));
        EXPECT_FALSE(widgets[i].rect.isEmpty());
        // User space: the fields sit in the upper part of a Letter page.
        EXPECT_GT(widgets[i].rect.y, 500);
        EXPECT_LT(widgets[i].rect.maxY(), 792);
    }

    auto office = PdfDocument::openFile(testsupport::corpusPath("libreoffice-form.pdf"));
    const auto fields = PdfForms::widgets(*office, 0);
    ASSERT_EQ(fields.size(), 9u);
    EXPECT_EQ(byName(fields, "First Name").value, "Alice");
    EXPECT_EQ(allNamed(fields, "female").size(), 2u);
    EXPECT_EQ(byName(fields, "female").kind, PdfWidgetKind::radioButton);
    const auto& nationality = byName(fields, "Nationality");
    EXPECT_EQ(nationality.kind, PdfWidgetKind::choice);
    EXPECT_EQ(nationality.options.size(), 7u);

    // A document whose catalog names form fields but whose pages carry no widgets.
    auto overlay = PdfDocument::openFile(testsupport::corpusPath("reportlab-overlay.pdf"));
    EXPECT_FALSE(PdfForms::declaresFields(*overlay));
    EXPECT_TRUE(PdfForms::widgets(*overlay).empty());
    // Nor does a document without a form.
    auto plain = PdfDocument::openBytes(testsupport::makeTextPdf(2));
    EXPECT_FALSE(PdfForms::declaresFields(*plain));
    EXPECT_TRUE(PdfForms::widgets(*plain).empty());
}

// A button is read by the option it stands for: its caption, else the
// export value /Opt gives its on state, else the on state's name; a single
// character in /MK /CA is the symbol drawn in the box, no caption.
TEST(PdfForms, AButtonIsReadByItsOption)
{
    const std::string drawn = " /AP << /N << /Off 9 0 R /";
    const auto kid = [&](const std::string& on, const std::string& more, int y) {
        return "<< /Type /Annot /Subtype /Widget /Parent 4 0 R /Rect [10 " + std::to_string(y) + " 30 "
               + std::to_string(y + 20) + "]" + drawn + on + " 9 0 R >> >> /AS /Off" + more + " >>";
    };
    const QByteArray pdf = makeFormPdf(
        "5 0 R 6 0 R 7 0 R 8 0 R",
        {"<< /FT /Btn /Ff 49152 /T (size) /V /Off /Kids [5 0 R 6 0 R 7 0 R 8 0 R] /Opt [(S) (Medium size) (L) (XL)] >>",
         kid("small", " /MK << /CA (l) >>", 100), kid("1", "", 200),
         kid("large", " /MK << /CA (Large, please) >>", 300), kid("x#20l", "", 400),
         testsupport::pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 20 20]", "")},
        "<< /Fields [4 0 R] >>");
    auto doc = PdfDocument::openBytes(pdf);
    std::vector<std::string> options;
    for (const PdfWidget& w : PdfForms::widgets(*doc, 0)) options.push_back(w.option);
    EXPECT_EQ(options, (std::vector<std::string>{"small", "Medium size", "Large, please", "x l"}));
}

TEST(PdfForms, FilledTextAndTickedBoxSurviveSaveAndReopen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto doc = PdfDocument::openFile(testsupport::corpusPath("pdflatex-forms.pdf"));
    const auto before = PdfForms::widgets(*doc, 0);

    EXPECT_TRUE(PdfForms::setText(*doc, 0, byName(before, "Name").objectNumber, "Ada Lovelace"));
    EXPECT_TRUE(PdfForms::setChecked(*doc, 0, byName(before, "Check").objectNumber, true));
    // Asking for the state a box already has changes nothing and succeeds.
    EXPECT_TRUE(PdfForms::setChecked(*doc, 0, byName(before, "Check").objectNumber, true));

    auto reopened = saveAndReopen(*doc, dir);
    const auto after = PdfForms::widgets(*reopened, 0);
    EXPECT_EQ(byName(after, "Name").value, "Ada Lovelace");
    EXPECT_EQ(byName(after, "Check").state, 1);
    EXPECT_EQ(byName(after, "Check").value, "Yes");
    // The appearances were rewritten, so any reader draws the text and the tick.
    auto original = PdfDocument::openFile(testsupport::corpusPath("pdflatex-forms.pdf"));
    for (const char* name : {"Name", "Check"}) {
        SCOPED_TRACE(name);
        const auto rect = byName(after, name).rect;
        EXPECT_EQ(darkPixelsIn(*original, 0, rect), 0);
        EXPECT_GT(darkPixelsIn(*reopened, 0, rect), 20);
    }

    // Unticking survives as well.
    EXPECT_TRUE(PdfForms::toggle(*reopened, 0, byName(after, "Check").objectNumber));
    auto again = saveAndReopen(*reopened, dir);
    EXPECT_EQ(byName(PdfForms::widgets(*again, 0), "Check").state, 0);
}

TEST(PdfForms, ATickedBoxIsDrawnWithNothingElseChanged)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const bool byToggle : {false, true}) {
        SCOPED_TRACE(byToggle ? "toggle" : "setChecked");
        auto doc = PdfDocument::openFile(testsupport::corpusPath("pdflatex-forms.pdf"));
        const PdfWidget box = byName(PdfForms::widgets(*doc, 0), "Check");
        EXPECT_EQ(darkPixelsIn(*doc, 0, box.rect), 0);

        if (byToggle) EXPECT_TRUE(PdfForms::toggle(*doc, 0, box.objectNumber));
        else EXPECT_TRUE(PdfForms::setChecked(*doc, 0, box.objectNumber, true));
        EXPECT_EQ(PdfForms::widget(*doc, 0, box.objectNumber)->state, 1);
        EXPECT_GT(darkPixelsIn(*doc, 0, box.rect), 20);

        auto reopened = saveAndReopen(*doc, dir);
        EXPECT_EQ(PdfForms::widget(*reopened, 0, box.objectNumber)->state, 1);
        EXPECT_GT(darkPixelsIn(*reopened, 0, box.rect), 20);
        EXPECT_GT(darkPixelsByPoppler(*doc, 0, box.rect, dir), 20);

        // Unticked again, the box is empty on the page and in the saved file.
        EXPECT_TRUE(PdfForms::setChecked(*doc, 0, box.objectNumber, false));
        EXPECT_EQ(darkPixelsIn(*doc, 0, box.rect), 0);
        auto unticked = saveAndReopen(*doc, dir);
        EXPECT_EQ(darkPixelsIn(*unticked, 0, box.rect), 0);
        EXPECT_EQ(darkPixelsByPoppler(*doc, 0, box.rect, dir), 0);
    }
}

TEST(PdfForms, FillsTheLibreOfficeForm)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto doc = PdfDocument::openFile(testsupport::corpusPath("libreoffice-form.pdf"));
    const auto fields = PdfForms::widgets(*doc, 0);
    const auto radios = allNamed(fields, "female");
    ASSERT_EQ(radios.size(), 2u);
    const auto& nationality = byName(fields, "Nationality");
    ASSERT_FALSE(nationality.options.empty());
    const std::string option = nationality.options.back();

    EXPECT_TRUE(PdfForms::setText(*doc, 0, byName(fields, "Last Name").objectNumber, "Lovelace"));
    EXPECT_TRUE(PdfForms::setChecked(*doc, 0, byName(fields, "gdpr").objectNumber, true));
    EXPECT_TRUE(PdfForms::setChecked(*doc, 0, radios[0]->objectNumber, true));
    EXPECT_TRUE(PdfForms::choose(*doc, 0, nationality.objectNumber, option));
    // A text the list does not offer is refused.
    EXPECT_FALSE(nationality.editable);
    EXPECT_FALSE(PdfForms::choose(*doc, 0, nationality.objectNumber, "Atlantis"));

    // The second radio button of the group turns the first off.
    EXPECT_TRUE(PdfForms::setChecked(*doc, 0, radios[1]->objectNumber, true));
    auto reopened = saveAndReopen(*doc, dir);
    const auto after = PdfForms::widgets(*reopened, 0);
    EXPECT_EQ(byName(after, "Last Name").value, "Lovelace");
    EXPECT_EQ(byName(after, "First Name").value, "Alice"); // untouched fields keep their values
    EXPECT_EQ(byName(after, "gdpr").state, 1);
    EXPECT_EQ(byName(after, "other").state, 0);
    const auto radiosAfter = allNamed(after, "female");
    ASSERT_EQ(radiosAfter.size(), 2u);
    EXPECT_EQ(radiosAfter[0]->state, 0);
    EXPECT_EQ(radiosAfter[1]->state, 1);
    EXPECT_EQ(radiosAfter[1]->value, radiosAfter[1]->onState);
    EXPECT_EQ(byName(after, "Nationality").value, option);
    EXPECT_GT(darkPixelsIn(*reopened, 0, byName(after, "gdpr").rect), 5);
}

TEST(PdfForms, RefusesEditsItCannotMake)
{
    const std::vector<std::string> extra = {
        // 4: a read-only text field, 5: a text field, 6: a signature field, 7: a hidden text field
        "<< /Type /Annot /Subtype /Widget /FT /Tx /T (locked) /Ff 1 /V (fixed) /Rect [72 700 272 720] /P 3 0 R >>",
        "<< /Type /Annot /Subtype /Widget /FT /Tx /T (free) /Rect [72 650 272 670] /P 3 0 R /DA (/Helv 12 Tf 0 g) >>",
        "<< /Type /Annot /Subtype /Widget /FT /Sig /T (signature) /Rect [72 600 272 630] /P 3 0 R >>",
        "<< /Type /Annot /Subtype /Widget /FT /Tx /T (hidden) /F 2 /Rect [72 550 272 570] /P 3 0 R >>",
    };
    auto doc = PdfDocument::openBytes(
        makeFormPdf("4 0 R 5 0 R 6 0 R 7 0 R", extra, "<< /Fields [4 0 R 5 0 R 6 0 R 7 0 R] /DA (/Helv 0 Tf 0 g) >>"));
    const auto widgets = PdfForms::widgets(*doc, 0);
    ASSERT_EQ(widgets.size(), 4u);
    EXPECT_TRUE(byName(widgets, "locked").readOnly);
    EXPECT_EQ(byName(widgets, "signature").kind, PdfWidgetKind::signature);
    EXPECT_TRUE(byName(widgets, "hidden").hidden);
    EXPECT_FALSE(byName(widgets, "free").value.has_value());

    EXPECT_FALSE(PdfForms::setText(*doc, 0, 4, "changed"));
    EXPECT_EQ(PdfForms::widget(*doc, 0, 4)->value, "fixed");
    EXPECT_THROW(PdfForms::setChecked(*doc, 0, 5, true), PdfError); // not a button
    EXPECT_THROW(PdfForms::choose(*doc, 0, 5, "x"), PdfError);      // not a choice
    EXPECT_THROW(PdfForms::setText(*doc, 0, 99, "x"), PdfError);    // no such widget
    EXPECT_THROW(PdfForms::widgets(*doc, 3), PdfError);             // no such page
    EXPECT_FALSE(PdfForms::widget(*doc, 0, 99).has_value());

    EXPECT_TRUE(PdfForms::setText(*doc, 0, 5, "typed"));
    auto reopened = PdfDocument::openBytes(doc->save());
    EXPECT_EQ(PdfForms::widget(*reopened, 0, 5)->value, "typed");
}

TEST(PdfForms, ChoiceFieldsStoreTheExportValueOfTheShownOption)
{
    const std::vector<std::string> extra = {
        // 4: a pop-up with export values, 5: an editable pop-up, 6: a list
        "<< /Type /Annot /Subtype /Widget /FT /Ch /Ff 131072 /T (language) /TU (Language spoken)"
        " /Opt [[(de) (German)] [(fr) (French)]]"
        " /Rect [72 700 272 720] /P 3 0 R /DA (/Helv 12 Tf 0 g) >>",
        "<< /Type /Annot /Subtype /Widget /FT /Ch /Ff 393216 /T (city) /Opt [(Paris) (Rome)] /V (Rome)"
        " /Rect [72 650 272 670] /P 3 0 R /DA (/Helv 12 Tf 0 g) >>",
        "<< /Type /Annot /Subtype /Widget /FT /Ch /T (colour) /Opt [(red) (green)]"
        " /Rect [72 550 272 630] /P 3 0 R /DA (/Helv 12 Tf 0 g) >>",
    };
    auto doc = PdfDocument::openBytes(
        makeFormPdf("4 0 R 5 0 R 6 0 R", extra, "<< /Fields [4 0 R 5 0 R 6 0 R] /DA (/Helv 0 Tf 0 g) >>"));
    const auto widgets = PdfForms::widgets(*doc, 0);
    const auto& language = byName(widgets, "language");
    EXPECT_EQ(language.options, (std::vector<std::string>{"German", "French"}));
    EXPECT_EQ(language.exportValues, (std::vector<std::string>{"de", "fr"}));
    EXPECT_TRUE(language.comboBox);
    EXPECT_FALSE(language.editable);
    EXPECT_EQ(language.label, "Language spoken"); // what a reader hears it called
    EXPECT_EQ(byName(widgets, "city").label, "");
    EXPECT_TRUE(byName(widgets, "city").editable);
    EXPECT_FALSE(byName(widgets, "colour").comboBox);
    EXPECT_EQ(byName(widgets, "colour").exportValues, byName(widgets, "colour").options);

    EXPECT_TRUE(PdfForms::choose(*doc, 0, 4, "French"));
    EXPECT_FALSE(PdfForms::choose(*doc, 0, 4, "Klingon"));
    EXPECT_TRUE(PdfForms::choose(*doc, 0, 5, "Oslo")); // typed into the editable pop-up
    EXPECT_TRUE(PdfForms::choose(*doc, 0, 6, "green"));
    EXPECT_FALSE(PdfForms::choose(*doc, 0, 6, "blue"));

    // The pop-up shows the label chosen, in the window and to other readers.
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir, "chosen.pdf", doc->save());
    const QRegularExpression value(QStringLiteral("\\bfr\\b")), label(QStringLiteral("\\bFrench\\b"));
    for (const QString& words : {QString::fromStdString(doc->displayList(0)->textPage().text()),
                                 testsupport::runProgram("pdftotext", {"-q", path, "-"})}) {
        EXPECT_TRUE(words.contains(label) && !words.contains(value)) << words.toStdString();
    }
    auto reopened = PdfDocument::openBytes(doc->save());
    EXPECT_EQ(PdfForms::widget(*reopened, 0, 4)->value, "fr");
    EXPECT_EQ(PdfForms::widget(*reopened, 0, 5)->value, "Oslo");
    EXPECT_EQ(PdfForms::widget(*reopened, 0, 6)->value, "green");
}

TEST(PdfForms, ChoosingNoneClearsAChoiceThatHadNone)
{
    const std::vector<std::string> extra = {
        // 4: a pop-up, 5: a list; neither has a value
        "<< /Type /Annot /Subtype /Widget /FT /Ch /Ff 131072 /T (language) /Opt [[(de) (German)] [(fr) (French)]]"
        " /Rect [72 700 272 720] /P 3 0 R /DA (/Helv 12 Tf 0 g) >>",
        "<< /Type /Annot /Subtype /Widget /FT /Ch /T (colour) /Opt [(red) (green)]"
        " /Rect [72 550 272 630] /P 3 0 R /DA (/Helv 12 Tf 0 g) >>",
    };
    auto doc =
        PdfDocument::openBytes(makeFormPdf("4 0 R 5 0 R", extra, "<< /Fields [4 0 R 5 0 R] /DA (/Helv 0 Tf 0 g) >>"));
    // A field as drawn, compared whole.
    auto drawn = [](const PdfDocument& pdf, const PdfWidget& field) {
        const platform::PdfRect shown = pdf.pageGeometry(0).userToDisplay.mapRect(field.rect);
        return pdf.render(0, 2.0).copy(
            QRectF(shown.x * 2, shown.y * 2, shown.width * 2, shown.height * 2).toAlignedRect());
    };
    for (const int number : {4, 5}) {
        SCOPED_TRACE(number);
        const PdfWidget field = *PdfForms::widget(*doc, 0, number);
        EXPECT_FALSE(field.value.has_value());
        const QImage blank = drawn(*doc, field);
        // Clearing a field with no value changes nothing.
        const QByteArray unchanged = doc->save();
        EXPECT_TRUE(PdfForms::clearChoice(*doc, 0, number));
        EXPECT_EQ(doc->save(), unchanged);

        ASSERT_TRUE(PdfForms::choose(*doc, 0, number, field.options.back()));
        EXPECT_TRUE(PdfForms::widget(*doc, 0, number)->value.has_value());
        // The pop-up shows its choice; a list is drawn with all its options
        // alike whichever is chosen.
        if (number == 4) {
            EXPECT_NE(drawn(*doc, field), blank);
        }

        // Undoing that first choice: the field has no value again and shows none.
        EXPECT_TRUE(PdfForms::clearChoice(*doc, 0, number));
        EXPECT_FALSE(PdfForms::widget(*doc, 0, number)->value.has_value());
        EXPECT_EQ(drawn(*doc, field), blank);
        auto reopened = PdfDocument::openBytes(doc->save());
        EXPECT_FALSE(PdfForms::widget(*reopened, 0, number)->value.has_value());
        EXPECT_EQ(drawn(*reopened, field), blank);
    }

    // An empty text no option offers chooses none as well.
    ASSERT_TRUE(PdfForms::choose(*doc, 0, 5, "red"));
    EXPECT_TRUE(PdfForms::choose(*doc, 0, 5, ""));
    EXPECT_FALSE(PdfForms::widget(*doc, 0, 5)->value.has_value());
    EXPECT_THROW(PdfForms::clearChoice(*doc, 0, 99), PdfError);

    // A read-only list keeps its value.
    auto fixed = PdfDocument::openBytes(makeFormPdf("4 0 R",
                                                    {"<< /Type /Annot /Subtype /Widget /FT /Ch /Ff 1 /T (fixed) /Opt "
                                                     "[(a) (b)] /V (a) /Rect [72 550 272 630] /P 3 0 R >>"},
                                                    "<< /Fields [4 0 R] >>"));
    EXPECT_FALSE(PdfForms::clearChoice(*fixed, 0, 4));
    EXPECT_EQ(PdfForms::widget(*fixed, 0, 4)->value, "a");
}

TEST(PdfForms, ClearsTheLibreOfficePopUp)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto doc = PdfDocument::openFile(testsupport::corpusPath("libreoffice-form.pdf"));
    const PdfWidget nationality = byName(PdfForms::widgets(*doc, 0), "Nationality");
    const int blank = darkPixelsIn(*doc, 0, nationality.rect);
    ASSERT_TRUE(PdfForms::choose(*doc, 0, nationality.objectNumber, "German"));
    EXPECT_GT(darkPixelsIn(*doc, 0, nationality.rect), blank);
    EXPECT_TRUE(PdfForms::clearChoice(*doc, 0, nationality.objectNumber));
    EXPECT_EQ(darkPixelsIn(*doc, 0, nationality.rect), blank);
    auto reopened = saveAndReopen(*doc, dir);
    const PdfWidget after = byName(PdfForms::widgets(*reopened, 0), "Nationality");
    EXPECT_TRUE(!after.value || after.value->empty());
    EXPECT_EQ(darkPixelsIn(*reopened, 0, nationality.rect), blank);
}

TEST(PdfForms, TheFilledLibreOfficeFormShowsInPoppler)
{
    // The form asks readers to draw its fields; poppler cannot draw its
    // buttons and pop-up itself (their /DA names no usable font), so it must
    // draw the appearances the edits made.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto doc = PdfDocument::openFile(testsupport::corpusPath("libreoffice-form.pdf"));
    const auto fields = PdfForms::widgets(*doc, 0);
    PdfWidget male = byName(fields, "female");
    for (const PdfWidget& w : fields)
        if (w.name == "female" && w.rect.minX() > male.rect.minX()) male = w;
    const std::vector<PdfWidget> edited{byName(fields, "Nationality"), byName(fields, "gdpr"), male};
    std::vector<int> blank;
    for (const PdfWidget& w : edited) blank.push_back(darkPixelsByPoppler(*doc, 0, w.rect, dir));

    ASSERT_TRUE(PdfForms::choose(*doc, 0, edited[0].objectNumber, "French"));
    ASSERT_TRUE(PdfForms::setChecked(*doc, 0, edited[1].objectNumber, true));
    ASSERT_TRUE(PdfForms::setChecked(*doc, 0, edited[2].objectNumber, true));
    for (size_t i = 0; i < edited.size(); ++i)
        EXPECT_GT(darkPixelsByPoppler(*doc, 0, edited[i].rect, dir), blank[i] + 5) << edited[i].name;
    // Fields nobody touched look as they did.
    EXPECT_GT(darkPixelsByPoppler(*doc, 0, byName(fields, "First Name").rect, dir), 10);
}

// A form that asks readers to draw its fields, as LibreOffice and others write
// them, whose stored drawings need not show the fields' values: a field
// "greeting" holding "Hello World" (a text field, or with `choice` a pop-up
// whose value names the option labelled so), an empty text field "name"
// below it, a check box "agree" holding /Yes that shows state `look`, its on
// state drawn by `tick`, and a box "later" holding /Off, with the drawings
// `later` names (its on state the tick of "agree", its Off a dark square).
// Without `asks` the form does not ask; with `signs` it holds a signature.
struct RequestingForm {
    std::string greeting = "Hello World"; // the words the stored drawing of "greeting" shows
    std::string greetingAt = "2 6 Td";    // where it starts them in its 200 point wide box
    std::string height = "20";            // of the boxes of "greeting" and "name"
    bool choice = false;
    bool lines = false;    // "greeting" a text of several lines
    bool password = false; // "greeting" a password
    std::string look = "Yes";
    std::string tick = "q 0 0 0.35 rg 8 8 24 24 re f Q"; // dark blue
    std::string tickBox = "/BBox [0 0 40 40]";           // the box of the drawings of "agree"
    std::string later = "/MK << /BG [0.2] /CA (4) >> /AP << /N << /Yes 10 0 R /Off 13 0 R >> >>";
    // "later" names its fonts by a dictionary of its own kept apart, as
    // LibreOffice writes them: poppler's own drawing cannot add the font of
    // its tick there, and shows none.
    bool fontsApart = false;
    bool asks = true;
    bool signs = false;
    const char* list = nullptr; // the value of a list box "pick" ("" none) drawn empty, when not null
    bool greetingDrawn = true;  // whether the file stores a drawing of "greeting"
    bool listDrawn = true;      // whether it stores one of "pick"
    bool sharedDown = false;    // "agree" and "later" pressed drawn by one drawing without a box

    // The form, its signature (with `signs`) made with a key made in `folder`.
    QByteArray make(const QString& folder = {}) const
    {
        const std::string greetingField =
            choice ? "/FT /Ch /Ff 131072 /V (hw) /Opt [[(hw) (Hello World)] [(bye) (DlrowOlleh)]]"
                   : "/FT /Tx /V (Hello World)"
                         + std::string(lines      ? " /Ff 4096"
                                       : password ? " /Ff 8192"
                                                  : "");
        using testsupport::pdfStream;
        const std::string field =
            "/Type /XObject /Subtype /Form /BBox [0 0 200 " + height + "] /Resources << /Font << /Helv 8 0 R >> >>";
        const std::string ticks =
            "/Type /XObject /Subtype /Form " + tickBox
            + (tick.find("/ZaDb") != std::string::npos ? " /Resources << /Font << /ZaDb 14 0 R >> >>" : "");
        const int pick = signs ? 16 : 15;
        const std::string down = std::to_string(pressed());
        const std::string pressedBy = sharedDown ? " /D << /Yes " + down + " 0 R /Off " + down + " 0 R >>" : "";
        std::string laterLooks = later;
        if (sharedDown) laterLooks.replace(laterLooks.find("/AP << "), 7, "/AP <<" + pressedBy + " ");
        // "pick" lies above the others, and is read first.
        const std::string widgets = (list ? std::to_string(pick) + " 0 R " : "") + "4 0 R 5 0 R 6 0 R 12 0 R"
                                    + std::string(signs ? " 15 0 R" : "");
        std::vector<std::string> objects = {
            "<< /Type /Annot /Subtype /Widget " + greetingField
                + " /T (greeting) /DA (/Helv 12 Tf 0 g) /Rect [72 700 272 " + std::to_string(700 + std::stod(height))
                + "] /F 4 /P 3 0 R" + (greetingDrawn ? " /AP << /N 7 0 R >>" : "") + " >>",
            "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /DA (/Helv 12 Tf 0 g) /Rect [72 650 272 "
                + std::to_string(650 + std::stod(height)) + "] /F 4 /P 3 0 R /AP << /N 9 0 R >> >>",
            "<< /Type /Annot /Subtype /Widget /FT /Btn /T (agree) /V /Yes /AS /" + look
                + " /DA (/ZaDb 0 Tf 0 g) /MK << /CA (4) >> /Rect [72 560 112 600] /F 4 /P 3 0 R"
                  " /AP << /N << /Yes 10 0 R /Off 11 0 R >>"
                + pressedBy + " >> >>",
            pdfStream(field, "/Tx BMC q BT /Helv 12 Tf 0 g " + greetingAt + " (" + greeting + ") Tj ET Q EMC"),
            "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
            pdfStream(field, "/Tx BMC EMC"),
            pdfStream(ticks, tick),
            pdfStream(ticks, ""),
            "<< /Type /Annot /Subtype /Widget /FT /Btn /T (later) /V /Off /AS /Off /DA (/ZaDb 0 Tf 0 g)"
            " /Rect [172 560 212 600] /F 4 /P 3 0 R "
                + laterLooks + " >>",
            pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 40 40]", "0.2 g 0 0 40 40 re f"),
            "<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats /Encoding /WinAnsiEncoding >>",
        };
        if (signs)
            objects.push_back("<< /Type /Annot /Subtype /Widget /FT /Sig /T (signature) /V "
                              + testsupport::unsignedSignature() + " /Rect [300 560 400 600] /F 4 /P 3 0 R >>");
        if (list) {
            objects.push_back("<< /Type /Annot /Subtype /Widget /FT /Ch /T (pick) /V (" + std::string(list)
                              + ") /Opt [(five) [(6) (six)] (seven) (eight)] /DA (/Helv 10 Tf 0 g)"
                                " /Rect [222 724 298 790] /F 4 /P 3 0 R"
                              + (listDrawn ? " /AP << /N " + std::to_string(pick + 1) + " 0 R >>" : "") + " >>");
            objects.push_back(pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 76 66]", "/Tx BMC EMC"));
        }
        if (sharedDown) objects.push_back(pdfStream("/Type /XObject /Subtype /Form", "0 g 4 4 32 32 re f"));
        if (fontsApart) {
            objects.push_back("<< /Helv 8 0 R >>");
            std::string& laterField = objects[12 - 4]; // the objects are numbered from 4
            laterField.insert(laterField.size() - 2, "/DR << /Font " + std::to_string(objects.size() + 3) + " 0 R >> ");
        }
        const QByteArray pdf = makeFormPdf(widgets, objects,
                                           "<< /Fields [" + widgets + "]" + (asks ? " /NeedAppearances true" : "")
                                               + (signs ? " /SigFlags 3" : "")
                                               + " /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv 8 0 R >> >> >>");
        return signs && !folder.isEmpty() ? testsupport::signPdf(pdf, folder) : pdf;
    }

    // The object drawing "agree" and "later" pressed, with `sharedDown`.
    int pressed() const { return 15 + (signs ? 1 : 0) + (list ? 2 : 0); }

    // The objects of the fields nobody edits, "greeting" and "agree" (and
    // "pick"), and what they are drawn with, shared or not. Once a field is
    // `filled` in, a form that asks is drawn as any save draws it: "greeting"
    // drawn with other words than its value, or with none, is drawn anew.
    std::vector<int> untouched(bool filled = false) const
    {
        std::vector<int> objects = {6, 7, 10, 11, 14};
        if (!filled || !asks || (greetingDrawn && greeting == "Hello World")) objects.push_back(4);
        if (sharedDown) objects.push_back(pressed());
        if (list) {
            const int pick = signs ? 16 : 15;
            objects.insert(objects.end(), {pick, pick + 1});
        }
        return objects;
    }
};

// Whether a saved form still asks readers to draw its fields, as qpdf reads it.
bool asksToDraw(const QString& path)
{
    const QString json = testsupport::runProgram("qpdf", {"--json", "--json-key=acroform", path});
    if (json.contains(QStringLiteral("\"needappearances\": true"))) return true;
    EXPECT_TRUE(json.contains(QStringLiteral("\"needappearances\": false"))) << json.toStdString();
    return false;
}

// The words of a form's page, but a tick: whether a ticked box shows a check
// mark or another sign of the Dingbats (a control character where the font
// maps none) is a matter of the drawing (poppler's own or the stored one),
// not of its value.
std::string formWords(QString words)
{
    words.replace(QRegularExpression(QStringLiteral("[\\x{2700}-\\x{27BF}\\p{Cc}]")), QStringLiteral(" "));
    return words.simplified().toStdString();
}

// The words poppler reads in a form file.
std::string popplerWords(const QString& path)
{
    return formWords(testsupport::runProgram("pdftotext", {"-q", path, "-"}));
}

namespace {

// What a drawing of a page 792 points tall, at four pixels a point, shows in
// a rectangle: its dark pixels; pixels of a dark blue, the colour of the
// made forms' own ticks, and of black; the rows of pixels that hold dark ones.
struct Shown {
    int dark = 0, blue = 0, black = 0, rows = 0;
};

Shown shownIn(const QImage& drawn, const platform::PdfRect& rect)
{
    const QImage image = drawn.convertToFormat(QImage::Format_RGB888);
    Shown shown;
    for (int y = std::max(0, int((792 - rect.maxY()) * 4)); y < std::min(image.height(), int((792 - rect.y) * 4));
         ++y) {
        int dark = 0;
        for (int x = std::max(0, int(rect.x * 4)); x < std::min(image.width(), int(rect.maxX() * 4)); ++x) {
            const QRgb c = image.pixel(x, y);
            dark += qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100;
            if (qRed(c) < 30 && qGreen(c) < 30) ++(qBlue(c) > 60 ? shown.blue : shown.black);
        }
        shown.dark += dark;
        shown.rows += dark > 0;
    }
    return shown;
}

// Every road by which ravlen draws a form (its window, a save, a value
// typed, a box ticked, a flattened copy) shows each field as poppler
// showed it, drawing the fields itself while the form asked it to: the
// same words, the same boxes, letters inside their box. The request to
// draw the fields stays unless every field shows its value and state, as
// every reader draws it, in the saved file. A drawing poppler cannot draw
// is mended, or drawn anew state by state; the form's own tick stays.
struct FormCase {
    const char* name;
    RequestingForm form;
    std::optional<bool> asks; // whether the saved file still asks readers to draw, when that is known
    bool ownTick = true;      // "later", ticked, shows the form's own tick where poppler draws it
};
const FormCase formCases[] = {
    {"every field drawn as it holds", {}, false},
    {"a text drawn with other words", {.greeting = "Old words"}, false},
    {"a text drawn empty", {.greeting = ""}, false},
    {"a text drawn with only the start of its value", {.greeting = "Hello"}, false},
    {"a text whose end lies outside its drawing's box", {.greetingAt = "170 6 Td"}, false},
    {"a text in a box barely taller than its letters", {.greeting = "", .height = "9.5"}, false},
    {"a text of several lines in a box shorter than a line", {.greeting = "", .height = "9.5", .lines = true}, false},
    {"a ticked box drawn empty", {.tick = ""}, false, false},
    {"a ticked box drawn without a box", {.tickBox = ""}, false},
    {"a ticked box drawn in a box of no height", {.tickBox = "/BBox [0 0 40 0]"}, false, false},
    // A drawing whose matrix squashes its box flat draws nothing where
    // other readers fit it to the box.
    {"a tick squashed flat by its matrix", {.tickBox = "/BBox [0 0 40 40] /Matrix [1 0 0 0 0 0]"}, false, false},
    {"a tick squashed to a sliver by its matrix",
     {.tickBox = "/BBox [0 0 40 40] /Matrix [1 1 1 1.0000001 0 0]"},
     false,
     false},
    // Drawn anew, a box keeps the drawings of its own that every reader
    // draws: unticked again, "later" shows its own Off, not a blank one.
    {"a ticked box drawn empty, its Off drawn by the form",
     {.tick = "", .later = "/MK << /CA (4) >> /AP << /N << /Yes 10 0 R /Off 13 0 R >> >>", .asks = false},
     {},
     false},
    {"a tick whose font hides its glyph", {.tick = "0 0 0.35 rg BT /ZaDb 30 Tf 6 8 Td (4) Tj ET"}, false},
    {"an unticked box whose state is a name",
     {.later = "/MK << /BG [0.2] /CA (4) >> /AP << /N << /Yes 10 0 R /Off /Off >> >>"},
     false},
    {"an unticked box with no drawing for Off", {.later = "/MK << /CA (4) >> /AP << /N << /Yes 10 0 R >> >>"}, false},
    {"an unticked box with no drawing at all", {.later = "/MK << /BG [0.2] /CA (4) >>"}, false, false},
    {"a box that looks unticked but holds its on state", {.look = "Off"}, true, false},
    {"a choice drawn with another option", {.greeting = "DlrowOlleh", .choice = true}, false},
    {"a form that does not ask, its text drawn with other words", {.greeting = "Old words", .asks = false}, false},
    // Other readers list a list box's options, the one its value names
    // by its export value white on black.
    {"a list box with no value drawn empty", {.list = ""}, false},
    {"a list box with an option chosen drawn empty", {.list = "6"}, false},
    {"a list box whose value is an option's label drawn empty", {.list = "six"}, false},
    // A form that does not ask: other readers draw a field the file
    // holds no drawing of themselves, a pop-up showing the label of its
    // option, a list box marking the chosen one.
    {"a form that does not ask, a pop-up with no drawing", {.choice = true, .asks = false, .greetingDrawn = false}, {}},
    {"a form that does not ask, a list box with no drawing", {.asks = false, .list = "6", .listDrawn = false}, {}},
    // A signed file's fields stay as signed: the window and a flattened
    // copy show the drawing the file holds, unless the form asks readers
    // to draw its fields: then they show their values there, drawn for
    // the screen alone, as other readers show them. Once the user fills
    // one in, which the window draws, the update draws the form as any
    // save: readers show the drawing of a field only once the form no
    // longer asks them to draw it (poppler's own tick in a font it cannot
    // use shows nothing).
    {"a signed form, its text drawn with other words", {.greeting = "Old words", .signs = true}, false},
    {"a signed form, its text with no drawing", {.signs = true, .greetingDrawn = false}, false},
    {"a signed form, its choice drawn with another option",
     {.greeting = "DlrowOlleh", .choice = true, .signs = true},
     false},
    {"a signed form whose ticked box poppler cannot draw itself", {.fontsApart = true, .signs = true}, false},
    {"a signed form, its password drawn as the value", {.password = true, .asks = false, .signs = true}, {}},
    // A click writes the clicked field's objects only, not a drawing it
    // shares with another, even one other readers could not draw.
    {"a signed form, its boxes pressed drawn by one drawing without a box",
     {.asks = false, .signs = true, .sharedDown = true},
     {}},
    {"a signed form, a pop-up and a list box with no drawing",
     {.choice = true, .asks = false, .signs = true, .list = "6", .greetingDrawn = false, .listDrawn = false},
     {}},
    {"a signed form, its tick drawn with a font that hides its glyph",
     {.look = "Off", .tick = "0 0 0.35 rg BT /ZaDb 30 Tf 6 8 Td (4) Tj ET", .asks = false, .signs = true},
     {},
     false},
};

void PrintTo(const FormCase& c, std::ostream* out) { *out << c.name; }

class AFormShowsInOtherReaders : public ::testing::TestWithParam<FormCase> {};

} // namespace

TEST_P(AFormShowsInOtherReaders, WhatItShowedBefore)
{
    const FormCase& c = GetParam();
    // Retitled: saved with only the document's title changed, which leaves
    // the fields as saved with nothing changed does.
    enum Road { window, saved, retitled, typed, ticked, ticksaved, unticked, flattened, printed };
    const char* const roads[] = {
        "in ravlen's window",    "saved",     "retitled", "typed into", "ticked", "saved, then ticked",
        "ticked, then unticked", "flattened", "printed"};
    // What poppler draws of the page's top left, where the fields are.
    const auto popplerDrawing = [](const QString& pdf, const QTemporaryDir& dir) {
        return popplerImage(pdf, dir, 0, 288, {1200, 960});
    };
    // How many rows of pixels the words fill where nothing cuts them.
    const int whole = [&] {
        QTemporaryDir dir;
        return shownIn(popplerDrawing(testsupport::writeFile(dir, "form.pdf", RequestingForm{}.make()), dir),
                       {72, 700, 200, 20})
            .rows;
    }();
    QTemporaryDir dir;
    const QByteArray bytes = c.form.make(dir.path());
    ASSERT_FALSE(bytes.isEmpty()) << c.name;
    const QString original = testsupport::writeFile(dir, "form.pdf", bytes);
    const std::string words = popplerWords(original);
    ASSERT_NE(words.find(c.form.asks ? "Hello World" : c.form.greeting), std::string::npos) << c.name;
    // The words ravlen's window and a flattened copy show: a signed
    // form's the drawings it holds.
    const std::string inWindow = c.form.signs && c.form.greetingDrawn && !c.form.asks ? c.form.greeting : words;
    const double height = std::stod(c.form.height);
    // The boxes "agree" and "later", "greeting" and "name", and inside "pick".
    const platform::PdfRect areas[] = {
        {72, 560, 40, 40}, {172, 560, 40, 40}, {72, 700, 200, height}, {72, 650, 200, height}, {224, 726, 72, 62}};
    const auto shown = [&](const QImage& drawn) {
        std::vector<Shown> all;
        for (const platform::PdfRect& area : areas) all.push_back(shownIn(drawn, area));
        return all;
    };
    const std::vector<Shown> before = shown(popplerDrawing(original, dir));
    for (const Road road : {window, saved, retitled, typed, ticked, ticksaved, unticked, flattened, printed}) {
        SCOPED_TRACE(std::string(c.name) + ", " + roads[road]);
        std::shared_ptr<PdfDocument> doc = PdfDocument::openFile(original.toStdString());
        const QString path = dir.filePath("saved.pdf");
        if (road == typed) {
            ASSERT_TRUE(PdfForms::setText(*doc, 0, 5, "Hello World"));
        }
        if (road == retitled) doc->setInfoString("Title", "Another title");
        if (road == ticksaved) {
            doc->saveToFile(testsupport::chosen(path.toStdString()));
            doc = PdfDocument::openFile(path.toStdString());
        }
        if (road == ticked || road == ticksaved || road == unticked) {
            ASSERT_TRUE(PdfForms::toggle(*doc, 0, 12));
        }
        if (road == unticked) {
            ASSERT_TRUE(PdfForms::toggle(*doc, 0, 12));
        }
        if (road == flattened || road == printed) {
            // Printing draws a copy of the document, as a flattened copy
            // draws the document, with the marks printed.
            const auto source = road == printed ? doc->copy() : doc;
            auto flat = PdfDocument::createEmpty();
            platform::PdfWriting::FlattenedCopy(*flat, *source)
                .appendPage(0, source->pageGeometry(0).userToDisplay, {612, 792},
                            road == printed ? platform::PdfMarkUse::print : platform::PdfMarkUse::flatten);
            doc = flat;
        }
        QImage drawn = doc->render(0, 4.0);
        if (road == window) {
            EXPECT_EQ(formWords(QString::fromStdString(doc->displayList(0)->textPage().text())), inWindow);
        } else {
            doc->saveToFile(testsupport::chosen(path.toStdString()));
            drawn = popplerDrawing(path, dir);
            EXPECT_EQ(popplerWords(path), road == typed                          ? words + " Hello World"
                                          : road == flattened || road == printed ? inWindow
                                                                                 : words);
        }
        if (c.form.signs && road != flattened && road != printed) {
            if (road == window) {
                // An export's copy, made as the document is shown, then a save in place.
                platform::PdfSaveOptions copy;
                copy.encryption = platform::PdfSaveOptions::Encryption::none;
                doc->save(copy);
                doc->saveToFile(testsupport::chosen(path.toStdString()));
                EXPECT_EQ(formWords(QString::fromStdString(doc->displayList(0)->textPage().text())), inWindow);
            }
            const QByteArray saved = testsupport::readFile(path);
            EXPECT_TRUE(saved.startsWith(bytes));
            EXPECT_TRUE(testsupport::signaturesValid(path));
            // Nor are the fields nobody edited, "greeting" and "agree",
            // nor what they are drawn with, shared or not.
            const QString update = QString::fromLatin1(saved.mid(bytes.size()));
            for (const int object : c.form.untouched(road != window && road != Road::saved && road != retitled))
                EXPECT_FALSE(update.contains(QRegularExpression(QStringLiteral("(^|\\s)%1 0 obj").arg(object))))
                    << "object " << object << " of a field nobody edited written anew in the signed file";
        }
        const std::vector<Shown> after = shown(drawn);
        // Ticked, "later" shows a tick; ticked and unticked, as before.
        const bool tick = road == ticked || road == ticksaved;
        for (int i = 0; i < (tick ? 1 : 2); ++i)
            EXPECT_EQ(after[i].dark > 0, before[i].dark > 0)
                << "box " << i << ": " << before[i].dark << " dark pixels before, " << after[i].dark << " after";
        if (c.form.list) {
            EXPECT_EQ(after[4].dark > 0, before[4].dark > 0) << "options listed";
            // A bar 1.1 em tall across the box.
            EXPECT_EQ(after[4].black > 5000, before[4].black > 5000)
                << "chosen option: " << before[4].black << " black pixels before, " << after[4].black << " after";
        }
        if (tick) {
            EXPECT_GT(after[1].blue + after[1].black, 20) << "no tick";
            EXPECT_EQ(after[1].blue > 20, c.ownTick) << after[1].blue << " pixels of the form's own tick";
        }
        // Letters inside their box: whole, top to bottom.
        EXPECT_GE(after[2].rows, whole - 1);
        if (road == typed) {
            EXPECT_GE(after[3].rows, whole - 1);
        }
        if (c.asks && (road == saved || road == retitled || road == typed)) {
            // A signed file saved with nothing filled in stays as signed.
            EXPECT_EQ(asksToDraw(path), c.form.signs && road != typed ? c.form.asks : *c.asks);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PdfForms, AFormShowsInOtherReaders, ::testing::ValuesIn(formCases),
                         [](const auto& info) { return testsupport::testName(info.param.name); });

TEST(PdfForms, ValuesWithoutAnAppearanceAreDrawn)
{
    // The file asks readers to draw its fields (/NeedAppearances) and stores
    // empty appearances for fields that have values.
    auto doc = PdfDocument::openFile(testsupport::corpusPath("libreoffice-form.pdf"));
    const auto fields = PdfForms::widgets(*doc, 0);
    EXPECT_GT(darkPixelsIn(*doc, 0, byName(fields, "First Name").rect), 10);
    EXPECT_GT(darkPixelsIn(*doc, 0, byName(fields, "First Name_2").rect), 10);
    EXPECT_EQ(darkPixelsIn(*doc, 0, byName(fields, "Last Name").rect), 0); // no value, nothing drawn
    // The page changed as drawn; the values did not.
    EXPECT_EQ(PdfForms::widgets(*doc, 0), fields);
    // Drawn once: a second reading leaves the document alone.
    const QImage after = doc->render(0, 0.5);
    EXPECT_EQ(PdfForms::widgets(*doc), PdfForms::widgets(*doc));
    EXPECT_EQ(doc->render(0, 0.5), after);

    // The window draws a page before any field of it is read: the values show
    // in that first drawing too, made straight or through a recording.
    for (const bool recorded : {false, true}) {
        auto fresh = PdfDocument::openFile(testsupport::corpusPath("libreoffice-form.pdf"));
        const QImage drawn = recorded ? fresh->displayList(0)->render(2.0) : fresh->render(0, 2.0);
        EXPECT_GT(darkPixelsIn(drawn, *fresh, 0, byName(fields, "First Name").rect), 10) << recorded;
    }

    // Filled and saved, every value is drawn by any reader.
    EXPECT_TRUE(PdfForms::setText(*doc, 0, byName(fields, "Last Name").objectNumber, "Lovelace"));
    auto reopened = PdfDocument::openBytes(doc->save());
    EXPECT_GT(darkPixelsIn(*reopened, 0, byName(fields, "First Name").rect), 10);
    EXPECT_GT(darkPixelsIn(*reopened, 0, byName(fields, "Last Name").rect), 10);

    // A file whose fields all carry their appearances is left as it is.
    auto latex = PdfDocument::openFile(testsupport::corpusPath("pdflatex-forms.pdf"));
    const QImage latexDrawn = latex->render(0, 0.5);
    PdfForms::widgets(*latex);
    EXPECT_EQ(latex->render(0, 0.5), latexDrawn);
}

TEST(PdfForms, AFormThatAsksReadersToDrawKeepsItsSizeSaveAfterSave)
{
    // Real forms that ask readers to draw their fields, with one ("salad" in
    // Greek letters) that MuPDF draws otherwise than readers read its value:
    // the request stays, and the field is drawn at the first save alone.
    // Saved four times over itself, with and without what nothing refers to,
    // and written into memory after each save, the file keeps its size, in
    // one session and opened again for each save.
    for (const char* name : {"field-types.pdf", "form-errors.pdf"})
        for (const auto& [collect, reopen] : {std::pair{true, false}, {false, false}, {true, true}, {false, true}}) {
            SCOPED_TRACE(std::string(name) + (collect ? ", collected" : "") + (reopen ? ", opened again" : ""));
            QTemporaryDir dir;
            const QString path = testsupport::writeFile(
                dir, "form.pdf", testsupport::readFile(QString::fromStdString(testsupport::qpdfCorpusPath(name))));
            auto doc = PdfDocument::openFile(path.toStdString());
            platform::PdfSaveOptions options;
            options.garbageCollect = collect;
            std::vector<qint64> saved, copied;
            for (int save = 0; save < 4; ++save) {
                if (reopen && save > 0) doc = PdfDocument::openFile(path.toStdString());
                doc->saveToFile(testsupport::chosen(path.toStdString()), options);
                saved.push_back(QFileInfo(path).size());
                copied.push_back(doc->save(options).size());
            }
            EXPECT_TRUE(asksToDraw(path));
            // The first session keeps the objects that held the original's
            // stream lengths, which a file written here no longer refers to.
            if (reopen) {
                saved.erase(saved.begin());
                copied.erase(copied.begin());
            }
            // The save's date may make a compressed stream a byte longer or
            // shorter; a field drawn again adds 20 bytes or more a save.
            const auto spread = [](const std::vector<qint64>& sizes) {
                const auto [least, most] = std::minmax_element(sizes.begin(), sizes.end());
                return *most - *least;
            };
            EXPECT_LT(spread(saved), 8) << ::testing::PrintToString(saved);
            EXPECT_LT(spread(copied), 8) << ::testing::PrintToString(copied);
        }
}

// Signed by another program, the LibreOffice form, which asks readers to
// draw its fields and stores empty drawings of them, shows its values as
// poppler does ("Alice" and "Bob"), drawn for the screen alone: a save in
// place writes none of those drawings, nor the fields, into the signed file.
TEST(PdfForms, ASignedFormThatAsksReadersToDrawShowsItsValues)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray bytes = testsupport::signWithPoppler(
        QString::fromStdString(testsupport::corpusPath("libreoffice-form.pdf")), dir.path());
    ASSERT_FALSE(bytes.isEmpty()) << "openssl, certutil, pk12util and pdfsig sign the form";
    const QString original = testsupport::writeFile(dir, "signed-form.pdf", bytes);
    ASSERT_TRUE(testsupport::signaturesValid(original));
    const QString poppler = testsupport::runProgram("pdftotext", {"-q", "-raw", original, "-"});
    ASSERT_TRUE(poppler.contains("Alice") && poppler.contains("Bob")) << poppler.toStdString();

    auto doc = PdfDocument::openFile(original.toStdString());
    ASSERT_TRUE(doc->isSigned());
    const auto fields = PdfForms::widgets(*doc, 0);
    const PdfWidget first = byName(fields, "First Name"), second = byName(fields, "First Name_2");
    EXPECT_EQ(first.value, "Alice");
    EXPECT_EQ(second.value, "Bob");
    const auto shows = [&](const PdfDocument& shown, const char* what) {
        SCOPED_TRACE(what);
        EXPECT_GT(darkPixelsIn(shown, 0, first.rect), 10);
        EXPECT_GT(darkPixelsIn(shown, 0, second.rect), 10);
        EXPECT_EQ(darkPixelsIn(shown, 0, byName(fields, "Last Name").rect), 0); // no value, nothing drawn
        const QString text = QString::fromStdString(shown.displayList(0)->textPage().text());
        EXPECT_TRUE(text.contains("Alice")) << text.toStdString();
        EXPECT_TRUE(text.contains("Bob")) << text.toStdString();
    };
    shows(*doc, "opened");
    EXPECT_EQ(PdfForms::widgets(*doc, 0), fields) << "the values stay as the file holds them";

    // A save in place leaves the signed bytes and the fields as they were,
    // and the window still shows the values.
    const QString path = testsupport::writeFile(dir, "saved.pdf", bytes);
    doc->saveToFile(testsupport::chosen(path.toStdString()));
    const QByteArray saved = testsupport::readFile(path);
    EXPECT_TRUE(saved.startsWith(bytes));
    EXPECT_TRUE(testsupport::signaturesValid(path));
    const QString update = QString::fromLatin1(saved.mid(bytes.size()));
    for (const int object : {first.objectNumber, second.objectNumber})
        EXPECT_FALSE(update.contains(QRegularExpression(QStringLiteral("(^|\\s)%1 0 obj").arg(object))))
            << "field " << object << " written anew in the signed file";
    shows(*doc, "saved");
    shows(*PdfDocument::openFile(path.toStdString()), "reopened");
}

TEST(PdfForms, SurvivesDamagedFormStructures)
{
    // Widgets whose parents point at each other, a field array that is not an
    // array and a rectangle that is not one: read without hanging or crashing.
    const std::vector<std::string> extra = {
        "<< /Type /Annot /Subtype /Widget /FT /Tx /T (a) /Parent 5 0 R /Rect [72 700 272 720] >>",
        "<< /T (b) /Parent 4 0 R /Kids [4 0 R] >>",
        "<< /Type /Annot /Subtype /Widget /FT /Btn /T (box) /Rect (nonsense) /AS /On >>",
    };
    auto doc = PdfDocument::openBytes(makeFormPdf("4 0 R 6 0 R 9 0 R", extra, "<< /Fields 12 >>"));
    EXPECT_FALSE(PdfForms::declaresFields(*doc));
    std::vector<PdfWidget> widgets;
    try {
        widgets = PdfForms::widgets(*doc, 0);
    } catch (const PdfError&) {
        // Refusing a damaged page is sound; hanging or crashing is not.
    }
    for (const auto& w : widgets) EXPECT_GE(w.objectNumber, 4);

    // An empty field array declares nothing.
    auto empty = PdfDocument::openBytes(makeFormPdf("", {}, "<< /Fields [] >>"));
    EXPECT_FALSE(PdfForms::declaresFields(*empty));
}

TEST(PdfForms, ACheckBoxWithoutAppearanceChangesValueAndLookTogether)
{
    const std::vector<std::string> extra = {
        "<< /Type /Annot /Subtype /Widget /FT /Btn /T (agree) /V /Off /Rect [72 700 92 720] /P 3 0 R"
        " /MK << /CA (4) >> /DA (/ZaDb 0 Tf 0 g) >>",
    };
    auto doc = PdfDocument::openBytes(makeFormPdf("4 0 R", extra, "<< /Fields [4 0 R] /DA (/Helv 0 Tf 0 g) >>"));
    ASSERT_EQ(PdfForms::widget(*doc, 0, 4)->state, 0);
    // A click reports the change it made, and the saved file agrees with the screen.
    for (const int expected : {1, 0, 1}) {
        SCOPED_TRACE(expected);
        EXPECT_TRUE(PdfForms::toggle(*doc, 0, 4));
        auto saved = PdfDocument::openBytes(doc->save());
        const PdfWidget box = *PdfForms::widget(*saved, 0, 4);
        EXPECT_EQ(box.state, expected);
        EXPECT_EQ(box.value, std::optional<std::string>(expected ? box.onState : "Off"));
    }
}

TEST(PdfForms, TypingLandsInTheWidgetTypedInto)
{
    // A field with two widgets; the first carries a stale value of its own.
    const std::vector<std::string> extra = {
        "<< /FT /Tx /T (name) /V (Field value) /Kids [5 0 R 6 0 R] /DA (/Helv 12 Tf 0 g) >>",
        "<< /Type /Annot /Subtype /Widget /Parent 4 0 R /V (Stale) /Rect [72 700 272 720] /P 3 0 R >>",
        "<< /Type /Annot /Subtype /Widget /Parent 4 0 R /Rect [72 600 272 620] /P 3 0 R >>",
    };
    auto doc = PdfDocument::openBytes(makeFormPdf("5 0 R 6 0 R", extra, "<< /Fields [4 0 R] /DA (/Helv 0 Tf 0 g) >>"));
    ASSERT_TRUE(PdfForms::setText(*doc, 0, 5, "Typed words"));
    auto saved = PdfDocument::openBytes(doc->save());
    for (const int number : {5, 6}) {
        SCOPED_TRACE(number);
        const PdfWidget widget = *PdfForms::widget(*saved, 0, number);
        EXPECT_EQ(widget.value, std::optional<std::string>("Typed words"));
    }
    // The widget typed into shows the words on the page, as another reader sees it.
    QTemporaryDir dir;
    const QString path = dir.filePath("form.pdf");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(doc->save());
    file.close();
    QProcess pdftotext;
    // The first widget's box, in pdftotext's top-left pixels at 72 dpi.
    pdftotext.start("pdftotext", {"-x", "72", "-y", "72", "-W", "200", "-H", "20", path, "-"});
    ASSERT_TRUE(pdftotext.waitForFinished(30000));
    EXPECT_EQ(pdftotext.readAllStandardOutput().trimmed(), QByteArray("Typed words"));
}

namespace {

// A form with a password field "secret" holding "This should be hidden" and a
// text field "plain" showing "Visible words". The password's stored drawing
// shows `drawn` (none when empty); with `kids` the value is the parent
// field's and it has a second widget below, drawn the same; with `request`
// the form asks readers to draw its fields.
QByteArray makePasswordForm(const std::string& drawn, bool request, bool kids = false)
{
    using testsupport::pdfStream;
    const std::string look = drawn.empty() ? "" : " /AP << /N 8 0 R >>";
    const std::string widget = "/Type /Annot /Subtype /Widget /F 4 /P 3 0 R" + look;
    std::vector<std::string> objects = {
        kids ? "<< " + widget + " /Parent 9 0 R /Rect [72 700 372 720] >>"
             : "<< " + widget
                   + " /FT /Tx /Ff 8192 /T (secret) /V (This should be hidden) /DA (/Helv 12 Tf 0 g)"
                     " /Rect [72 700 372 720] >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Type /Annot /Subtype /Widget /FT /Tx /T (plain) /V (Visible words) /DA (/Helv 12 Tf 0 g)"
        " /Rect [72 650 372 670] /F 4 /P 3 0 R /AP << /N 7 0 R >> >>",
        pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 300 20] /Resources << /Font << /Helv 5 0 R >> >>",
                  "/Tx BMC q BT /Helv 12 Tf 0 g 2 6 Td (Visible words) Tj ET Q EMC"),
        pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 300 20] /Resources << /Font << /Helv 5 0 R >> >>",
                  "/Tx BMC q BT /Helv 12 Tf 0 g 2 6 Td (" + drawn + ") Tj ET Q EMC"),
    };
    std::string annots = "4 0 R 6 0 R";
    std::string fields = "4 0 R 6 0 R";
    if (kids) {
        objects.push_back("<< /FT /Tx /Ff 8192 /T (secret) /V (This should be hidden) /DA (/Helv 12 Tf 0 g)"
                          " /Kids [4 0 R 10 0 R] >>");
        objects.push_back("<< " + widget + " /Parent 9 0 R /Rect [72 600 372 620] >>");
        annots += " 10 0 R";
        fields = "9 0 R 6 0 R";
    }
    return makeFormPdf(annots, objects,
                       "<< /Fields [" + fields + "]" + (request ? " /NeedAppearances true" : "")
                           + " /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv 5 0 R >> >> >>");
}

// Whether `text` holds `words` as a run of its own: "***" is no part of "*****".
bool holdsRun(const std::string& text, const std::string& words)
{
    static const QRegularExpression runs(QStringLiteral("\\S+"));
    auto it = runs.globalMatch(QString::fromStdString(text));
    while (it.hasNext())
        if (it.next().captured() == QString::fromStdString(words)) return true;
    return false;
}

} // namespace

TEST(PdfForms, APasswordIsDrawnOnlyAsItsMask)
{
    // A password field shows one asterisk a character in ravlen, as poppler
    // draws it, and in the file a save writes; its value stays as it was.
    const std::string secret = "This should be hidden";
    const std::string stars(secret.size(), '*');
    struct Case {
        const char* name;
        QByteArray form;
    } cases[] = {
        {"a stored mask, the form asking readers to draw", makePasswordForm(stars, true)},
        {"a stored mask", makePasswordForm(stars, false)},
        {"no drawing", makePasswordForm("", false)},
        {"no drawing, the form asking readers to draw", makePasswordForm("", true)},
        {"a drawing that shows the password", makePasswordForm(secret, false)},
        {"two widgets drawn with the password, the value their field's", makePasswordForm(secret, true, true)},
    };
    for (const Case& c : cases) {
        for (const bool typed : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (typed ? ", typed over" : ", unchanged"));
            QTemporaryDir dir;
            const QString original = testsupport::writeFile(dir, "form.pdf", c.form);
            auto doc = PdfDocument::openFile(original.toStdString());
            PdfWidget field = byName(PdfForms::widgets(*doc, 0), "secret");
            EXPECT_TRUE(field.password);
            EXPECT_FALSE(byName(PdfForms::widgets(*doc, 0), "plain").password);
            std::string value = secret;
            if (typed) {
                value = "Open sesame";
                ASSERT_TRUE(PdfForms::setText(*doc, 0, field.objectNumber, value));
            }
            const std::string mask(value.size(), '*');
            // The page as ravlen draws it.
            const std::string shown = doc->displayList(0)->textPage().text();
            EXPECT_EQ(shown.find(value), std::string::npos) << shown;
            EXPECT_TRUE(holdsRun(shown, mask)) << shown;

            const QString saved = dir.filePath("saved.pdf");
            doc->saveToFile(testsupport::chosen(saved.toStdString()));
            const std::string words = testsupport::runProgram("pdftotext", {"-q", saved, "-"}).toStdString();
            EXPECT_EQ(words.find(value), std::string::npos) << words;
            EXPECT_EQ(words.find("hidden"), std::string::npos) << words;
            EXPECT_TRUE(holdsRun(words, mask)) << words;
            EXPECT_NE(words.find("Visible words"), std::string::npos) << words;

            // MuPDF's own reading of the saved file, as ravlen shows it when opened again.
            const std::string drawn =
                testsupport::runProgram("mutool", {"draw", "-q", "-F", "txt", saved}).toStdString();
            EXPECT_EQ(drawn.find(value), std::string::npos) << drawn;
            EXPECT_TRUE(holdsRun(drawn, mask)) << drawn;
            auto reopened = PdfDocument::openFile(saved.toStdString());
            EXPECT_EQ(byName(PdfForms::widgets(*reopened, 0), "secret").value, value);
        }
    }
}
