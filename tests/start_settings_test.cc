#include "app/start_settings.h"

#include <gtest/gtest.h>

namespace brindlewox {
namespace {

TEST(StartSettings, OursAreAddedToWhatThereIs) {
  const std::string ours =
      "glibc.malloc.hugetlb=1:glibc.malloc.arena_max=1:glibc.malloc.mmap_threshold=33554432:"
      "glibc.malloc.top_pad=67108864:glibc.malloc.trim_threshold=1073741824";
  EXPECT_EQ(tunablesWithOurs(nullptr), ours);
  EXPECT_EQ(tunablesWithOurs(""), ours);
  EXPECT_EQ(tunablesWithOurs("glibc.malloc.tcache_count=7"), "glibc.malloc.tcache_count=7:" + ours);
  // A longer name that starts with one of ours is another tunable.
  EXPECT_EQ(tunablesWithOurs("glibc.malloc.hugetlbx=3"), "glibc.malloc.hugetlbx=3:" + ours);
}

TEST(StartSettings, ASettingAlreadyMadeStandsAndStopsASecondRestart) {
  const std::string rest =
      "glibc.malloc.mmap_threshold=33554432:glibc.malloc.top_pad=67108864:glibc.malloc.trim_"
      "threshold=1073741824";
  EXPECT_EQ(tunablesWithOurs("glibc.malloc.hugetlb=0"),
            "glibc.malloc.hugetlb=0:glibc.malloc.arena_max=1:" + rest);
  EXPECT_EQ(tunablesWithOurs("glibc.malloc.arena_max=4:glibc.malloc.tcache_count=7"),
            "glibc.malloc.arena_max=4:glibc.malloc.tcache_count=7:glibc.malloc.hugetlb=1:" + rest);
  // What the first start sets stops the second.
  const std::optional<std::string> first = tunablesWithOurs(nullptr);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(tunablesWithOurs(first->c_str()), std::nullopt);
  EXPECT_EQ(tunablesWithOurs(("glibc.malloc.arena_max=2:glibc.malloc.hugetlb:" + rest).c_str()),
            std::nullopt);
}

TEST(StartSettings, OpenBLASIsToldOneThreadUnlessAThreadCountWasChosen) {
  EXPECT_EQ(blasThreadsToSet(nullptr), "1");
  // Any value set, even an empty one, is a choice that stands, and what the
  // first start sets stops the second.
  EXPECT_EQ(blasThreadsToSet("4"), std::nullopt);
  EXPECT_EQ(blasThreadsToSet(""), std::nullopt);
  EXPECT_EQ(blasThreadsToSet(blasThreadsToSet(nullptr)->c_str()), std::nullopt);
}

}  // namespace
}  // namespace brindlewox
