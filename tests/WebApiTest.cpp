// The C interface of the WebAssembly module, natively: what it gives back whatever allocation
// fails, and that C can call it.
#include <gtest/gtest.h>

#include <algorithm>
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

enum class Mode { Convert, HandOver, Describe };

Outcome Call(const Bytes& input, Mode mode) {
    TonfluxResult result;
    TonfluxOptions options;
    TonfluxDefaultOptions(&options);
    options.bufferKb = 1;
    Outcome outcome;
    if (mode == Mode::HandOver) {
        options.describe = 0;
        options.writeContext = &outcome.output;
        options.write = [](void* to, uint32_t offset, const uint8_t* data, uint32_t n) -> uint32_t {
            Bytes& output = *static_cast<Bytes*>(to);
            if (!data) return 1;
            if (output.size() < offset + n) output.resize(offset + n);
            std::copy(data, data + n, output.begin() + offset);
            return 1;
        };
    }
    outcome.status = mode == Mode::Describe
                         ? TonfluxDescribe(input.data(), uint32_t(input.size()), &options, &result)
                         : TonfluxConvert(input.data(), uint32_t(input.size()), &options, &result);
    if (mode != Mode::HandOver) {
        outcome.output.assign(result.output, result.output + result.outputLength);
    } else if (outcome.status == TonfluxOk) {
        EXPECT_EQ(outcome.output.size(), result.outputLength);
    }
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
    const Outcome mds = Call(sample, Mode::Convert);
    ASSERT_EQ(mds.status, TonfluxOk);
    const struct {
        const char* what;
        Bytes input;
        Mode mode;
    } cases[] = {{"MID to MDS", sample, Mode::Convert},
                 {"MID to MDS, handed over as it is made", sample, Mode::HandOver},
                 {"MDS to MID", mds.output, Mode::Convert},
                 {"description", mds.output, Mode::Describe},
                 {"description of the stream converted to", sample, Mode::Describe}};
    for (const auto& c : cases) {
        const Outcome plain = Call(c.input, c.mode);
        ASSERT_EQ(plain.status, TonfluxOk) << c.what;
        ASSERT_EQ(plain.described, c.mode != Mode::HandOver) << c.what;
        if (c.mode == Mode::HandOver) {
            EXPECT_EQ(plain.output, mds.output);
        }
        uint64_t refused = 0;
        for (uint64_t n = 1;; ++n) {
            FailNthAllocation(n);
            const Outcome run = Call(c.input, c.mode);
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
