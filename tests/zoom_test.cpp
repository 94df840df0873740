#include "render/geometry/zoom.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "render/geometry/fit_geometry.h"

namespace {

constexpr CursorPos kCentre{400, 300};
constexpr float kAlmostOne = 1.0000002f;

ZoomState zoomedBy(int steps, std::optional<CursorPos> cursor = kCentre) {
    ZoomState zoom;
    for (int i = 0; i < steps; ++i)
        zoomIn(zoom, cursor);
    return zoom;
}

void expectPanFromAnchor(const ZoomState& zoom) {
    EXPECT_FLOAT_EQ(zoom.panX, -(static_cast<float>(zoom.zoomAnchorX) * (zoom.zoomFactor - 1.0f)));
    EXPECT_FLOAT_EQ(zoom.panY, -(static_cast<float>(zoom.zoomAnchorY) * (zoom.zoomFactor - 1.0f)));
}

TEST(ZoomStepsTest, ZoomInClimbsInSinglePrecisionAndClampsOnTheNinetyFifthStep) {
    ZoomState zoom;
    const float expected[] = {1.2f, 1.4000001f, 1.6000001f, 1.8000002f, 2.0000002f};
    for (float factor : expected) {
        zoomIn(zoom, kCentre);
        EXPECT_EQ(zoom.zoomFactor, factor);
    }
    for (int step = 6; step <= 94; ++step)
        zoomIn(zoom, kCentre);
    EXPECT_LT(zoom.zoomFactor, 20.0f);
    zoomIn(zoom, kCentre);
    EXPECT_EQ(zoom.zoomFactor, 20.0f);
    zoomIn(zoom, kCentre);
    EXPECT_EQ(zoom.zoomFactor, 20.0f);
    expectPanFromAnchor(zoom);
}

TEST(ZoomStepsTest, ZoomOutFromTwentyReachesExactlyOneOnTheNinetyFifthStep) {
    ZoomState zoom;
    zoom.zoomFactor = 20.0f;
    for (int step = 1; step <= 94; ++step)
        zoomOut(zoom, kCentre);
    EXPECT_GT(zoom.zoomFactor, 1.0f);
    zoomOut(zoom, kCentre);
    EXPECT_EQ(zoom.zoomFactor, 1.0f);
    EXPECT_EQ(zoom.panX, 0.0f);
    EXPECT_EQ(zoom.panY, 0.0f);
    zoomOut(zoom, kCentre);
    EXPECT_EQ(zoom.zoomFactor, 1.0f);
}

TEST(ZoomStepsTest, TenZoomOutStepsAfterToggleReachOne) {
    ZoomState zoom;
    toggleZoom(zoom, kCentre);
    for (int step = 1; step <= 9; ++step)
        zoomOut(zoom, kCentre);
    EXPECT_GT(zoom.zoomFactor, 1.0f);
    zoomOut(zoom, kCentre);
    EXPECT_EQ(zoom.zoomFactor, 1.0f);
}

// Rounding leaves 1.0000002 after as many steps out as in; it is zoomed for every purpose.
class AlmostOneTest : public ::testing::TestWithParam<int> {
  protected:
    ZoomState roundTrip() const {
        ZoomState zoom = zoomedBy(GetParam(), CursorPos{100, 50});
        for (int i = 0; i < GetParam(); ++i)
            zoomOut(zoom, CursorPos{100, 50});
        return zoom;
    }
};

TEST_P(AlmostOneTest, StaysJustAboveOneAndOneMoreStepEndsIt) {
    ZoomState zoom = roundTrip();
    EXPECT_EQ(zoom.zoomFactor, kAlmostOne);
    zoomOut(zoom, kCentre);
    EXPECT_EQ(zoom.zoomFactor, 1.0f);
}

TEST_P(AlmostOneTest, ZoomInKeepsTheOldAnchor) {
    ZoomState zoom = roundTrip();
    zoomIn(zoom, CursorPos{700, 500});
    EXPECT_EQ(zoom.zoomAnchorX, 100);
    EXPECT_EQ(zoom.zoomAnchorY, 50);
    expectPanFromAnchor(zoom);
}

TEST_P(AlmostOneTest, DragCanStart) {
    ZoomState zoom = roundTrip();
    beginDrag(zoom, CursorPos{7, 8});
    EXPECT_EQ(zoom.isDragging, 1);
    EXPECT_EQ(zoom.dragLastX, 7);
    EXPECT_EQ(zoom.dragLastY, 8);
}

INSTANTIATE_TEST_SUITE_P(Steps, AlmostOneTest, ::testing::Values(36, 37, 60, 93, 94));

TEST(ZoomToggleTest, ToggleAboutTheCentreKeepsThePictureUnderTheCursor) {
    ZoomState zoom;
    toggleZoom(zoom, kCentre);
    EXPECT_EQ(zoom.zoomFactor, 3.0f);
    EXPECT_EQ(zoom.panX, -800.0f);
    EXPECT_EQ(zoom.panY, -600.0f);

    const Fit fit = fitPicture(200, 100, 800, 600);
    const PixelRect before = destinationRect(fit, 1.0f, 0.0f, 0.0f);
    const PixelRect after = destinationRect(fit, zoom.zoomFactor, zoom.panX, zoom.panY);
    EXPECT_EQ(after, (PixelRect{-800, -300, 2400, 1200}));
    // The picture point at (400, 300): its fraction of the drawn picture is the same.
    EXPECT_EQ((400 - before.x) * after.width, (400 - after.x) * before.width);
    EXPECT_EQ((300 - before.y) * after.height, (300 - after.y) * before.height);
}

TEST(ZoomToggleTest, DragMovesPanAndAnchorThenZoomOutRestoresTheRelation) {
    ZoomState zoom;
    toggleZoom(zoom, kCentre);
    beginDrag(zoom, kCentre);
    dragTo(zoom, CursorPos{430, 288});
    EXPECT_EQ(zoom.panX, -770.0f);
    EXPECT_EQ(zoom.panY, -612.0f);
    EXPECT_EQ(zoom.zoomAnchorX, 390);
    EXPECT_EQ(zoom.zoomAnchorY, 304);

    zoomOut(zoom, CursorPos{0, 0});
    EXPECT_EQ(zoom.zoomFactor, 2.8f);
    EXPECT_FLOAT_EQ(zoom.panX, -702.0f);
    EXPECT_FLOAT_EQ(zoom.panY, -547.2f);
    EXPECT_EQ(
        destinationRect(fitPicture(200, 100, 800, 600), zoom.zoomFactor, zoom.panX, zoom.panY).x,
        -702);
}

class ToggleBackTest : public ::testing::TestWithParam<float> {};

TEST_P(ToggleBackTest, AnyZoomedFactorReturnsToFitWithZeroPan) {
    ZoomState zoom;
    zoom.zoomFactor = GetParam();
    zoom.panX = -123.0f;
    zoom.panY = 45.0f;
    toggleZoom(zoom, kCentre);
    EXPECT_EQ(zoom.zoomFactor, 1.0f);
    EXPECT_EQ(zoom.panX, 0.0f);
    EXPECT_EQ(zoom.panY, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Factors, ToggleBackTest, ::testing::Values(3.0f, 20.0f, kAlmostOne));

TEST(ZoomAtOneTest, ZoomInTakesTheCursorAsAnchorOnlyFromOne) {
    ZoomState zoom;
    zoomIn(zoom, CursorPos{100, 50});
    zoomIn(zoom, CursorPos{700, 500});
    EXPECT_EQ(zoom.zoomAnchorX, 100);
    EXPECT_EQ(zoom.zoomAnchorY, 50);
    expectPanFromAnchor(zoom);
}

TEST(ZoomAtOneTest, DragDoesNotStartWhenFitted) {
    ZoomState zoom;
    zoom.dragLastX = 5;
    zoom.dragLastY = 6;
    beginDrag(zoom, kCentre);
    EXPECT_EQ(zoom.isDragging, 0);
    EXPECT_EQ(zoom.dragLastX, 5);
    EXPECT_EQ(zoom.dragLastY, 6);
}

// A cursor that can't be read changes the factor at most; every position keeps its old value.
struct NoCursorCase {
    const char* name;
    std::function<void(ZoomState&)> operation;
    float factor;
    int32_t isDragging;
};

const NoCursorCase kNoCursorCases[] = {
    {"ZoomInKeepsPanAndAnchor", [](ZoomState& z) { zoomIn(z, std::nullopt); }, 2.2f, 0},
    {"ZoomOutKeepsPan", [](ZoomState& z) { zoomOut(z, std::nullopt); }, 1.8f, 0},
    {"ToggleKeepsAnchorAndPan", [](ZoomState& z) { toggleZoom(z, std::nullopt); }, 1.0f, 0},
    {"BeginDragKeepsLastPosition", [](ZoomState& z) { beginDrag(z, std::nullopt); }, 2.0f, 1},
    {"DragToMovesNothing", [](ZoomState& z) { dragTo(z, std::nullopt); }, 2.0f, 0},
};

class NoCursorTest : public ::testing::TestWithParam<NoCursorCase> {};

TEST_P(NoCursorTest, KeepsPositions) {
    ZoomState zoom;
    zoom.zoomFactor = 2.0f;
    zoom.panX = -11.0f;
    zoom.panY = -22.0f;
    zoom.zoomAnchorX = 33;
    zoom.zoomAnchorY = 44;
    zoom.dragLastX = 55;
    zoom.dragLastY = 66;
    GetParam().operation(zoom);
    EXPECT_EQ(zoom.zoomFactor, GetParam().factor);
    EXPECT_EQ(zoom.isDragging, GetParam().isDragging);
    EXPECT_EQ(zoom.panX, -11.0f);
    EXPECT_EQ(zoom.panY, -22.0f);
    EXPECT_EQ(zoom.zoomAnchorX, 33);
    EXPECT_EQ(zoom.zoomAnchorY, 44);
    EXPECT_EQ(zoom.dragLastX, 55);
    EXPECT_EQ(zoom.dragLastY, 66);
}

INSTANTIATE_TEST_SUITE_P(Operations, NoCursorTest, ::testing::ValuesIn(kNoCursorCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ZoomFromOneWithoutCursorTest, ZoomInKeepsTheStaleAnchor) {
    ZoomState zoom;
    zoom.zoomAnchorX = 9;
    zoom.zoomAnchorY = 8;
    zoomIn(zoom, std::nullopt);
    EXPECT_EQ(zoom.zoomFactor, 1.2f);
    EXPECT_EQ(zoom.zoomAnchorX, 9);
    EXPECT_EQ(zoom.zoomAnchorY, 8);
    EXPECT_EQ(zoom.panX, 0.0f);
}

}  // namespace
