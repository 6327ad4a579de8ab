#include "WindowPlacement.h"

#include <gtest/gtest.h>

#include <ostream>

namespace ombrix {
namespace {

struct PlaceCase {
  const char* name;
  QRect design;   // the window's outer rectangle at its design place
  QRect owner;    // the owner's outer rectangle
  QRect monitor;  // the available area of the owner's monitor
  QPoint expected;
};

void PrintTo(const PlaceCase& row, std::ostream* out) {
  *out << row.name;
}

class PlaceBesideTest : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlaceBesideTest, KeepsTheDesignPlaceOrGoesBesideTheOwner) {
  const PlaceCase& c = GetParam();
  EXPECT_EQ(PlaceBeside(c.design, c.owner, c.monitor), c.expected);
}

// The command window's design rectangle, 294 x 553 at (730, 27), with the main window's outer
// 377 x 468 placed in various ways.
const QRect kCmd(730, 27, 294, 553);
const QRect kFullHd(0, 0, 1920, 1080);

INSTANTIATE_TEST_SUITE_P(
    WindowPlacement, PlaceBesideTest,
    ::testing::Values(
        // Centred on 1024 x 768 the main window ends at 700: the design place is clear of it.
        PlaceCase{"ClearOfTheOwnerStaysAtItsDesignPlace", kCmd, QRect(323, 150, 377, 468),
                  QRect(0, 0, 1024, 768), QPoint(730, 27)},
        // Touching is not meeting: an owner ending at 729 leaves the design place alone.
        PlaceCase{"OwnerEndingRightBeforeItStays", kCmd, QRect(353, 150, 377, 468), kFullHd,
                  QPoint(730, 27)},
        // Centred on 1920 x 1080 the main window covers 771 .. 1147: to its right there is room.
        PlaceCase{"CentredOnFullHdGoesRightOfTheOwner", kCmd, QRect(771, 306, 377, 468), kFullHd,
                  QPoint(1148, 27)},
        // On a monitor 1280 wide, the owner leaves room on its left only.
        PlaceCase{"NoRoomRightGoesLeftOfTheOwner", kCmd, QRect(850, 20, 377, 468),
                  QRect(0, 0, 1280, 1024), QPoint(556, 27)},
        // Room on neither side: the side with more room, inside the monitor.
        PlaceCase{"NoRoomEitherSideRightRoomier", QRect(500, 27, 294, 553), QRect(250, 0, 377, 468),
                  QRect(0, 0, 900, 1080), QPoint(606, 27)},
        PlaceCase{"NoRoomEitherSideLeftRoomier", QRect(500, 27, 294, 553), QRect(280, 0, 377, 468),
                  QRect(0, 0, 900, 1080), QPoint(0, 27)},
        // On a second monitor right of the first and lower down: beside the owner there, the
        // design height moved into that monitor.
        PlaceCase{"SecondMonitorMovesTheHeightIntoIt", QRect(2000, 1000, 294, 553),
                  QRect(1900, 1200, 377, 468), QRect(1920, 1080, 1280, 1024), QPoint(2277, 1080)},
        // A monitor too short for the design height: the bottom stays on it.
        PlaceCase{"ShortMonitorKeepsTheBottomOnIt", QRect(730, 400, 294, 553),
                  QRect(771, 100, 377, 468), QRect(0, 0, 1920, 800), QPoint(1148, 247)}),
    [](const ::testing::TestParamInfo<PlaceCase>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace ombrix
