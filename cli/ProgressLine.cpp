#include "cli/ProgressLine.h"

#include <cstdio>

#include "cli/Messages.h"
#include "cli/Platform.h"
#include "cli/Printable.h"

ProgressLine::ProgressLine(std::ostream& err, const ErrorConsole& console, bool shown, size_t total)
    : err(err), console(console), shown(shown), total(total), start(Now()) {}

void ProgressLine::Show(size_t done, const std::string& current) {
    if (!shown) return;
    const Clock::time_point now = Now();
    if (done == lastDone && now - last < std::chrono::milliseconds(100)) return;
    if (total < 2 && now - start < std::chrono::seconds(1)) return;
    char counter[64];
    std::snprintf(counter, sizeof counter, Text(Msg::Progress), done, total);
    const unsigned width = console.columns ? console.columns() : Platform::ErrorColumns();
    // The last column is left free: a terminal may wrap as soon as it is written.
    const size_t room = (width ? width : 80) - 1;
    const size_t counterColumns = DisplayColumns(counter);
    const std::string line =
        counterColumns >= room ? TailInColumns(counter, room)
                               : counter + TailInColumns(Printable(current), room - counterColumns);
    err << "\r" << line << "\x1b[K" << std::flush;
    last = now;
    lastDone = done;
    drawn = true;
}

void ProgressLine::Wipe() {
    if (!drawn) return;
    err << "\r\x1b[K" << std::flush;
    drawn = false;
}
