// The tamo command-line tool: subcommand table, argument parsing and image
// file helpers shared by every subcommand.
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "records.h"
#include "tamo++.h"
#include "tamo.h"

namespace cli {

// A failure to report on standard error (one line) with a non-zero exit.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A mistake in the command line (missing argument, bad option value): one
// line on standard error and exit status 2.
struct UsageError : Failure {
    using Failure::Failure;
};

// Parsed arguments of one subcommand: positionals in order, "--name value"
// options and "--flag" switches.
class Options {
public:
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;

    bool has(const std::string &name) const { return values.count(name) || flags.count(name); }
    std::string text(const std::string &name, const std::string &fallback) const;
    // Numeric options; a value that is not a number throws Failure.
    double number(const std::string &name, double fallback) const;
    // A number for a single-precision parameter: one that would become
    // infinite, or 0 although it is not, as a float throws UsageError too.
    float real(const std::string &name, float fallback) const;
    int integer(const std::string &name, int fallback) const;
    // The positional at index i; throws Failure naming `what` when missing.
    const std::string &arg(std::size_t i, const char *what) const;
};

// One subcommand. `valued` lists the option names that take a value (without
// "--"), `switches` those that do not. `help` is printed by "tamo NAME --help".
struct Command {
    const char *name;
    const char *summary;  // one line for "tamo --help"
    const char *help;     // usage and parameters
    std::vector<std::string> valued;
    std::vector<std::string> switches;
    int (*run)(const Options &);  // returns the exit status
};

// Adds a command to the table; declare one static Registrar per command in
// the source that implements it.
struct Registrar {
    explicit Registrar(Command command);
};

// The table, sorted by name.
const std::vector<Command> &commands();

// The command called `name`, or null.
const Command *findCommand(const std::string &name);

// Parses the arguments that follow the command name. "--name value" and
// "--name=value" for valued options ("-j4" too for one-letter ones),
// "--flag" for switches, "--" ends the
// options; "-" and negative numbers are positionals. Throws UsageError on an
// unknown option or a missing value.
Options parseOptions(const Command &command, const std::vector<std::string> &args);

// Reads an image: a point file (a name ending in "Tamob") plotted at scale 1;
// TIFF and .npy files (by suffix) in the type that holds
// their values exactly; own-format files (by name ending, see isOwnFormatName) and
// "-" (standard input) through the library reader; anything else through
// QtGui's image reader as a 3-frame record of type `rasterType` (frames R,
// G, B; an interleaved type gets them, and alpha for four channels, as the
// channels of each pixel). Throws Failure naming the file and the reason
// (UsageError for an unknown type name).
tamo::RecordPtr readImage(const std::string &path, const char *rasterType = "float");

// Writes an image: TIFF (Deflate-compressed when img->orvcomp is set) and
// .npy files (by suffix) in the record's type; own format for own-format names and "-" (standard
// output), a raster file otherwise (1 frame grey, 3 frames or an interleaved type colour; values
// clamped to 0..255 and rounded; complex types by their real part), the format from the name's
// suffix. Throws Failure.
void writeImage(const std::string &path, TAMOHDR *img);

using frontend::isOwnFormatName;

// A new zero-filled record of the given type and the same dimensions as
// `like` (the first `ndim` of them when ndim > 0). Throws Failure.
tamo::RecordPtr createLike(TAMOHDR *like, const char *type = "float", int ndim = 0);

// createLike for an operator that writes every element of its result: the
// pixels are not zero-filled first (for a large image that costs as much as
// a simple operator). Throws Failure.
tamo::RecordPtr createUnfilled(TAMOHDR *like, const char *type);

// While alive, and only when the image goes to standard output ("-"), what
// the library prints on standard output goes to standard error instead, so
// that the image written to standard output stays clean.
class LibraryTextAside {
public:
    explicit LibraryTextAside(const std::string &outPath);
    ~LibraryTextAside();
    LibraryTextAside(const LibraryTextAside &) = delete;
    LibraryTextAside &operator=(const LibraryTextAside &) = delete;

private:
    int saved_ = -1;
};

// Throws Failure unless an image of cols x rows x frames elements of
// `elementSize` bytes fits one record (2^31 - 1 bytes of pixels); `what`
// names it in the message. Sizes derived from options are checked here,
// in 64 bits, before anything is created.
void requireRecordFits(long long cols, long long rows, long long frames, int elementSize,
                       const char *what);

// A library operator's failure status, as a Failure that keeps the status.
struct LibraryFailure : Failure {
    LibraryFailure(const std::string &what, int status) : Failure(what), status(status) {}
    int status;
};

// Turns an operator's failure status into a LibraryFailure that gives the
// reason with the code ("flgmag: the image has fewer rows than the kernel
// needs (code -5)"); NAME is the operator's function name.
void checkStatus(int status, const char *operation);

// A program that runs commands in its own process on images it holds in
// memory (the Python package): names it knows stand for its images instead
// of files, and values the tool would print are handed to it. Installed per
// thread, so that commands on different images may run at once.
class Host {
public:
    virtual ~Host() = default;
    // The image called `name`, or null when the name is not the host's.
    // Throws Failure when the image cannot be made.
    virtual tamo::RecordPtr read(const std::string &name) = 0;
    // Takes the result called `name` (the command releases img afterwards);
    // false when the name is not the host's.
    virtual bool write(const std::string &name, TAMOHDR *img) = 0;
    // A number the command reports (ccl's label count, ifneg's answer);
    // false lets the tool print it as usual.
    virtual bool value(const char *name, double v) = 0;
};

// Installs a host for the calling thread while alive.
class HostScope {
public:
    explicit HostScope(Host *host);
    ~HostScope();
    HostScope(const HostScope &) = delete;
    HostScope &operator=(const HostScope &) = delete;

private:
    Host *previous_;
};

// Hands a reported value to the calling thread's host; false when there is
// none or it declines (the caller then prints the value).
bool reportValue(const char *name, double v);

// The whole tool on a command line (argv[0] is the program's name): parses
// it, runs the command and returns the exit status. A process-ending
// condition in the library stops the command, not the caller.
int runTool(int argc, char **argv);

}  // namespace cli
