#include "core/ByteBuffer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ByteBuffer, ResizeAllocatesExactlyAndKeepsTheBytes) {
    struct Step {
        uint32_t size;
        uint32_t expectedCapacity;
    };
    // Starting empty: grow inline, grow to the heap, shrink (storage stays), grow within the
    // capacity, grow beyond it, release.
    const Step steps[] = {{3, 3}, {5, 5}, {40, 40}, {10, 40}, {30, 40}, {41, 41}, {300, 300}, {0, 0}, {2, 2}};
    ByteBuffer b;
    uint32_t kept = 0;  // bytes that must have survived
    for (const Step& s : steps) {
        SCOPED_TRACE(s.size);
        ASSERT_TRUE(b.Resize(s.size));
        EXPECT_EQ(b.Size(), s.size);
        EXPECT_EQ(b.Capacity(), s.expectedCapacity);
        if (s.size == 0) kept = 0;
        for (uint32_t i = 0; i < kept && i < s.size; ++i) ASSERT_EQ(b[i], uint8_t(i * 7 + 1)) << i;
        for (uint32_t i = 0; i < s.size; ++i) b[i] = uint8_t(i * 7 + 1);
        kept = s.size;
    }
}

TEST(ByteBuffer, CopiesHoldExactlyTheSize) {
    for (uint32_t size : {1u, 8u, 9u, 200u}) {
        SCOPED_TRACE(size);
        ByteBuffer b;
        ASSERT_TRUE(b.Resize(size + 50));
        ASSERT_TRUE(b.Resize(size));
        for (uint32_t i = 0; i < size; ++i) b[i] = uint8_t(i);
        ByteBuffer copy(b);
        EXPECT_EQ(copy.Size(), size);
        EXPECT_EQ(copy.Capacity(), size);
        EXPECT_EQ(0, std::memcmp(copy.Data(), b.Data(), size));
        ByteBuffer assigned;
        assigned = b;
        EXPECT_EQ(assigned.Capacity(), size);
        ByteBuffer moved(static_cast<ByteBuffer&&>(copy));
        EXPECT_EQ(moved.Size(), size);
        EXPECT_EQ(copy.Size(), 0u);
        EXPECT_EQ(0, std::memcmp(moved.Data(), b.Data(), size));
    }
}

}  // namespace
