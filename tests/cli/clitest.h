// Helpers for the tests of the tamo tool: run the built program on temporary
// files and look at what it printed and how it ended.
//
//   clitest::TempDir dir;
//   auto r = clitest::run({"convert", dir.file("a.png"), dir.file("a.tam")});
//   EXPECT_EQ(r.status, 0) << r.err;
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tempdir.h"

#ifndef TAMO_CLI_PATH
#error "TAMO_CLI_PATH must name the built tamo program"
#endif

namespace clitest {

// How one run of the tool ended. `status` is the exit status, or -1 when the
// program was killed by a signal (then `signal` holds it).
struct Result {
    int status = -1;
    int signal = 0;
    std::string out;
    std::string err;
};

inline std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The bytes of an own-format file with its creation time (header bytes 76 to
// 107, to the second) blanked, so that two writes of the same image compare
// equal whenever they ran.
inline std::string readOwnFormatUndated(const std::string &path) {
    std::string bytes = readFile(path);
    if (bytes.size() >= 108) bytes.replace(76, 32, 32, ' ');
    return bytes;
}

inline void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

using testsupport::TempDir;

// Runs the tool with `args` (without the program name), feeding `input` on
// standard input, and collects its standard output and standard error. With
// `fileSizeLimit` (bytes) set, no file the tool writes may grow beyond it;
// with `openFileLimit` set, the tool may hold no more descriptors.
inline Result run(const std::vector<std::string> &args, const std::string &input = {},
                  long fileSizeLimit = -1, long openFileLimit = -1) {
    TempDir io;
    const std::string in = io.file("stdin"), out = io.file("stdout"), err = io.file("stderr");
    writeFile(in, input);

    std::vector<std::string> argv{TAMO_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> cargv;
    for (auto &a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);

    std::fflush(nullptr);
    Result r;
    pid_t pid = fork();
    if (pid == 0) {
        int fdIn = open(in.c_str(), O_RDONLY);
        int fdOut = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int fdErr = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fdIn < 0 || fdOut < 0 || fdErr < 0) _exit(127);
        dup2(fdIn, 0);
        dup2(fdOut, 1);
        dup2(fdErr, 2);
        if (fileSizeLimit >= 0) {
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(fileSizeLimit);
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
        }
        if (openFileLimit >= 0) {
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(openFileLimit);
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(127);
        }
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    int wstatus = 0;
    if (pid > 0 && waitpid(pid, &wstatus, 0) == pid) {
        if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
        if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    }
    r.out = readFile(out);
    r.err = readFile(err);
    return r;
}

// Runs the tool with `args` with its standard error on a pseudo-terminal
// (standard input empty, standard output to a file) and collects what the
// terminal received in `err`. With `interruptOn` given, sends SIGINT (as
// Ctrl-C does) once the terminal has shown that text. A run still going
// after two minutes is killed.
inline Result runOnTerminal(const std::vector<std::string> &args,
                            const std::string &interruptOn = {}) {
    TempDir io;
    const std::string out = io.file("stdout");
    std::vector<std::string> argv{TAMO_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> cargv;
    for (auto &a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);

    Result r;
    int master = -1, terminal = -1;
    if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) return r;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        int fdIn = open("/dev/null", O_RDONLY);
        int fdOut = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fdIn < 0 || fdOut < 0) _exit(127);
        dup2(fdIn, 0);
        dup2(fdOut, 1);
        dup2(terminal, 2);
        close(master);
        close(terminal);
        // As in an interactive shell, whatever ran the tests.
        signal(SIGINT, SIG_DFL);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    // The terminal stays open here until the end: once no one has it open,
    // the last things written to it may be lost.
    auto drain = [&](int waitMs) {
        pollfd ready{master, POLLIN, 0};
        while (poll(&ready, 1, waitMs) > 0) {
            char buffer[4096];
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got <= 0) return;
            r.err.append(buffer, static_cast<std::size_t>(got));
            waitMs = 0;
        }
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    bool interrupted = false;
    while (pid > 0) {
        drain(50);
        if (!interrupted && !interruptOn.empty() && r.err.find(interruptOn) != std::string::npos) {
            kill(pid, SIGINT);
            interrupted = true;
        }
        int wstatus = 0;
        if (waitpid(pid, &wstatus, WNOHANG) == pid) {
            drain(50);
            if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
            if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            break;
        }
    }
    close(terminal);
    close(master);
    r.out = readFile(out);
    return r;
}

// Names of the entries in a folder, sorted.
inline std::vector<std::string> listing(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Number of lines in a text (a last line without newline counts).
inline int lineCount(const std::string &text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n + (!text.empty() && text.back() != '\n');
}

}  // namespace clitest
