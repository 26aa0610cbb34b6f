#include <gtest/gtest.h>

#include "ui/icon_position.h"

namespace kv {
namespace {

// The minimised dialog draws its icon centred; the division truncates toward
// zero, so a client narrower than the icon gives -15, not -16.
TEST(IconPosition, CentresWithTruncationTowardZero) {
  struct Case {
    int client, icon, expected;
  } cases[] = {{100, 32, 34}, {0, 32, -15}, {32, 32, 0}, {33, 32, 1}, {1, 32, -15}, {16, 16, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(CenteredIconOffset(c.client, c.icon), c.expected) << c.client << " " << c.icon;
  }
}

}  // namespace
}  // namespace kv
