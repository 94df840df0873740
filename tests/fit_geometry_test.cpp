#include "render/geometry/fit_geometry.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

std::ostream& operator<<(std::ostream& out, const PixelRect& r) {
    return out << "(" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
}

namespace {

PixelRect asRect(const Fit& fit) {
    return {fit.fx, fit.fy, fit.fw, fit.fh};
}

struct FitCase {
    const char* name;
    int32_t pictureWidth, pictureHeight, surfaceWidth, surfaceHeight;
    PixelRect fit;
    std::vector<PixelRect> strips;
};

const FitCase kFitCases[] = {
    {"WideInLandscapeTouchesLeftAndRight",
     200,
     100,
     800,
     600,
     {0, 100, 800, 400},
     {{0, 0, 800, 100}, {0, 500, 800, 100}}},
    {"TallTouchesTopAndBottom",
     300,
     600,
     800,
     600,
     {250, 0, 300, 600},
     {{0, 0, 250, 600}, {550, 0, 250, 600}}},
    {"SquareInOddWidthGivesOddPixelToTheRight",
     500,
     500,
     801,
     600,
     {100, 0, 600, 600},
     {{0, 0, 100, 600}, {700, 0, 101, 600}}},
    {"SmallPictureIsEnlarged",
     16,
     16,
     1000,
     500,
     {250, 0, 500, 500},
     {{0, 0, 250, 500}, {750, 0, 250, 500}}},
    {"PictureOfSurfaceShapeFillsItWithoutStrips", 400, 300, 800, 600, {0, 0, 800, 600}, {}},
    // 84 / 192 in double precision gives exactly 350; the single-precision aspect gives less.
    {"SinglePrecisionAspectTruncatesTo349",
     192,
     84,
     800,
     600,
     {0, 125, 800, 349},
     {{0, 0, 800, 125}, {0, 474, 800, 126}}},
    {"NeedleTallPictureGetsZeroWidth",
     1,
     100000,
     800,
     600,
     {400, 0, 0, 600},
     {{0, 0, 400, 600}, {400, 0, 400, 600}}},
    {"NeedleWidePictureGetsZeroHeight",
     100000,
     1,
     800,
     600,
     {0, 300, 800, 0},
     {{0, 0, 800, 300}, {0, 300, 800, 300}}},
    {"MinimisedSurfaceGivesEmptyFit", 200, 100, 0, 0, {0, 0, 0, 0}, {}},
    {"OnePixelSurface", 200, 100, 1, 1, {0, 0, 1, 0}, {{0, 0, 1, 0}, {0, 0, 1, 1}}},
    {"ZeroHeightPictureDividesByNothing",
     200,
     0,
     800,
     600,
     {0, 0, 0, 0},
     {{0, 0, 0, 600}, {0, 0, 800, 600}, {0, 0, 800, 0}, {0, 0, 800, 600}}},
};

class FitTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitTest, PlacesPictureAndMarginsAtZoomOne) {
    const FitCase& c = GetParam();
    const Fit fit = fitPicture(c.pictureWidth, c.pictureHeight, c.surfaceWidth, c.surfaceHeight);
    EXPECT_EQ(asRect(fit), c.fit);
    // At exactly 1.0 the pan is ignored, however stale.
    EXPECT_EQ(destinationRect(fit, 1.0f, -300.0f, 77.0f), c.fit);
    EXPECT_EQ(marginStrips(fit, c.surfaceWidth, c.surfaceHeight, 1.0f, -300.0f, 77.0f), c.strips);
}

INSTANTIATE_TEST_SUITE_P(Pictures, FitTest, ::testing::ValuesIn(kFitCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct ZoomedCase {
    const char* name;
    float zoom, panX, panY;
    PixelRect destination;
    std::vector<PixelRect> strips;
};

// All over the fit (0, 100, 800, 400) of a 200 x 100 picture in an 800 x 600 surface.
const ZoomedCase kZoomedCases[] = {
    {"CoversSurfaceWithoutStrips", 2.0f, -300.0f, -200.0f, {-300, 0, 1600, 800}, {}},
    {"ToggledAboutTheCentre", 3.0f, -800.0f, -600.0f, {-800, -300, 2400, 1200}, {}},
    {"NoPanLeavesTopMargin", 2.0f, 0.0f, 0.0f, {0, 200, 1600, 800}, {{0, 0, 800, 200}}},
    {"DraggedRightUncoversLeft", 2.0f, 500.0f, -200.0f, {500, 0, 1600, 800}, {{0, 0, 500, 600}}},
    {"DraggedFarLeftAndDownPaintsRightThenTop",
     2.0f,
     -1500.0f,
     300.0f,
     {-1500, 500, 1600, 800},
     {{100, 0, 700, 600}, {0, 0, 800, 500}}},
    {"DraggedWhollyOffUpAndRight",
     1.2f,
     2000.0f,
     -2000.0f,
     {2000, -1880, 960, 480},
     {{0, 0, 2000, 600}, {0, -1400, 800, 2000}}},
    // Looks fitted, but any factor other than exactly 1.0 takes the pan into account; the
    // strips meet the destination's truncated edges, not the edges a hair beyond them.
    {"AlmostOneStillUsesThePan",
     1.0000002f,
     -40.0f,
     0.0f,
     {-40, 100, 800, 400},
     {{760, 0, 40, 600}, {0, 0, 800, 100}, {0, 500, 800, 100}}},
    // A pan with a fraction truncates the left and top edges towards zero: the picture's last
    // column and row end a pixel beyond the unrounded edges, and stay the picture's.
    {"AFractionalPanKeepsTheLastColumnAndRow",
     1.6f,
     -600.75f,
     -300.75f,
     {-600, -140, 1280, 640},
     {{680, 0, 120, 600}, {0, 500, 800, 100}}},
};

class ZoomedGeometryTest : public ::testing::TestWithParam<ZoomedCase> {};

TEST_P(ZoomedGeometryTest, ScalesFitAndPaintsUncoveredSurface) {
    const ZoomedCase& c = GetParam();
    const Fit fit = fitPicture(200, 100, 800, 600);
    EXPECT_EQ(destinationRect(fit, c.zoom, c.panX, c.panY), c.destination);
    EXPECT_EQ(marginStrips(fit, 800, 600, c.zoom, c.panX, c.panY), c.strips);
}

INSTANTIATE_TEST_SUITE_P(Zoomed, ZoomedGeometryTest, ::testing::ValuesIn(kZoomedCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
