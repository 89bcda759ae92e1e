// ServerFeatures: what a server says it supports in its answer to FEAT, parsed once after each
// login and kept on the session for the commands that can make use of it. A plain value: the
// session's protocol thread owns the session's copy; the parser is pure and may be called from
// any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

struct ServerFeatures {
    bool listed = false;  // the server answered FEAT with a feature list (211)
    bool epsv = false;
    bool eprt = false;
    bool mdtm = false;
    bool size = false;
    bool mfmt = false;
    bool utf8 = false;
    bool restStream = false;
    bool mlst = false;
    // The facts MLST offers, in lower case, without the "*" that marks the ones it sends by
    // default ("type", "size", "modify", ...).
    std::vector<std::string> mlstFacts;
};

// The features of a FEAT reply: the lines between "211-" and the closing "211 ", each naming
// one feature after a leading space (feature names are not case-sensitive). Any other reply
// (500, 502: FEAT not understood) lists none.
ServerFeatures ParseFeatReply(std::string_view replyText);

}  // namespace tarnwick
