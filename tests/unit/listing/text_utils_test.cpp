// Password text, log indentation, number text, command-line splitting and the clipboard data
// of URL sets.
#include "listing/text_utils.h"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "listing/clipboard_urls.h"
#include "listing/local_files.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

using testing::ScratchDirectory;
using testing::WriteFile;

TEST(PasswordTest, KnownValues) {
    EXPECT_EQ(EncodePassword(std::string(1, '\0')), "FF");
    EXPECT_EQ(EncodePassword("A"), "EB");
    EXPECT_EQ(EncodePassword(""), "");
    EXPECT_EQ(DecodePassword("EB"), "A");
    EXPECT_EQ(DecodePassword("eb"), "A");
    EXPECT_EQ(DecodePassword(""), "");
}

TEST(PasswordTest, EveryByteRoundTrips) {
    std::string all;
    for (int b = 1; b <= 255; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string encoded = EncodePassword(one);
        ASSERT_EQ(encoded.size(), 2u) << b;
        EXPECT_EQ(encoded.find_first_not_of("0123456789ABCDEF"), std::string::npos) << b;
        EXPECT_EQ(DecodePassword(encoded), one) << b;
        all += one;
    }
    EXPECT_EQ(DecodePassword(EncodePassword(all)), all);
}

TEST(PasswordTest, MalformedTextDecodesSafely) {
    EXPECT_EQ(DecodePassword("EBE"), "A");  // trailing odd character ignored
    EXPECT_EQ(DecodePassword("E"), "");
    EXPECT_EQ(DecodePassword("ZZEB"), "");  // stops at the first pair that is not hex
    EXPECT_EQ(DecodePassword("EBG1EB"), "A");
    EXPECT_EQ(DecodePassword(std::string("EB\0\0EB", 6)), "A");
    EXPECT_EQ(DecodePassword(" EB"), "");
}

TEST(TextTest, IndentContinuationLines) {
    EXPECT_EQ(IndentContinuationLines("a\nb\n"), "a\n\t\tb\n");
    EXPECT_EQ(IndentContinuationLines("a\r\nb\r\nc"), "a\r\n\t\tb\r\n\t\tc");
    EXPECT_EQ(IndentContinuationLines("\n\n"), "\n\t\t\n");
    EXPECT_EQ(IndentContinuationLines("one line"), "one line");
    EXPECT_EQ(IndentContinuationLines(""), "");
}

TEST(TextTest, IntToString) {
    struct Case {
        int64_t value;
        int radix;
        const char* expected;
    };
    const Case cases[] = {
        {0, 10, "0"},
        {255, 16, "ff"},
        {5, 2, "101"},
        {35, 36, "z"},
        {-42, 10, "-42"},
        {-1, 16, "ffffffffffffffff"},
        {std::numeric_limits<int64_t>::min(), 10, "-9223372036854775808"},
        {std::numeric_limits<int64_t>::max(), 10, "9223372036854775807"},
        {5, 1, ""},
        {5, 37, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IntToString(c.value, c.radix), c.expected) << c.value << " radix " << c.radix;
    }
}

TEST(SplitProgramTest, PlainLines) {
    struct Case {
        const char* line;
        const char* program;
        const char* arguments;
    };
    const Case cases[] = {
        {"", "", ""},
        {"  viewer  ", "viewer", ""},
        {"viewer -a  -b ", "viewer", "-a  -b"},
        {"notepad.exe\t", "notepad.exe", ""},
        // A drive path with spaces whose prefixes do not exist: all of it is the program.
        {"C:\\Program Files\\v.exe -x", "C:\\Program Files\\v.exe -x", ""},
        // A ":" before the first space without a drive: all of it is the program.
        {"scheme:thing -x", "scheme:thing -x", ""},
        // A "/" path whose prefixes do not exist: split at the first space.
        {"/nonexistent/dir/viewer --x", "/nonexistent/dir/viewer", "--x"},
    };
    for (const auto& c : cases) {
        const ProgramAndArguments split = SplitProgramAndArguments(c.line);
        EXPECT_EQ(split.program, c.program) << c.line;
        EXPECT_EQ(split.arguments, c.arguments) << c.line;
    }
}

