// The fuzz checks replayed on the inputs that once broke them and on a few stored stream files
// (tests/data/fuzz/), and on a few built songs with every allocation refused in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "tests/fuzz/AllocationHooks.h"
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

using FuzzCheck = uint64_t (*)(const uint8_t*, size_t, uint64_t);

// Runs check once for every allocation it makes, refusing that allocation; true if the hook works.
// A failed check aborts the program, naming what and n.
bool CheckWithEveryAllocationRefused(FuzzCheck check, const char* checkName,
                                     const std::string& what, const Bytes& input) {
    FailNthAllocation(1);
    void* probe = ::operator new(1, std::nothrow);
    FailNthAllocation(0);
    ::operator delete(probe);
    if (probe) {  // valgrind puts its own allocator in place of ours
        check(input.data(), input.size(), 0);
        return false;
    }
    const std::string first = std::string(checkName) + " on " + what;
    SetCheckContext(first.c_str());
    const uint64_t allocations = check(input.data(), input.size(), 1);
    for (uint64_t n = 1; n <= allocations; ++n) {
        const std::string context = std::string(checkName) + " on " + what + ", allocation " +
                                    std::to_string(n) + " refused";
        SetCheckContext(context.c_str());
        check(input.data(), input.size(), n);
    }
    SetCheckContext(nullptr);
    return true;
}

TEST(FuzzRegression, StoredInputsPassEveryCheck) {
    for (const auto& path : FuzzInputs()) {
        const Bytes input = ReadFile(path);
        const std::string name = path.filename().string();
        if (!CheckWithEveryAllocationRefused(CheckReadAndMerge, "CheckReadAndMerge", name, input) ||
            !CheckWithEveryAllocationRefused(CheckConversion, "CheckConversion", name, input) ||
            !CheckWithEveryAllocationRefused(CheckStreamConversion, "CheckStreamConversion", name,
                                             input))
            GTEST_SKIP() << "the allocation hook is not in effect here";
        const std::string context = "CheckRoundTrip on " + name;
        SetCheckContext(context.c_str());
        CheckRoundTrip(input.data(), input.size());
        const std::string back = "CheckMdsToSmf on " + name;
        SetCheckContext(back.c_str());
        CheckMdsToSmf(input.data(), input.size());
        SetCheckContext(nullptr);
    }
}

TEST(FuzzRegression, EveryRefusedAllocationIsReportedOrHarmless) {  // on built songs
    const Bytes note = {0x00, 0x90, 0x3C, 0x40, 0x60, 0x3C, 0x00};
    const Bytes sysex = Cat({{0x00, 0xF0}, VarLen(300), Bytes(299, 0x11), {0xF7}});
    const Bytes wrapped = Cat({WrappingNotes(), EndOfTrack});
    SmfImage manyTracks;
    for (int i = 0; i < 40; ++i) manyTracks.Track(i % 3 ? Cat({note, EndOfTrack}) : wrapped);
    struct Case {
        const char* what;
        Bytes input;  // an image and the option byte
    };
    const Case cases[] = {
        {"format 0", Cat({SmfImage().Format(0).Track(Cat({note, sysex, EndOfTrack})), {0x03}})},
        {"format 1 with a title",
         Cat({SmfImage()
                  .Track(Cat({{0x00, 0xFF, 0x03, 0x02, 'h', 'i'}, EndOfTrack}))
                  .Track(Cat({note, note, EndOfTrack}))
                  .Track(wrapped),
              {0x80}})},
        {"MacBinary",
         Cat({SmfImage().MacBinary(MacBinaryHeader()).Track(Cat({note, EndOfTrack})), {0x00}})},
        {"40 tracks, some wrapped", Cat({manyTracks.Build(), {0x40}})},
        {"a name after a text event",
         Cat({SmfImage().Format(0).Track(Cat({{0x00, 0xFF, 0x01, 0x02, 't', 'x'},
                                              {0x00, 0xFF, 0x03, 0x0A},
                                              Bytes(10, 'n'),
                                              {0x00, 0xFF, 0x02, 0x09},
                                              Bytes(9, 'c'),
                                              EndOfTrack})),
              {0x01}})},
        {"long messages across a block cut at 1 KB",
         Cat({SmfImage().Format(0).Track(Cat({sysex, sysex, sysex, sysex, EndOfTrack})), {0x00}})},
    };
    for (const Case& c : cases) {
        if (!CheckWithEveryAllocationRefused(CheckReadAndMerge, "CheckReadAndMerge", c.what,
                                             c.input) ||
            !CheckWithEveryAllocationRefused(CheckConversion, "CheckConversion", c.what, c.input) ||
            !CheckWithEveryAllocationRefused(CheckStreamConversion, "CheckStreamConversion", c.what,
                                             c.input))
            GTEST_SKIP() << "the allocation hook is not in effect here";
    }
}

}  // namespace
