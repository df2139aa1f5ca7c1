#include "ui/CurveEditorView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <cmath>

#include "WidgetsTestApp.h"

namespace pellora::test {
namespace {

// At 528×240 the plot runs from x 34 to 512 (478 wide) and from y 218 up to 14 (204 high):
// luma 127.5 and brightness 50 sit at (273, 116).
constexpr CurvePoint kMiddle{127.5, 50};
const QPoint kMiddleAt(273, 116);

struct CurveEditor : ::testing::Test {
    QApplication& app = widgetsApp();
    CurveEditorView view;
    QStringList calls;

    CurveEditor() {
        view.resize(528, 240);
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
        const auto point = [](CurvePoint p) {
            return QString::number(p.luma) + "," + QString::number(p.brightness);
        };
        view.onAddAnchor = [this, point](CurvePoint p) { calls << "add " + point(p); };
        view.onDragAnchor = [this, point](std::int64_t i, CurvePoint p) {
            calls << QString("drag %1 ").arg(i) + point(p);
        };
        view.onCommitAnchor = [this, point](std::int64_t i, CurvePoint p) {
            calls << QString("commit %1 ").arg(i) + point(p) + (view.dragIndex() ? " in drag" : "");
        };
        view.onRemoveAnchor = [this](std::int64_t i) { calls << QString("remove %1").arg(i); };
    }

    // A move with the left button held, which QTest::mouseMove does not carry everywhere.
    void dragTo(QPoint to) {
        QMouseEvent move(QEvent::MouseMove, QPointF(to), QPointF(view.mapToGlobal(to)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &move);
    }
};

TEST_F(CurveEditor, ClicksOnEmptySpaceAddWhateverTheModifiers) {
    for (Qt::KeyboardModifiers modifiers : {Qt::NoModifier, Qt::AltModifier}) {
        QTest::mouseClick(&view, Qt::LeftButton, modifiers, kMiddleAt);
        QTest::mouseClick(&view, Qt::LeftButton, modifiers, QPoint(34, 218));
    }
    EXPECT_EQ(calls.join(" ; "), "add 127.5,50 ; add 0,0 ; add 127.5,50 ; add 0,0");
    EXPECT_FALSE(view.dragIndex());
}

TEST_F(CurveEditor, DragsPinToThePlotEdgesAndCommitOnRelease) {
    const std::pair<QPoint, const char*> cases[] = {
        {{-50, 116}, "0,50"},      {{600, 116}, "255,50"}, {{273, 300}, "127.5,0"},
        {{273, -20}, "127.5,100"}, {{512, 14}, "255,100"},
    };
    for (const auto& [to, expected] : cases) {
        calls.clear();
        view.setAnchors({{10, 10}, kMiddle});
        QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, kMiddleAt);
        EXPECT_EQ(view.dragIndex(), 1);
        dragTo(to);
        QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, to);
        EXPECT_EQ(calls.join(" ; "), QString("drag 1 %1 ; commit 1 %1").arg(expected));
        EXPECT_EQ(view.anchors()[0], (CurvePoint{10, 10}));
        EXPECT_FALSE(view.dragIndex());
    }
}

TEST_F(CurveEditor, AClickWithoutMovingCommitsTheUnchangedPointAndMayReload) {
    view.setAnchors({kMiddle});
    view.onCommitAnchor = [&](std::int64_t i, CurvePoint p) {
        calls << QString("commit %1 %2,%3").arg(i).arg(p.luma).arg(p.brightness);
        // The owner's reload, which it skips while a drag is in progress.
        if (!view.dragIndex()) {
            view.setAnchors({{1, 2}});
        }
    };
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, kMiddleAt);
    EXPECT_EQ(calls.join(" ; "), "commit 0 127.5,50");
    EXPECT_EQ(view.anchors(), (std::vector<CurvePoint>{{1, 2}}));
}

TEST_F(CurveEditor, AltClickOnAnAnchorRemovesItWithoutDragging) {
    view.setAnchors({{10, 10}, kMiddle});
    QTest::mousePress(&view, Qt::LeftButton, Qt::AltModifier, kMiddleAt);
    EXPECT_FALSE(view.dragIndex());
    dragTo({300, 100});
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::AltModifier, {300, 100});
    EXPECT_EQ(calls.join(" ; "), "remove 1");
    EXPECT_EQ(view.anchors()[1], kMiddle);
}

