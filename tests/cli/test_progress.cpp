// The progress bar of long operations: on a terminal only, erased when the
// work ends, and an interrupt leaves no file behind.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "clitest.h"
#include "tamo++.h"
#include "testrecords.h"

namespace {

// A segmentation that runs for a few seconds: a noisy two-level pair of
// 512 x 512 and a slow temperature schedule (about a thousand steps).
struct LongPcon {
    clitest::TempDir dir;
    std::string estimate = dir.file("estimate.tam"), data = dir.file("data.tam");

    LongPcon() {
        constexpr int kSide = 512;
        int dims[3] = {2, kSide, kSide};
        tamo::RecordPtr f(Tamocreate("float", dims, 11, 0)), g(Tamocreate("float", dims, 11, 0));
        float *fp = tamo::pixels<float>(f.get()), *gp = tamo::pixels<float>(g.get());
        for (int k = 0; k < kSide * kSide; ++k) {
            gp[k] = (k % kSide < kSide / 2 ? 40.0f : 120.0f) + float((k * 29) % 11);
            fp[k] = gp[k] + float((k * 13) % 5) - 2.0f;
        }
        testsupport::writeOwnFormat(estimate, f.get());
        testsupport::writeOwnFormat(data, g.get());
    }
    std::vector<std::string> args(const std::string &out) const {
        return {"pcon", estimate, data, out, "--dlt", "0.995"};
    }
};

const char kBarStart[] = "tamo pcon [";
const char kErase[] = "\r\033[K";

}  // namespace

TEST(CliProgress, BarOnATerminalOnlyAndErasedAtTheEnd) {
    LongPcon pcon;
    const std::string onTerminal = pcon.dir.file("terminal.tam");
    const std::string onPipe = pcon.dir.file("pipe.tam");

    auto shown = clitest::runOnTerminal(pcon.args(onTerminal));
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.err.find(kBarStart), std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find("%"), std::string::npos);
    // Nothing of the bar is left on the line.
    ASSERT_GE(shown.err.size(), sizeof kErase - 1);
    EXPECT_EQ(shown.err.substr(shown.err.size() - (sizeof kErase - 1)), kErase);

    auto quiet = clitest::run(pcon.args(onPipe));
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");
    // The bar does not change the result.
    EXPECT_EQ(clitest::readFile(onTerminal), clitest::readFile(onPipe));
}

TEST(CliProgress, InterruptEndsTheRunWithoutAnOutputFile) {
    LongPcon pcon;
    const auto before = clitest::listing(pcon.dir.path());
    auto r = clitest::runOnTerminal(pcon.args(pcon.dir.file("out.tam")), kBarStart);
    EXPECT_EQ(r.signal, SIGINT) << "status " << r.status << ": " << r.err;
    EXPECT_EQ(clitest::listing(pcon.dir.path()), before);
    // The bar was erased on the way out.
    EXPECT_NE(r.err.rfind(kErase), std::string::npos);
    EXPECT_GT(r.err.rfind(kErase), r.err.rfind('%'));
}
