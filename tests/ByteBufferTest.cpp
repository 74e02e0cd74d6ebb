#include "core/ByteBuffer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/Song.h"

namespace {

// An event's bytes keep ByteBuffer's exact sizes, wherever they live: in the node, in a record of
// the song's pool, or on the heap for an event of no song. Each check runs on all three kinds.
struct Buffers {
    Buffers() {
        track = song.AppendTrack();
        const uint8_t empty = 0;
        track->Append(0x90, &empty, 0, 0);
        track->Last()->bytes.Clear();
    }
    ByteBuffer plain;
    MidiEvent loose;
    Song song;
    Track* track = nullptr;
};

template <class Check>
void ForEachKind(Check check) {
    Buffers b;
    {
        SCOPED_TRACE("ByteBuffer");
        check(b.plain);
    }
    {
        SCOPED_TRACE("the bytes of an event of no song");
        check(b.loose.bytes);
    }
    {
        SCOPED_TRACE("the bytes of an event of a song");
        check(b.track->Last()->bytes);
    }
}

TEST(ByteBuffer, ResizeAllocatesExactlyAndKeepsTheBytes) {
    struct Step {
        uint32_t size;
        uint32_t expectedCapacity;
    };
    // Starting empty: grow inline, grow to the heap, shrink (storage stays), grow within the
    // capacity, grow beyond it, release.
    const Step steps[] = {{3, 3},   {5, 5},     {40, 40}, {10, 40}, {30, 40},
                          {41, 41}, {300, 300}, {0, 0},   {2, 2}};
    ForEachKind([&](auto& b) {
        uint32_t kept = 0;  // bytes that must have survived
        for (const Step& s : steps) {
            SCOPED_TRACE(s.size);
            ASSERT_TRUE(b.Resize(s.size));
            EXPECT_EQ(b.Size(), s.size);
            EXPECT_EQ(b.Capacity(), s.expectedCapacity);
            if (s.size == 0) kept = 0;
            for (uint32_t i = 0; i < kept && i < s.size; ++i)
                ASSERT_EQ(b[i], uint8_t(i * 7 + 1)) << i;
            for (uint32_t i = 0; i < s.size; ++i) b[i] = uint8_t(i * 7 + 1);
            kept = s.size;
        }
    });
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
        // An event's bytes copied out of a song and into another event of a song.
        Buffers kinds;
        ASSERT_TRUE(kinds.track->Last()->bytes.Assign(b.Data(), size));
        const MidiEvent copied(*kinds.track->Last());
        EXPECT_EQ(copied.bytes.Capacity(), size);
        EXPECT_EQ(0, std::memcmp(copied.bytes.Data(), b.Data(), size));
        ASSERT_TRUE(kinds.track->Append(0x90, b.Data(), 0, 1));
        MidiEvent& other = *kinds.track->Last();
        other = copied;
        EXPECT_EQ(other.bytes.Capacity(), size);
        EXPECT_EQ(other.Prev(), kinds.track->First());  // the bytes moved in, not the links
        EXPECT_EQ(0, std::memcmp(other.bytes.Data(), b.Data(), size));
    }
}

}  // namespace

namespace {

// An event as the reader stores it must equal what Assign makes of the same bytes, whatever the
// buffer held before: inline, at the inline limit, on the heap, and with spare capacity.
TEST(ByteBuffer, AssignEventEqualsAssignOfTheSameBytes) {
    struct Case {
        const char* what;
        uint32_t before;  // size the buffer had (0: fresh)
        uint32_t shrunkTo;
        uint32_t following;
    };
    const Case cases[] = {
        {"fresh, status alone", 0, 0, 0},
        {"fresh, channel message", 0, 0, 2},
        {"fresh, more than an event's node", 0, 0, 3},
        {"fresh, fills the inline bytes", 0, 0, 7},
        {"fresh, one byte too many", 0, 0, 8},
        {"inline, grows to the heap", 3, 3, 20},
        {"heap with room to spare", 40, 10, 20},
        {"heap, shrinks inline size", 40, 40, 2},
        {"heap, grows", 12, 12, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t following[300];
        for (uint32_t i = 0; i < c.following; ++i) following[i] = uint8_t(i + 1);
        uint8_t whole[301] = {0xF0};
        std::memcpy(whole + 1, following, c.following);
        ForEachKind([&](auto& event) {
            ByteBuffer assigned;
            ASSERT_TRUE(event.Resize(c.before));
            ASSERT_TRUE(event.Resize(c.shrunkTo));
            ASSERT_TRUE(assigned.Resize(c.before));
            ASSERT_TRUE(assigned.Resize(c.shrunkTo));
            ASSERT_TRUE(event.AssignEvent(0xF0, following, c.following));
            ASSERT_TRUE(assigned.Assign(whole, c.following + 1));
            EXPECT_EQ(event.Size(), c.following + 1);
            EXPECT_EQ(event.Capacity(), assigned.Capacity());
            EXPECT_EQ(0, std::memcmp(event.Data(), whole, c.following + 1));
        });
    }
}

}  // namespace
