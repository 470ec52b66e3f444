// tamo batch: one script run on many files, several at once.
//
// Every file gets its own run of the script, as a separate process group with
// an empty working folder of its own; the script writes its result to a
// temporary name in the output's folder, which is renamed to the output name
// only when the script succeeded. A failing file is reported and the others
// go on; an interrupt stops the running scripts and removes what they left.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli.h"

extern char **environ;

namespace fs = std::filesystem;

namespace {

// What is kept of a job's output for the report of a failure: its last bytes.
constexpr std::size_t kCaptureLimit = 4096;
// Lines of it shown per failed file.
constexpr int kReportLines = 20;
// How long stopped scripts get to clean up before they are killed outright.
constexpr auto kStopGrace = std::chrono::seconds(3);

const char kErase[] = "\r\033[K";

std::string inQuotes(const std::string &path) {
    return "'" + path + "'";
}

std::string systemText(int error) {
    return std::strerror(error);
}

int coreCount() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}

// The absolute name of this program, handed to the scripts as TAMO.
std::string ownProgram() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.string();
}

// ---- Signals -------------------------------------------------------------------

// The first interrupt or termination request; the main loop acts on it.
volatile std::sig_atomic_t stopSignal = 0;

void noteStop(int sig) {
    if (!stopSignal) stopSignal = sig;
}

void noteChild(int) {}

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// While alive: the stop signals and SIGCHLD are blocked except while the main
// loop waits (ppoll), so that none slips in between a check and the wait.
class SignalGuard {
public:
    SignalGuard() {
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGCHLD);
        for (int sig : kStopSignals) sigaddset(&block, sig);
        sigprocmask(SIG_BLOCK, &block, &original_);
        waitMask_ = original_;
        sigdelset(&waitMask_, SIGCHLD);

        struct sigaction action {};
        sigemptyset(&action.sa_mask);
        action.sa_handler = noteChild;
        sigaction(SIGCHLD, &action, &previous_[SIGCHLD]);
        action.sa_handler = noteStop;
        for (int sig : kStopSignals) {
            sigaction(sig, nullptr, &previous_[sig]);
            // A signal ignored by whoever started us (nohup, a background
            // job) stays ignored.
            if (previous_[sig].sa_handler == SIG_IGN) continue;
            sigaction(sig, &action, nullptr);
            sigdelset(&waitMask_, sig);
        }
    }
    ~SignalGuard() {
        sigaction(SIGCHLD, &previous_[SIGCHLD], nullptr);
        for (int sig : kStopSignals) sigaction(sig, &previous_[sig], nullptr);
        sigprocmask(SIG_SETMASK, &original_, nullptr);
    }
    SignalGuard(const SignalGuard &) = delete;
    SignalGuard &operator=(const SignalGuard &) = delete;

    // The mask the scripts start with: the one we were started with.
    const sigset_t &original() const { return original_; }
    const sigset_t &waitMask() const { return waitMask_; }

    // Ends the process by `sig` as if we had never caught it.
    [[noreturn]] void resignal(int sig) {
        std::fflush(nullptr);
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, sig);
        raise(sig);
        sigprocmask(SIG_UNBLOCK, &only, nullptr);
        _exit(128 + sig);
    }

private:
    sigset_t original_, waitMask_;
    struct sigaction previous_[NSIG] {};
};

// ---- Jobs ----------------------------------------------------------------------

struct Job {
    std::string given;      // the file's name as given, for messages
    std::string input;      // absolute
    std::string output;     // absolute
    std::string temporary;  // where the script writes, beside the output
    std::string scratch;    // the script's working folder
    pid_t pid = -1;
    int capture = -1;  // read end of the script's standard output and error
    std::string text;  // the last bytes of what the script printed
    bool cut = false;  // earlier bytes of it were dropped
    std::string failure;
};

// Output name: the input's name without its last extension, plus `suffix`,
// in `outDir` or beside the input.
std::string outputFor(const fs::path &input, const std::string &suffix, const fs::path &outDir) {
    const fs::path folder = outDir.empty() ? input.parent_path() : outDir;
    return (folder / (input.stem().string() + suffix)).string();
}

