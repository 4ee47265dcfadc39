// The navigation settings record as a client of a later standard sees it
// (this file is compiled as C++20): a plain aggregate, initialised field by
// field in declaration order and copied member-wise.
#include <gtest/gtest.h>

#include <type_traits>

#include "agility.h"

namespace {

using Kestrin1::AAgility;
using Kestrin1::CAgility;

static_assert(std::is_aggregate_v<AAgility>, "AAgility is an aggregate");
static_assert(std::is_trivially_copyable_v<AAgility>, "AAgility copies member-wise");

TEST(AgilityRecord, AnAggregateInitialisedInFieldOrder) {
  const AAgility a = {0x9, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 1, {0.0f, 0.0f, 1.0f}, 7.0f};
  EXPECT_EQ(0x9, a.m_Options);
  EXPECT_EQ(6.0f, a.m_RotationLimit);
  EXPECT_EQ(1, a.m_Upright);
  EXPECT_EQ(1.0f, a.m_Up.z);
  EXPECT_EQ(7.0f, a.m_TranslationGain);
  AAgility b = CAgility::m_DefaultValues;
  b = a;
  CAgility agility(b);
  EXPECT_EQ(7.0f, agility.m_Values.m_TranslationGain);
  const AAgility zero = {};
  EXPECT_EQ(0, zero.m_Options);
  EXPECT_EQ(0.0f, zero.m_TranslationGain);
}

}  // namespace
