// Every integer and number option of the tool at the edges of its type, on a
// small image: each run ends in a success or a clean refusal (an exit status
// with a message), never in a signal or a sanitizer's report, and a success
// writes only finite values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "clitest.h"
#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"

namespace {

// A small image with values 0..49 in a pattern of edges, so that every
// operator has something to work on.
void writeTestImage(const std::string &path, int frames) {
    tamo::RecordPtr img = testsupport::image("float", 24, 24, frames);
    float *p = tamo::pixels<float>(img.get());
    for (long long i = 0; i < tamo::elementCount(img.get()); ++i) p[i] = float((i * 37) % 50);
    testsupport::writeOwnFormat(path, img.get());
}

struct Files {
    clitest::TempDir dir;
    std::string grey = dir.file("grey.tam"), colour = dir.file("colour.tam");
    std::string batchIn = dir.file("b.tam"), script = dir.file("invert.sh");
    std::string out = dir.file("out.tam");
    Files() {
        writeTestImage(grey, 0);
        writeTestImage(colour, 3);
        writeTestImage(batchIn, 0);
        clitest::writeFile(script, "\"$TAMO\" inv \"$1\" \"$2\"\n");
    }
    // The arguments with {IN}, {COLOUR}, {OUT}, {BATCH} and {SCRIPT} filled in.
    std::vector<std::string> fill(const std::vector<std::string> &args) const {
        std::vector<std::string> filled;
        for (const std::string &a : args)
            filled.push_back(a == "{IN}"       ? grey
                             : a == "{COLOUR}" ? colour
                             : a == "{OUT}"    ? out
                             : a == "{BATCH}"  ? batchIn
                             : a == "{SCRIPT}" ? script
                                               : a);
        return filled;
    }
};

// Values of an own-format image that are not finite (real and imaginary
// parts of complex types), or -1 when the file cannot be read.
long long nonFinite(const std::string &path) {
    tamo::RecordPtr img = testsupport::readOwnFormat(path);
    if (!img) return -1;
    if (img->dtype != TAMO_32FLT && img->dtype != TAMO_32CMP) return 0;
    const long long n = tamo::elementCount(img.get()) * (img->dtype == TAMO_32CMP ? 2 : 1);
    const float *p = tamo::pixels<float>(img.get());
    long long bad = 0;
    for (long long i = 0; i < n; ++i) bad += !std::isfinite(p[i]);
    return bad;
}

// Runs the tool and checks how it ended; true when it succeeded.
bool endsCleanly(const Files &files, const std::vector<std::string> &args) {
    std::string line;
    for (const std::string &a : args) line += " " + a;
    SCOPED_TRACE("tamo" + line);
    std::remove(files.out.c_str());
    const clitest::Result r = clitest::run(files.fill(args));
    EXPECT_EQ(r.signal, 0) << r.err;
    for (const char *report : {"runtime error", "Sanitizer", "stack-overflow"})
        EXPECT_EQ(r.err.find(report), std::string::npos) << r.err;
    if (r.status != 0) {
        EXPECT_GT(r.status, 0);
        EXPECT_FALSE(r.err.empty()) << "a refusal without a message";
        return false;
    }
    if (std::filesystem::exists(files.out))
        EXPECT_EQ(nonFinite(files.out), 0) << "success with values that are not finite";
    return true;
}

// A command with what else it needs, and the option tried.
struct OptionCase {
    std::vector<std::string> args;
    const char *option;
};

// Every case with every value of its option.
void tryEveryValue(const Files &files, const std::vector<OptionCase> &cases,
                   const std::vector<const char *> &values) {
    for (const OptionCase &c : cases)
        for (const char *value : values) {
            std::vector<std::string> args = c.args;
            args.insert(args.end(), {c.option, value});
            endsCleanly(files, args);
        }
}

}  // namespace

