#include "common/unique_any.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kelvora {
namespace {

// Each close is recorded, so a double close or a leak shows as a wrong list.
std::vector<std::intptr_t> g_closed;
void RecordClose(int value) noexcept { g_closed.push_back(value); }
void RecordClosePointer(void* value) noexcept { g_closed.push_back(reinterpret_cast<std::intptr_t>(value)); }

using Owner = unique_any<int, RecordClose>;                          // 0 is the invalid value
using MinusOneOwner = unique_any<void*, RecordClosePointer, -1>;     // like INVALID_HANDLE_VALUE

class UniqueAny : public ::testing::Test {
 protected:
  void SetUp() override { g_closed.clear(); }
};

TEST_F(UniqueAny, ClosesItsValueOnceWhenItGoesOutOfScope) {
  { Owner owner(7); EXPECT_EQ(owner.get(), 7); EXPECT_TRUE(owner); }
  EXPECT_EQ(g_closed, (std::vector<std::intptr_t>{7}));
}

TEST_F(UniqueAny, NeverClosesTheInvalidValue) {
  { Owner empty; EXPECT_FALSE(empty); Owner zero(0); EXPECT_FALSE(zero); }
  {
    MinusOneOwner none;
    EXPECT_FALSE(none);
    EXPECT_EQ(none.get(), reinterpret_cast<void*>(-1));
    MinusOneOwner null_is_valid(nullptr);  // 0 is a real value where -1 is the invalid one
    EXPECT_TRUE(null_is_valid);
  }
  EXPECT_EQ(g_closed, (std::vector<std::intptr_t>{0}));
}

TEST_F(UniqueAny, MovingHandsOverOwnershipWithoutClosing) {
  Owner first(3);
  Owner second(std::move(first));
  EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  EXPECT_EQ(second.get(), 3);
  EXPECT_TRUE(g_closed.empty());

  Owner third(4);
  third = std::move(second);  // the old value of the target is closed, the moved one is not
  EXPECT_EQ(g_closed, (std::vector<std::intptr_t>{4}));
  EXPECT_EQ(third.get(), 3);

  auto& alias = third;
  third = std::move(alias);  // self-move keeps the value open
  EXPECT_EQ(third.get(), 3);
  EXPECT_EQ(g_closed, (std::vector<std::intptr_t>{4}));
}

TEST_F(UniqueAny, ResetClosesTheOldValueAndReleaseClosesNothing) {
  Owner owner(5);
  owner.reset(6);
  EXPECT_EQ(g_closed, (std::vector<std::intptr_t>{5}));
  EXPECT_EQ(owner.release(), 6);
  EXPECT_FALSE(owner);
  owner.reset();  // nothing left to close
  EXPECT_EQ(g_closed, (std::vector<std::intptr_t>{5}));
}

TEST_F(UniqueAny, PutClosesTheCurrentValueBeforeHandingOutTheSlot) {
  Owner owner(8);
  *owner.put() = 9;
  EXPECT_EQ(g_closed, (std::vector<std::intptr_t>{8}));
  EXPECT_EQ(owner.get(), 9);
}

}  // namespace
}  // namespace kelvora
