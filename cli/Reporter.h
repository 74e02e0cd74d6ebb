// Reporter.h: the report lines of a run, one per input, in the order of the inputs.
#pragma once
#include <ostream>

#include "cli/Job.h"
#include "cli/Options.h"

// Converted files are reported on out, everything else on err. Standard output may be a pipe
// whose reader has gone (a "| head"): the conversions go on, and that failure is said once on
// standard error.
class Reporter {
public:
    Reporter(const Settings& s, std::ostream& out, std::ostream& err) : s(s), out(out), err(err) {}

    // True when the job converted, or was a duplicate that needed no conversion.
    bool Report(const Job& job);
    // False when a report line could not be written.
    bool Written() const { return !outFailed; }

private:
    void Say(const std::string& line);
    void Warn(const std::string& path, const std::string& reason);

    const Settings& s;
    std::ostream& out;
    std::ostream& err;
    bool outFailed = false;
};
