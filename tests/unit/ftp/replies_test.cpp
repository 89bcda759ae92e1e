// The pure side of the protocol engine: reply parsing, PASV/PORT, the overwrite rule and the
// automatic transfer type.
#include "ftp/replies.h"

#include <gtest/gtest.h>

#include <string>

#include "session/session_observer.h"

namespace tarnwick {
namespace {

// The codes found, comma-separated, then "+" when complete; "malformed" for status -1.
std::string Summary(std::string_view text, std::string_view lastVerb) {
    ReplyParse parse = ParseReplyText(text, lastVerb);
    if (parse.status != 0) return "malformed";
    std::string summary;
    for (int i = 0; i < parse.count; ++i) summary += (i > 0 ? "," : "") + parse.codes[i];
    return summary + (parse.complete ? "+" : "");
}

TEST(ParseReplyText, FindsCodesAndTellsWhenTheAnswerIsComplete) {
    struct Case {
        std::string text, lastVerb, summary;
    };
    std::string elevenReplies;
    for (int i = 0; i < 11; ++i) elevenReplies += "200 ok\r\n";
    // clang-format off
    for (const Case& c : {
             Case{"200 Type set\r\n", "type", "200+"}, Case{"250 ok\n", "cwd", "250+"},
             Case{"220-Welcome\r\n220-to us\r\n220 ready\r\n", "login", "220+"},
             Case{"220-Welcome\r\n220-more\r\n", "login", "220"},
             // Inside a multi-line reply other digits, no digits and "230-" are only text.
             Case{"230-Hi\r\n 230 x\r\n150 y\r\nplain\r\n230-again\r\n230 done\r\n", "pass", "230+"},
             Case{"211-Features\r\n MDTM\r\n211\r\n", "feat", "211+"},
             Case{"150 Opening\r\n", "retr", "150"}, Case{"150 Opening\r\n226 Done\r\n", "retr", "150,226+"},
             Case{"426 Broken\r\n", "abor", "426"}, Case{"451 Local error\r\n", "abor", "451"},
             Case{"426 Broken\r\n226 Abort ok\r\n", "abor", "426,226+"}, Case{"426 Broken\r\n", "retr", "426+"},
             Case{"120 Wait\r\n220 Ready\r\n", "login", "120,220+"},
             Case{"200\n", "noop", "malformed"}, Case{"200 ok", "noop", "malformed"},
             Case{"Hello there\r\n", "noop", "malformed"}, Case{"150 ok\r\n\r\n226 ok\r\n", "list", "malformed"},
             Case{elevenReplies, "noop", "malformed"}}) {  // bounded number of codes
        // clang-format on
        EXPECT_EQ(Summary(c.text, c.lastVerb), c.summary) << c.text;
    }
}

TEST(ReplyHelpers, QuotedDirectoryAndAnnouncedSize) {
    // clang-format off
    const std::pair<const char*, const char*> directories[] = {
        {"257 \"/pub\" is current\r\n", "/pub"}, {"257 \"/a \"\"b\"\" c\" is current\r\n", "/a \"b\" c"},
        {"257 \"\"\"\" created\r\n", "\""}, {"257 \"/pub\r\n", ""}, {"257 /pub\r\n", ""}};
    const std::pair<const char*, int64_t> sizes[] = {
        {"150 Opening BINARY mode data connection for a (5000000000 bytes)\r\n", 5'000'000'000},
        {"150 Opening (x) for b (0 bytes).\r\n", 0}, {"150 Opening data connection\r\n", -1},
        {"150 Here (12 kbytes)\r\n226 (34 bytes)\r\n", -1}};
    // clang-format on
    for (const auto& [reply, directory] : directories)
        EXPECT_EQ(DirectoryFromPwdReply(reply), directory) << reply;
    for (const auto& [reply, size] : sizes) EXPECT_EQ(TransferSizeFromReply(reply), size) << reply;
}

TEST(PasvPort, ParsesPasvRepliesAndRefusesWhatHasNoAddress) {
    std::string host = "x";
    int port = -1;
    EXPECT_TRUE(ParsePasvReply("227 Entering Passive Mode (192,168,1,2,19,137).\r\n", host, port));
    EXPECT_EQ(host + ":" + std::to_string(port), "192.168.1.2:5001");
    EXPECT_TRUE(ParsePasvReply("227 =(10,0,0,1, 4,1)\r\n", host, port));
    EXPECT_EQ(port, 1025);
    for (const char* bad :
         {"227 Entering Passive Mode 192,168,1,2,19,137\r\n", "227 (192,168,1,2,19)\r\n",
          "227 (1,2,3,4,300,1)\r\n", "227 (1,2,3,4,x,1)\r\n", "227 ) (1,2,3,4,5,6\r\n"}) {
        EXPECT_FALSE(ParsePasvReply(bad, host, port)) << bad;
        EXPECT_EQ(host + std::to_string(port), "0") << bad;
    }
}

// The automatic action (0 skip, 1 resume, 2 overwrite) for downloads, then uploads, each for a
// source older, as old and newer, each for a source smaller, as big and bigger.
TEST(Overwrite, AutomaticRuleCoversEveryCaseAndComparesFullSizes) {
    const uint64_t size = 5'000'000'000ULL;  // beyond 32 bits
    std::string actions;
    for (int d = 0; d < 2; ++d) {
        for (int t = -1; t <= 1; ++t) {
            for (int s = -1; s <= 1; ++s) {
                int c = OverwriteCase(d == 1, 1000 + t * 60, 1000, size + s, size);
                actions += static_cast<char>('0' + AutoOverwriteAction(c));
            }
        }
    }
    EXPECT_EQ(actions, "000201222001201222");
    // Equal lower halves, a source 4 GiB bigger: same time, so resume (not skip).
    EXPECT_EQ(AutoOverwriteAction(OverwriteCase(false, 0, 0, (1ULL << 32) + 10, 10)), kResume);
}

TEST(AutoType, ByExtensionCaseSensitiveWithOrWithoutTrailingSemicolon) {
    const std::string list = "txt;html;c;rtf";
    for (const std::string& l : {list, list + ";", ";;" + list}) {
        std::string types;
        for (const char* name :
             {"readme.txt", "README.TXT", "page.ml", "Makefile", "a.tar.c", "trailing."})
            types += std::to_string(AutoTransferType(name, l));
        EXPECT_EQ(types, "011101") << l;
    }
}

}  // namespace
}  // namespace tarnwick
