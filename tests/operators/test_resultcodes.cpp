// The reasons Tamoopstext gives for the operators' named result codes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tamo++.h"
#include "tamo.h"

namespace {

using tamo::RecordPtr;

RecordPtr image(const char *type, int cols, int rows, int frames = 1) {
    int dims[4] = {frames > 1 ? 3 : 2, cols, rows, frames};
    return RecordPtr(Tamocreate(type, dims, 11, 0));
}

// Every operator with the codes it returns: each code, and TAMO_CANCELLED,
// must have a reason of its own for that operator, phrased to follow a colon.
TEST(ResultCodes, EveryNamedCodeHasADistinctReasonForEachOperator) {
    struct Family {
        std::vector<const char *> operators;
        std::vector<int> codes;
    };
    const Family families[] = {
        {{"flabsolute", "fladds", "flmults", "flinv", "fladdv", "flmultv", "fldivv",
          "flatan2", "flcp", "intcp"},
         {TAMO_OP_ETYPE, TAMO_OP_ESIZE}},
        {{"flln"}, {TAMO_OP_ETYPE, TAMO_LN_NONPOSITIVE}},
        {{"flsqrt"}, {TAMO_OP_ETYPE, TAMO_OP_ESIZE, TAMO_SQRT_NEGATIVE}},
        {{"flexp"}, {TAMO_OP_ETYPE, TAMO_OP_ESIZE, TAMO_EXP_ESCALE}},
        {{"flcolor2gray"},
         {TAMO_GRAY_ENOOUT, TAMO_GRAY_EINPUT, TAMO_GRAY_EOUTDIMS, TAMO_GRAY_EROWS,
          TAMO_GRAY_ECOLS}},
        {{"fladdi", "flsubi", "flmuli", "fldivi"}, {TAMO_SHIFT_EOUTSIZE, TAMO_SHIFT_EDIMS}},
        {{"flDoG"},
         {TAMO_DOG_EORDER, TAMO_DOG_EMIXED1, TAMO_DOG_EMIXED3, TAMO_DOG_EPAIR, TAMO_DOG_EROWS,
          TAMO_DOG_ETYPE, TAMO_DOG_ESIGMA, TAMO_DOG_EOUT}},
        {{"flcurv", "flLaplace", "flqvar", "flgmag", "flgdir"},
         {TAMO_OP_ETYPE, TAMO_OP_ESIZE, TAMO_OP_ENOMEM, TAMO_DOG_EROWS, TAMO_DOG_ETYPE,
          TAMO_DOG_ESIGMA}},
        {{"flHarris", "flmarkmax"},
         {TAMO_OP_ESIZE, TAMO_OP_ENOMEM, TAMO_DOG_EROWS, TAMO_DOG_ETYPE, TAMO_DOG_ESIGMA}},
        {{"flHistogramEq"},
         {TAMO_HISTEQ_EWINDOW, TAMO_HISTEQ_EINPUT, TAMO_HISTEQ_EOUT, TAMO_HISTEQ_ESHARE}},
        {{"flcorrelate", "corr1frame"}, {TAMO_CORR_ETYPE, TAMO_CORR_EOUT}},
        {{"pconsub"},
         {TAMO_PCON_ETYPE, TAMO_PCON_ESCHEDULE, TAMO_PCON_ESIZE, TAMO_PCON_EFLAT, TAMO_PCON_ESIGMA,
          TAMO_PCON_ERANGE}},
        {{"cclC4_3"}, {TAMO_CCL_ELABELS, TAMO_CCL_EAREAS, TAMO_CCL_EIMAGE}},
        {{"Tamocfft2d"}, {TAMO_FFT_ESQUARE, TAMO_FFT_EPOWER2, TAMO_FFT_ETYPE}},
        {{"Tamoc2mag", "Tamoc2phase", "Tamoc2real", "Tamoc2imag"},
         {TAMO_CPX_ESIZE, TAMO_CPX_ETYPE}},
        {{"Tamovidscale"}, {TAMO_VIDSCALE_EARGS}},
        {{"Tamocolormap"},
         {TAMO_CMAP_EOUTTYPE, TAMO_CMAP_EINDIMS, TAMO_CMAP_EOUTDIMS, TAMO_CMAP_ESIZE,
          TAMO_CMAP_EMAP}},
        {{"HoGdescriptor", "HoGdescriptor2D", "HoGdescriptorCLR", "maxgrad", "ShowHoG"},
         {TAMO_HOG_EFIT}},
        {{"Tamozoomupdown"}, {TAMO_ZOOM_EARGS}},
    };
    for (const Family &family : families) {
        for (const char *op : family.operators) {
            std::set<std::string> reasons;
            std::vector<int> codes = family.codes;
            codes.push_back(TAMO_CANCELLED);
            for (int code : codes) {
                const char *text = Tamoopstext(op, code);
                ASSERT_NE(text, nullptr) << op << " " << code;
                const std::string reason(text);
                ASSERT_FALSE(reason.empty()) << op << " " << code;
                EXPECT_TRUE(std::islower(static_cast<unsigned char>(reason[0]))) << reason;
                EXPECT_NE(reason.back(), '.') << reason;
                EXPECT_TRUE(reasons.insert(reason).second)
                    << op << " gives \"" << reason << "\" for two codes";
            }
            // Success and codes the operator never returns have no reason.
            EXPECT_EQ(Tamoopstext(op, 0), nullptr) << op;
            EXPECT_EQ(Tamoopstext(op, -99), nullptr) << op;
            EXPECT_EQ(Tamoopstext(op, 7), nullptr) << op;
        }
    }
    EXPECT_EQ(Tamoopstext("Tamofree", TAMO_OP_ETYPE), nullptr);
    EXPECT_EQ(Tamoopstext("flgmag ", TAMO_DOG_EROWS), nullptr);
    EXPECT_EQ(Tamoopstext(nullptr, TAMO_OP_ETYPE), nullptr);
}

// What operators really return is the code whose reason fits the failure.
TEST(ResultCodes, RefusalsOfRealCallsGetTheirReasons) {
    RecordPtr small = image("float", 8, 8), smallOut = image("float", 8, 8);
    RecordPtr wide = image("32cmp", 8, 4), bytes = image("u8bit", 8, 8);
    RecordPtr colour = image("u8bit", 8, 8, 3);
    struct Case {
        const char *op;
        std::function<int()> call;
        int code;
        const char *word;  // a word the reason must hold
    };
    const Case cases[] = {
        {"flgmag", [&] { return flgmag(small.get(), smallOut.get(), 5.0f); }, TAMO_DOG_EROWS,
         "rows"},
        {"flgmag", [&] { return flgmag(small.get(), smallOut.get(), 0.0f); }, TAMO_DOG_ESIGMA,
         "sigma"},
        {"flgmag", [&] { return flgmag(small.get(), bytes.get(), 1.0f); }, TAMO_OP_ETYPE, "float"},
        {"Tamocfft2d", [&] { return Tamocfft2d(wide.get(), -1); }, TAMO_FFT_ESQUARE, "square"},
        {"Tamocolormap", [&] { return Tamocolormap(bytes.get(), colour.get(), 9); }, TAMO_CMAP_EMAP,
         "map"},
        {"flsqrt",
         [&] {
             tamo::pixels<float>(small.get())[3] = -1.0f;
             return flsqrt(small.get(), smallOut.get());
         },
         TAMO_SQRT_NEGATIVE, "negative"},
    };
    for (const Case &c : cases) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int rc = c.call();
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, c.code) << c.op;
        const char *text = Tamoopstext(c.op, rc);
        ASSERT_NE(text, nullptr) << c.op << " " << rc;
        EXPECT_NE(std::strstr(text, c.word), nullptr) << c.op << ": " << text;
    }
}

}  // namespace
