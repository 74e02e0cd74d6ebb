// ProgressLine.h: a one-line counter on a terminal's standard error while a batch (or a single
// long file) is converted: "[done/total] current file", redrawn in place and wiped before any
// report line. It never takes more than one row of the terminal, or a wipe would leave the rows
// above it behind.
#pragma once
#include <chrono>
#include <cstddef>
#include <functional>
#include <ostream>
#include <string>

// Standard error as the counter sees it. Tests give their own clock and width.
struct ErrorConsole {
    using Clock = std::chrono::steady_clock;
    bool isTerminal = false;
    std::function<Clock::time_point()> now;  // null: the steady clock
    std::function<unsigned()> columns;       // null: the terminal's width now; 0: unknown

    ErrorConsole(bool isTerminal = false) : isTerminal(isTerminal) {}
};

class ProgressLine {
public:
    // Draws nothing unless shown.
    ProgressLine(std::ostream& err, const ErrorConsole& console, bool shown, size_t total);

    // Whenever done changes, and at most ten times a second in between; a single file only once
    // it has taken a second.
    void Show(size_t done, const std::string& current);
    void Wipe();

private:
    using Clock = ErrorConsole::Clock;
    Clock::time_point Now() const { return console.now ? console.now() : Clock::now(); }

    std::ostream& err;
    const ErrorConsole& console;
    const bool shown;
    const size_t total;
    const Clock::time_point start;
    Clock::time_point last{};
    size_t lastDone = size_t(-1);
    bool drawn = false;
};
