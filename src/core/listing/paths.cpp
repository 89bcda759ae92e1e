// Path arithmetic for "/" and "\" paths with the separator taken from the path itself.
#include "listing/paths.h"

namespace tarnwick {

namespace {

bool EndsWith(std::string_view text, char c) {
    return !text.empty() && text.back() == c;
}

// The path without one trailing separator (when it has one).
std::string_view WithoutTrailing(std::string_view path, char separator) {
    if (EndsWith(path, separator)) path.remove_suffix(1);
    return path;
}

}  // namespace

char PathSeparatorOf(std::string_view path) {
    if (!path.empty() && path.front() == '/') return '/';
    if (path.find('\\') != std::string_view::npos) return '\\';
    if (path.find('/') != std::string_view::npos) return '/';
    return kNoSeparator;
}

std::string JoinPath(std::string_view directory, std::string_view name, char separator) {
    if (directory.empty()) return std::string(name);
    if (separator == kNoSeparator) separator = PathSeparatorOf(directory);
    std::string joined(directory);
    if (separator != kNoSeparator && !EndsWith(directory, separator)) joined += separator;
    joined += name;
    return joined;
}

std::string AppendSeparator(std::string_view path) {
    const char separator = PathSeparatorOf(path);
    std::string result(path);
    if (separator != kNoSeparator && !EndsWith(path, separator)) result += separator;
    return result;
}

bool IsRootPath(std::string_view path) {
    if (path == "/" || path == "\\") return true;
    return path.size() == 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

std::string StripTrailingSeparator(std::string_view path) {
    const char separator = PathSeparatorOf(path);
    if (separator == kNoSeparator || !EndsWith(path, separator)) return std::string(path);
    if (path.size() == 1) return std::string(path);
    // A drive root such as "C:\" keeps its separator: "C:" alone means something else.
    if (path[path.size() - 2] == ':') return std::string(path);
    return std::string(path.substr(0, path.size() - 1));
}

std::string ParentPath(std::string_view path) {
    const char separator = PathSeparatorOf(path);
    if (separator == kNoSeparator || IsRootPath(path)) return {};
    const std::string_view trimmed = WithoutTrailing(path, separator);
    const size_t last = trimmed.rfind(separator);
    if (last == std::string_view::npos) return {};
    return StripTrailingSeparator(trimmed.substr(0, last + 1));
}

std::string LastComponent(std::string_view path) {
    const char separator = PathSeparatorOf(path);
    if (separator == kNoSeparator || path.size() == 1) return std::string(path);
    const std::string_view trimmed = WithoutTrailing(path, separator);
    const size_t last = trimmed.rfind(separator);
    if (last == std::string_view::npos) return std::string(trimmed);
    return std::string(trimmed.substr(last + 1));
}

std::string FileExtension(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    return std::string(name.substr(dot + 1));
}

bool PathsEqual(std::string_view a, std::string_view b) {
    return AppendSeparator(a) == AppendSeparator(b);
}

}  // namespace tarnwick