// The temporary name for `output`: hidden, in the same folder, and ending
// like the output name, so that a tool choosing the format by the name's
// ending writes the same format there. The output's name is shortened (as
// the atomic writer shortens it) so that the temporary name stays within
// the length of a folder entry even when the output's name is close to it.
std::string temporaryPattern(const std::string &output, std::size_t *endingLength) {
    constexpr std::size_t kKeptName = 200, kKeptEnding = 32;
    const fs::path out(output);
    const std::string name = out.filename().string();
    std::string ending = out.extension().string();
    if (ending.size() > kKeptEnding) ending.erase(0, ending.size() - kKeptEnding);
    *endingLength = ending.size();
    const std::string head = name.substr(0, kKeptName - ending.size());
    return (out.parent_path() / ("." + head + ".XXXXXX" + ending)).string();
}

// Out of descriptors (ours or the system's): a job that meets this waits for
// a running one to end instead of failing.
bool outOfDescriptors(int error) {
    return error == EMFILE || error == ENFILE;
}

// Permissions for a finished output: those of the file it replaces, the
// default ones for a new file otherwise (as the tool's own writes do).
mode_t outputMode(const std::string &output) {
    struct stat st;
    if (stat(output.c_str(), &st) == 0) return st.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

void appendCapture(Job &job, const char *data, std::size_t n) {
    job.text.append(data, n);
    if (job.text.size() > 2 * kCaptureLimit) {
        job.text.erase(0, job.text.size() - kCaptureLimit);
        job.cut = true;
    }
}

// Reads what is waiting on the job's pipe; closes it at its end. With
// `finalRead`, also closes it when nothing more is waiting (a process the
// script left running may hold it open).
void drainCapture(Job &job, bool finalRead) {
    if (job.capture < 0) return;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(job.capture, buffer, sizeof buffer);
        if (got > 0) {
            appendCapture(job, buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got == 0 || finalRead || errno != EAGAIN) {
            close(job.capture);
            job.capture = -1;
        }
        return;
    }
}

// The last lines the script printed, indented, for the report.
std::string reportText(const Job &job) {
    std::string text = job.text;
    bool cut = job.cut;
    if (cut) {
        const auto line = text.find('\n');
        text.erase(0, line == std::string::npos ? 0 : line + 1);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty()) return {};
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from <= text.size()) {
        const auto end = text.find('\n', from);
        lines.push_back(
            text.substr(from, end == std::string::npos ? std::string::npos : end - from));
        if (end == std::string::npos) break;
        from = end + 1;
    }
    if (lines.size() > static_cast<std::size_t>(kReportLines)) {
        lines.erase(lines.begin(), lines.end() - kReportLines);
        cut = true;
    }
    std::string out = cut ? "    ...\n" : "";
    for (const std::string &l : lines) out += "    " + l + "\n";
    return out;
}

class Batch {
public:
    Batch(std::string script, std::vector<Job> jobs, int parallel)
        : script_(std::move(script)), jobs_(std::move(jobs)), parallel_(parallel) {
        terminal_ = isatty(STDERR_FILENO);
    }

    // Runs every job; returns the exit status, or ends the process by the
    // stop signal that arrived.
    int run() {
        SignalGuard signals;
        startMask_ = signals.original();
        if (!makeScratchRoot()) {
            std::fprintf(stderr, "tamo batch: cannot create a working folder in %s: %s\n",
                         inQuotes(fs::temp_directory_path().string()).c_str(),
                         systemText(errno).c_str());
            return 1;
        }
        environment_ = baseEnvironment();
        std::size_t next = 0;
        while (!stopSignal && (next < jobs_.size() || running_ > 0)) {
            while (!stopSignal && running_ < parallel_ && next < jobs_.size() && start(jobs_[next]))
                ++next;
            drawProgress();
            if (running_ == 0) continue;
            waitForEvents(signals.waitMask());
            reapFinished();
        }
        const int stoppedBy = stopSignal;
        if (stoppedBy) stopAll();
        removeScratchRoot();
        eraseProgress();
        report(stoppedBy, jobs_.size() - next);
        if (stoppedBy) signals.resignal(stoppedBy);
        return failed_ ? 1 : 0;
    }

private:
    bool makeScratchRoot() {
        std::string pattern = (fs::temp_directory_path() / "tamo-batch-XXXXXX").string();
        if (!mkdtemp(pattern.data())) return false;
        scratchRoot_ = pattern;
        return true;
    }

