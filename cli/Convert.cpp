#include "cli/Convert.h"

#include <new>
#include <thread>

#include "cli/About.h"
#include "cli/ConvertInput.h"
#include "cli/Dump.h"
#include "cli/Messages.h"
#include "cli/Plan.h"
#include "cli/Platform.h"
#include "cli/Printable.h"
#include "cli/Refusals.h"
#include "cli/Reporter.h"
#include "cli/WorkerPool.h"
#include "core/OutputFile.h"

namespace {

int Run(const Settings& s, std::ostream& out, std::ostream& err, const ErrorConsole& console) {
    std::vector<Job> jobs = PlanRun(s);
    if (!s.output.empty() && jobs.size() > 1) return UsageError(err, Text(Msg::OutputWithMany));
    size_t runnable = 0;
    for (const Job& job : jobs) runnable += job.result == Result::Pending;
    const bool counted = console.isTerminal && !s.quiet;
    ProgressLine progress(err, console, counted, jobs.size());

    unsigned threads = s.jobs ? s.jobs : std::thread::hardware_concurrency();
    if (threads == 0) threads = 1;
    if (threads > runnable) threads = unsigned(runnable);
    WorkerPool pool(jobs, [&s](Job& job) { ConvertInput(job, s); });
    // One thread needs none of its own, unless a counter is to be drawn meanwhile.
    if (threads > 1 || (threads == 1 && counted)) pool.Start(threads);

    // Reports follow the order of the inputs, so the output does not depend on the job count.
    Reporter reporter(s, out, err);
    bool allConverted = true;
    for (size_t i = 0; i < jobs.size(); ++i) {
        const Job job = pool.Await(i, [&] { progress.Show(i, pool.Current()); });
        progress.Wipe();
        allConverted = reporter.Report(job) && allConverted;
        if (i + 1 < jobs.size()) progress.Show(i + 1, pool.Current());
    }
    progress.Wipe();
    return allConverted && reporter.Written() ? ExitCode::AllConverted : ExitCode::SomeFailed;
}

int Convert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            const ErrorConsole& console) {
    Settings s;
    const int parsed = ParseOptions(args, s, err);
    if (parsed >= 0) return parsed;
    if (s.help) {
        WriteHelp(out);
        return ExitCode::AllConverted;
    }
    if (s.version) {
        out << About::VersionText;
        return ExitCode::AllConverted;
    }
    if (!s.dumps.empty()) {
        if (!s.inputs.empty()) return UsageError(err, Text(Msg::DumpAndInput));
        int code = ExitCode::AllConverted;
        for (const std::string& path : s.dumps)
            if (DumpMdsFile(path, out, err) != 0) code = ExitCode::SomeFailed;
        return code;
    }
    if (s.inputs.empty()) return UsageError(err, Text(Msg::NoInput));
    if (!s.output.empty() && !s.outputDir.empty()) return UsageError(err, Text(Msg::OutputAndDir));
    if (!s.output.empty() && s.inputs.size() > 1) return UsageError(err, Text(Msg::OutputWithMany));
    if (!s.output.empty() && (Platform::EndsInSeparator(s.output) ||
                              Platform::Kind(s.output) == Platform::PathKind::Folder))
        return UsageError(err,
                          std::string(Text(Msg::OutputIsFolder)) + "'" + Printable(s.output) + "'");
    return Run(s, out, err, console);
}

}  // namespace

int RunConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const ErrorConsole& console) {
    // A file's own lack of memory is its report; this is for the run's: its options, its plan,
    // its reports.
    try {
        return Convert(args, out, err, console);
    } catch (const std::bad_alloc&) {
        err << "tonflux-convert: " << OneLine(Platform::ErrorText(OutOfMemoryErrorCode())) << "\n";
        return ExitCode::SomeFailed;
    }
}
