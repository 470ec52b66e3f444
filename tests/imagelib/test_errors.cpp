// Error reporting: warning texts, the severity switch, the call depth and the
// replaceable exit function.
#include <cstring>
#include <string>

#include "support.h"

using testing::ExitedWithCode;

TEST_F(Lib, WarningsTraceErrorNumbersOnlyWhenTheyChange) {
    auto warn = [](const char *msg, int err, int sysErr) {
        return stderrOf([&] {
            Tamoerr = err;
            errno = sysErr;
            EXPECT_EQ(Tamowarn(msg), 0);
        });
    };
    EXPECT_EQ(warn("first", 24, 0), "\nfirst\n\tORV error code:    $00000018 = 24\n");
    EXPECT_EQ(warn("again", 24, 0), "\nagain\n");
    EXPECT_EQ(warn("sys", 24, ENOENT), "\nsys\n\tSystem error code: $00000002 = 2\n");
    EXPECT_EQ(warn("both", -1, EACCES),
              "\nboth\n\tORV error code:    $ffffffff = -1\n\tSystem error code: $0000000d = 13\n");
    EXPECT_EQ(warn("cleared", 0, 0), "\ncleared\n");
    // Silent warnings still count as seen.
    TAMOSLV = 1;
    EXPECT_EQ(warn("hidden", 99, 0), "");
    TAMOSLV = 8;
    EXPECT_EQ(warn("after", 99, 0), "\nafter\n");
    TAMOTRACE = 0;
    EXPECT_EQ(warn("untraced", 5, 0), "\nuntraced\n");
}

TEST_F(Lib, SeverityDecidesBetweenReportingAndEnding) {
    EXPECT_EQ(stderrOf([] { Tamoext(1, "quiet"); }), "");
    EXPECT_EQ(stderrOf([] { Tamoext(8, "said"); }), "said\n");
    TAMOTRACE = 0;
    EXPECT_EQ(stderrOf([] { EXPECT_EQ(Tamodie("reported"), 0); }), "\nreported\n");

    TAMOHDR bad{};
    std::memcpy(bad.orvmagic, "XYZ", 4);
    TAMOHDR orv{};
    std::memcpy(orv.orvmagic, "ORV", 4);
    EXPECT_EQ(Tamochkhd(&orv, "fine"), -1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamochkhd(nullptr, "who"), 0); }),
              "\nTamochkhd:  Null TAMO image header encountered.\nwho\n");
    TAMOSLV = 1;
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamochkhd(&bad, "silent"), 0); }), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "chk:XYZ\n");

    // A handler that returns lets the failing call finish its failure path.
    static int status = -1;
    Tamo_exitptr = [](int s) { status = s; };
    TAMOSLV = 64;
    stderrOf([] {
        EXPECT_EQ(make("nosuchtype", {3}), nullptr);
        EXPECT_EQ(status, 1024);
        status = -1;
        TAMODEPTH = 2;  // inside a library call: report only
        Tamodie("nested");
        EXPECT_EQ(status, -1);
        TAMODEPTH = -3;  // a broken count is repaired, then counts as outermost
        Tamodie("outer");
        EXPECT_EQ(status, 1024);
    });
    EXPECT_EQ(TAMODEPTH, 0);
}

using LibDeathTest = Lib;

TEST_F(LibDeathTest, FatalPathsEndTheProcessWithTheirStatus) {
    TAMOHDR bad{};
    EXPECT_EXIT((TAMOSLV = 64, Tamoerr = 24, Tamodie("dying")), ExitedWithCode(24), "\ndying\n");
    EXPECT_EXIT((TAMOSLV = 64, Tamoerr = 7, Tamoext(64, "ext")), ExitedWithCode(7), "^ext\n$");
    EXPECT_EXIT((TAMOSLV = 64, Tamochkhd(&bad, "m")), ExitedWithCode(24), "Bad TAMO image header");
    EXPECT_EXIT((TAMOSLV = 2, Tamochkhd(&bad, "m")), ExitedWithCode(24), "^$");
    EXPECT_EXIT((TAMOSLV = 64, Tamochkhd(nullptr, "m")), ExitedWithCode(8), "Null TAMO image");
    EXPECT_EXIT((TAMOSLV = 64, Tamodimen(nullptr, 0)), ExitedWithCode(8), "NULL passed");
    EXPECT_EXIT((TAMOSLV = 64, Tamofgp(nullptr, 0, 0)), ExitedWithCode(8), "Image header is NULL");
    // Statuses whose low 8 bits are 0 would reach the shell as success.
    EXPECT_EXIT((TAMOSLV = 64, Tamoerr = 512, Tamodie("no memory")), ExitedWithCode(1), "no memory");
    EXPECT_EXIT((Tamoerr = 4096, Tamoext(64, "outside")), ExitedWithCode(1), "outside");
}

TEST_F(Lib, ThrowingExitHandlerUnwindsAtTheOutermostCallWithoutLeaks) {
    Tamo_exitptr = throwingExit;
    TAMOSLV = 64;
    TAMOTRACE = 0;
    CountingAlloc::install(2);  // the pixel storage
    std::string out = stderrOf([] {
        try {
            make("float", {8, 8});
            ADD_FAILURE() << "no exit";
        } catch (const ExitCalled &e) {
            EXPECT_EQ(e.status, 512);
        }
    });
    // The allocator reports from inside Tamocreate; only Tamocreate ends.
    EXPECT_EQ(out,
              "\nTamoalc: can't allocate storage (256 bytes requested)\n"
              "\nTamocreate:  can't allocate space for image data\n");
    EXPECT_EQ(CountingAlloc::live, 0);
    EXPECT_EQ(TAMODEPTH, 0);

    CountingAlloc::install();
    auto flat = make("float", {4, 4});
    stderrOf([&] { EXPECT_THROW(Tamoexwin3d(flat.get(), 0, 0, 0, 0, 1, 1), ExitCalled); });
    EXPECT_EQ(Tamoerr, 8192);
    EXPECT_EQ(TAMODEPTH, 0);
    flat.reset();
    EXPECT_EQ(CountingAlloc::live, 0);  // the dimension list was released too
}
