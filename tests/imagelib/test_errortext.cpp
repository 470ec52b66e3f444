// The texts of the library's error numbers, checked against the numbers the
// library really leaves in Tamoerr.
#include <cstring>
#include <set>
#include <string>

#include "support.h"

extern "C" int tamo_c_error_names(void);

TEST_F(Lib, ErrorNumbersHaveTextsThatTellThemApart) {
    const struct {
        int32_t code;
        int32_t value;  // the number as stored files and callers know it
        const char *text;
    } cases[] = {
        {TAMO_ENODIMS, -1, "its number of dimensions is not positive"},
        {TAMO_ENULL, 8, "no image or dimension list was given"},
        {TAMO_ECOMPBUF, 9, "there is no memory for compressing its data"},
        {TAMO_EHEADER, 24, "it is not an image of this format, or its header is damaged"},
        {TAMO_EOPEN, 64, "it cannot be opened"},
        {TAMO_ENAME, 256, "its name is bad or cannot be expanded"},
        {TAMO_EIO, 448, "an input or output error occurred, or the file ended early"},
        {TAMO_ENOMEM, 512, "there is not enough memory"},
        {TAMO_ETYPE, 1024, "its data type is unknown"},
        {TAMO_EBOUNDS, 4096, "the window or slice lies outside the image"},
        {TAMO_EDIMS, 8192, "its number of dimensions is not 1, 2 or 3"},
    };
    std::set<std::string> seen;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(c.code, c.value);
        ASSERT_NE(Tamoerrtext(c.code), nullptr);
        EXPECT_STREQ(Tamoerrtext(c.code), c.text);
        seen.insert(c.text);
    }
    EXPECT_EQ(seen.size(), std::size(cases));
    EXPECT_EQ(tamo_c_error_names(), 24 + 7 + 1);  // the names compile as C
    // No error, and numbers the library never sets, have no text.
    for (int32_t code : {0, -2, 1, 3, 7}) EXPECT_EQ(Tamoerrtext(code), nullptr) << code;
}

TEST_F(Lib, ErrorTextsFollowTheNumbersTheLibraryLeaves) {
    TAMOSLV = 1;  // quiet
    const int dims[3] = {2, 4, 4};
    Tamoerr = 0;
    EXPECT_EQ(Tamocreate("no such type", dims, TAMO_CREATE_ZEROED, 0), nullptr);
    EXPECT_STREQ(Tamoerrtext(Tamoerr), "its data type is unknown");

    Tamoerr = 0;
    EXPECT_EQ(Tamocreate("float", nullptr, TAMO_CREATE_ZEROED, 0), nullptr);
    EXPECT_STREQ(Tamoerrtext(Tamoerr), "no image or dimension list was given");

    // Tamofree ors its number into what is there: the larger one is told.
    Tamoerr = TAMO_ENOMEM;
    Tamofree(nullptr, TAMO_FREE_ALL);
    EXPECT_EQ(Tamoerr, TAMO_ENOMEM | TAMO_ENULL);
    EXPECT_STREQ(Tamoerrtext(Tamoerr), "there is not enough memory");

    // The flag names release what their numbers do.
    TAMOHDR *img = Tamocreate("float", dims, TAMO_CREATE_PIXELS, 0);
    ASSERT_NE(img, nullptr);
    ASSERT_NE(img->orvptr, nullptr);
    EXPECT_EQ(static_cast<unsigned>(TAMO_FREE_ALL), 7u);
    EXPECT_EQ(static_cast<unsigned>(TAMO_CREATE_ZEROED), 11u);
    Tamofree(img, TAMO_FREE_ALL);
}
