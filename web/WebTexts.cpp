// WebTexts.cpp: writes, as JSON, the texts of tonflux-convert that the page and the npm package
// show: every refusal in both languages, made by the converter's own refusal words (Refusals)
// and on one line, as its reports print them. Numbers that depend on the file are printed as
// sentinels and then replaced by placeholders ({chunk}, {offset}, {offset:x}, {blocks},
// {events}), so that the texts are the converter's own, whatever its format strings.
//
//   tonflux_web_texts OUT.json
#include <clocale>
#include <cstdio>
#include <string>

#include "cli/Messages.h"
#include "cli/Platform.h"
#include "cli/Refusals.h"
#include "core/OutputFile.h"
#include "web/Tonflux.h"

namespace {

constexpr uint32_t ChunkSentinel = 3735928559u;  // 0xDEADBEEF
constexpr uint32_t OffsetSentinel = 0xFEEDFACEu;
constexpr uint32_t CountSentinel = 3405691582u;  // 0xCAFEBABE
constexpr uint32_t CountSentinel2 = 3141592653u;

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string Placeholders(std::string text) {
    ReplaceAll(text, std::to_string(ChunkSentinel), "{chunk}");
    ReplaceAll(text, "FEEDFACE", "{offset:x}");
    ReplaceAll(text, std::to_string(OffsetSentinel), "{offset}");
    ReplaceAll(text, std::to_string(CountSentinel), "{blocks}");
    ReplaceAll(text, std::to_string(CountSentinel2), "{events}");
    return text;
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// The fault names of the C interface, in its order.
const char* const SmfFaultNames[] = {
    "none",
    "not-smf",
    "cut-short",
    "header-length",
    "format",
    "division",
    "missing-chunks",
    "second-header",
    "chunk-past-end",
    "empty-track",
    "long-number",
    "data-without-status",
    "bad-status",
    "meta-type",
    "meta-length",
    "end-of-track-not-at-end",
    "no-end-of-track",
    "no-track",
};
static_assert(sizeof SmfFaultNames / sizeof *SmfFaultNames == TonfluxSmfNoTrack + 1, "names");
const char* const MdsFaultNames[] = {
    "none",        "not-riff",  "chunk-overrun", "missing-format", "format-chunk",
    "time-format", "data-size", "block-overrun", "event-overrun",  "bad-short-message",
};
static_assert(sizeof MdsFaultNames / sizeof *MdsFaultNames == TonfluxMdsBadShortMessage + 1,
              "names");

void WriteLanguage(FILE* out, const char* name, Language language, const char* locale) {
    std::fprintf(out, "  %s: {\n    \"smf\": {\n", Quoted(name).c_str());
    const size_t smfFaults = sizeof SmfFaultNames / sizeof *SmfFaultNames;
    for (size_t k = 0; k < smfFaults; ++k) {
        std::fprintf(out, "      %s: {", Quoted(SmfFaultNames[k]).c_str());
        const char* places[] = {"header", "track", "chunk"};
        for (int place = 0; place < 3; ++place) {
            std::fprintf(out, "%s%s: [", place ? ", " : "", Quoted(places[place]).c_str());
            for (int lenient = 0; lenient < 2; ++lenient) {
                SmfFault fault;
                fault.kind = SmfFaultKind(k);
                fault.chunk = place ? ChunkSentinel : 0;
                fault.trackChunk = place == 1;
                fault.offset = OffsetSentinel;
                const std::string text = OneLine(SmfRefusal(fault, lenient == 1, language));
                std::fprintf(out, "%s%s", lenient ? ", " : "", Quoted(Placeholders(text)).c_str());
            }
            std::fprintf(out, "]");
        }
        std::fprintf(out, "}%s\n", k + 1 < smfFaults ? "," : "");
    }
    std::fprintf(out, "    },\n    \"mds\": {\n");
    MdsCheck check;
    check.offset = OffsetSentinel;
    const size_t mdsFaults = sizeof MdsFaultNames / sizeof *MdsFaultNames;
    for (size_t k = 1; k < mdsFaults; ++k) {
        check.fault = MdsFault(k);
        const std::string text =
            OneLine(MdsRefusal(MdsConversionStatus::Malformed, check, language));
        std::fprintf(out, "      %s: %s,\n", Quoted(MdsFaultNames[k]).c_str(),
                     Quoted(Placeholders(text)).c_str());
    }
    const std::pair<const char*, MdsConversionStatus> others[] = {
        {"not-mds", MdsConversionStatus::NotMds},
        {"delta-too-large", MdsConversionStatus::DeltaTooLarge},
        {"text-too-long", MdsConversionStatus::TextTooLong},
    };
    for (const auto& other : others)
        std::fprintf(
            out, "      %s: %s%s\n", Quoted(other.first).c_str(),
            Quoted(Placeholders(OneLine(MdsRefusal(other.second, check, language)))).c_str(),
            other.second == MdsConversionStatus::TextTooLong ? "" : ",");
    std::fprintf(out, "    },\n");
    // The converter gives the system's own text for running out of memory.
    std::setlocale(LC_ALL, locale);
    const std::string outOfMemory = OneLine(Platform::ErrorText(OutOfMemoryErrorCode()));
    std::setlocale(LC_ALL, "C");
    char converted[256];
    std::snprintf(converted, sizeof converted, Text(Msg::Converted, language),
                  unsigned(CountSentinel), unsigned(CountSentinel2));
    const std::string tooLarge =
        OneLine(ConversionRefusal(ConversionStatus::EventTooLarge, SmfFault(), false, language));
    std::fprintf(out, "    \"event-too-large\": %s,\n", Quoted(tooLarge).c_str());
    std::fprintf(out, "    \"out-of-memory\": %s,\n", Quoted(outOfMemory).c_str());
    std::fprintf(out, "    \"buffer-size\": %s,\n",
                 Quoted(OneLine(Text(Msg::BufferSize, language))).c_str());
    std::fprintf(out, "    \"converted\": %s\n  }", Quoted(Placeholders(converted)).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tonflux_web_texts OUT.json\n");
        return 2;
    }
    FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out, "{\n  \"smfFaults\": [");
    for (const char* name : SmfFaultNames)
        std::fprintf(out, "%s%s", name == SmfFaultNames[0] ? "" : ", ", Quoted(name).c_str());
    std::fprintf(out, "],\n  \"mdsFaults\": [");
    for (const char* name : MdsFaultNames)
        std::fprintf(out, "%s%s", name == MdsFaultNames[0] ? "" : ", ", Quoted(name).c_str());
    std::fprintf(out, "],\n");
    WriteLanguage(out, "en", Language::English, "C");
    std::fprintf(out, ",\n");
    // Without the Japanese locale the system's text stays English, as the converter's would.
    WriteLanguage(out, "ja", Language::Japanese, "ja_JP.UTF-8");
    std::fprintf(out, "\n}\n");
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
