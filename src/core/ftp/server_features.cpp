#include "ftp/server_features.h"

#include "listing/text_utils.h"

namespace tarnwick {

namespace {

std::vector<std::string> MlstFacts(std::string_view list) {
    std::vector<std::string> facts;
    while (!list.empty()) {
        const size_t semicolon = list.find(';');
        std::string_view fact = TrimFieldSpaces(list.substr(0, semicolon));
        if (fact.ends_with('*')) fact.remove_suffix(1);
        if (!fact.empty()) facts.push_back(ToLowerAscii(fact));
        if (semicolon == std::string_view::npos) break;
        list.remove_prefix(semicolon + 1);
    }
    return facts;
}

void AddFeature(ServerFeatures& features, std::string_view line) {
    const size_t blank = line.find(' ');
    const std::string name = ToLowerAscii(line.substr(0, blank));
    const std::string_view argument = blank == std::string_view::npos
                                          ? std::string_view()
                                          : TrimFieldSpaces(line.substr(blank + 1));
    if (name == "epsv") {
        features.epsv = true;
    } else if (name == "eprt") {
        features.eprt = true;
    } else if (name == "mdtm") {
        features.mdtm = true;
    } else if (name == "size") {
        features.size = true;
    } else if (name == "mfmt") {
        features.mfmt = true;
    } else if (name == "utf8") {
        features.utf8 = true;
    } else if (name == "rest") {
        features.restStream = features.restStream || ToLowerAscii(argument) == "stream";
    } else if (name == "mlst") {
        features.mlst = true;
        features.mlstFacts = MlstFacts(argument);
    }
}

}  // namespace

ServerFeatures ParseFeatReply(std::string_view replyText) {
    ServerFeatures features;
    if (!replyText.starts_with("211")) return features;
    features.listed = true;
    while (!replyText.empty()) {
        const size_t end = replyText.find('\n');
        const std::string_view line = replyText.substr(0, end);
        // Feature lines start with a space; the "211-" and "211 " lines frame them.
        if (line.starts_with(' ')) {
            const std::string_view feature = TrimFieldSpaces(line);
            if (!feature.empty()) AddFeature(features, feature);
        }
        if (end == std::string_view::npos) break;
        replyText.remove_prefix(end + 1);
    }
    return features;
}

}  // namespace tarnwick
