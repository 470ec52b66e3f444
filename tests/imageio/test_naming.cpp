// File names and opening by name: environment variables, "~" names, the
// standard streams, typed names, and reading or writing an image by name.
#include <fcntl.h>
#include <unistd.h>

#include "iotest.h"
#include "tempdir.h"

namespace {

// The expansion of `name`, or "<null>" with status and messages recorded.
std::string expand(const char *name, int *status = nullptr, std::string *err = nullptr) {
    int s = -7;
    testing::internal::CaptureStderr();
    tamo::CArray<char> full(TamoPrsFN(name, &s));
    std::string e = testing::internal::GetCapturedStderr();
    if (status) *status = s;
    if (err) *err = e;
    return full ? std::string(full.get()) : "<null>";
}

// A name typed on a stream holding `typed`.
std::string typedName(const std::string &typed, std::string *err = nullptr) {
    FILE *fp = fmemopen(const_cast<char *>(typed.data()), typed.size(), "r");
    testing::internal::CaptureStderr();
    tamo::CArray<char> name(TamoGetFN("name? ", fp));
    std::string e = testing::internal::GetCapturedStderr();
    std::fclose(fp);
    if (err) *err = e;
    return name ? std::string(name.get()) : "<null>";
}

class Naming : public testing::Test {
protected:
    void SetUp() override {
        setenv("TAMODATA", "/data", 1);
        setenv("TAMOEMPTY", "", 1);
        unsetenv("TAMO_NOT_SET");
        unsetenv("TAMO");
    }
};

}  // namespace

TEST_F(Naming, EnvironmentVariables) {
    int status;
    std::string err;
    EXPECT_EQ(expand("$TAMODATA/a.tam", &status), "/data/a.tam");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(expand("${TAMODATA}/a.tam"), "/data/a.tam");
    EXPECT_EQ(expand("x$TAMODATA.y${TAMOEMPTY}z"), "x/data.yz");
    // A plain name stops at the first character that is not a letter or digit.
    setenv("TAMODATA_DIR", "/other", 1);
    EXPECT_EQ(expand("$TAMODATA_DIR/x"), "/data_DIR/x");
    EXPECT_EQ(expand("${TAMODATA_DIR}/x"), "/other/x");

    EXPECT_EQ(expand("${TAMODATA/x", &status, &err), "<null>");
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("TamoEnv: no closing '}' in env. var. name."), std::string::npos);
    EXPECT_NE(err.find("TamoPrsFN: Error while expanding environment variables in name."),
              std::string::npos);
    EXPECT_EQ(expand("$TAMO_NOT_SET/x", &status, &err), "<null>");
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("TamoEnv: no environment variable `TAMO'."), std::string::npos) << err;
    EXPECT_EQ(expand("${TAMO_NOT_SET}", &status, &err), "<null>");
    EXPECT_NE(err.find("TamoEnv: no environment variable `TAMO_NOT_SET'."), std::string::npos);
    EXPECT_EQ(expand("cost$/x", &status, &err), "<null>");  // an empty name is not set either
    EXPECT_NE(err.find("TamoEnv: no environment variable `'."), std::string::npos);

    // Expanded names are limited to 511 characters.
    setenv("TAMOLONG", std::string(300, 'a').c_str(), 1);
    EXPECT_EQ(expand("$TAMOLONG/$TAMOLONG", &status), "<null>");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(expand(("$TAMOLONG/" + std::string(210, 'b')).c_str()).size(), 511u);
}

TEST_F(Naming, TildeNames) {
    const char *savedHome = std::getenv("HOME");
    const std::string home = savedHome ? savedHome : "";
    setenv("HOME", "/home/tester", 1);
    EXPECT_EQ(expand("~/img.tam"), "/home/tester/img.tam");
    EXPECT_EQ(expand("~"), "/home/tester");
    EXPECT_EQ(expand("~root/img.tam"), "/root/img.tam");
    EXPECT_EQ(expand("~no_such_user_here/img.tam"), "~no_such_user_here/img.tam");
    EXPECT_EQ(expand("~user.x"), "~user.x");
    EXPECT_EQ(expand("${TAMODATA}~"), "/data~");
    if (savedHome)
        setenv("HOME", home.c_str(), 1);
    else
        unsetenv("HOME");
}

