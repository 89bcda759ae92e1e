// Path arithmetic shared by remote paths ("/" separators) and Windows-style local paths ("\"
// separators). The separator is never configured: each function discovers it from the path
// it is given. Pure string functions: no file system access, no state, callable from any
// thread.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

// Returned by PathSeparatorOf for a path that has no separator at all.
inline constexpr char kNoSeparator = '\0';

// The separator of a path: '/' for a path that begins with "/" (a POSIX path, whose names
// may legitimately contain "\"); otherwise '\\' if the path contains "\", else '/' if it
// contains "/", else kNoSeparator.
char PathSeparatorOf(std::string_view path);

// The name alone if the directory is empty; otherwise the directory, the separator (unless
// the directory already ends with it) and the name. With kNoSeparator the separator is that
// of the directory; if the directory has none either, the two are concatenated.
std::string JoinPath(std::string_view directory, std::string_view name,
                     char separator = kNoSeparator);

// The path with its separator appended unless it already ends with it. A path without a
// separator is returned unchanged.
std::string AppendSeparator(std::string_view path);

// Removes one trailing separator, except from an empty path, a path without separator, a
// root ("/" or "\"), and a drive root such as "C:\".
std::string StripTrailingSeparator(std::string_view path);

// True for "/", "\" and drive roots such as "C:\" or "C:/".
bool IsRootPath(std::string_view path);

// The parent directory: "/pub/x" gives "/pub", "/pub" gives "/", "C:\a" gives "C:\"; empty
// for a root and for a path without separator. One trailing separator is ignored.
std::string ParentPath(std::string_view path);

// The last name of a path ("/pub/x/" gives "x"); a root or a path without separator is
// returned unchanged.
std::string LastComponent(std::string_view path);

// The text after the last "." of a name, or empty if it has none.
std::string FileExtension(std::string_view name);

// True if both paths are equal once each ends with its separator (case-sensitive).
bool PathsEqual(std::string_view a, std::string_view b);

}  // namespace tarnwick
