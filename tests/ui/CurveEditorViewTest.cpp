#include "ui/CurveEditorView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <functional>
#include <optional>

#include "WidgetsTestApp.h"

namespace pellora::test {
namespace {

// At 528×240 the plot runs from x 34 to 512 (478 wide) and from y 218 up to 14 (204 high):
// luma 127.5 and brightness 50 sit at (273, 116).
constexpr CurvePoint kMiddle{127.5, 50};
const QPoint kMiddleAt(273, 116);
// Eight points right of the middle.
constexpr CurvePoint kNearMiddle{127.5 + 8 * 255 / 478.0, 50};

struct CurveEditor : ::testing::Test {
    QApplication& app = widgetsApp();
    CurveEditorView view;
    QStringList calls;
    CurveEditor() {
        view.resize(528, 240);
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
        const auto text = [](CurvePoint p) {
            return QString("%1,%2").arg(p.luma).arg(p.brightness);
        };
        view.onAddAnchor = [=, this](CurvePoint p) { calls << "add " + text(p); };
        view.onDragAnchor = [=, this](std::int64_t i, CurvePoint p) {
            calls << QString("drag %1 ").arg(i) + text(p);
        };
        // The owner reloads from inside a commit only when no drag is in progress.
        view.onCommitAnchor = [=, this](std::int64_t i, CurvePoint p) {
            calls << QString("commit %1 ").arg(i) + text(p) + (view.dragIndex() ? " in drag" : "");
        };
        view.onRemoveAnchor = [this](std::int64_t i) { calls << QString("remove %1").arg(i); };
    }

    // Press, an optional move with the left button held, and release where the pointer is.
    void gesture(
        QPoint at, Qt::KeyboardModifiers modifiers, std::optional<QPoint> to = {},
        const std::function<void()>& afterPress = [] {}) {
        QTest::mousePress(&view, Qt::LeftButton, modifiers, at);
        afterPress();
        if (to) {
            moveHeld(view, *to, modifiers);
        }
        QTest::mouseRelease(&view, Qt::LeftButton, modifiers, to.value_or(at));
    }
};

TEST_F(CurveEditor, GesturesReportTheirCallbacks) {
    const std::vector<CurvePoint> none, two{{10, 10}, kMiddle};
    const Qt::KeyboardModifiers plain = Qt::NoModifier, alt = Qt::AltModifier;
    const std::tuple<std::vector<CurvePoint>, QPoint, Qt::KeyboardModifiers, std::optional<QPoint>,
                     const char*>
        cases[] = {
            {none, kMiddleAt, plain, {}, "add 127.5,50"},
            {two, {34, 218}, alt, {}, "add 0,0"},  // Alt matters only on an anchor
            {two, kMiddleAt, plain, QPoint(-50, 116), "drag 1 0,50 ; commit 1 0,50"},
            {two, kMiddleAt, plain, QPoint(273, -20), "drag 1 127.5,100 ; commit 1 127.5,100"},
            // An anchor is in reach up to 12 points away, on a circle.
            {two, kMiddleAt + QPoint(0, 12), plain, {}, "commit 1 127.5,50"},
            {two, kMiddleAt + QPoint(9, 9), plain, {}, "add 132.301,45.5882"},  // 12.73 away
            {two, kMiddleAt, alt, QPoint(300, 100), "remove 1"},
            // Both within reach: the earlier one, though the later one is under the pointer.
            {{kNearMiddle, kMiddle},
             kMiddleAt,
             plain,
             QPoint(-50, 116),
             "drag 0 0,50 ; commit 0 0,50"},
        };
    for (const auto& [anchors, at, modifiers, to, expected] : cases) {
        calls.clear();
        view.setAnchors(anchors);
        gesture(at, modifiers, to);
        EXPECT_EQ(calls.join(" ; "), expected);
        EXPECT_FALSE(view.dragIndex());
    }
    // A view smaller than its margins still maps: both spans are below 1, so the divisor is 1,
    // and half a point past the plot's corner is half of each scale.
    view.resize(20, 20);
    EXPECT_EQ(view.curvePoint({34.5, 20 - 22.5}), kMiddle);
    EXPECT_EQ(view.curvePoint({40, -10}), (CurvePoint{255, 100}));
}

TEST_F(CurveEditor, DeleteRemovesTheSelectedAnchorWhileItStillStandsThere) {
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    // Reloads after the selecting click: the same point at the same index keeps it.
    const std::pair<std::vector<CurvePoint>, const char*> cases[] = {
        {{{10, 10}, kMiddle, {200, 90}}, "remove 1"}, {{{10, 10}}, ""}, {{kMiddle, {10, 10}}, ""}};
    for (const auto& [reload, expected] : cases) {
        view.setAnchors({{10, 10}, kMiddle});
        gesture(kMiddleAt, Qt::NoModifier);
        ASSERT_TRUE(view.hasFocus());
        view.setAnchors(reload);
        calls.clear();
        QTest::keyClick(&view, Qt::Key_Delete);
        QTest::keyClick(&view, Qt::Key_Delete);
        EXPECT_EQ(calls.join(" ; "), expected);
        EXPECT_FALSE(view.selectedIndex());
    }
}

// Without a mouse: Tab reaches the view, Left and Right pick a point (from none, the last or
// the first), Up and Down move it as a drag released there would, Delete removes it.
TEST_F(CurveEditor, TheKeyboardPicksMovesAndRemovesAnchors) {
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    EXPECT_TRUE(view.focusPolicy() & Qt::TabFocus);
    view.setAnchors({{10, 10}, kMiddle, {200, 100}});
    view.setFocus();
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Left, Qt::Key_Up}) {
        QTest::keyClick(&view, key);
    }
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_EQ(calls.join(" ; "), "commit 1 127.5,51 ; commit 1 127.5,41 ; remove 1");
}

TEST_F(CurveEditor, AnchorsShrinkingUnderADragEndItQuietly) {
    view.setAnchors({{10, 10}, kMiddle});
    gesture(kMiddleAt, Qt::NoModifier, QPoint(300, 100), [&] { view.setAnchors({{10, 10}}); });
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(view.anchors(), (std::vector<CurvePoint>{{10, 10}}));
}

TEST_F(CurveEditor, TheLiveMarkerShowsOnlyWithAReading) {
    // Luma 0 puts the marker on the plot's left edge, the dot for brightness 50 at (34, 116).
    for (const auto& [luma, shown] : {std::pair{-1.0, false}, std::pair{0.0, true}}) {
        view.setCurrentLuma(luma);
        view.setLivePrediction(50);
        const QColor dot = view.grab().toImage().pixelColor(34, 116);
        EXPECT_EQ(dot.blue() > dot.green() + 60, shown) << luma << " " << dot.name().toStdString();
    }
}

}  // namespace
}  // namespace pellora::test
