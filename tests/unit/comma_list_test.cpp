#include <gtest/gtest.h>

#include "engine/comma_list.h"
#include "engine/delivery.h"

namespace pv {
namespace {

TEST(CommaList, AppendAndContains) {
  EXPECT_EQ(AppendListItem("a", ",", "b"), "a,b");
  EXPECT_EQ(AppendListItem("a,", ",", "b"), "a,b");
  EXPECT_TRUE(ListContains("a,B,c", ",", "b", CompareMode::IgnoreCase));
  EXPECT_FALSE(ListContains("ab,c", ",", "a", CompareMode::Exact));
}

TEST(CommaList, DuplicatesAndListedItems) {
  EXPECT_EQ(RemoveDuplicateItems("A@x,a@X,b@y", ","), "A@x,b@y");
  EXPECT_EQ(RemoveDuplicateItems("a, a,a", ","), "a, a");  // items are not trimmed
  EXPECT_EQ(RemoveListedItems("a@x,b@y,c@z", ",", "b@y,C@z", ","), "a@x,c@z");
}

TEST(CommaList, TextAroundSeparators) {
  EXPECT_EQ(TextBeforeSeparator("a:b;c", ";:", false, CompareMode::Exact), "a");
  EXPECT_EQ(TextAfterSeparator("a:b;c", ";:", false, CompareMode::Exact), "b;c");
  EXPECT_EQ(TextBeforeSeparator("aXYb", "xy", true, CompareMode::IgnoreCase), "a");
  EXPECT_EQ(TextAfterSeparator("aXYb", "xy", true, CompareMode::Exact), "aXYb");
}

TEST(Delivery, ServedItemsOfTransportEntries) {
  EXPECT_EQ(ServedItemsOf(std::string("a@x\t250 ok\0b@y\t250 2.0.0 queued", 31)), "a@x, b@y");
}

}  // namespace
}  // namespace pv
