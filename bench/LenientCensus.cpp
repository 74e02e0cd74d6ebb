// What the lenient reading rescues in a collection of files: every file is read in both modes,
// and each one the strict mode refuses and the lenient mode reads is counted under the rules it
// needed.
//
//   tonflux_lenient_census [--fuzz] DIR...
//
// Every file directly in each DIR counts; --fuzz takes them as fuzz inputs (tests/fuzz/
// FuzzChecks.h) and drops their last byte, the option byte, first.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "core/Conversion.h"
#include "core/SmfReader.h"

namespace {

const struct {
    uint32_t mend;
    const char* name;
} Rules[] = {
    {SmfMend::RunningStatusAfterMeta, "1 running status after meta/sysex"},
    {SmfMend::ChunkCut, "2 chunk cut to the end of the file"},
    {SmfMend::TrackEnd, "3 track read to End of Track or chunk end"},
    {SmfMend::MetaLength, "4 meta event of another fixed length"},
    {SmfMend::MissingChunks, "5 file ends before every announced chunk"},
    {SmfMend::Rmid, "6 RIFF RMID"},
};

const char* const KindNames[] = {
    "None",         "NotSmf",     "CutShort",      "HeaderLength",
    "Format",       "Division",   "MissingChunks", "SecondHeader",
    "ChunkPastEnd", "EmptyTrack", "LongNumber",    "DataWithoutStatus",
    "BadStatus",    "MetaType",   "MetaLength",    "EndOfTrackNotAtEnd",
    "NoEndOfTrack", "NoTrack",
};

std::string RuleList(uint32_t mends) {
    std::string out;
    for (const auto& rule : Rules)
        if (mends & rule.mend) out += (out.empty() ? "" : "+") + std::string(rule.name, 1);
    return out;
}

double Percent(size_t part, size_t whole) {
    return whole ? 100.0 * double(part) / double(whole) : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    bool fuzz = false;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fuzz") == 0) {
            fuzz = true;
            continue;
        }
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error))
            if (entry.is_regular_file()) files.push_back(entry.path());
        if (error) {
            std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
            return 2;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: tonflux_lenient_census [--fuzz] DIR...\n");
        return 2;
    }
    std::sort(files.begin(), files.end());

    size_t strictReads = 0, bothRefuse = 0, rescued = 0, rescuedConvert = 0;
    size_t byRule[sizeof Rules / sizeof Rules[0]] = {};
    std::map<std::string, size_t> byCombination;
    std::map<SmfFaultKind, size_t> stillRefused;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        if (fuzz && !image.empty()) image.pop_back();
        const uint8_t* data = image.empty() ? nullptr : image.data();
        Song song;
        if (SmfReader().Parse(data, uint32_t(image.size()), song, true)) {
            ++strictReads;
            continue;
        }
        SmfReader lenient(SmfReadMode::Lenient);
        if (!lenient.Parse(data, uint32_t(image.size()), song, true)) {
            ++bothRefuse;
            ++stillRefused[lenient.Fault().kind];
            continue;
        }
        ++rescued;
        rescuedConvert += IsConvertible(song.Format(), song.TrackCount());
        for (size_t r = 0; r < sizeof Rules / sizeof Rules[0]; ++r)
            byRule[r] += (lenient.Mends() & Rules[r].mend) != 0;
        ++byCombination[RuleList(lenient.Mends())];
    }

    const size_t total = files.size();
    std::printf("files                   %6zu\n", total);
    std::printf("strict reads            %6zu  %5.1f%%\n", strictReads,
                Percent(strictReads, total));
    std::printf("lenient rescues         %6zu  %5.1f%%  (%zu of them convert)\n", rescued,
                Percent(rescued, total), rescuedConvert);
    std::printf("both refuse             %6zu  %5.1f%%\n", bothRefuse, Percent(bothRefuse, total));
    std::printf("\nrescued files needing each rule (a file may need several):\n");
    for (size_t r = 0; r < sizeof Rules / sizeof Rules[0]; ++r)
        std::printf("  %-44s %6zu  %5.1f%% of all files\n", Rules[r].name, byRule[r],
                    Percent(byRule[r], total));
    std::printf("\nrescued files by the exact rules they needed:\n");
    for (const auto& c : byCombination)
        std::printf("  %-12s %6zu  %5.1f%%\n", c.first.c_str(), c.second, Percent(c.second, total));
    std::printf("\nrefused by both, by the lenient mode's fault:\n");
    for (const auto& k : stillRefused)
        std::printf("  %-20s %6zu  %5.1f%%\n", KindNames[size_t(k.first)], k.second,
                    Percent(k.second, total));
    return 0;
}
