#include "sites/tls_url.h"

#include "listing/text_utils.h"

namespace tarnwick::gui {

std::string AsFtpUrl(std::string_view text) {
    for (const std::string_view scheme : {"ftp://", "ftps://", "ftpes://"}) {
        if (text.size() >= scheme.size() &&
            EqualsIgnoringCase(text.substr(0, scheme.size()), scheme)) {
            return std::string(text);
        }
    }
    return "ftp://" + std::string(text);
}

int PortForTlsMode(int port, int oldMode, int newMode) {
    const bool wasImplicit = oldMode == kTlsImplicit;
    const bool isImplicit = newMode == kTlsImplicit;
    if (isImplicit && !wasImplicit && port == kFtpPort) return kImplicitTlsPort;
    if (wasImplicit && !isImplicit && port == kImplicitTlsPort) return kFtpPort;
    return port;
}

}  // namespace tarnwick::gui
