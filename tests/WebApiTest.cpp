// The C interface of the WebAssembly module, natively: what it gives back whatever allocation
// fails, and that C can call it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/AllocationHooks.h"
#include "web/Tonflux.h"

extern "C" uint32_t ConvertFromC(const uint8_t* image, uint32_t size, uint32_t bufferKb,
                                 uint32_t* outputLength);

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Sample() {
    std::ifstream in(TONFLUX_SAMPLE, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Outcome {
    uint32_t status = 0;
    Bytes output;
    uint32_t described = 0;
    std::vector<uint32_t> words;
};

Outcome Call(const Bytes& input, bool describeOnly) {
    TonfluxResult result;
    TonfluxOptions options;
    TonfluxDefaultOptions(&options);
    options.bufferKb = 1;
    Outcome outcome;
    outcome.status = describeOnly
                         ? TonfluxDescribe(input.data(), uint32_t(input.size()), &options, &result)
                         : TonfluxConvert(input.data(), uint32_t(input.size()), &options, &result);
    outcome.output.assign(result.output, result.output + result.outputLength);
    outcome.described = result.described;
    if (result.described) outcome.words.assign(result.words, result.words + result.events);
    TonfluxRelease(&result);
    return outcome;
}

// Each allocation refused in turn, the way there, the way back and a description: every run ends
// in the result of a plain run or in running out of memory, and never in anything else. A result
// whose tables found no memory is still the conversion (the sanitizer build checks the releases).
TEST(WebApi, EveryAllocationThatFailsIsOutOfMemoryOrTheSameResult) {
    const Bytes sample = Sample();
    const Outcome mds = Call(sample, false);
    ASSERT_EQ(mds.status, TonfluxOk);
    const struct {
        const char* what;
        Bytes input;
        bool describeOnly;
    } cases[] = {{"MID to MDS", sample, false},
                 {"MDS to MID", mds.output, false},
                 {"description", mds.output, true},
                 {"description of the stream converted to", sample, true}};
    for (const auto& c : cases) {
        const Outcome plain = Call(c.input, c.describeOnly);
        ASSERT_EQ(plain.status, TonfluxOk) << c.what;
        ASSERT_TRUE(plain.described) << c.what;
        uint64_t refused = 0;
        for (uint64_t n = 1;; ++n) {
            FailNthAllocation(n);
            const Outcome run = Call(c.input, c.describeOnly);
            const bool wasRefused = AllocationWasRefused();
            FailNthAllocation(0);
            if (!wasRefused) break;
            ++refused;
            const std::string at = std::string(c.what) + ", allocation " + std::to_string(n);
            if (run.status == TonfluxOutOfMemory) continue;
            ASSERT_EQ(run.status, TonfluxOk) << at;
            EXPECT_EQ(run.output, plain.output) << at;
            if (run.described) {
                EXPECT_EQ(run.words, plain.words) << at;
            }
        }
        if (refused == 0) {
            GTEST_SKIP() << "the allocation hooks do not work here (valgrind)";
        }
    }
}

TEST(WebApi, ServesC) {
    const Bytes sample = Sample();
    uint32_t length = 0;
    EXPECT_EQ(ConvertFromC(sample.data(), uint32_t(sample.size()), 4, &length), TonfluxOk);
    EXPECT_GT(length, sample.size());
    EXPECT_EQ(ConvertFromC(sample.data(), uint32_t(sample.size()), 64, &length), TonfluxBadOptions);
    EXPECT_EQ(length, 0u);
}

}  // namespace
