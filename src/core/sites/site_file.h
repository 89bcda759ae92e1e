// The site file "site.dat": the site list as text, one block per site in list order:
//   "[" name "]", then "address=", "port=", "username=", "password=" (encoded), "logintype=",
//   "hosttype=", "deflocaldir=", "defremotedir=", "passive=", "tls=" (the TlsMode) lines, then
//   an empty line. The "tls=" line is optional: a file from before it existed reads as plain
//   FTP, and a reader that knows only nine lines skips it, as it skips every line outside a
//   block. Lines end in "\n"; files written on Windows (CR LF) read the same.
//
// Ownership and threads: the caller owns the site list; these functions only read or fill
// it. Called on the user-interface thread (start-up, the Site Manager) or by the command-line
// front end; they share nothing but the file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sites/site_setting.h"

namespace tarnwick {

inline constexpr std::string_view kSiteFileName = "site.dat";

enum class SiteFileResult {
    kOk,
    kMissing,      // reading: there is no site file; the list is left as it was
    kCannotRead,   // reading: the file could not be opened or read
    kLineTooLong,  // reading: stopped at a line beyond kMaxTextFileLine; earlier sites kept
    kCannotWrite,  // writing: nothing replaced the file, which keeps its previous content
};

// A record with the defaults of a new site: anonymous login with `anonymousPass`, port 21.
SiteSetting NewSiteSetting(std::string_view anonymousPass);

// Appends one SiteSetting per complete block of the file to `sites`. Lines that do not begin
// a block ("[" after trimming) are skipped; the block header minus its first and last
// character is the name; the nine following lines are the values by position, the text
// after the first "=" (the whole line without one), trimmed. The key names are not looked
// at. Numbers that are not numbers read as 0. An incomplete last block is dropped. A line
// "tls=" right after the nine gives the site's TlsMode (a value that is no mode gives none).
SiteFileResult LoadSiteFile(const std::string& path, std::vector<SiteSetting>& sites);

// Replaces the file with the whole list, passwords encoded. The file holds passwords, so it
// is readable by its owner only (0600), and it is replaced whole through a temporary file.
// Line breaks (CR, LF) inside a name or a value are left out: they would split a block.
SiteFileResult SaveSiteFile(const std::string& path, const std::vector<SiteSetting>& sites);

}  // namespace tarnwick
