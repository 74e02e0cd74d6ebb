#include "core/Song.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/SmfReader.h"
#include "tests/support/SmfImage.h"

namespace {

// Events carry a (track, index) label in their bytes so the merged order can be checked.
struct Label {
    uint32_t tick;
    uint8_t track;
    uint16_t index;
    bool operator==(const Label& o) const {
        return tick == o.tick && track == o.track && index == o.index;
    }
};

void Fill(Song& song, const std::vector<std::vector<uint32_t>>& ticks) {
    song.Reset();
    song.SetFormat(1);
    for (size_t t = 0; t < ticks.size(); ++t) {
        Track* track = song.AppendTrack();
        for (size_t i = 0; i < ticks[t].size(); ++i) {
            MidiEvent e;
            e.tick = ticks[t][i];
            const uint8_t bytes[4] = {0x90, uint8_t(t), uint8_t(i >> 8), uint8_t(i)};
            e.bytes.Assign(bytes, 4);
            ASSERT_TRUE(track->Append(e));
        }
    }
}

std::vector<Label> Labels(const Track& track) {
    std::vector<Label> out;
    for (const MidiEvent* e = track.First(); e; e = e->Next())
        out.push_back({e->tick, e->bytes[1], uint16_t(e->bytes[2] << 8 | e->bytes[3])});
    return out;
}

// The pairwise definition, on plain vectors: the later of the two last events survives (src's
// on a tie), then an ordinary merge in which src goes first only on a strictly smaller tick.
std::vector<Label> ReferenceMerge(const std::vector<std::vector<uint32_t>>& ticks) {
    std::vector<Label> dest;
    for (size_t t = 0; t < ticks.size(); ++t) {
        std::vector<Label> src;
        for (size_t i = 0; i < ticks[t].size(); ++i)
            src.push_back({ticks[t][i], uint8_t(t), uint16_t(i)});
        if (t == 0) {
            dest = src;
            continue;
        }
        if (!dest.empty() && !src.empty()) {
            if (src.back().tick < dest.back().tick)
                src.pop_back();
            else
                dest.pop_back();
        }
        std::vector<Label> out;
        size_t d = 0, s = 0;
        while (d < dest.size() && s < src.size())
            out.push_back(src[s].tick < dest[d].tick ? src[s++] : dest[d++]);
        out.insert(out.end(), dest.begin() + d, dest.end());
        out.insert(out.end(), src.begin() + s, src.end());
        dest = out;
    }
    return dest;
}

TEST(Song, MergeMatchesThePairwiseDefinitionOnRandomSongs) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 3000; ++round) {
        const int trackCount = 1 + int(rng() % (round % 10 == 0 ? 60 : 7));
        const int shape = round % 4;  // 0 sorted, 1 equal ticks, 2 wrapped ticks, 3 anything
        std::vector<std::vector<uint32_t>> ticks(trackCount);
        for (auto& track : ticks) {
            const int n = int(rng() % 12);  // empty tracks too
            uint32_t tick = shape == 2 ? 0xFFFFFF00u + rng() % 0x100 : rng() % 8;
            for (int i = 0; i < n; ++i) {
                switch (shape) {
                    case 0:
                        tick += rng() % 10;
                        break;
                    case 1:
                        tick = rng() % 3;
                        break;
                    case 2:
                        tick += rng() % 0x90;
                        break;  // wraps past 2^32 now and then
                    default:
                        tick = rng() % 2 ? rng() : rng() % 5;
                        break;
                }
                track.push_back(tick);
            }
        }
        SCOPED_TRACE("round " + std::to_string(round));
        Song fast, pairwise;
        Fill(fast, ticks);
        Fill(pairwise, ticks);
        ASSERT_TRUE(fast.MergeToSingleTrack());
        ASSERT_TRUE(pairwise.MergeToSingleTrackPairwise());
        const auto expected = ReferenceMerge(ticks);
        ASSERT_EQ(fast.TrackCount(), 1u);
        EXPECT_EQ(fast.Format(), 0);
        ASSERT_TRUE(Labels(*pairwise.FirstTrack()) == expected);
        ASSERT_TRUE(Labels(*fast.FirstTrack()) == expected);
        EXPECT_EQ(fast.FirstTrack()->Count(), expected.size());
        // The list is linked both ways.
        size_t backwards = 0;
        for (const MidiEvent* e = fast.FirstTrack()->Last(); e; e = e->Prev()) ++backwards;
        EXPECT_EQ(backwards, expected.size());
    }
}

