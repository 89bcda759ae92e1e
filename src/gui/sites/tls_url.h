// URLs typed into the desktop program and the TLS choice of the site form: "ftps://" asks for
// implicit TLS (default port 990), "ftpes://" for explicit TLS (AUTH TLS on the usual port);
// the URL parser tells them apart (UrlParts::tls).
//
// Pure functions of their arguments; any thread.
#pragma once

#include <string>
#include <string_view>

#include "sites/site_setting.h"

namespace tarnwick::gui {

inline constexpr int kFtpPort = 21;
inline constexpr int kImplicitTlsPort = 990;

// The text as an ftp URL: itself when it begins with "ftp://", "ftps://" or "ftpes://" (in
// any case, as URL schemes are compared), else with "ftp://" in front ("host/dir").
std::string AsFtpUrl(std::string_view text);

// The port a site gets when its TLS mode changes from `oldMode` to `newMode`: turning to
// implicit TLS makes the plain default the implicit one, turning away from it makes the
// implicit default the plain one; any other port is the user's and stays.
int PortForTlsMode(int port, int oldMode, int newMode);

}  // namespace tarnwick::gui
