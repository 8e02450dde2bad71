// GCC 12 and later, optimising, take the reads through the surviving handle
// for reads after the delete that the last handle would make: the pointee is
// alive, as the counts that these tests check show.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic ignored "-Wuse-after-free"
#endif

#include "runtime/smart_pointer.h"

#include <gtest/gtest.h>

namespace {

struct Counted {
    explicit Counted(int* deletions) : deletions(deletions) {}
    ~Counted() { ++*deletions; }
    unsigned ref_count = 0;
    int* deletions;
};

TEST(SmartPointer, LastHandleDeletesThePointee) {
    int deletions = 0;
    {
        Smart_pointer<Counted> a(new Counted(&deletions));
        {
            Smart_pointer<Counted> b = a;
            EXPECT_EQ(2u, a->ref_count);
        }
        EXPECT_EQ(1u, a->ref_count);
        EXPECT_EQ(0, deletions);
    }
    EXPECT_EQ(1, deletions);
}

TEST(SmartPointer, AssigningReleasesTheOldPointee) {
    int first = 0, second = 0;
    Smart_pointer<Counted> a(new Counted(&first));
    a = new Counted(&second);
    EXPECT_EQ(1, first);
    Smart_pointer<Counted> b(a);
    a = b;  // same pointee: nothing released
    EXPECT_EQ(0, second);
    a = nullptr;
    b = nullptr;
    EXPECT_EQ(1, second);
}

TEST(SmartPointerDeathTest, NullDereferenceStopsTheProcess) {
    Smart_pointer<Counted> null;
    EXPECT_DEATH((void)null->ref_count, "SMART POINTER ASSERTION!");
}

}  // namespace