// The events a visit of the merge hands over, as labels.
class LabelVisitor : public MergedEventVisitor {
public:
    bool Events(const MergedEvent* events, uint32_t count) override {
        for (uint32_t i = 0; i < count; ++i) {
            const MidiEvent& e = *static_cast<const MidiEvent*>(events[i].source);
            EXPECT_EQ(events[i].tick, e.tick);
            labels.push_back({e.tick, e.bytes[1], uint16_t(e.bytes[2] << 8 | e.bytes[3])});
        }
        return true;
    }
    std::vector<Label> labels;
};

// Songs with no more distinct ticks than events merge by counting, a window of ticks at a time:
// these shapes overfill a window, down to one tick holding more events than a window has room
// for. The merge, and the visit of it that leaves the song as it is, must both keep the order.
TEST(Song, MergeOfDenseSongsMatchesThePairwiseDefinition) {
    auto ramp = [](uint32_t n, uint32_t first, uint32_t step) {
        std::vector<uint32_t> ticks(n);
        for (uint32_t i = 0; i < n; ++i) ticks[i] = first + i * step;
        return ticks;
    };
    std::vector<std::vector<uint32_t>> everyTickShared(200, ramp(100, 0, 1));
    std::vector<uint32_t> backAndForth;  // keyed by the running maximum of its ticks
    for (uint32_t i = 0; i < 20000; ++i) backAndForth.push_back(i % 2 ? i / 2 : i / 2 + 7);
    struct Case {
        const char* what;
        std::vector<std::vector<uint32_t>> ticks;
    };
    const Case cases[] = {
        {"200 tracks sharing every tick", everyTickShared},
        {"17000 events on one tick amid a ramp",
         {ramp(20000, 0, 1), std::vector<uint32_t>(17000, 5000), ramp(100, 3, 200)}},
        {"ticks that go back and forth", {backAndForth, ramp(9000, 0, 1), backAndForth}},
        {"ticks far apart, fewer events than ticks", {ramp(300, 0, 1000), ramp(300, 500, 999)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto expected = ReferenceMerge(c.ticks);
        Song merged, visited;
        Fill(merged, c.ticks);
        Fill(visited, c.ticks);
        ASSERT_TRUE(merged.MergeToSingleTrack());
        EXPECT_TRUE(Labels(*merged.FirstTrack()) == expected);
        LabelVisitor visitor;
        ASSERT_TRUE(visited.VisitMerged(visitor));
        EXPECT_TRUE(visitor.labels == expected);
        EXPECT_EQ(visited.TrackCount(), c.ticks.size());
    }
}

TEST(Song, MergeKeepsTheLaterEndOfTrackAndOrdersEqualTicksByTrack) {
    struct Case {
        const char* what;
        std::vector<std::vector<uint32_t>>
            ticks;  // the last event of each track stands for its End of Track
        std::vector<Label> expected;
    };
    const Case cases[] = {
        {"End of Track at 480 and 960", {{0, 480}, {0, 960}}, {{0, 0, 0}, {0, 1, 0}, {960, 1, 1}}},
        {"both at 960: the later track's remains",
         {{0, 960}, {10, 960}},
         {{0, 0, 0}, {10, 1, 0}, {960, 1, 1}}},
        {"first track ends later", {{0, 960}, {10, 480}}, {{0, 0, 0}, {10, 1, 0}, {960, 0, 1}}},
        {"equal ticks in tracks 1 and 3 keep track order",
         {{5, 5, 9}, {7, 9}, {5, 9}},
         {{5, 0, 0}, {5, 0, 1}, {5, 2, 0}, {7, 1, 0}, {9, 2, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Song song;
        Fill(song, c.ticks);
        ASSERT_TRUE(song.MergeToSingleTrack());
        EXPECT_TRUE(Labels(*song.FirstTrack()) == c.expected);
    }
}

TEST(Song, MergeOnlyForFormat1) {
    Song song;
    Fill(song, {{0, 1}, {0, 2}});
    song.SetFormat(0);
    EXPECT_FALSE(song.MergeToSingleTrack());
    EXPECT_EQ(song.TrackCount(), 2u);
    song.SetFormat(1);
    Fill(song, {{0, 1}});
    EXPECT_TRUE(song.MergeToSingleTrack());
    EXPECT_EQ(song.Format(), 0);
    Fill(song, {});
    EXPECT_TRUE(song.MergeToSingleTrack());
    EXPECT_EQ(song.TrackCount(), 0u);
}

bool ParseInto(const Bytes& image, Song& song) {
    HeapImage heap(image);
    return SmfReader().Parse(heap.data, heap.size, song, false);
}

std::string Text(const ByteBuffer& b) {
    return std::string(b.Data(), b.Data() + b.Size());
}

TEST(Song, TitleAndCopyrightComeFromTheFirstTrack) {
    const Bytes eot{0x00, 0xFF, 0x2F, 0x00};
    std::string longName(200, 'n');
    struct Case {
        const char* what;
        Bytes image;
        bool hasTitle;
        std::string title;
        bool hasCopyright;
        std::string copyright;
    };
    const Case cases[] = {
        {"name wins over an earlier text",
         SmfImage().Track(Cat({{0x00, 0xFF, 0x01, 0x04, 't', 'e', 'x', 't'},
                               {0x64, 0xFF, 0x03, 0x04, 'n', 'a', 'm', 'e'},
                               eot})),
         true, "name", false, ""},
        {"text when there is no name",
         SmfImage().Track(Cat(
             {{0x00, 0xFF, 0x01, 0x02, 'h', 'i'}, {0x00, 0xFF, 0x02, 0x03, '(', 'c', ')'}, eot})),
         true, "hi", true, "(c)"},
        {"empty name is found", SmfImage().Track(Cat({{0x00, 0xFF, 0x03, 0x00}, eot})), true, "",
         false, ""},
        {"name of 200 bytes",
         SmfImage().Track(
             Cat({{0x00, 0xFF, 0x03}, VarLen(200), Bytes(longName.begin(), longName.end()), eot})),
         true, longName, false, ""},
        {"name in the second track is not seen",
         SmfImage().Track(eot).Track(Cat({{0x00, 0xFF, 0x03, 0x01, 'x'}, eot})), false, "", false,
         ""},
        {"no tracks", SmfImage().ChunkCount(0), false, "", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Song song;
        ASSERT_TRUE(ParseInto(c.image, song));
        ByteBuffer title, copyright;
        title.Assign(reinterpret_cast<const uint8_t*>("untouched"), 9);
        EXPECT_EQ(song.GetTitle(title), c.hasTitle);
        EXPECT_EQ(Text(title), c.hasTitle ? c.title : "untouched");
        EXPECT_EQ(song.GetCopyright(copyright), c.hasCopyright);
        EXPECT_EQ(Text(copyright), c.copyright);
    }
}

TEST(Song, FormatAndDivisionRules) {
    Song song;
    EXPECT_TRUE(song.SetFormat(2));
    EXPECT_FALSE(song.SetFormat(3));
    EXPECT_EQ(song.Format(), 2);
    for (uint16_t ok : {0x0060, 0x7FFF, 0xE250, 0xE328, 0xE728, 0xE818}) {
        EXPECT_TRUE(song.SetDivision(ok)) << std::hex << ok;
        EXPECT_EQ(song.Division(), ok);
    }
    for (uint16_t bad : {0xE150, 0xE450, 0x8000, 0xFF01}) {
        EXPECT_FALSE(song.SetDivision(bad)) << std::hex << bad;
        EXPECT_EQ(song.Division(), 0xE818);
    }
    song.Reset();
    EXPECT_EQ(song.Format(), 0);
    EXPECT_EQ(song.Division(), 0);
    EXPECT_EQ(song.TrackCount(), 0u);
}

}  // namespace

namespace {

// Events are recycled inside the song's pool: a removed event's slot comes back clean, and
// Reset releases every event, large ones included (the sanitizer build sees any leak).
TEST(Song, RecycledEventsComeBackCleanAndResetReleasesAll) {
    Song song;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Track* track = song.AppendTrack();
        ASSERT_NE(track, nullptr);
        uint8_t sysex[200] = {0};
        for (uint32_t i = 0; i < 1000; ++i) {
            const uint32_t n = i % 3 == 0 ? 150 : 2;
            sysex[0] = uint8_t(n);
            ASSERT_TRUE(track->Append(i % 3 == 0 ? 0xF0 : 0x90, sysex, n, i));
        }
        for (int i = 0; i < 10; ++i) track->RemoveLast();
        const uint8_t note[2] = {0x3C, 0x40};
        ASSERT_TRUE(track->Append(0x90, note, 2, 5000));
        EXPECT_EQ(track->Count(), 991u);
        const MidiEvent* last = track->Last();
        ASSERT_EQ(last->bytes.Size(), 3u);
        EXPECT_EQ(last->bytes.Capacity(), 3u);
        EXPECT_EQ(last->bytes[0], 0x90);
        EXPECT_EQ(last->tick, 5000u);
        EXPECT_EQ(last->Next(), nullptr);
        EXPECT_EQ(last->Prev()->tick, 989u);
        uint32_t walked = 0;
        for (const MidiEvent* e = track->First(); e; e = e->Next()) ++walked;
        EXPECT_EQ(walked, 991u);
        song.Reset();
        EXPECT_EQ(song.TrackCount(), 0u);
    }
}

}  // namespace