TEST(CliArguments, IntegerOptionsAtTheEdgesOfInt) {
    Files files;
    const std::vector<OptionCase> cases = {
        {{"dog", "{IN}", "{OUT}"}, "--order"},
        {{"dog", "{IN}", "{OUT}"}, "--direction"},
        {{"pad", "{IN}", "{OUT}"}, "--rows"},
        {{"pad", "{IN}", "{OUT}"}, "--cols"},
        {{"pad", "{COLOUR}", "{OUT}"}, "--frame"},
        {{"add", "{IN}", "{IN}", "{OUT}"}, "--dr"},
        {{"sub", "{COLOUR}", "{COLOUR}", "{OUT}"}, "--dc"},
        {{"mul", "{IN}", "{IN}", "{OUT}", "--dr", "3"}, "--dc"},
        {{"div", "{IN}", "{IN}", "{OUT}", "--dc", "-2"}, "--dr"},
        {{"histeq", "{IN}", "{OUT}"}, "--neighbourhood"},
        {{"ccl", "{IN}", "{OUT}"}, "--erase-small"},
        {{"ccl", "{IN}", "{OUT}"}, "--erase-large"},
        {{"resize", "{IN}", "{OUT}", "--cols", "5"}, "--rows"},
        {{"resize", "{COLOUR}", "{OUT}", "--rows", "7"}, "--cols"},
        {{"resize", "{IN}", "{OUT}", "--rows", "7", "--cols", "5"}, "--mode"},
        {{"colormap", "{IN}", "{OUT}"}, "--map"},
        {{"colormap", "{IN}", "{OUT}"}, "--labels"},
        {{"colormap", "{IN}", "{OUT}", "--labels", "40"}, "--seed"},
        {{"convert", "{COLOUR}", "{OUT}", "--stretch"}, "--frame"},
        {{"batch", "{SCRIPT}", "{BATCH}"}, "-j"},
    };
    tryEveryValue(files, cases, {"2147483647", "-2147483648", "-1", "0"});
    // Sizes that wrap a signed int when the image is added: pad once ran
    // outside its record, and must now say that the image would not fit.
    for (const char *option : {"--rows", "--cols"})
        for (const char *value : {"1073741823", "1073741812", "2147483635"}) {
            EXPECT_FALSE(endsCleanly(files, {"pad", "{IN}", "{OUT}", option, value}));
        }
}

TEST(CliArguments, NumberOptionsGiveFiniteResultsOrAreRefused) {
    Files files;
    const std::vector<OptionCase> cases = {
        {{"dog", "{IN}", "{OUT}"}, "--sigma"},
        {{"dog", "{IN}", "{OUT}", "--order", "2"}, "--sigma"},
        {{"dog", "{IN}", "{OUT}", "--direction", "3"}, "--sigma"},
        {{"curv", "{IN}", "{OUT}"}, "--sigma"},
        {{"laplace", "{IN}", "{OUT}"}, "--sigma"},
        {{"qvar", "{IN}", "{OUT}"}, "--sigma"},
        {{"gmag", "{IN}", "{OUT}"}, "--sigma"},
        {{"gdir", "{IN}", "{OUT}"}, "--sigma"},
        {{"harris", "{IN}", "{OUT}"}, "--sigma"},
        {{"markmax", "{IN}", "{OUT}"}, "--sigma"},
        {{"adds", "{IN}", "{OUT}"}, "--value"},
        {{"mults", "{IN}", "{OUT}"}, "--value"},
        {{"exp", "{IN}", "{OUT}"}, "--scale"},
        {{"pcon", "{IN}", "{IN}", "{OUT}"}, "--sigma"},
        {{"pcon", "{IN}", "{IN}", "{OUT}"}, "--r"},
        {{"pcon", "{IN}", "{IN}", "{OUT}"}, "--b"},
        {{"pcon", "{IN}", "{IN}", "{OUT}"}, "--t1"},
        {{"pcon", "{IN}", "{IN}", "{OUT}"}, "--t2"},
        {{"pcon", "{IN}", "{IN}", "{OUT}"}, "--dlt"},
        {{"ccl", "{IN}", "{OUT}"}, "--thresh"},
        {{"ccl", "{IN}", "{OUT}"}, "--minval"},
        {{"ccl", "{IN}", "{OUT}"}, "--maxval"},
    };
    tryEveryValue(files, cases,
                  {"nan", "-inf", "1e39", "1e30", "-1e30", "1e-30", "1e-50", "0", "-1"});
    // Values that once gave an image of NaN or a schedule of a hundred
    // million steps, each reported as success.
    const std::vector<std::vector<std::string>> refused = {
        {"pcon", "{IN}", "{IN}", "{OUT}", "--sigma", "0"},
        {"pcon", "{IN}", "{IN}", "{OUT}", "--sigma", "1e-30"},
        {"pcon", "{IN}", "{IN}", "{OUT}", "--dlt", "0.9999999"},
        {"pcon", "{IN}", "{IN}", "{OUT}", "--r", "1e30", "--sigma", "1e10"},
        {"exp", "{IN}", "{OUT}", "--scale", "0"},
        {"dog", "{IN}", "{OUT}", "--sigma", "1e-30"},
        {"qvar", "{IN}", "{OUT}", "--sigma", "1e-5"},
    };
    for (const auto &args : refused) EXPECT_FALSE(endsCleanly(files, args));
}
