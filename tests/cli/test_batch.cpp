// tamo batch: one script over many files, a failing file reported without
// stopping the others, outputs only from scripts that succeeded, and nothing
// left behind by a failure or an interrupt.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "clitest.h"
#include "tamo++.h"
#include "testrecords.h"

namespace {

using clitest::listing;
using clitest::readFile;
using clitest::run;
using clitest::writeFile;

// Inverts its input with the tamo that runs the batch.
const char kInvert[] = "set -e\n\"$TAMO\" inv \"$1\" \"$2\"\n";

// A small "float" image whose pixels depend on `seed`.
void writeImage(const std::string &path, int seed) {
    tamo::RecordPtr img = testsupport::image("float", 7, 5);
    float *p = tamo::pixels<float>(img.get());
    for (int i = 0; i < 35; ++i) p[i] = float((i * 37 + seed * 11) % 53);
    testsupport::writeOwnFormat(path, img.get());
}

// n input files in.dir/in/, file `damaged` (if any) cut short.
struct Inputs {
    clitest::TempDir dir;
    std::string folder = dir.file("in");
    std::string script = dir.file("invert.sh");
    std::vector<std::string> files;

    explicit Inputs(int n, int damaged = -1) {
        std::filesystem::create_directory(folder);
        writeFile(script, kInvert);
        for (int i = 0; i < n; ++i) {
            files.push_back(folder + "/f" + std::to_string(i) + ".orv");
            writeImage(files.back(), i);
            if (i == damaged) {
                const std::string bytes = readFile(files.back());
                writeFile(files.back(), bytes.substr(0, bytes.size() / 2));
            }
        }
    }
    std::vector<std::string> args(std::vector<std::string> options) const {
        options.insert(options.begin(), {"batch", script});
        options.insert(options.end(), files.begin(), files.end());
        return options;
    }
};

// Sets an environment variable for the lifetime of the object.
struct ScopedEnv {
    std::string name;
    ScopedEnv(const char *n, const std::string &value) : name(n) { setenv(n, value.c_str(), 1); }
    ~ScopedEnv() { unsetenv(name.c_str()); }
};

}  // namespace

