#include "QuarnKit/Explore/ExploreModel.h"

#include "QuarnKit/Explore/ExploreRanking.h"

#include "Platform/UserDefaults.h"
#include "QuarnKit/History/LibraryTexts.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

using namespace quarnkit;
using testsupport::waitFor;

namespace {

// Records what the model asks and answers when the test says so.
class StandInSource : public ExploreSource {
public:
    struct Start {
        ExploreRequest request;
        qint64 at; // ms since the test's clock started
    };
    explicit StandInSource(const QElapsedTimer& clock) : clock_(clock) {}

    void start(const ExploreRequest& request, Update onUpdate) override
    {
        starts.push_back({request, clock_.elapsed()});
        update = std::move(onUpdate);
    }
    void stop() override { ++stops; }
    void probe(Answer answer) override { probes.push_back(std::move(answer)); }

    std::vector<Start> starts;
    Update update;
    std::vector<Answer> probes;
    int stops = 0;

private:
    const QElapsedTimer& clock_;
};

struct ExploreModelTest : ::testing::Test {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath("defaults.json")};
    QElapsedTimer clock;
    StandInSource* source = nullptr;

    std::unique_ptr<ExploreModel> make(bool remembers = false)
    {
        clock.start();
        auto standIn = std::make_unique<StandInSource>(clock);
        source = standIn.get();
        return std::make_unique<ExploreModel>(std::move(standIn), remembers, defaults);
    }
};

ExploreItem item(const char* name) { return ExploreItem::make(QString("/h/") + name); }

} // namespace

TEST_F(ExploreModelTest, TypingSearchesOnceTheUserPauses)
{
    auto model = make();
    model->setText("late"); // before activation: searched when activated
    EXPECT_TRUE(source->starts.empty());
    model->activate();
    ASSERT_EQ(source->starts.size(), 1u);
    EXPECT_EQ(source->starts[0].request.text, "late");

    const qint64 typed = clock.elapsed();
    for (const char* text : {"t", "ta", "tax"}) model->setText(text);
    EXPECT_EQ(source->starts.size(), 1u);
    ASSERT_TRUE(waitFor([&] { return source->starts.size() == 2; }));
    EXPECT_EQ(source->starts[1].request.text, "tax");
    EXPECT_GE(source->starts[1].at - typed, ExploreModel::typingDelayMs * 9 / 10);

    // A choice made while typing waits for nothing and takes the text along:
    // searched on the next turn, before a timer started after it fires.
    model->setText("taxes");
    model->setSort(ExploreSort::size);
    size_t startsOnTheNextTurn = 0;
    QTimer next;
    next.setSingleShot(true);
    QObject::connect(&next, &QTimer::timeout, [&] { startsOnTheNextTurn = source->starts.size(); });
    next.start(0);
    ASSERT_TRUE(waitFor([&] { return startsOnTheNextTurn > 0; }));
    ASSERT_EQ(startsOnTheNextTurn, 3u);
    EXPECT_EQ(source->starts[2].request,
              (ExploreRequest{"taxes", ExploreMode::names, ExploreLocation::all, ExploreSort::size}));
    // The same value again is no change.
    model->setSort(ExploreSort::size);
    model->setText("taxes");
    QElapsedTimer quiet;
    quiet.start();
    waitFor([&] { return quiet.elapsed() > 2 * ExploreModel::typingDelayMs; }, 1000);
    EXPECT_EQ(source->starts.size(), 3u);
}

TEST_F(ExploreModelTest, ChoicesAreRememberedOnlyWhenAsked)
{
    for (bool remembers : {true, false}) {
        defaults.remove(ExploreModel::modeKey);
        defaults.set(ExploreModel::sortKey, "bySize");
        defaults.set(ExploreModel::locationKey, "documents");
        auto model = make(remembers);
        EXPECT_EQ(model->sort(), ExploreSort::lastOpened);
        EXPECT_EQ(model->location(), remembers ? ExploreLocation::documents : ExploreLocation::all);
        model->setLocation(ExploreLocation::desktop);
        EXPECT_EQ(defaults.stringValue(ExploreModel::locationKey), remembers ? "desktop" : "documents");
        EXPECT_EQ(defaults.stringValue(ExploreModel::modeKey),
                  remembers ? std::optional<std::string>("names") : std::nullopt);
        EXPECT_EQ(defaults.stringValue(ExploreModel::sortKey), remembers ? "lastOpened" : "bySize");
    }
}

