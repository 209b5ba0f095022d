#include "app/memory_tunables.h"

#include <gtest/gtest.h>

namespace brindlewox {
namespace {

TEST(MemoryTunables, OursAreAddedToWhatThereIs) {
  const std::string ours = "glibc.malloc.hugetlb=1:glibc.malloc.arena_max=1";
  EXPECT_EQ(tunablesWithOurs(nullptr), ours);
  EXPECT_EQ(tunablesWithOurs(""), ours);
  EXPECT_EQ(tunablesWithOurs("glibc.malloc.tcache_count=7"), "glibc.malloc.tcache_count=7:" + ours);
  // A longer name that starts with one of ours is another tunable.
  EXPECT_EQ(tunablesWithOurs("glibc.malloc.hugetlbx=3"), "glibc.malloc.hugetlbx=3:" + ours);
}

TEST(MemoryTunables, ASettingAlreadyMadeStandsAndStopsASecondRestart) {
  EXPECT_EQ(tunablesWithOurs("glibc.malloc.hugetlb=0"), "glibc.malloc.hugetlb=0:glibc.malloc.arena_max=1");
  EXPECT_EQ(tunablesWithOurs("glibc.malloc.arena_max=4:glibc.malloc.tcache_count=7"),
            "glibc.malloc.arena_max=4:glibc.malloc.tcache_count=7:glibc.malloc.hugetlb=1");
  EXPECT_EQ(tunablesWithOurs("glibc.malloc.hugetlb=1:glibc.malloc.arena_max=1"), std::nullopt);
  EXPECT_EQ(tunablesWithOurs("glibc.malloc.arena_max=2:glibc.malloc.hugetlb"), std::nullopt);
}

}  // namespace
}  // namespace brindlewox