TEST(SplitProgramTest, AbsolutePathWithSpacesFindsExistingProgram) {
    ScratchDirectory scratch;
    WriteFile(scratch / "my viewer", "#!/bin/sh\n");
    ASSERT_TRUE(MakeDirectoryPath(scratch / "app"));
    WriteFile(scratch / "app run", "#!/bin/sh\n");

    ProgramAndArguments split = SplitProgramAndArguments(scratch / "my viewer   --flag  x ");
    EXPECT_EQ(split.program, scratch / "my viewer");
    EXPECT_EQ(split.arguments, "--flag  x");

    split = SplitProgramAndArguments(scratch / "my viewer");
    EXPECT_EQ(split.program, scratch / "my viewer");
    EXPECT_EQ(split.arguments, "");

    // "…/app" is a directory, not a program: the search goes on to "…/app run".
    split = SplitProgramAndArguments(scratch / "app run --x");
    EXPECT_EQ(split.program, scratch / "app run");
    EXPECT_EQ(split.arguments, "--x");
}

TEST(ClipboardUrlsTest, BlockLayoutAndRoundTrip) {
    const std::vector<std::string> urls = {"ftp://a/x", "ftp://b/y"};
    const std::string block = EncodeUrlBlock(0x04030201u, urls);
    const std::string text = "ftp://a/x\r\nftp://b/y";
    ASSERT_EQ(block.size(), text.size() + 5);
    EXPECT_EQ(block.substr(0, 4), "\x01\x02\x03\x04");
    EXPECT_EQ(block.substr(4, text.size()), text);
    EXPECT_EQ(block.back(), '\0');
    EXPECT_EQ(JoinClipboardText(urls), text);

    uint32_t tag = 0;
    std::string decoded;
    ASSERT_TRUE(DecodeUrlBlock(block, tag, decoded));
    EXPECT_EQ(tag, 0x04030201u);
    EXPECT_EQ(decoded, text);

    ASSERT_TRUE(DecodeUrlBlock(EncodeUrlBlock(0xfffffffeu, {}), tag, decoded));
    EXPECT_EQ(tag, 0xfffffffeu);
    EXPECT_EQ(decoded, "");
}

TEST(ClipboardUrlsTest, ShortOrUnterminatedBlocks) {
    uint32_t tag = 7;
    std::string text = "unchanged";
    EXPECT_FALSE(DecodeUrlBlock("", tag, text));
    EXPECT_FALSE(DecodeUrlBlock(std::string("\x01\x02\x03\x04", 4), tag, text));
    EXPECT_EQ(tag, 7u);
    EXPECT_EQ(text, "unchanged");

    ASSERT_TRUE(DecodeUrlBlock(std::string("\x05\0\0\0ftp://h/x", 13), tag, text));
    EXPECT_EQ(tag, 5u);
    EXPECT_EQ(text, "ftp://h/x");  // no terminating zero: the text runs to the end
}

TEST(ClipboardUrlsTest, SplitsTextIntoFtpUrls) {
    std::vector<std::string> urls;
    EXPECT_TRUE(SplitClipboardUrls("ftp://a/x\r\nftp://b/y", urls));
    EXPECT_EQ(urls, (std::vector<std::string>{"ftp://a/x\r", "ftp://b/y"}));

    urls.clear();
    EXPECT_TRUE(SplitClipboardUrls("\n\nftp://a/\n\n\nftp://b/\n", urls));
    EXPECT_EQ(urls, (std::vector<std::string>{"ftp://a/", "ftp://b/"}));

    urls.clear();
    EXPECT_FALSE(SplitClipboardUrls("ftp://a/x\nnot a url\nftp://b/y", urls));
    EXPECT_EQ(urls, (std::vector<std::string>{"ftp://a/x"}));

    urls.clear();
    EXPECT_FALSE(SplitClipboardUrls("http://a/x", urls));
    EXPECT_TRUE(urls.empty());
    EXPECT_TRUE(SplitClipboardUrls("", urls));
    EXPECT_TRUE(urls.empty());
}

}  // namespace
}  // namespace tarnwick
