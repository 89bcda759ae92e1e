// Machine listings (MLSD/MLST lines, "fact=value;fact=value; name") and the UTC time stamps
// of the modern FTP commands (MDTM, MFMT, the "modify" fact). Pure functions, reentrant,
// callable from any thread; the listing parser hands fact lines here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "listing/listing_parser.h"

namespace tarnwick {

// True if the (trimmed) line has the shape of a fact line: a first word of ";"-terminated
// "name=value" facts, one space, then the name.
bool IsFactLine(std::string_view line);

// What a fact line describes.
enum class FactLineKind {
    kEntry,      // a file, directory or link: the entry is filled
    kDirectory,  // "type=cdir" or "type=pdir": the listed directory itself or its parent
    kMalformed,  // not a fact line
};

// Parses one fact line into a fresh entry: name (everything after the facts' space, spaces
// and ";" included), type (a "dir" or a symbolic link is a directory, as a link's "l" makes
// it in a UNIX listing), size (64-bit), "modify" as seconds since 1970 UTC (-1 when it is no
// valid time; 0 when missing), and the attribute text from "unix.mode" ("-rwxr-xr-x"), else
// the "perm" fact as listed. Fact names are compared ignoring case.
FactLineKind ParseFactLine(FileEntry& entry, std::string_view line);

// "YYYYMMDDHHMMSS" with an optional ".sss" fraction (dropped), UTC, to seconds since 1970;
// -1 when the text is no such time.
int64_t ParseFactTime(std::string_view text);

// Seconds since 1970 UTC as "YYYYMMDDHHMMSS"; empty before 1970 or after year 9999.
std::string FormatFactTime(int64_t seconds);

}  // namespace tarnwick
