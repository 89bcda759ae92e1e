#include "sites/tls_url.h"

#include "listing/text_utils.h"

namespace tarnwick::gui {

TlsUrl SplitTlsScheme(std::string_view text) {
    struct Scheme {
        std::string_view prefix;
        int tls;
    };
    static constexpr Scheme kSchemes[] = {{"ftps://", kTlsImplicit}, {"ftpes://", kTlsExplicit}};
    for (const Scheme& scheme : kSchemes) {
        if (text.size() >= scheme.prefix.size() &&
            EqualsIgnoringCase(text.substr(0, scheme.prefix.size()), scheme.prefix)) {
            return {"ftp://" + std::string(text.substr(scheme.prefix.size())), scheme.tls};
        }
    }
    return {std::string(text), kTlsNone};
}

int PortForTlsMode(int port, int oldMode, int newMode) {
    const bool wasImplicit = oldMode == kTlsImplicit;
    const bool isImplicit = newMode == kTlsImplicit;
    if (isImplicit && !wasImplicit && port == kFtpPort) return kImplicitTlsPort;
    if (wasImplicit && !isImplicit && port == kImplicitTlsPort) return kFtpPort;
    return port;
}

}  // namespace tarnwick::gui
