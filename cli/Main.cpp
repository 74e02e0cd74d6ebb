// Main.cpp: tonflux-convert, a thin entry over RunConvert.
#include <clocale>
#include <exception>
#include <iostream>
#include <new>

#include "cli/Convert.h"
#include "cli/Messages.h"
#include "cli/Platform.h"
#include "core/OutputFile.h"

int main(int argc, char** argv) {
    Platform::GuardStandardStreams();  // before anything else opens a file
    Platform::InstallInterruptCleanup();
    // The system's error texts in the user's language (strerror follows LC_MESSAGES).
    std::setlocale(LC_ALL, "");
    std::ios::sync_with_stdio(false);
    Platform::InstallConsoleStreams();
    SetLanguage(UserLanguage());
    // Nothing ends the process with an exception, not even the copy of the command line.
    try {
        const std::vector<std::string> args = Platform::Arguments(argc, argv);
        const int code =
            RunConvert(args, std::cout, std::cerr, ErrorConsole(Platform::ErrorIsTerminal()));
        std::cout.flush();
        return code;
    } catch (const std::bad_alloc&) {
        std::cerr << "tonflux-convert: " << Platform::ErrorText(OutOfMemoryErrorCode()) << "\n";
    } catch (const std::exception&) {
        std::cerr << "tonflux-convert: " << Text(Msg::Unexpected) << "\n";
    }
    return ExitCode::SomeFailed;
}
