// The bounded map behind the lookups' caches: the newest entries stay within
// both the entry and the character bound.
#include "common/BoundedCache.h"

#include <gtest/gtest.h>

namespace {

TEST(BoundedCacheTest, TheNewestStayWithinBothBounds) {
    CBoundedCache cache(3, 20);
    cache.Put(L"a", L"1");
    cache.Put(L"b", L"2");
    cache.Put(L"c", L"3");
    ASSERT_NE(cache.Find(L"a"), nullptr);  // found: now the newest
    cache.Put(L"d", L"4");
    EXPECT_EQ(cache.Find(L"b"), nullptr) << "the oldest made room";
    EXPECT_EQ(cache.Size(), 3u);
    EXPECT_EQ(cache.Characters(), 6u);

    // A new value takes the old one's place and characters.
    cache.Put(L"a", L"123456");
    EXPECT_EQ(*cache.Find(L"a"), L"123456");
    EXPECT_EQ(cache.Characters(), 11u);
    cache.Put(L"e", L"55555555");  // c goes for the entry bound
    cache.Put(L"f", L"666666");    // d for the entry bound, a for the characters
    EXPECT_EQ(cache.Find(L"a"), nullptr);
    EXPECT_EQ(cache.Find(L"c"), nullptr);
    EXPECT_EQ(cache.Find(L"d"), nullptr);
    EXPECT_EQ(*cache.Find(L"e"), L"55555555");
    EXPECT_EQ(cache.Size(), 2u);
    EXPECT_EQ(cache.Characters(), 16u);

    // An entry over the character bound on its own is not kept, and a key
    // that had a value loses it.
    cache.Put(L"e", std::wstring(20, L'x'));
    EXPECT_EQ(cache.Find(L"e"), nullptr);
    EXPECT_EQ(*cache.Find(L"f"), L"666666");
    EXPECT_EQ(cache.Size(), 1u);
    EXPECT_EQ(cache.Characters(), 7u);
}

}  // namespace
