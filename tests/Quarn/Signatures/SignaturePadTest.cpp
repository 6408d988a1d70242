// The signature pad: strokes in the pad's y-up space, pinned inside its
// edges, and Qt's event compression off only while a stroke is drawn.
#include "Quarn/Signatures/SignaturePad.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

using namespace quarn;
using platform::PdfPoint;

namespace {

struct ShownPad {
    SignaturePad pad;
    ShownPad()
    {
        pad.resize(400, 190);
        pad.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&pad));
    }
    void stroke(const std::vector<QPoint>& points)
    {
        QTest::mousePress(&pad, Qt::LeftButton, Qt::NoModifier, points.front());
        for (size_t i = 1; i < points.size(); ++i) QTest::mouseMove(&pad, points[i]);
        QTest::mouseRelease(&pad, Qt::LeftButton, Qt::NoModifier, points.back());
    }
};

bool compressing()
{
    return QCoreApplication::testAttribute(Qt::AA_CompressHighFrequencyEvents)
           || QCoreApplication::testAttribute(Qt::AA_CompressTabletEvents);
}

void setCompression(bool on)
{
    QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, on);
    QCoreApplication::setAttribute(Qt::AA_CompressTabletEvents, on);
}

} // namespace

TEST(SignaturePadTest, StrokesArriveInUpwardPadSpacePinnedInsideTheEdges)
{
    ShownPad p;
    QSignalSpy finished(&p.pad, &SignaturePad::strokeFinished);
    p.stroke({{20, 170}, {60, 150}, {500, -40}}); // the last point lies far outside
    ASSERT_EQ(finished.count(), 1);
    const quarnkit::InkStrokes strokes = p.pad.strokes();
    ASSERT_EQ(strokes.size(), 1u);
    ASSERT_EQ(strokes[0].size(), 3u);
    EXPECT_EQ(strokes[0][0], (PdfPoint{20, 20})); // 190 - 170: y grows upwards
    EXPECT_EQ(strokes[0][1], (PdfPoint{60, 40}));
    EXPECT_EQ(strokes[0][2], (PdfPoint{400 - 2.4, 190 - 2.4}));
}

TEST(SignaturePadTest, AClickIsADotAndTinyMovesAddNothing)
{
    ShownPad p;
    p.stroke({{100, 100}});
    QTest::mousePress(&p.pad, Qt::LeftButton, Qt::NoModifier, {200, 100});
    QTest::mouseMove(&p.pad, {200, 100}); // not 0.4 points away
    QTest::mouseRelease(&p.pad, Qt::LeftButton, Qt::NoModifier, {200, 100});
    ASSERT_EQ(p.pad.strokes().size(), 2u);
    EXPECT_EQ(p.pad.strokes()[0].size(), 1u);
    EXPECT_EQ(p.pad.strokes()[1].size(), 1u);
    // The dot shows: smoothing makes a short line of it.
    EXPECT_GT(p.pad.path(p.pad.strokes()[0]).elementCount(), 1);
}

TEST(SignaturePadTest, EventCompressionIsOffOnlyWhileAStrokeIsDrawn)
{
    for (const bool before : {true, false}) {
        SCOPED_TRACE(before);
        setCompression(before);
        ShownPad p;
        QTest::mousePress(&p.pad, Qt::LeftButton, Qt::NoModifier, {10, 10});
        EXPECT_FALSE(compressing());
        QTest::mouseMove(&p.pad, {50, 50});
        EXPECT_FALSE(compressing());
        QTest::mouseRelease(&p.pad, Qt::LeftButton, Qt::NoModifier, {50, 50});
        EXPECT_EQ(QCoreApplication::testAttribute(Qt::AA_CompressHighFrequencyEvents), before);
        EXPECT_EQ(QCoreApplication::testAttribute(Qt::AA_CompressTabletEvents), before);

        // The pad closing in mid-stroke puts the settings back and drops the stroke.
        QTest::mousePress(&p.pad, Qt::LeftButton, Qt::NoModifier, {10, 10});
        EXPECT_FALSE(compressing());
        p.pad.hide();
        EXPECT_EQ(QCoreApplication::testAttribute(Qt::AA_CompressHighFrequencyEvents), before);
        EXPECT_FALSE(p.pad.isDrawing());
        EXPECT_EQ(p.pad.strokes().size(), 1u);
    }
    setCompression(true);
}

TEST(SignaturePadTest, StrokesSetFromOutsideReplaceThePadsOwn)
{
    ShownPad p;
    p.stroke({{10, 10}, {80, 40}});
    p.pad.setStrokes({});
    EXPECT_TRUE(p.pad.strokes().empty());
    const quarnkit::InkStrokes two{{{10, 10}, {20, 20}}, {{30, 30}}};
    p.pad.setStrokes(two);
    EXPECT_EQ(p.pad.strokes(), two);
}
