#include "cli/Options.h"

#include <cstdio>

#include "cli/About.h"
#include "cli/Messages.h"
#include "cli/Printable.h"
#include "cli/Refusals.h"
#include "core/OutputFile.h"

namespace {

// No more files are written at once than the interrupt cleanup can keep track of.
constexpr unsigned MaxJobs = MaxUnfinishedOutputs;

enum class Opt {
    Output,
    OutputDir,
    BufferKb,
    NoRunningStatus,
    OmitStreamIds,
    Force,
    Jobs,
    Recursive,
    Lenient,
    ToMid,
    Quiet,
    Dump,
    Help,
    Version,
};

struct Option {
    Opt id;
    char shortName;         // 0: none
    const char* longName;   // without the dashes
    const char* valueName;  // null: takes no value
    Msg help;               // its lines in --help, after the names
};

// In the order --help lists them.
const Option Options[] = {
    {Opt::Output, 'o', "output", "FILE", Msg::HelpOutput},
    {Opt::OutputDir, 'd', "output-dir", "DIR", Msg::HelpOutputDir},
    {Opt::BufferKb, 'k', "buffer-kb", "N", Msg::HelpBufferKb},
    {Opt::NoRunningStatus, 0, "no-running-status", nullptr, Msg::HelpNoRunningStatus},
    {Opt::OmitStreamIds, 0, "omit-stream-ids", nullptr, Msg::HelpOmitStreamIds},
    {Opt::Force, 'f', "force", nullptr, Msg::HelpForce},
    {Opt::Jobs, 'j', "jobs", "N", Msg::HelpJobs},
    {Opt::Recursive, 'r', "recursive", nullptr, Msg::HelpRecursive},
    {Opt::Lenient, 0, "lenient", nullptr, Msg::HelpLenient},
    {Opt::ToMid, 0, "to-mid", nullptr, Msg::HelpToMid},
    {Opt::Quiet, 'q', "quiet", nullptr, Msg::HelpQuiet},
    {Opt::Dump, 0, "dump", "FILE.mds", Msg::HelpDump},
    {Opt::Help, 'h', "help", nullptr, Msg::HelpHelp},
    {Opt::Version, 0, "version", nullptr, Msg::HelpVersion},
};

// Where the descriptions start in --help.
constexpr size_t HelpColumn = 27;

// A whole decimal number from first to last, nothing else; false when it is not one or too large.
bool ParseNumber(const std::string& text, unsigned long& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + unsigned(c - '0');
    }
    return true;
}

// -1 to go on, else the exit code.
int Apply(const Option& o, const std::string& spelled, const std::string& value, Settings& s,
          std::ostream& err) {
    unsigned long n = 0;
    // An empty value is a slip (a variable that was not set), never a wish.
    if (o.valueName && value.empty()) return UsageError(err, Text(Msg::EmptyValue) + spelled);
    switch (o.id) {
        case Opt::Output:
            s.output = value;
            break;
        case Opt::OutputDir:
            s.outputDir = value;
            break;
        case Opt::BufferKb:
            if (!ParseNumber(value, n) || !IsValidBufferKilobytes(uint32_t(n))) {
                err << "tonflux-convert: " << OneLine(Text(Msg::BufferSize)) << "\n";
                return ExitCode::Usage;
            }
            s.options.maxBufferBytes = uint32_t(n * 1024);
            break;
        case Opt::NoRunningStatus:
            s.options.useRunningStatus = false;
            break;
        case Opt::OmitStreamIds:
            s.options.omitStreamIds = true;
            break;
        case Opt::Force:
            s.force = true;
            break;
        case Opt::Jobs:
            if (!ParseNumber(value, n) || n < 1 || n > MaxJobs) {
                char text[160];
                std::snprintf(text, sizeof text, Text(Msg::BadJobs), MaxJobs);
                return UsageError(err, text);
            }
            s.jobs = unsigned(n);
            break;
        case Opt::Recursive:
            s.recursive = true;
            break;
        case Opt::Lenient:
            s.mode = SmfReadMode::Lenient;
            break;
        case Opt::ToMid:
            s.toMidi = true;
            break;
        case Opt::Quiet:
            s.quiet = true;
            break;
        case Opt::Dump:
            s.dumps.push_back(value);
            break;
        case Opt::Help:
            s.help = true;
            break;
        case Opt::Version:
            s.version = true;
            break;
    }
    return -1;
}

const Option* FindLong(const std::string& name) {
    for (const Option& o : Options)
        if (name == o.longName) return &o;
    return nullptr;
}

const Option* FindShort(char name) {
    for (const Option& o : Options)
        if (o.shortName && o.shortName == name) return &o;
    return nullptr;
}

}  // namespace

int UsageError(std::ostream& err, const std::string& reason) {
    err << "tonflux-convert: " << OneLine(reason) << "\n"
        << Text(Msg::UsageLine) << "\n"
        << Text(Msg::SeeHelp) << "\n";
    return ExitCode::Usage;
}

int ParseOptions(const std::vector<std::string>& args, Settings& s, std::ostream& err) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            s.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            const size_t equals = arg.find('=');
            const std::string name =
                arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const Option* option = FindLong(name);
            if (!option) return UsageError(err, Text(Msg::UnknownOption) + Printable(arg));
            std::string value;
            if (option->valueName) {
                if (equals != std::string::npos)
                    value = arg.substr(equals + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    return UsageError(err, Text(Msg::MissingValue) + arg);
            } else if (equals != std::string::npos) {
                return UsageError(err, Text(Msg::UnknownOption) + Printable(arg));
            }
            const int code = Apply(*option, "--" + name, value, s, err);
            if (code >= 0) return code;
            continue;
        }
        // Short options may be bundled (-fq); a value follows its letter or is the next argument.
        for (size_t k = 1; k < arg.size(); ++k) {
            const Option* option = FindShort(arg[k]);
            const std::string spelled = std::string("-") + arg[k];
            if (!option) return UsageError(err, Text(Msg::UnknownOption) + Printable(spelled));
            std::string value;
            if (option->valueName) {
                if (k + 1 < arg.size())
                    value = arg.substr(k + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    return UsageError(err, Text(Msg::MissingValue) + spelled);
                k = arg.size();
            }
            const int code = Apply(*option, spelled, value, s, err);
            if (code >= 0) return code;
        }
    }
    return -1;
}

void WriteHelp(std::ostream& out) {
    out << Text(Msg::UsageLine) << "\n" << Text(Msg::HelpIntro) << "\n\n";
    for (const Option& o : Options) {
        std::string names = o.shortName ? std::string("  -") + o.shortName + ", " : "      ";
        names += std::string("--") + o.longName;
        if (o.valueName) names += std::string(" ") + o.valueName;
        names.resize(names.size() + 2 > HelpColumn ? names.size() + 2 : HelpColumn, ' ');
        const std::string help = Text(o.help);
        const std::string indent(HelpColumn, ' ');
        out << names;
        for (size_t at = 0, end; at < help.size(); at = end + 1) {
            end = help.find('\n', at);
            if (end == std::string::npos) end = help.size();
            out << (at ? indent : "") << help.substr(at, end - at) << "\n";
        }
    }
    out << "\n" << Text(Msg::HelpExit) << "\n" << About::LicenceLine << "\n";
}
