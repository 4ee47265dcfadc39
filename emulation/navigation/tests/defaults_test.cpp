// The default settings record that hosts read through GetDefaults.
#include <cstring>

#include "nav_test_util.h"
#include "navigation.h"

namespace {

// Read as the host reads it: bytes at the record's offsets.
TEST(NavDefaultSettings, ReadsKindOneUpYFenceAndBothRayRules) {
  unsigned char bytes[sizeof(NavSettings)];
  std::memcpy(bytes, &KestrinNav::DefaultSettings, sizeof bytes);
  unsigned char expected[sizeof(NavSettings)] = {};
  for (size_t offset : {0u, 44u, 48u, 64u, 68u}) expected[offset] = 1;  // little-endian words
  EXPECT_EQ(std::memcmp(bytes, expected, sizeof bytes), 0);
  EXPECT_EQ(KestrinNav::DefaultSettings.kind, 1u);
  EXPECT_EQ(KestrinNav::DefaultSettings.upAxis, 1);
  EXPECT_EQ(KestrinNav::DefaultSettings.fence, 1u);
  EXPECT_EQ(KestrinNav::DefaultSettings.zoomAlongRay, 1u);
  EXPECT_EQ(KestrinNav::DefaultSettings.twistAboutRay, 1u);
}

}  // namespace
