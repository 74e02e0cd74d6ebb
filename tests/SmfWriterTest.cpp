#include "core/SmfWriter.h"

#include <gtest/gtest.h>

#include "tests/support/MdsImage.h"

namespace {

const Bytes EndOfTrack{0x00, 0xFF, 0x2F, 0x00};

// A format 0 SMF of one track, as the writer lays it out.
Bytes Smf(const Bytes& events, uint16_t division = 96) {
    return SmfImage().Format(0).Division(division).Track(Cat({events, EndOfTrack}));
}

TEST(SmfWriter, WritesTheEventsOfAStreamFileOrRefusesIt) {
    struct Case {
        const char* what;
        Bytes mds;
        bool useRunningStatus;
        SmfPlanStatus status;
        uint32_t offset;  // of the fault, when refused
        Bytes smf;        // when written
    };
    const Bytes noteOn = PackedEvent(0, 0x00403C90);
    const Bytes texts =
        InfoList({RiffChunk("INAM", {'S', 'o', 'n', 'g', 0}), RiffChunk("ICOP", {'(', 'c', ')'})});
    const Bytes everyKind = MdsFile({FmtChunk(1024, 0, 480),
                                     DataChunk({{0, Cat({noteOn,
                                                         PackedEvent(96, 0x0000003C),
                                                         PackedEvent(0, 0x000010C5),
                                                         PackedEvent(10, 0x0107A120),
                                                         PackedEvent(0, 0x80000003),
                                                         {0xF0, 0x01, 0x02, 0x00},
                                                         PackedEvent(5, 0x80000002),
                                                         {0x01, 0x02, 0x00, 0x00},
                                                         noteOn})}}),
                                     texts});
    const Bytes everyKindTrack =
        {
            0x00, 0xFF, 0x03, 0x04, 'S',  'o',  'n',  'g',  // one NUL off
            0x00, 0xFF, 0x02, 0x03, '(',  'c',  ')',  0x00, 0x90, 0x3C,
            0x40, 0x60, 0x3C, 0x00,  // running status
            0x00, 0xC5, 0x10, 0x0A, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,
            0x00, 0xF0, 0x02, 0x01, 0x02, 0x05, 0xF7, 0x02, 0x01, 0x02,  // no F0: sent as it is
            0x00, 0x90, 0x3C, 0x40};
    Bytes skipped17;  // 17 times 0x0FFFFFFF is 0x10FFFFFEF
    for (int i = 0; i < 17; ++i) skipped17 = Cat({skipped17, PackedEvent(0x0FFFFFFF, 0x02000000)});
    Bytes withoutRunningStatus = everyKindTrack;
    withoutRunningStatus.insert(withoutRunningStatus.begin() + 20, 0x90);
    const Case cases[] = {
        {"every event kind and the texts", everyKind, true, SmfPlanStatus::Ok, 0,
         Smf(everyKindTrack, 480)},
        {"the same without running status", everyKind, false, SmfPlanStatus::Ok, 0,
         Smf(withoutRunningStatus, 480)},
        {"skipped events carry their deltas, the callback flag is ignored",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({PackedEvent(5, 0x02000000),
                                                  PackedEvent(3, 0x40403C90),
                                                  PackedEvent(2, 0x82000002),
                                                  {'h', 'i', 0, 0},
                                                  PackedEvent(1, 0x84000000),
                                                  PackedEvent(1, 0x0107A120)})}})}),
         true, SmfPlanStatus::Ok, 0,
         Smf({0x08, 0x90, 0x3C, 0x40, 0x04, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20})},
        {"8-byte events in blocks over any maximum, their tickStarts ignored",
         MdsFile({FmtChunk(4, 1), DataChunk({{7, Cat({Le32(1), Le32(0x00403C90)})},
                                             {0, Cat({Le32(2), Le32(0x0000003C)})}})}),
         true, SmfPlanStatus::Ok, 0, Smf({0x01, 0x90, 0x3C, 0x40, 0x02, 0x3C, 0x00})},
        {"stream identifiers ignored",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({Le32(3), Le32(9), Le32(0x00403C90)})}})}), true,
         SmfPlanStatus::Ok, 0, Smf({0x03, 0x90, 0x3C, 0x40})},
        {"the status again after a meta or system exclusive event",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({noteOn, PackedEvent(0, 0x0107A120),
                                                  PackedEvent(0, 0x0000003C)})}})}),
         true, SmfPlanStatus::Ok, 0,
         Smf({0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0x90, 0x3C,
              0x00})},
        {"the status again before a data byte of 0x80 or above",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({noteOn, PackedEvent(0, 0x0040BC90)})}})}), true,
         SmfPlanStatus::Ok, 0, Smf({0x00, 0x90, 0x3C, 0x40, 0x00, 0x90, 0xBC, 0x40})},
        {"bytes past a short message are dropped",
         MdsFile({FmtChunk(), DataChunk({{0, PackedEvent(0, 0x007710C5)}})}), true,
         SmfPlanStatus::Ok, 0, Smf({0x00, 0xC5, 0x10})},
        {"an empty title, a copyright of one NUL, a long message of none",
         MdsFile({FmtChunk(), DataChunk({{0, PackedEvent(0, 0x80000000)}}),
                  InfoList({RiffChunk("INAM", {}), RiffChunk("ICOP", {0})})}),
         true, SmfPlanStatus::Ok, 0,
         Smf({0x00, 0xFF, 0x03, 0x00, 0x00, 0xFF, 0x02, 0x00, 0x00, 0xF7, 0x00})},
        {"the first INAM of the INFO lists, wherever they stand",
         MdsFile({RiffChunk("LIST", Cat({Id("adtl"), RiffChunk("INAM", {'x'})})),
                  InfoList({RiffChunk("INAM", {'a'})}), FmtChunk(),
                  InfoList({RiffChunk("INAM", {'b'}), RiffChunk("ICOP", {'c'})}),
                  DataChunk({{0, noteOn}})}),
         true, SmfPlanStatus::Ok, 0,
         Smf({0x00, 0xFF, 0x03, 0x01, 'a', 0x00, 0xFF, 0x02, 0x01, 'c', 0x00, 0x90, 0x3C, 0x40})},
        {"an SMPTE time format, the high 16 bits dropped",
         MdsFile({FmtChunk(1024, 0, 0x0001E728), DataChunk({})}), true, SmfPlanStatus::Ok, 0,
         Smf({}, 0xE728)},
        {"skipped deltas that would wrap 32 bits back to 0",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({PackedEvent(0xFFFFFFFF, 0x02000000),
                                                  PackedEvent(1, 0x00403C90)})}})}),
         true,
         SmfPlanStatus::DeltaTooLarge,
         64,
         {}},
        {"skipped deltas that would wrap 32 bits to a delta an SMF holds",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({skipped17, noteOn})}})}),
         true,
         SmfPlanStatus::DeltaTooLarge,
         52 + 17 * 12,
         {}},
        {"a delta above 0x0FFFFFFF",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({noteOn, PackedEvent(0x10000000, 0x3C)})}})}),
         true,
         SmfPlanStatus::DeltaTooLarge,
         64,
         {}},
        {"skipped deltas adding up to more than 0x0FFFFFFF",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({PackedEvent(0x0FFFFFFF, 0x02000000),
                                                  PackedEvent(1, 0x00403C90)})}})}),
         true,
         SmfPlanStatus::DeltaTooLarge,
         64,
         {}},
        {"not a MIDI stream file", Smf({}), true, SmfPlanStatus::NotMds, 0, {}},
        {"a malformed one",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({PackedEvent(0, 0x00403CF8)})}})}),
         true,
         SmfPlanStatus::Malformed,
         60,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HeapImage heap(c.mds);
        SmfPlan plan;
        ASSERT_EQ(PlanSmf(heap.data, heap.size, c.useRunningStatus, plan), c.status);
        if (c.status != SmfPlanStatus::Ok) {
            EXPECT_EQ(plan.fault.offset, c.offset);
            continue;
        }
        MemoryFile out(4096);
        ASSERT_TRUE(WriteSmfImage(plan, out));
        EXPECT_EQ(Bytes(out.Data(), out.Data() + out.GetLength()), c.smf);
    }
}

}  // namespace