    void removeScratchRoot() {
        std::error_code ec;
        if (!scratchRoot_.empty()) fs::remove_all(scratchRoot_, ec);
    }

    // The environment of every script: ours, with TAMO naming this program
    // and TAMO_THREADS sharing the cores among the scripts running at once,
    // unless already set.
    std::vector<std::string> baseEnvironment() const {
        std::vector<std::string> env;
        bool hasTamo = false, hasThreads = false;
        for (char **e = environ; e && *e; ++e) {
            const std::string entry = *e;
            // Set per job.
            if (entry.rfind("TMPDIR=", 0) == 0 || entry.rfind("PWD=", 0) == 0) continue;
            hasTamo |= entry.rfind("TAMO=", 0) == 0;
            hasThreads |= entry.rfind("TAMO_THREADS=", 0) == 0;
            env.push_back(entry);
        }
        const std::string self = ownProgram();
        if (!hasTamo && !self.empty()) env.push_back("TAMO=" + self);
        if (!hasThreads) {
            const int busy = std::max<int>(1, std::min<std::size_t>(parallel_, jobs_.size()));
            env.push_back("TAMO_THREADS=" + std::to_string(std::max(1, coreCount() / busy)));
        }
        return env;
    }

    void fail(Job &job, std::string reason) {
        job.failure = std::move(reason);
        ++failed_;
    }

