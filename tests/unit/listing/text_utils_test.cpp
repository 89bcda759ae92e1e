// Password text, URLs and the clipboard data of URL sets.
#include "listing/text_utils.h"

#include <gtest/gtest.h>

#include <tuple>

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
        {"ftp://u%40x:p%3aw%2F@h/a%20b%25%23", "1 h /a b%# 21 u@x p:w/"},
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

// The TLS schemes are ftp URLs with their own default port; escapes that cannot be decoded
// into a safe remote path or login are refused with a reason naming the escape.
TEST(UrlTest, TlsSchemesAndEscapes) {
    const std::tuple<const char*, int, TlsMode> schemes[] = {
        {"ftp://h/x", 21, kTlsNone},
        {"FTPES://h/x", 21, kTlsExplicit},
        {"ftps://h/x", 990, kTlsImplicit},
        {"Ftps://h:2990/x", 2990, kTlsImplicit},
    };
    for (const auto& [text, port, tls] : schemes) {
        UrlParts p;
        ASSERT_TRUE(ParseUrl(text, p)) << text;
        EXPECT_EQ(std::tuple(p.service, p.port, p.tls), std::tuple(kServiceFtp, port, tls)) << text;
    }
    const std::pair<const char*, const char*> refused[] = {
        {"ftp://h/a%zzb", "'%zz'"},
        {"ftp://h/a%2", "'%2'"},
        {"ftp://h/a%", "'%'"},
        {"ftp://h/a%2Fb", "'%2F'"},
        {"ftp://h/a%0D%0ADELE x", "'%0D'"},
        {"ftp://u:p%00@h/", "'%00'"},
        {"ftp://u%g1@h/", "'%g1'"},
    };
    for (const auto& [text, named] : refused) {
        UrlParts p;
        std::string error;
        EXPECT_FALSE(ParseUrl(text, p, error)) << text;
        EXPECT_NE(error.find(named), std::string::npos) << text << ": " << error;
    }
}

// Built URLs parse back to the same host and path, whatever the names hold (an IPv6 host
// gets brackets).
TEST(UrlTest, MadeUrlsRoundTrip) {
    for (const char* path : {"/pub/a b.txt", "/#1/50%/x?y",
                             "/Gr\xc3\xbc\xc3\x9f"
                             "e \xe2\x82\xac.txt",
                             "/[x]{y}|\"<>`^\\"}) {
        for (const char* host : {"host", "fe80::2"}) {
            UrlParts p;
            ASSERT_TRUE(ParseUrl(MakeFtpUrl(host, path), p)) << MakeFtpUrl(host, path);
            EXPECT_EQ(p.server + p.path, host + std::string(path));
            EXPECT_EQ(UrlPath(MakeFtpUrl(host, path)), path);
        }
    }
    EXPECT_EQ(UrlPath("ftp://host") + UrlPath("") + UrlPath("ftps://host/a%20b"), "///a b");
}

// Clipboard data of URL sets: a 4-byte tag, then the text, which runs to the end when the
// terminating zero is missing; a block without text is refused.
TEST(ClipboardUrlsTest, DecodesBlocksAndSplitsTheirText) {
    uint32_t tag = 0;
    std::string text;
    EXPECT_FALSE(DecodeUrlBlock(std::string("\x09\0\0\0", 4), tag, text));
    ASSERT_TRUE(DecodeUrlBlock(EncodeUrlBlock(5, {"ftp://a/x", "ftp://b/y"}), tag, text));
    EXPECT_EQ(std::to_string(tag) + " " + text, "5 ftp://a/x\r\nftp://b/y");
    ASSERT_TRUE(DecodeUrlBlock(std::string("\5\0\0\0ftp://h/", 12), tag, text));
    EXPECT_EQ(text, "ftp://h/");
    Strings urls;
    EXPECT_TRUE(SplitClipboardUrls("ftp://a/x\r\n\n\nftp://b/y\n", urls));
    EXPECT_EQ(urls, (Strings{"ftp://a/x\r", "ftp://b/y"}));
    urls.clear();
    EXPECT_FALSE(SplitClipboardUrls("ftp://a/x\nnot a url\nftp://b/y", urls));
    EXPECT_EQ(urls, Strings{"ftp://a/x"});
}

}  // namespace
}  // namespace tarnwick