TEST(CliBatch, OneDamagedFileAmongTwentyFailsAloneAndLeavesNoOutput) {
    Inputs in(20, 7);
    // The scripts' working folders go here; none may be left.
    const std::string scratch = in.dir.file("tmp");
    std::filesystem::create_directory(scratch);
    ScopedEnv tmp("TMPDIR", scratch);

    auto r = run(in.args({"-j", "4"}));
    EXPECT_EQ(r.status, 1) << r.err;
    std::vector<std::string> expected;
    for (int i = 0; i < 20; ++i) {
        expected.push_back("f" + std::to_string(i) + ".orv");
        if (i != 7) expected.push_back("f" + std::to_string(i) + ".tamo");
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listing(in.folder), expected);
    EXPECT_TRUE(listing(scratch).empty());

    // The failure names the file and says why, in the script's own words.
    EXPECT_NE(r.err.find("tamo batch: " + in.files[7] + ": the script failed (exit status 1)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("tamo inv: cannot read"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("tamo batch: 19 of 20 files done, 1 failed\n"), std::string::npos);
    EXPECT_EQ(r.err.find("\033[K"), std::string::npos) << "no progress off a terminal";

    // Each output is what the script makes of its own file, with the
    // permissions of a new file.
    auto direct = run({"inv", in.files[12], in.dir.file("direct.tamo")});
    ASSERT_EQ(direct.status, 0) << direct.err;
    EXPECT_EQ(clitest::readOwnFormatUndated(in.folder + "/f12.tamo"),
              clitest::readOwnFormatUndated(in.dir.file("direct.tamo")));
    struct stat st {};
    ASSERT_EQ(stat((in.folder + "/f12.tamo").c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST(CliBatch, OutFolderAndJobCountDoNotChangeTheOutputs) {
    Inputs in(9);
    const auto inputsBefore = listing(in.folder);
    const std::string one = in.dir.file("one"), four = in.dir.file("four/deeper");
    auto serial = run(in.args({"-j", "1", "--out", one, "--suffix", "_inv.tam"}));
    auto parallel = run(in.args({"--jobs=4", "--out", four, "--suffix", "_inv.tam"}));
    ASSERT_EQ(serial.status, 0) << serial.err;
    ASSERT_EQ(parallel.status, 0) << parallel.err;
    EXPECT_EQ(serial.err, "tamo batch: 9 of 9 files done\n");
    EXPECT_EQ(listing(in.folder), inputsBefore);
    ASSERT_EQ(listing(one).size(), 9u);
    EXPECT_EQ(listing(one), listing(four));
    for (const std::string &name : listing(one)) {
        EXPECT_EQ(name.substr(name.size() - 8), "_inv.tam");
        EXPECT_EQ(clitest::readOwnFormatUndated(one + "/" + name),
                  clitest::readOwnFormatUndated(four + "/" + name))
            << name;
    }
}

// The script gets the names as arguments, never through a command line, and
// starts in an empty folder of its own; what it leaves unfinished goes away.
TEST(CliBatch, ScriptContractAndFailuresOfTheScript) {
    clitest::TempDir dir;
    const std::string odd = dir.file("it's $(touch INJECTED) `x`; a b.orv");
    writeImage(odd, 3);
    struct Case {
        const char *script;
        int status;
        const char *reported;
    } cases[] = {
        // Absolute names, a private empty working folder that is also TMPDIR.
        {"case \"$1$2\" in /*/*) ;; *) exit 3;; esac\n"
         "[ -z \"$(ls -A)\" ] && [ \"$TMPDIR\" = \"$(pwd)\" ] || exit 4\n"
         "echo fixed > scratch.tamo\n"
         "\"$TAMO\" inv \"$1\" \"$2\"\n",
         0, nullptr},
        {"echo partial > \"$2\"\necho 'it went wrong' >&2\nexit 5\n", 1,
         "the script failed (exit status 5)\n    it went wrong\n"},
        {"exit 0\n", 1, "the script wrote no output"},
        {"echo partial > \"$2\"\nkill -KILL $$\n", 1, "the script was killed by signal 9"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script);
        writeFile(dir.file("s.sh"), c.script);
        auto r = run({"batch", dir.file("s.sh"), odd});
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.reported) EXPECT_NE(r.err.find(c.reported), std::string::npos) << r.err;
        std::vector<std::string> expected{"it's $(touch INJECTED) `x`; a b.orv", "s.sh"};
        if (c.status == 0)
            expected.insert(expected.begin(), "it's $(touch INJECTED) `x`; a b.tamo");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listing(dir.path()), expected);
        std::filesystem::remove(dir.file("it's $(touch INJECTED) `x`; a b.tamo"));
    }
}

TEST(CliBatch, UsageErrorsRunNothing) {
    Inputs in(2);
    // Would leave a mark for any file it were run on.
    writeFile(in.script, "touch \"$1.ran\"\nexit 1\n");
    writeFile(in.folder + "/f0.png", readFile(in.files[0]));
    writeFile(in.folder + "/invert.orv", readFile(in.files[0]));
    const auto before = listing(in.folder);
    const std::vector<std::vector<std::string>> cases = {
        {"batch"},
        {"batch", in.script},
        {"batch", in.script, in.files[0], "-j", "0"},
        {"batch", in.script, in.files[0], "-j", "many"},
        {"batch", in.script, in.files[0], "--suffix", ""},
        {"batch", in.script, in.files[0], "--suffix", "/x.tamo"},
        {"batch", in.script, in.files[0], "--frobnicate"},
        {"batch", in.script, "-"},
        // The output would replace an input of the batch, or the script.
        {"batch", in.script, in.files[0], "--suffix", ".orv"},
        {"batch", in.script, in.files[0], in.folder + "/f0.png"},
        {"batch", in.script, in.files[0], in.files[0]},
        {"batch", in.script, in.folder + "/invert.orv", "--suffix", ".sh", "--out", in.dir.path()},
    };
    for (const auto &args : cases) {
        auto r = run(args);
        EXPECT_EQ(r.status, 2) << args.back() << ": " << r.err;
        EXPECT_EQ(clitest::lineCount(r.err), 1) << r.err;
        EXPECT_EQ(listing(in.folder), before) << args.back();
    }
    auto missing = run({"batch", in.dir.file("nonexistent.sh"), in.files[0]});
    EXPECT_EQ(missing.status, 1) << missing.err;
    EXPECT_EQ(listing(in.folder), before);
}

TEST(CliBatch, InterruptStopsTheScriptsAndRemovesTheirOutputs) {
    Inputs in(3);
    writeFile(in.script, "echo partial > \"$2\"\nsleep 60\ncp \"$1\" \"$2\"\n");
    const auto before = listing(in.folder);
    auto r = clitest::runOnTerminal(in.args({"-j", "2"}), "0 of 3 files done");
    EXPECT_EQ(r.signal, SIGINT) << "status " << r.status << ": " << r.err;
    EXPECT_EQ(listing(in.folder), before);
    EXPECT_NE(r.err.find(": 0 of 3 files done, 2 stopped, 1 not started"), std::string::npos)
        << r.err;
}

// Names and settings that once failed files the batch could do: an output
// name close to the longest a folder entry may have, more jobs at once than
// descriptors, a dangling symbolic link in the output's place, and "-j4".
TEST(CliBatch, LongNamesFewDescriptorsDanglingLinksAndAttachedCounts) {
    struct Case {
        const char *what;
        int files;
        std::vector<std::string> options;
        long openFileLimit;
    };
    const Case cases[] = {
        {"a name of 250 bytes", 1, {}, -1},
        {"-j above the open-file limit", 30, {"-j", "64"}, 24},
        {"a dangling link as output", 2, {}, -1},
        {"-j4", 6, {"-j4"}, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Inputs in(c.files);
        if (c.what == std::string("a name of 250 bytes")) {
            const std::string longer = in.folder + "/" + std::string(250, 'n') + ".orv";
            std::filesystem::rename(in.files[0], longer);
            in.files[0] = longer;
        }
        const std::string missing = in.dir.file("missing.tamo");
        if (c.what == std::string("a dangling link as output"))
            std::filesystem::create_symlink(missing, in.folder + "/f1.tamo");
        auto r = run(in.args(c.options), {}, -1, c.openFileLimit);
        EXPECT_EQ(r.status, 0) << r.err;
        for (const std::string &file : in.files) {
            const std::string output = file.substr(0, file.size() - 4) + ".tamo";
            struct stat st {};
            ASSERT_EQ(lstat(output.c_str(), &st), 0) << output;
            EXPECT_TRUE(S_ISREG(st.st_mode)) << output;
            EXPECT_TRUE(testsupport::readOwnFormat(output)) << output;
        }
        EXPECT_FALSE(std::filesystem::exists(missing));
        // Nothing but the inputs and their outputs is left.
        EXPECT_EQ(listing(in.folder).size(), 2 * in.files.size());
    }
}
