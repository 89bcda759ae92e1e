// The pure side of the FTP protocol engine: reply parsing, socket error texts, the log forms
// of commands and replies, PASV/PORT texts, the overwrite rule and the automatic transfer
// type. No sockets and no state: every function here may be called from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

// Bounds on what a server can make us hold: the text of one reply (everything received since
// the command was sent) and the number of reply codes in it.
inline constexpr size_t kMaxReplyBytes = 1 << 20;
inline constexpr int kMaxReplyCodes = 10;

// The parsed form of the reply text received since the last command.
struct ReplyParse {
    int status = 0;  // -1 malformed (or more than kMaxReplyCodes replies), 0 parsed
    std::array<std::string, kMaxReplyCodes> codes;
    int count = 0;
    bool complete = false;  // a whole answer to the last command is there
};

// Parses the reply text. A single 1xx reply is incomplete (its completion reply is still to
// come), and so is a lone 426/451 after "abor" (the server answers ABOR after reporting the
// broken transfer). `lastVerb` is the first word of the last command sent.
ReplyParse ParseReplyText(std::string_view replyText, std::string_view lastVerb);

// A preliminary reply followed by its completion reply, as a transfer command produces.
bool IsTransferPair(const std::string* codes, int count);

// The log text of a socket error number (Windows Sockets numbering); "" for 0.
std::string SocketErrorText(int error);

// The command line as logged: "pass " followed by one "*" per password character.
std::string CommandLogText(std::string_view line);

// The first blank-separated word of a command line ("retr" for "retr a.txt").
std::string FirstWord(std::string_view line);

// True when the text holds a CR or LF: such a command would smuggle a second command to the
// server, so it is refused.
bool HasLineBreak(std::string_view text);

// The directory of a "257" reply (PWD, MKD): the text between the first double quote and the
// closing one, each doubled quote inside standing for one; "" when a quote is missing.
std::string DirectoryFromPwdReply(std::string_view replyText);

// The size a 150 reply announces as "(1234 bytes)"; -1 when it names none.
int64_t TransferSizeFromReply(std::string_view replyText);

// Takes the "h1,h2,h3,h4,p1,p2" part between the first "(" and the first ")" of a PASV reply.
// Returns false (with host "" and port 0) when the reply has no such part.
bool ParsePasvReply(std::string_view replyText, std::string& host, int& port);

// "port h1,h2,h3,h4,p1,p2" for a dotted IPv4 address and a port.
std::string MakePortCommand(std::string_view localAddress, int port);

// The port of an EPSV reply: "(<d><d><d>port<d>)" after the first "(", <d> one printable
// delimiter character used four times, port 1..65535. False (port 0) for anything else: the
// reply names no host, the data connection goes to the control connection's peer.
bool ParseEpsvReply(std::string_view replyText, int& port);

// "eprt |1|a.b.c.d|port|" or "eprt |2|v6address|port|" for a numeric address and a port.
std::string MakeEprtCommand(std::string_view localAddress, int port);

// Overwrite decisions are the OverwriteAction values of session/session_observer.h.
inline constexpr int kOverwriteCases = 18;

// The comparison case of a transfer whose target exists: 9·upload + 3·(t+1) + (s+1), t and s
// the signs of source minus target time and size. Sizes are compared in full (64 bits).
int OverwriteCase(bool upload, int64_t sourceTime, int64_t targetTime, uint64_t sourceSize,
                  uint64_t targetSize);
// What "Auto" does in a case (0 Skip, 1 Resume, 2 Overwrite).
int AutoOverwriteAction(int overwriteCase);
// "Skip", "Resume", "Overwrite" or "Undefined Action".
std::string OverwriteActionName(int action);

// 0 (ASCII) when the file's extension is one of the ";"-separated list exactly
// (case-sensitive), else 1 (image).
int AutoTransferType(std::string_view fileName, std::string_view textFileExtensions);

}  // namespace tarnwick