TEST_F(ExploreModelTest, ResultsStatusAndLines)
{
    auto model = make();
    EXPECT_EQ(model->status(), ExploreModel::Status::idle);
    model->activate();
    EXPECT_EQ(model->summaryLine(), "Recently opened");
    model->setText("report");
    ASSERT_TRUE(waitFor([&] { return source->starts.size() == 2; }));
    auto update = source->update;
    update({{}, 0, false, false});
    EXPECT_EQ(model->summaryLine(), "Searching…");
    update({{item("a.pdf")}, 1, false, false});
    EXPECT_EQ(model->status(), ExploreModel::Status::searching);
    update({{item("a.pdf"), item("b.pdf")}, 400, true, false});
    EXPECT_EQ(model->status(), ExploreModel::Status::ready);
    EXPECT_EQ(model->items().size(), 2u);
    EXPECT_EQ(model->summaryLine(), LibraryFormat::pdfCount(400, QLocale()));
    EXPECT_EQ(model->overflowLine(), ExploreSummary::overflow(2, 400, QLocale()));

    // A new search keeps the old results on show until its own arrive.
    model->setMode(ExploreMode::contents);
    ASSERT_TRUE(waitFor([&] { return source->starts.size() == 3; }));
    EXPECT_EQ(model->status(), ExploreModel::Status::searching);
    EXPECT_FALSE(model->finished());
    EXPECT_EQ(model->items().size(), 2u);
    EXPECT_EQ(model->summaryLine(), LibraryFormat::pdfCount(400, QLocale()));
    source->update(ExploreSnapshot::failed());
    EXPECT_EQ(model->status(), ExploreModel::Status::unavailable);
    EXPECT_TRUE(model->items().empty());
    EXPECT_EQ(model->summaryLine(), "");

    // After deactivation what was on its way is ignored.
    const int stops = source->stops;
    model->deactivate();
    EXPECT_GT(source->stops, stops);
    source->update({{item("late.pdf")}, 1, true, false});
    EXPECT_TRUE(model->items().empty());
}

TEST_F(ExploreModelTest, TheIndexIsAskedWhetherItHoldsAnyPdfUntilItDoes)
{
    auto model = make();
    model->activate();
    int changes = 0;
    QObject::connect(model.get(), &ExploreModel::indexHasPDFsChanged, [&] { ++changes; });
    // Two empty results before the first answer: one question.
    source->update({{}, 0, true, false});
    source->update({{}, 0, true, false});
    ASSERT_EQ(source->probes.size(), 1u);
    source->probes[0](false);
    EXPECT_EQ(model->indexHasPDFs(), false);
    EXPECT_EQ(changes, 1);
    // The index fills in the background: a later empty search asks again.
    model->setText("again");
    ASSERT_TRUE(waitFor([&] { return source->starts.size() == 2; }));
    source->update({{}, 0, true, false});
    ASSERT_EQ(source->probes.size(), 2u);
    source->probes[1](true);
    EXPECT_EQ(model->indexHasPDFs(), true);
    EXPECT_EQ(changes, 2);
    // Once it holds PDFs, an empty search asks nothing.
    model->setText("once more");
    ASSERT_TRUE(waitFor([&] { return source->starts.size() == 3; }));
    source->update({{}, 0, true, false});
    EXPECT_EQ(source->probes.size(), 2u);
    // Results not yet complete never ask.
    auto other = make();
    other->activate();
    source->update({{}, 0, false, false});
    EXPECT_TRUE(source->probes.empty());
}
