// The 48-bit generator against the C library's drand48 family.
#include <stdlib.h>

#include "support.h"

using testing::ExitedWithCode;

TEST(Rand48DeathTest, AFreshProcessStartsFromTheClassicState) {
    // Each statement runs in a newly started copy of this program, so the
    // generator has not been touched by other tests.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exit(Tamolrand48() == 851401618 ? 0 : 1), ExitedWithCode(0), "");
    EXPECT_EXIT(exit(Tamodrand48() == 0.39646477376027534 ? 0 : 1), ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, "fast");
}

TEST(Rand48, SequencesMatchTheCLibrary) {
    auto compareDraws = [](int count) {
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(Tamolrand48(), lrand48()) << i;
            ASSERT_EQ(Tamodrand48(), drand48()) << i;
            ASSERT_EQ(Tamomrand48(), mrand48()) << i;
        }
    };
    for (long seed : {0L, 1L, 42L, -7L, 0x7FFFFFFFL, 123456789012L}) {
        SCOPED_TRACE(seed);
        srand48(seed);
        Tamosrand48(seed);
        compareDraws(200);
    }
    Tamosrand48(0);
    EXPECT_EQ(Tamolrand48(), 366850414);

    // seed48 hands back the state before the call.
    unsigned short seed[3] = {0x1111, 0x2222, 0x3333};
    Tamosrand48(99);
    srand48(99);
    Tamolrand48();
    lrand48();
    const unsigned short *mine = Tamoseed48(seed);
    const unsigned short *theirs = seed48(seed);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(mine[i], theirs[i]);
    compareDraws(50);

    // A new multiplier and addend also govern the caller-state variants.
    unsigned short param[7] = {1, 2, 3, 0x1234, 0x5678, 0x9ABC, 77};
    Tamolcong48(param);
    lcong48(param);
    compareDraws(50);
    unsigned short a[3] = {5, 6, 7}, b[3] = {5, 6, 7};
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(Tamoerand48(a), erand48(b));
        ASSERT_EQ(Tamonrand48(a), nrand48(b));
        ASSERT_EQ(Tamojrand48(a), jrand48(b));
        ASSERT_EQ(a[0], b[0]);
        ASSERT_EQ(a[2], b[2]);
    }
    // Seeding restores the classic multiplier and addend.
    srand48(3);
    Tamosrand48(3);
    compareDraws(20);
}

TEST(Rand48, CallerStateLeavesTheSharedSequenceAlone) {
    Tamosrand48(5);
    const double first = Tamodrand48();
    const double second = Tamodrand48();
    Tamosrand48(5);
    EXPECT_EQ(Tamodrand48(), first);
    unsigned short own[3] = {1, 2, 3};
    Tamoerand48(own);
    Tamonrand48(own);
    EXPECT_EQ(Tamodrand48(), second);
    EXPECT_NE(own[0], 1);  // the caller's state did advance
}
