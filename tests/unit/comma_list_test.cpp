#include <gtest/gtest.h>

#include "engine/comma_list.h"
#include "engine/delivery.h"

namespace pv {
namespace {

TEST(CommaList, AppendAddsOneSeparator) {
  EXPECT_EQ(AppendListItem("a", ",", "b"), "a,b");
  EXPECT_EQ(AppendListItem("a,", ",", "b"), "a,b");
}

TEST(Delivery, ServedItemsOfTransportEntries) {
  EXPECT_EQ(ServedItemsOf(std::string("a@x\t250 ok\0b@y\t250 2.0.0 queued", 31)), "a@x, b@y");
}

}  // namespace
}  // namespace pv
