// FTP over TLS in URLs and site forms: "ftps://" asks for implicit TLS (default port 990),
// "ftpes://" for explicit TLS (AUTH TLS on the usual port). The URL parser reads "ftp://"
// URLs; SplitTlsScheme turns a secure URL into the same URL with "ftp://" and the TLS mode,
// which is the one place URL entry learns about TLS.
//
// Pure functions of their arguments; any thread.
#pragma once

#include <string>
#include <string_view>

#include "sites/site_setting.h"

namespace tarnwick::gui {

inline constexpr int kFtpPort = 21;
inline constexpr int kImplicitTlsPort = 990;

struct TlsUrl {
    std::string ftpUrl;  // the text with "ftp://" for a secure scheme, else the text itself
    int tls = kTlsNone;  // the TlsMode the scheme asks for (none for every other text)
};

// The scheme is compared without regard to case, as URL schemes are.
TlsUrl SplitTlsScheme(std::string_view text);

// The port a site gets when its TLS mode changes from `oldMode` to `newMode`: turning to
// implicit TLS makes the plain default the implicit one, turning away from it makes the
// implicit default the plain one; any other port is the user's and stays.
int PortForTlsMode(int port, int oldMode, int newMode);

}  // namespace tarnwick::gui
