// Options.h: the command line. One table both parses the options and documents them in --help.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "core/ConversionOptions.h"
#include "core/SmfReader.h"

namespace ExitCode {
constexpr int AllConverted = 0;
constexpr int SomeFailed = 1;
constexpr int Usage = 2;
}  // namespace ExitCode

struct Settings {
    ConversionOptions options;
    SmfReadMode mode = SmfReadMode::Strict;
    std::string output;
    std::string outputDir;
    bool force = false;
    bool recursive = false;
    bool toMidi = false;  // only MIDI stream files, back to SMF; -r collects *.mds
    bool quiet = false;
    unsigned jobs = 0;  // 0: one per core
    std::vector<std::string> inputs;
    std::vector<std::string> dumps;
    bool help = false;
    bool version = false;
};

// Fills settings from args (without the program's name). -1 to go on, else the exit code of a
// usage error, which has been reported on err.
int ParseOptions(const std::vector<std::string>& args, Settings& settings, std::ostream& err);

// The answer to --help, in the current language.
void WriteHelp(std::ostream& out);

// Reports a usage error on err, with the usage line; returns ExitCode::Usage.
int UsageError(std::ostream& err, const std::string& reason);
