// Password text, number text, URLs and the clipboard data of URL sets.
#include "listing/text_utils.h"

#include <limits>

#include <gtest/gtest.h>

#include "listing/clipboard_urls.h"
#include "listing/url.h"

namespace tarnwick {
namespace {

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
    for (const std::string& text : malformed) EXPECT_EQ(DecodePassword(text), "A") << text;
}

TEST(TextTest, IntToStringCoversTheWholeRange) {
    EXPECT_EQ(IntToString(35, 36) + IntToString(0, 2) + IntToString(5, 37), "z0");
    EXPECT_EQ(IntToString(-1, 16), "ffffffffffffffff");
    EXPECT_EQ(IntToString(std::numeric_limits<int64_t>::min(), 10), "-9223372036854775808");
}

// The parts of a URL as "service server path port user password", or "refused".
std::string Split(const char* text) {
    UrlParts p;
    if (!ParseUrl(text, p)) return "refused";
    return std::to_string(p.service) + " " + p.server + " " + p.path + " " +
           std::to_string(p.port) + " " + p.user + " " + p.password;
}

TEST(UrlTest, SplitsWellFormedUrls) {
    const std::pair<const char*, const char*> cases[] = {
        {"ftp://host", "1 host / 21  "},
        {"ftp://anna@host/pub", "1 host /pub 21 anna "},
        {"ftp://anna:pw@host:2121/pub/", "1 host /pub/ 2121 anna pw"},
        {"ftp://host:/x", "1 host /x 21  "},  // empty port: the default
        {"ftp://a:p@ss:w@host/x", "1 host /x 21 a p@ss:w"},
        {"ftp://u%40x:p%3aw%zz@h/a%20b", "1 h /a%20b 21 u@x p:w%zz"},
        {"ftp://[::1]:2121/x", "1 ::1 /x 2121  "},
        {"ftp://u@[fe80::1%eth0]", "1 fe80::1%eth0 / 21 u "},
        {"FTP://Host/Pub", "1 Host /Pub 21  "},
        {"  ftp://host/a b\r", "1 host /a b 21  "},
        {"http://h/i.html", "3 h /i.html 80  "},
        {"https://h", "4107 h / 443  "},
        {"file:///home/u", "4097  /home/u 0  "},
        {"sftp://h:22/x", "4351 h /x 22  "},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(Split(text), expected) << text;
}

TEST(UrlTest, RefusesMalformedUrls) {
    // No scheme or host; a port out of range or with more than digits; a host with a blank
    // or backslash; a bracketed address unclosed, followed by junk, empty or no IPv6 one.
    for (const char* text :
         {"", "host/pub", "ftp:/host/x", "1ftp://h/x", "ftp:///x", "ftp://u:p@/x", "ftp://h:0/x",
          "ftp://h:65536/x", "ftp://h:99999999999/x", "ftp://h:-1/x", "ftp://h:21a/x",
          "ftp://h:21:22/x", "ftp://h st/x", "ftp://h\\x/y", "ftp://[::1/x", "ftp://[::1]x/y",
          "ftp://[]/x", "ftp://[xyz]/x", "ftp://::1/x"}) {
        EXPECT_EQ(Split(text), "refused");
        EXPECT_EQ(UrlServiceType(text), kServiceUnknown) << text;
    }
    EXPECT_TRUE(IsFtpUrl("ftp://host/x\r"));
    EXPECT_FALSE(IsFtpUrl("http://host/x"));
    EXPECT_EQ(UrlServiceType("mailto://someone"), kServiceOther);
}

TEST(UrlTest, UrlPathAndMakeFtpUrl) {
    EXPECT_EQ(UrlPath("ftp://host") + UrlPath("") + UrlPath("ftp://host/pub/x"), "///pub/x");
    EXPECT_EQ(MakeFtpUrl("host", "/a b/%41#"), "ftp://host/a b/%41#");
    EXPECT_EQ(MakeFtpUrl("[::1]", "/x"), "ftp://[::1]/x");
    // An IPv6 host gets brackets, so the URL parses back.
    EXPECT_EQ(Split(MakeFtpUrl("fe80::2", "/pub").c_str()), "1 fe80::2 /pub 21  ");
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