    // Checks the job's files, makes its temporary output and working folder
    // and starts the script. A job that cannot start counts as failed. False
    // when the job must wait: the descriptors ran out while other scripts
    // run, which give theirs back when they end.
    bool start(Job &job) {
        struct stat st;
        if (stat(job.input.c_str(), &st) != 0) {
            fail(job, "cannot read it: " + systemText(errno));
            return true;
        }
        if (!S_ISREG(st.st_mode)) {
            fail(job, "it is not a regular file");
            return true;
        }
        if (lstat(job.output.c_str(), &st) == 0) {
            if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
                fail(job, "cannot replace " + inQuotes(job.output) + ": it is not a regular file");
                return true;
            }
            // A read-only output is left alone, as a plain write would. A
            // dangling symbolic link is replaced itself, as by tamo convert.
            const bool dangling =
                S_ISLNK(st.st_mode) && stat(job.output.c_str(), &st) != 0 && errno == ENOENT;
            if (!dangling && access(job.output.c_str(), W_OK) != 0) {
                fail(job, "cannot replace " + inQuotes(job.output) + ": " + systemText(errno));
                return true;
            }
        }
        auto mayWait = [&](int error) { return outOfDescriptors(error) && running_ > 0; };
        std::size_t ending = 0;
        std::string temporary = temporaryPattern(job.output, &ending);
        const int fd = mkstemps(temporary.data(), static_cast<int>(ending));
        if (fd < 0) {
            if (mayWait(errno)) return false;
            fail(job, "cannot create a file in " +
                          inQuotes(fs::path(job.output).parent_path().string()) + ": " +
                          systemText(errno));
            return true;
        }
        close(fd);
        job.temporary = temporary;
        job.scratch = scratchRoot_ + "/" + std::to_string(&job - jobs_.data());
        if (mkdir(job.scratch.c_str(), 0700) != 0) {
            fail(job, "cannot create its working folder: " + systemText(errno));
            cleanUp(job);
            return true;
        }
        const int error = spawn(job);
        if (error) {
            cleanUp(job);
            if (mayWait(error)) return false;
            fail(job, "cannot run the script: " + systemText(error));
            return true;
        }
        ++running_;
        return true;
    }

    // Starts the script as SCRIPT INPUT OUTPUT (through /bin/sh when it is
    // not a program of its own) in a new process group, with its working
    // folder as current folder and TMPDIR, standard input from /dev/null
    // and standard output and error into a pipe. Returns 0 or an errno.
    int spawn(Job &job) {
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0) return errno;
        fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);

        std::vector<std::string> env = environment_;
        env.push_back("TMPDIR=" + job.scratch);
        env.push_back("PWD=" + job.scratch);
        std::vector<char *> envp;
        for (std::string &e : env) envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
        posix_spawn_file_actions_addchdir_np(&actions, job.scratch.c_str());
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
        posix_spawnattr_setpgroup(&attr, 0);
        posix_spawnattr_setsigmask(&attr, &startMask_);

        // File names go to the script as arguments only, never through a
        // shell command line.
        std::string shell = "/bin/sh";
        std::vector<char *> direct{script_.data(), job.input.data(), job.temporary.data(), nullptr};
        std::vector<char *> viaShell{shell.data(), script_.data(), job.input.data(),
                                     job.temporary.data(), nullptr};
        pid_t pid = -1;
        int error = ENOEXEC;
        if (access(script_.c_str(), X_OK) == 0)
            error = posix_spawn(&pid, direct[0], &actions, &attr, direct.data(), envp.data());
        // Not a program by itself (no "#!" line, or not executable): a shell
        // script.
        if (error == ENOEXEC || error == EACCES)
            error = posix_spawn(&pid, viaShell[0], &actions, &attr, viaShell.data(), envp.data());
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        if (error) {
            close(pipeFds[0]);
            return error;
        }
        job.pid = pid;
        job.capture = pipeFds[0];
        return 0;
    }

    void waitForEvents(const sigset_t &waitMask) {
        std::vector<pollfd> fds;
        std::vector<Job *> owners;
        for (Job &job : jobs_)
            if (job.pid > 0 && job.capture >= 0) {
                fds.push_back({job.capture, POLLIN, 0});
                owners.push_back(&job);
            }
        // SIGCHLD or a stop signal ends the wait; the timeout is only a
        // safety net.
        timespec timeout{1, 0};
        const int ready = ppoll(fds.data(), fds.size(), &timeout, &waitMask);
        if (ready <= 0) return;
        for (std::size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents) drainCapture(*owners[i], false);
    }

    void reapFinished() {
        for (Job &job : jobs_) {
            if (job.pid <= 0) continue;
            int status = 0;
            const pid_t done = waitpid(job.pid, &status, WNOHANG);
            if (done == 0 || (done < 0 && errno == EINTR)) continue;
            job.pid = -1;
            --running_;
            drainCapture(job, true);
            finish(job, done < 0 ? -1 : status);
        }
    }

    // Judges a finished script and renames its output into place.
    void finish(Job &job, int status) {
        if (status == -1) {
            fail(job, "the script's status is lost");
        } else if (WIFSIGNALED(status)) {
            const int sig = WTERMSIG(status);
            fail(job, "the script was killed by signal " + std::to_string(sig) + " (" +
                          strsignal(sig) + ")");
        } else if (WEXITSTATUS(status) != 0) {
            fail(job,
                 "the script failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")");
        } else {
            struct stat st;
            if (lstat(job.temporary.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
                fail(job, "the script wrote no output");
            } else if (chmod(job.temporary.c_str(), outputMode(job.output)) != 0 ||
                       rename(job.temporary.c_str(), job.output.c_str()) != 0) {
                fail(job, "cannot write " + inQuotes(job.output) + ": " + systemText(errno));
            } else {
                job.temporary.clear();
                ++done_;
            }
        }
        cleanUp(job);
    }

    void cleanUp(Job &job) {
        if (!job.temporary.empty()) unlink(job.temporary.c_str());
        job.temporary.clear();
        std::error_code ec;
        if (!job.scratch.empty()) fs::remove_all(job.scratch, ec);
        job.scratch.clear();
    }

    // Asks every running script's process group to end, kills what is left
    // after a grace period, and removes what they leave. Their files count
    // as stopped, neither done nor failed.
    void stopAll() {
        std::vector<pid_t> groups;
        for (Job &job : jobs_)
            if (job.pid > 0) {
                kill(-job.pid, SIGTERM);
                groups.push_back(job.pid);
            }
        stopped_ = groups.size();
        const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
        while (running_ > 0 && std::chrono::steady_clock::now() < deadline) {
            for (Job &job : jobs_)
                if (job.pid > 0 && waitpid(job.pid, nullptr, WNOHANG) == job.pid) {
                    job.pid = -1;
                    --running_;
                }
            if (running_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // Whatever is left in their groups, leader or not, goes now.
        for (pid_t group : groups) kill(-group, SIGKILL);
        for (Job &job : jobs_) {
            if (job.pid > 0) {
                waitpid(job.pid, nullptr, 0);
                job.pid = -1;
                --running_;
            }
            if (job.capture >= 0) close(job.capture);
            job.capture = -1;
            cleanUp(job);
        }
    }

    void drawProgress() {
        if (!terminal_) return;
        std::string line =
            std::to_string(done_ + failed_) + " of " + std::to_string(jobs_.size()) + " files done";
        if (failed_) line += ", " + std::to_string(failed_) + " failed";
        if (line == shown_) return;
        shown_ = line;
        const std::string text = std::string(kErase) + "tamo batch: " + line;
        progressShown_ = true;
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    }

    void eraseProgress() {
        if (!progressShown_) return;
        std::fputs(kErase, stderr);
        progressShown_ = false;
    }

    void report(int stoppedBy, std::size_t notStarted) {
        for (const Job &job : jobs_) {
            if (job.failure.empty()) continue;
            std::fprintf(stderr, "tamo batch: %s: %s\n", job.given.c_str(), job.failure.c_str());
            std::fputs(reportText(job).c_str(), stderr);
        }
        std::string summary =
            std::to_string(done_) + " of " + std::to_string(jobs_.size()) + " files done";
        if (failed_) summary += ", " + std::to_string(failed_) + " failed";
        if (stoppedBy) {
            const char *how = stoppedBy == SIGINT    ? "interrupted"
                              : stoppedBy == SIGTERM ? "terminated"
                                                     : "hung up";
            summary = how + (": " + summary);
            if (stopped_) summary += ", " + std::to_string(stopped_) + " stopped";
            if (notStarted) summary += ", " + std::to_string(notStarted) + " not started";
        }
        std::fprintf(stderr, "tamo batch: %s\n", summary.c_str());
        std::fflush(stderr);
    }

    std::string script_;
    std::vector<Job> jobs_;
    int parallel_;
    sigset_t startMask_{};
    bool terminal_ = false;
    bool progressShown_ = false;
    std::string shown_;
    std::string scratchRoot_;
    std::vector<std::string> environment_;
    int running_ = 0;
    std::size_t done_ = 0, failed_ = 0, stopped_ = 0;
};

// A name with its links and "." and ".." resolved as far as it exists.
std::string canonicalName(const fs::path &path) {
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(path, ec);
    return (ec ? path.lexically_normal() : resolved).string();
}

// Identity of an existing file (device, inode), so that a hard link counts
// as the file it links.
bool fileIdentity(const std::string &path, std::pair<dev_t, ino_t> *id) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    *id = {st.st_dev, st.st_ino};
    return true;
}

int runBatch(const cli::Options &opts) {
    const std::string &script = opts.arg(0, "SCRIPT");
    opts.arg(1, "FILE");
    int parallel = coreCount();
    for (const char *name : {"j", "jobs"})
        if (opts.has(name)) parallel = opts.integer(name, parallel);
    if (parallel < 1) throw cli::UsageError("-j needs a count of 1 or more");
    const std::string suffix = opts.text("suffix", ".tamo");
    if (suffix.empty() || suffix.find('/') != std::string::npos)
        throw cli::UsageError("--suffix needs an ending without '/', such as .tamo or _out.png");

    std::error_code ec;
    fs::path outDir;
    if (opts.has("out")) {
        const std::string dir = opts.text("out", "");
        if (dir.empty()) throw cli::UsageError("--out needs a folder");
        outDir = fs::absolute(dir, ec);
        fs::create_directories(outDir, ec);
        if (!fs::is_directory(outDir))
            throw cli::Failure("cannot use " + inQuotes(dir) + " as the output folder" +
                               (ec ? ": " + ec.message() : ": it is not a folder"));
    }

    const fs::path scriptPath = fs::absolute(script, ec);
    struct stat st;
    if (stat(scriptPath.c_str(), &st) != 0)
        throw cli::Failure("cannot read the script " + inQuotes(script) + ": " + systemText(errno));
    if (!S_ISREG(st.st_mode) || access(scriptPath.c_str(), R_OK) != 0)
        throw cli::Failure("cannot read the script " + inQuotes(script) + ": " +
                           (S_ISREG(st.st_mode) ? systemText(errno) : "not a regular file"));

    // Outputs are planned before anything runs: one that would replace an
    // input of the batch (or the script), or that two files would share, is
    // a mistake in the command line, not a failure of one file.
    std::vector<Job> jobs;
    std::map<std::string, std::string> inputs{{canonicalName(scriptPath), script}};
    std::map<std::pair<dev_t, ino_t>, std::string> inputIds;
    for (std::size_t i = 1; i < opts.positional.size(); ++i) {
        const std::string &given = opts.positional[i];
        if (given == "-") throw cli::UsageError("batch needs files, not standard input");
        if (given.empty()) throw cli::UsageError("an empty file name");
        Job job;
        job.given = given;
        job.input = fs::absolute(given, ec).string();
        job.output = outputFor(job.input, suffix, outDir);
        inputs.emplace(canonicalName(job.input), given);
        jobs.push_back(std::move(job));
    }
    for (const auto &[name, given] : inputs) {
        std::pair<dev_t, ino_t> id;
        if (fileIdentity(name, &id)) inputIds.emplace(id, given);
    }
    std::map<std::string, std::string> outputs;  // canonical output name -> file given
    for (const Job &job : jobs) {
        const std::string name = canonicalName(job.output);
        auto [at, added] = outputs.emplace(name, job.given);
        if (!added)
            throw cli::UsageError(inQuotes(at->second) + " and " + inQuotes(job.given) +
                                  " would both be written to " + inQuotes(job.output));
        auto replaced = inputs.find(name);
        std::pair<dev_t, ino_t> id;
        auto replacedId = fileIdentity(name, &id) ? inputIds.find(id) : inputIds.end();
        const std::string *victim = replaced != inputs.end()       ? &replaced->second
                                    : replacedId != inputIds.end() ? &replacedId->second
                                                                   : nullptr;
        if (victim)
            throw cli::UsageError("the output of " + inQuotes(job.given) + " would replace " +
                                  inQuotes(*victim) + " (use --out or --suffix)");
    }

    // Descriptors 0 to 2 open, so that the scripts' pipes never land there.
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1) open("/dev/null", O_RDWR);

    return Batch(scriptPath.string(), std::move(jobs), parallel).run();
}