TEST_F(Naming, TypedNames) {
    std::string err;
    EXPECT_EQ(typedName("my\\ file.tam\n"), "my file.tam");
    EXPECT_EQ(typedName(" \t\n  first.tam second.tam\n"), "first.tam");
    EXPECT_EQ(typedName("\\\\server\\\\share\n"), "\\server\\share");
    EXPECT_EQ(typedName("$TAMODATA/t.tam\n"), "/data/t.tam");
    // Standard input is not a terminal here, so the prompt is not shown.
    EXPECT_EQ(typedName("x\n", &err), "x");
    EXPECT_EQ(err, "");

    EXPECT_EQ(typedName("", &err), "<null>");
    EXPECT_NE(err.find("TamoGetFN: I/O error or EOF when reading filename."), std::string::npos);
    EXPECT_EQ(typedName("trailing\\", &err), "<null>");
    EXPECT_EQ(Tamoerr, 448);

    EXPECT_EQ(typedName(std::string(254, 'n') + "\n").size(), 254u);
    EXPECT_EQ(typedName(std::string(255, 'n') + "\n", &err), "<null>");
    EXPECT_NE(err.find("TamoGetFN: Buffer Overflow (Filename too long)."), std::string::npos);
}

TEST_F(Naming, OpeningAndClosing) {
    EXPECT_EQ(TamoOpen("-", "rb", nullptr, 5), stdin);
    EXPECT_EQ(TamoOpen("-", "wb", nullptr, 5), stdout);
    EXPECT_EQ(TamoOpen(nullptr, "r", nullptr, 5), stdin);
    EXPECT_EQ(TamoOpen("-", "a", nullptr, 5), nullptr);
    EXPECT_EQ(TamoClose(stdin), 0);
    EXPECT_EQ(TamoClose(stdout), 0);
    EXPECT_NE(fcntl(fileno(stdin), F_GETFD), -1);  // still open
    EXPECT_EQ(TamoClose(nullptr), -1);

    testing::internal::CaptureStderr();
    EXPECT_EQ(TamoOpen("${TAMODATA/x", "rb", "prompt", 5), nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Tamoerr, 256);
    EXPECT_NE(err.find("TamoOpen: Bad filename or error in filename expansion."),
              std::string::npos);
    EXPECT_EQ(err.find("I give up"), std::string::npos);  // not interactive: no retries

    testing::internal::CaptureStderr();
    EXPECT_EQ(TamoOpen("$TAMODATA/none/x.tam", "rb", nullptr, 5), nullptr);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Tamoerr, 64);
    EXPECT_NE(err.find("TamoOpen: Unable to open file `/data/none/x.tam'."), std::string::npos);
}

TEST_F(Naming, ImagesByName) {
    const testsupport::TempDir temp;
    const std::string &dir = temp.path();
    setenv("TAMOTESTDIR", dir.c_str(), 1);

    // Fewer than 512 pixels: written uncompressed after a note.
    tamo::RecordPtr small = iotest::patterned("float", {10, 10});
    testing::internal::CaptureStdout();
    EXPECT_EQ(Tamopot(small.get(), "${TAMOTESTDIR}/small.tam"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "TamoPutImg error msg: image has 100 pixels so it will not be compressed\n");
    EXPECT_EQ(small->orvcomp, 0);
    std::string bytes = iotest::readFile(dir + "/small.tam");
    EXPECT_EQ(bytes.size(), 1024u);
    EXPECT_EQ(bytes[255], 0);

    tamo::RecordPtr large = iotest::patterned("float", {32, 16});
    EXPECT_EQ(Tamopot(large.get(), (dir + "/large.tam").c_str()), -1);
    EXPECT_EQ(iotest::readFile(dir + "/large.tam")[255], 1);
    tamo::RecordPtr back(Tamopin("$TAMOTESTDIR/large.tam"));
    ASSERT_TRUE(back);
    EXPECT_TRUE(iotest::sameData(large.get(), back.get()));

    // "ORV" records are refused here, though the writer itself takes them.
    std::memcpy(large->orvmagic, "ORV", 4);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Tamopot(large.get(), (dir + "/orv.tam").c_str()), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("TamoPutImg: Invalid image header (bad magic no.)"), std::string::npos);
    std::memcpy(large->orvmagic, "TAM", 4);

    // Bytes lost when the stream is closed make the write fail.
    testing::internal::CaptureStderr();
    EXPECT_EQ(Tamopot(large.get(), "/dev/full"), 0);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("TamoPutImg: Error while writing image file."), std::string::npos);

    testing::internal::CaptureStderr();
    EXPECT_EQ(Tamopin((dir + "/missing.tam").c_str()), nullptr);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("TamoGetImg: couldn't open file."), std::string::npos);
    std::remove((dir + "/small.tam").c_str());
    std::remove((dir + "/large.tam").c_str());
}
