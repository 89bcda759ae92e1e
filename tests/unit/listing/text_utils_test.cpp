// Password text, log indentation, number text, command-line splitting and the clipboard data
// of URL sets.
#include "listing/text_utils.h"

#include <limits>

#include <gtest/gtest.h>

#include "listing/clipboard_urls.h"
#include "listing/local_files.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

using testing::ScratchDirectory;
using testing::WriteFile;
using Strings = std::vector<std::string>;

TEST(PasswordTest, EveryByteRoundTripsAndMalformedTextDecodesSafely) {
    EXPECT_EQ(EncodePassword(std::string(1, '\0')) + EncodePassword("A"), "FFEB");
    std::string all;
    for (int b = 1; b <= 255; ++b) all += static_cast<char>(b);
    const std::string encoded = EncodePassword(all);
    EXPECT_EQ(encoded.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(DecodePassword(encoded), all);
    // A trailing odd character is ignored; decoding stops at the first pair that is not hex.
    const std::string malformed[] = {"EBE", "eb", "EBG1EB", "EBZZEB", std::string("EB\0\0EB", 6)};
    for (const std::string& text : malformed) {
        EXPECT_EQ(DecodePassword(text), "A") << text;
    }
}

TEST(TextTest, IndentAndIntToString) {
    EXPECT_EQ(IndentContinuationLines("a\r\nb\nc\n"), "a\r\n\t\tb\n\t\tc\n");
    EXPECT_EQ(IndentContinuationLines("\n\n"), "\n\t\t\n");
    EXPECT_EQ(IntToString(35, 36) + IntToString(0, 2) + IntToString(5, 37), "z0");
    EXPECT_EQ(IntToString(-1, 16), "ffffffffffffffff");
    EXPECT_EQ(IntToString(std::numeric_limits<int64_t>::min(), 10), "-9223372036854775808");
}

TEST(SplitProgramTest, SplitsAtTheProgramThatExists) {
    ScratchDirectory scratch;
    WriteFile(scratch / "my viewer", "#!/bin/sh\n");
    ASSERT_TRUE(MakeDirectoryPath(scratch / "app"));  // a directory is not a program
    WriteFile(scratch / "app run", "#!/bin/sh\n");
    struct Case {
        std::string line, program, arguments;
    };
    const Case cases[] = {
        {"  viewer  ", "viewer", ""},
        {"viewer -a  -b ", "viewer", "-a  -b"},
        {"C:\\Program Files\\v.exe -x", "C:\\Program Files\\v.exe -x", ""},
        {"scheme:thing -x", "scheme:thing -x", ""},
        {"/nonexistent/viewer --x", "/nonexistent/viewer", "--x"},
        {scratch / "my viewer   --flag  x ", scratch / "my viewer", "--flag  x"},
        {scratch / "my viewer", scratch / "my viewer", ""},
        {scratch / "app run --x", scratch / "app run", "--x"},
    };
    for (const auto& c : cases) {
        const ProgramAndArguments split = SplitProgramAndArguments(c.line);
        EXPECT_EQ(split.program, c.program) << c.line;
        EXPECT_EQ(split.arguments, c.arguments) << c.line;
    }
}

TEST(ClipboardUrlsTest, BlockLayoutRoundTripAndSplitting) {
    const std::string block = EncodeUrlBlock(0x04030201u, {"ftp://a/x", "ftp://b/y"});
    EXPECT_EQ(block, std::string("\1\2\3\4ftp://a/x\r\nftp://b/y\0", 25));
    uint32_t tag = 0;
    std::string text;
    ASSERT_TRUE(DecodeUrlBlock(block, tag, text));
    EXPECT_EQ(std::to_string(tag) + " " + text, "67305985 ftp://a/x\r\nftp://b/y");
    EXPECT_FALSE(DecodeUrlBlock(std::string("\x09\0\0\0", 4), tag, text));
    EXPECT_EQ(tag, 0x04030201u);  // untouched
    ASSERT_TRUE(DecodeUrlBlock(std::string("\5\0\0\0ftp://h/", 12), tag, text));
    EXPECT_EQ(std::to_string(tag) + " " + text, "5 ftp://h/");  // no zero: the text runs to the end

    Strings urls;
    EXPECT_TRUE(SplitClipboardUrls("ftp://a/x\r\n\n\nftp://b/y\n", urls));
    EXPECT_EQ(urls, (Strings{"ftp://a/x\r", "ftp://b/y"}));
    urls.clear();
    EXPECT_FALSE(SplitClipboardUrls("ftp://a/x\nnot a url\nftp://b/y", urls));
    EXPECT_EQ(urls, Strings{"ftp://a/x"});
}

}  // namespace
}  // namespace tarnwick
