// The pure side of the protocol engine: reply parsing, error texts, log forms, PASV/PORT,
// the overwrite rule and the automatic transfer type.
#include "ftp/replies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/session_observer.h"

namespace tarnwick {
namespace {

struct ReplyCase {
    const char* name;
    std::string text;
    std::string lastVerb;
    int status;
    std::vector<std::string> codes;
    bool complete;
};

class ParseReplyTextTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(ParseReplyTextTest, ClassifiesReply) {
    const ReplyCase& c = GetParam();
    ReplyParse parse = ParseReplyText(c.text, c.lastVerb);
    EXPECT_EQ(parse.status, c.status);
    if (c.status != 0) return;
    std::vector<std::string> codes(parse.codes.begin(), parse.codes.begin() + parse.count);
    EXPECT_EQ(codes, c.codes);
    EXPECT_EQ(parse.complete, c.complete);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ParseReplyTextTest,
    testing::Values(
        ReplyCase{"Single", "200 Type set to I\r\n", "type", 0, {"200"}, true},
        ReplyCase{"BareLineFeed", "250 ok\n", "cwd", 0, {"250"}, true},
        ReplyCase{"MultiLineWelcome",
                  "220-Welcome\r\n220-to the server\r\n220 ready\r\n",
                  "login",
                  0,
                  {"220"},
                  true},
        ReplyCase{"MultiLineOpen", "220-Welcome\r\n220-more\r\n", "login", 0, {"220"}, false},
        // Inside a multi-line reply, other digits, no digits and "230-" are text.
        ReplyCase{"MultiLineInnerText",
                  "230-Hello\r\n 230 indented\r\n150 other code\r\nplain\r\n230-again\r\n"
                  "230 done\r\n",
                  "pass",
                  0,
                  {"230"},
                  true},
        ReplyCase{"PreliminaryAlone", "150 Opening\r\n", "retr", 0, {"150"}, false},
        ReplyCase{
            "PreliminaryThenDone", "150 Opening\r\n226 Done\r\n", "retr", 0, {"150", "226"}, true},
        ReplyCase{"BrokenTransferAfterAbor", "426 Broken\r\n", "abor", 0, {"426"}, false},
        ReplyCase{"LocalErrorAfterAbor", "451 Local error\r\n", "abor", 0, {"451"}, false},
        ReplyCase{
            "AborAnswered", "426 Broken\r\n226 Abort ok\r\n", "abor", 0, {"426", "226"}, true},
        ReplyCase{"BrokenTransferOtherVerb", "426 Broken\r\n", "retr", 0, {"426"}, true},
        ReplyCase{
            "PreliminaryWelcome", "120 Wait\r\n220 Ready\r\n", "login", 0, {"120", "220"}, true},
        ReplyCase{"CodeAloneClosesMultiLine",
                  "211-Features\r\n MDTM\r\n211\r\n",
                  "feat",
                  0,
                  {"211"},
                  true},
        ReplyCase{"TooShort", "200\n", "noop", -1, {}, false},
        ReplyCase{"NoLineFeed", "200 ok", "noop", -1, {}, false},
        ReplyCase{"NoDigits", "Hello there\r\n", "noop", -1, {}, false},
        ReplyCase{"BlankLineBetweenReplies", "150 ok\r\n\r\n226 ok\r\n", "list", -1, {}, false},
        ReplyCase{"ElevenReplies",
                  [] {
                      std::string s;
                      for (int i = 0; i < 11; ++i) s += "200 ok\r\n";
                      return s;
                  }(),
                  "noop",
                  -1,
                  {},
                  false}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST(ReplyHelpers, TransferPair) {
    std::string pair[] = {"150", "226"};
    std::string notPair[] = {"150", "550"};
    std::string reversed[] = {"226", "150"};
    EXPECT_TRUE(IsTransferPair(pair, 2));
    EXPECT_FALSE(IsTransferPair(pair, 1));
    EXPECT_FALSE(IsTransferPair(notPair, 2));
    EXPECT_FALSE(IsTransferPair(reversed, 2));
}

TEST(ReplyHelpers, SocketErrorTexts) {
    EXPECT_EQ(SocketErrorText(0), "");
    EXPECT_EQ(SocketErrorText(10004), "Interrupted system call.");
    EXPECT_EQ(SocketErrorText(10035), "Operation would block.");
    EXPECT_EQ(SocketErrorText(10054), "Connection reset by peer.");
    EXPECT_EQ(SocketErrorText(10061), "Connection refused.");
    EXPECT_EQ(SocketErrorText(10101), "Socket already disconnected.");
    EXPECT_EQ(SocketErrorText(11004), "Valid name, no data record of requested type.");
    EXPECT_EQ(SocketErrorText(10066), "socket error code=10066");
    EXPECT_EQ(SocketErrorText(-3), "socket error code=-3");
}

TEST(ReplyHelpers, IndentsContinuationLinesOnly) {
    EXPECT_EQ(IndentReplyText("220-a\r\n220-b\r\n220 c\r\n"),
              "220-a\r\n\t\t220-b\r\n\t\t220 c\r\n");
    EXPECT_EQ(IndentReplyText("220 c\r\n"), "220 c\r\n");
    EXPECT_EQ(IndentReplyText("partial"), "partial");
    EXPECT_EQ(IndentReplyText("\n\n"), "\n\t\t\n");
}

TEST(ReplyHelpers, PasswordMaskedInLog) {
    EXPECT_EQ(CommandLogText("pass secret"), "pass ******");
    EXPECT_EQ(CommandLogText("pass "), "pass ");
    EXPECT_EQ(CommandLogText("pass"), "pass");
    EXPECT_EQ(CommandLogText("user secret"), "user secret");
}

TEST(ReplyHelpers, FirstWordAndLineBreaks) {
    EXPECT_EQ(FirstWord("retr a b.txt"), "retr");
    EXPECT_EQ(FirstWord("pwd"), "pwd");
    EXPECT_EQ(FirstWord(""), "");
    EXPECT_TRUE(HasLineBreak("dele a\r\nrmd /"));
    EXPECT_TRUE(HasLineBreak("dele a\nb"));
    EXPECT_TRUE(HasLineBreak("dele a\rb"));
    EXPECT_FALSE(HasLineBreak("dele a b"));
}

TEST(ReplyHelpers, DirectoryFromPwdReply) {
    EXPECT_EQ(DirectoryFromPwdReply("257 \"/pub/my dir\" is current directory.\r\n"),
              "/pub/my dir");
    EXPECT_EQ(DirectoryFromPwdReply("257 \"/\"\r\n"), "/");
    EXPECT_EQ(DirectoryFromPwdReply("257 \"/no/closing/quote\r\n"), "");
}

TEST(PasvPort, ParsesPasvReply) {
    std::string host = "x";
    int port = -1;
    EXPECT_TRUE(ParsePasvReply("227 Entering Passive Mode (192,168,1,2,19,137).\r\n", host, port));
    EXPECT_EQ(host, "192.168.1.2");
    EXPECT_EQ(port, 5001);
    EXPECT_TRUE(ParsePasvReply("227 =(10,0,0,1, 4,1)\r\n", host, port));
    EXPECT_EQ(port, 1025);

    for (const char* bad :
         {"227 Entering Passive Mode 192,168,1,2,19,137\r\n", "227 (192,168,1,2,19)\r\n",
          "227 (1,2,3,4,300,1)\r\n", "227 (1,2,3,4,x,1)\r\n", "227 ) (1,2,3,4,5,6\r\n"}) {
        EXPECT_FALSE(ParsePasvReply(bad, host, port)) << bad;
        EXPECT_EQ(host, "") << bad;
        EXPECT_EQ(port, 0) << bad;
    }
}

TEST(PasvPort, MakesPortCommand) {
    EXPECT_EQ(MakePortCommand("10.0.0.5", 5001), "port 10,0,0,5,19,137");
    EXPECT_EQ(MakePortCommand("127.0.0.1", 65535), "port 127,0,0,1,255,255");
}

// The automatic rule for each of the 18 cases, as (direction, time sign, size sign).
TEST(Overwrite, AutomaticRuleCoversEveryCase) {
    const char* expected[2][3] = {
        {"SSS", "OSR", "OOO"},  // download: source older, same, newer
        {"SSR", "OSR", "OOO"},  // upload
    };
    const int64_t target = 1'000'000;
    const uint64_t targetSize = 5'000'000'000ULL;  // beyond 32 bits: compared in full
    for (int d = 0; d < 2; ++d) {
        for (int t = -1; t <= 1; ++t) {
            for (int s = -1; s <= 1; ++s) {
                int c = OverwriteCase(d == 1, target + t * 60, target, targetSize + s, targetSize);
                EXPECT_EQ(c, 9 * d + 3 * (t + 1) + (s + 1));
                char want = expected[d][t + 1][s + 1];
                int action = want == 'S' ? kSkip : want == 'R' ? kResume : kOverwrite;
                EXPECT_EQ(AutoOverwriteAction(c), action) << "case " << c;
            }
        }
    }
}

TEST(Overwrite, SizesDifferingOnlyAbove32BitsAreNotEqual) {
    // 4 GiB + 10 against 10: the same lower halves, a bigger source.
    EXPECT_EQ(OverwriteCase(false, 0, 0, (1ULL << 32) + 10, 10), 5);
    EXPECT_EQ(AutoOverwriteAction(5), kResume);
}

TEST(Overwrite, ActionNames) {
    EXPECT_EQ(OverwriteActionName(kSkip), "Skip");
    EXPECT_EQ(OverwriteActionName(kResume), "Resume");
    EXPECT_EQ(OverwriteActionName(kOverwrite), "Overwrite");
    EXPECT_EQ(OverwriteActionName(kAuto), "Undefined Action");
}

TEST(AutoType, ByExtensionCaseSensitive) {
    const std::string defaults =
        "txt;ini;htm;html;shtml;dhtml;asp;css;mak;php;pl;bat;xml;c;cpp;h;rc;java;asm;rtf";
    for (const std::string& list : {defaults, defaults + ";"}) {
        EXPECT_EQ(AutoTransferType("readme.txt", list), 0) << list;
        EXPECT_EQ(AutoTransferType("README.TXT", list), 1) << list;
        EXPECT_EQ(AutoTransferType("doc.rtf", list), 0) << list;
        EXPECT_EQ(AutoTransferType("page.ml", list), 1) << list;
        EXPECT_EQ(AutoTransferType("Makefile", list), 1) << list;
        EXPECT_EQ(AutoTransferType("archive.tar.c", list), 0) << list;
        EXPECT_EQ(AutoTransferType("trailing.", list), 1) << list;
    }
    EXPECT_EQ(AutoTransferType("a.txt", ""), 1);
    EXPECT_EQ(AutoTransferType("a.txt", ";;txt"), 0);
}

}  // namespace
}  // namespace tarnwick
