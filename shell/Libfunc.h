#pragma once
// Reads the "FileVersion" text out of an executable's version record and
// shortens it for display. Narrow strings throughout (UTF-8 on this system):
// callers convert at the call.

#include <string>

// The "FileVersion" text of `fileName`'s version record, in a static buffer
// that the next call overwrites; null when the file has no readable version.
// The table is the one named by the record's translation when it lists
// exactly one; otherwise the user's language with code page 04B0, with no
// second try. A value whose reported length (terminator included) is 256 or
// more is cut to its first 250 bytes, less the start of a UTF-8 character the
// cut would split.
char* GetFileVersionString(const char* fileName);

// 1-based position of the last `c` in `s`; 0 when there is none.
int LastCharPos(std::string s, char c);

// The file's version without its last dot-separated component ("4.2.2.2890"
// gives "4.2.2"); empty when the file has no readable version.
std::string GetShortVersion(std::string fileName);