const cli::Registrar kBatch({
    "batch",
    "Run a script on many files, several at once",
    "Usage: tamo batch SCRIPT FILE... [-j N] [--out DIR] [--suffix SUFFIX]\n"
    "\n"
    "Runs SCRIPT once for every FILE, as\n"
    "    SCRIPT INPUT OUTPUT            when SCRIPT is a program (executable, with\n"
    "                                   a #! line)\n"
    "    /bin/sh SCRIPT INPUT OUTPUT    otherwise (a saved session, a shell script)\n"
    "INPUT is the file's absolute name. OUTPUT is an absolute temporary name in the\n"
    "output's folder that ends like the output name (so \"tamo convert INPUT OUTPUT\"\n"
    "writes the format the output name asks for). The script writes its result\n"
    "there and exits with status 0; the result is then renamed to the output name\n"
    "(replacing an older one). A script that fails (a status other than 0, or no\n"
    "output written) leaves no output; the file is reported with the last lines\n"
    "the script printed, and the other files go on.\n"
    "\n"
    "Each run starts in an empty folder of its own, which is also its TMPDIR and\n"
    "is removed afterwards, so that scripts may use fixed names for intermediate\n"
    "files. TAMO names this tamo program (scripts call \"${TAMO:-tamo}\") and\n"
    "TAMO_THREADS shares the cores among the runs, unless already set. What a\n"
    "script prints is shown only when it fails.\n"
    "\n"
    "  SCRIPT           a program or shell script taking INPUT and OUTPUT\n"
    "  FILE...          the files to process\n"
    "  -j N, --jobs N   files processed at once (default: the number of cores;\n"
    "                   also -jN); a file waits for its turn when the open-file\n"
    "                   limit allows fewer\n"
    "  --out DIR        write the outputs into DIR (made when missing) instead of\n"
    "                   beside the files\n"
    "  --suffix SUFFIX  output name: the file's name without its last extension,\n"
    "                   plus SUFFIX (default .tamo; e.g. _mask.png)\n"
    "\n"
    "On a terminal a line shows the files done and failed. At the end: the failed\n"
    "files and a summary. Exit status 0 when every file was done, 1 when any\n"
    "failed, 2 for a mistake in the command line. An interrupt (Ctrl-C) stops the\n"
    "running scripts and removes their unfinished outputs; finished outputs stay.\n",
    {"j", "jobs", "out", "suffix"},
    {},
    runBatch,
});

}  // namespace
