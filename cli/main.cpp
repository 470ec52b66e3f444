// tamo: the headless command-line entry to the Tamo image library.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli.h"
#include "progress.h"

namespace {

#ifndef TAMO_VERSION
#error "TAMO_VERSION comes from the build (the project's version)"
#endif
const char *const kVersion = TAMO_VERSION;

// Thrown by the library's exit hook: a process-ending condition inside a
// library call unwinds to main instead of ending the tool silently.
struct Stopped {
    int status;
};

[[noreturn]] void stopOperation(int status) {
    throw Stopped{status};
}

// The shell sees only the low 8 bits of an exit status; a library status
// such as 0, 256 or 512 must still read as a failure.
int exitStatusFor(int status) {
    int code = status & 0xff;
    return code == 0 ? 1 : code;
}

void printUsage(FILE *out) {
    std::fprintf(out,
                 "Usage: tamo COMMAND [ARGUMENTS] [OPTIONS]\n"
                 "       tamo COMMAND --help\n"
                 "       tamo --version\n"
                 "\n"
                 "Own-format files (names ending in tamo, Tamo, TAMO, tam, Tam, TAM, orv or ORV;\n"
                 "\"-\" for the standard streams) and pictures (PNG, JPEG, TIFF, ...).\n"
                 "\n"
                 "Commands:\n");
    std::size_t width = 0;
    for (const cli::Command &c : cli::commands()) width = std::max(width, std::strlen(c.name));
    for (const cli::Command &c : cli::commands())
        std::fprintf(out, "  %-*s  %s\n", static_cast<int>(width), c.name, c.summary);
}

void printHelp(const cli::Command &c) {
    std::fputs(c.help, stdout);
    std::size_t n = std::strlen(c.help);
    if (n == 0 || c.help[n - 1] != '\n') std::fputc('\n', stdout);
}

int runCommand(const cli::Command &command, const std::vector<std::string> &args) {
    const char *name = command.name;
    try {
        cli::Options opts = cli::parseOptions(command, args);
        // Gone (and erased) before any message below is printed.
        cli::ProgressBar progress(name);
        int status = command.run(opts);
        std::fflush(stdout);
        return status;
    } catch (const Stopped &s) {
        std::fflush(stdout);
        std::fprintf(stderr, "tamo %s: stopped by a fatal library error (status %d)\n", name,
                     s.status);
        return exitStatusFor(s.status);
    } catch (const cli::UsageError &e) {
        std::fprintf(stderr, "tamo %s: %s (see tamo %s --help)\n", name, e.what(), name);
        return 2;
    } catch (const cli::Failure &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "tamo %s: %s\n", name, e.what());
        return 1;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "tamo %s: out of memory\n", name);
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tamo %s: %s\n", name, e.what());
        return 1;
    }
}

}  // namespace

int cli::runTool(int argc, char **argv) {
    Tamo_exitptr = stopOperation;

    if (argc < 2) {
        std::fprintf(stderr, "tamo: no command given (see tamo --help)\n");
        return 2;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        printUsage(stdout);
        return 0;
    }
    if (first == "--version") {
        std::printf("tamo %s\n", kVersion);
        return 0;
    }
    if (first == "help" && argc == 3) {
        if (const cli::Command *c = cli::findCommand(argv[2])) {
            printHelp(*c);
            return 0;
        }
    }
    const cli::Command *command = cli::findCommand(first);
    if (!command) {
        if (first.size() > 1 && first[0] == '-')
            std::fprintf(stderr, "tamo: unknown option '%s' (see tamo --help)\n", first.c_str());
        else
            std::fprintf(stderr, "tamo: unknown command '%s' (see tamo --help)\n", first.c_str());
        return 2;
    }

    std::vector<std::string> args(argv + 2, argv + argc);
    for (const std::string &a : args) {
        if (a == "--") break;
        if (a == "--help" || a == "-h") {
            printHelp(*command);
            return 0;
        }
    }
    return runCommand(*command, args);
}

#ifndef TAMO_CLI_NO_MAIN
int main(int argc, char **argv) {
    return cli::runTool(argc, argv);
}
#endif
