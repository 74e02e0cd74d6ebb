// The fuzz checks replayed on the inputs that once broke them (tests/data/fuzz/), and on a few
// built songs with every allocation refused in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "tests/fuzz/AllocationFailure.h"
#include "tests/fuzz/FuzzChecks.h"
#include "tests/support/SmfImage.h"

namespace {

const Bytes EndOfTrack{0x00, 0xFF, 0x2F, 0x00};

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::filesystem::path> FuzzInputs() {
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(TONFLUX_FUZZ_DATA))
        if (entry.is_regular_file()) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(FuzzRegression, InputsThatOnceFailedPassEveryCheck) {
    const auto paths = FuzzInputs();
    for (const auto& path : paths) {
        SCOPED_TRACE(path.filename().string());
        const Bytes input = ReadFile(path);
        CheckReadAndMerge(input.data(), input.size());
    }
}

TEST(FuzzRegression, EveryRefusedAllocationIsReportedOrHarmless) {
    FailNthAllocation(1);
    void* probe = ::operator new(1, std::nothrow);
    FailNthAllocation(0);
    ::operator delete(probe);
    // valgrind puts its own allocator in place of ours.
    if (probe) GTEST_SKIP() << "the allocation hook is not in effect here";

    const Bytes note = {0x00, 0x90, 0x3C, 0x40, 0x60, 0x3C, 0x00};
    const Bytes sysex = Cat({{0x00, 0xF0}, VarLen(300), Bytes(299, 0x11), {0xF7}});
    const Bytes wrapped = Cat({VarLen(0x0FFFFFFF), {0x90, 1, 1}, VarLen(0x0FFFFFFF), {2, 2},
                               VarLen(0x0FFFFFFF), {3, 3}, VarLen(0x0FFFFFFF), {4, 4},
                               VarLen(0x0FFFFFFF), {5, 5}, VarLen(0x0FFFFFFF), {6, 6},
                               VarLen(0x0FFFFFFF), {7, 7}, VarLen(0x0FFFFFFF), {8, 8},
                               VarLen(0x20), {9, 9}, EndOfTrack});
    SmfImage manyTracks;
    for (int i = 0; i < 40; ++i) manyTracks.Track(i % 3 ? Cat({note, EndOfTrack}) : wrapped);
    struct Case {
        const char* what;
        Bytes input;  // an image and the option byte
    };
    const Case cases[] = {
        {"format 0", Cat({SmfImage().Format(0).Track(Cat({note, sysex, EndOfTrack})), {0x03}})},
        {"format 1 with a title", Cat({SmfImage()
                                           .Track(Cat({{0x00, 0xFF, 0x03, 0x02, 'h', 'i'}, EndOfTrack}))
                                           .Track(Cat({note, note, EndOfTrack}))
                                           .Track(wrapped),
                                       {0x80}})},
        {"MacBinary", Cat({SmfImage().MacBinary(MacBinaryHeader()).Track(Cat({note, EndOfTrack})),
                           {0x00}})},
        {"40 tracks, some wrapped", Cat({manyTracks.Build(), {0x40}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uint64_t allocations = CheckReadAndMerge(c.input.data(), c.input.size(), 1);
        ASSERT_GT(allocations, 2u);
        for (uint64_t n = 2; n <= allocations; ++n) {
            SCOPED_TRACE(n);
            CheckReadAndMerge(c.input.data(), c.input.size(), n);
        }
    }
}

}  // namespace