TEST_F(CurveEditor, DeleteOrBackspaceRemovesTheSelectedAnchorOnce) {
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    for (Qt::Key key : {Qt::Key_Delete, Qt::Key_Backspace}) {
        calls.clear();
        view.setAnchors({{10, 10}, kMiddle});
        QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, kMiddleAt);
        EXPECT_EQ(view.selectedIndex(), 1);
        EXPECT_TRUE(view.hasFocus());
        QTest::keyClick(&view, key);
        QTest::keyClick(&view, key);
        EXPECT_EQ(calls.join(" ; "), "commit 1 127.5,50 ; remove 1");
        EXPECT_FALSE(view.selectedIndex());
    }
}

TEST_F(CurveEditor, AReloadKeepsTheSelectionOnlyOnTheSamePoint) {
    const std::pair<std::vector<CurvePoint>, bool> reloads[] = {
        {{{10, 10}, kMiddle, {200, 90}}, true},
        {{{10, 10}}, false},           // index gone
        {{kMiddle, {10, 10}}, false},  // another point at the index
    };
    for (const auto& [anchors, kept] : reloads) {
        view.setAnchors({{10, 10}, kMiddle});
        QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, kMiddleAt);
        view.setAnchors(anchors);
        EXPECT_EQ(view.selectedIndex().has_value(), kept);
    }
    calls.clear();
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_TRUE(calls.isEmpty());
}

TEST_F(CurveEditor, HitsReachExactlyTwelvePoints) {
    view.setAnchors({kMiddle});
    const std::pair<QPointF, bool> probes[] = {
        {{12, 0}, true},     {{0, -12}, true},    {{-12, 0}, true},
        {{12.01, 0}, false}, {{0, 12.01}, false}, {{9, 9}, false},  // 12.73 away
    };
    for (const auto& [offset, hit] : probes) {
        EXPECT_EQ(view.hitIndex(QPointF(kMiddleAt) + offset).has_value(), hit)
            << offset.x() << "," << offset.y();
    }
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, kMiddleAt + QPoint(0, 12));
    EXPECT_EQ(view.dragIndex(), 0);
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, kMiddleAt + QPoint(0, 12));
    calls.clear();
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, kMiddleAt + QPoint(13, 0));
    EXPECT_EQ(calls.size(), 1);
    EXPECT_TRUE(calls.value(0).startsWith("add "));
}

TEST_F(CurveEditor, TheEarlierOfTwoAnchorsInReachIsTaken) {
    // The second anchor sits right under the click, the first 8 points to its right.
    view.setAnchors({{127.5 + 8 * 255 / 478.0, 50}, kMiddle});
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, kMiddleAt);
    EXPECT_EQ(view.dragIndex(), 0);
}

TEST_F(CurveEditor, AnchorsShrinkingUnderADragEndItQuietly) {
    view.setAnchors({{10, 10}, kMiddle});
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, kMiddleAt);
    view.setAnchors({{10, 10}});
    dragTo({300, 100});
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, {300, 100});
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(view.anchors(), (std::vector<CurvePoint>{{10, 10}}));
    EXPECT_FALSE(view.dragIndex());
}

TEST_F(CurveEditor, AViewSmallerThanItsMarginsStillMaps) {
    view.resize(20, 20);
    // Both spans are below 1, so the divisor is 1: a point off by one and a half unit maps to
    // half of the scale.
    const CurvePoint middle = view.curvePoint({34.5, 20 - 22.5});
    EXPECT_EQ(middle, kMiddle);
    EXPECT_EQ(view.curvePoint({0, 0}), (CurvePoint{0, 0}));
    EXPECT_EQ(view.curvePoint({40, -10}), (CurvePoint{255, 100}));
    view.setAnchors({kMiddle});
    EXPECT_TRUE(std::isfinite(view.viewPoint(kMiddle).x()));
    view.grab();
}

TEST_F(CurveEditor, TheLiveMarkerShowsOnlyWithAReading) {
    // Luma 0 puts the marker on the plot's left edge, the dot for brightness 50 at (34, 116).
    const std::pair<double, bool> readings[] = {{-1, false}, {0, true}};
    for (const auto& [luma, shown] : readings) {
        view.setCurrentLuma(luma);
        view.setLivePrediction(50);
        const QColor dot = view.grab().toImage().pixelColor(34, 116);
        EXPECT_EQ(dot.blue() > dot.green() + 60, shown) << luma << " " << dot.name().toStdString();
    }
}

}  // namespace
}  // namespace pellora::test
