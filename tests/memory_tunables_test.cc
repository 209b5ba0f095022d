#include "app/huge_pages.h"

#include <gtest/gtest.h>

namespace brindlewox {
namespace {

TEST(HugePages, TheTunableIsAddedToWhatThereIs) {
  EXPECT_EQ(tunablesWithHugePages(nullptr), "glibc.malloc.hugetlb=1");
  EXPECT_EQ(tunablesWithHugePages(""), "glibc.malloc.hugetlb=1");
  EXPECT_EQ(tunablesWithHugePages("glibc.malloc.arena_max=2"), "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1");
  // A longer name that starts with ours is another tunable.
  EXPECT_EQ(tunablesWithHugePages("glibc.malloc.hugetlbx=3"), "glibc.malloc.hugetlbx=3:glibc.malloc.hugetlb=1");
}

TEST(HugePages, AnExistingSettingStandsAndStopsASecondRestart) {
  EXPECT_EQ(tunablesWithHugePages("glibc.malloc.hugetlb=1"), std::nullopt);
  EXPECT_EQ(tunablesWithHugePages("glibc.malloc.hugetlb=0"), std::nullopt);
  EXPECT_EQ(tunablesWithHugePages("glibc.malloc.arena_max=2:glibc.malloc.hugetlb=2"), std::nullopt);
  EXPECT_EQ(tunablesWithHugePages("glibc.malloc.hugetlb"), std::nullopt);
}

}  // namespace
}  // namespace brindlewox
