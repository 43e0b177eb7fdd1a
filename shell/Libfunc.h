#pragma once
// Reads the "FileVersion" text out of an executable's version record and
// shortens it for display. Narrow strings throughout (UTF-8 on this system):
// callers convert at the call.

#include <string>

// The "FileVersion" text of `fileName`'s version record, in a static buffer
// that the next call overwrites; null when the file has no readable version.
char* GetFileVersionString(const char* fileName);

// 1-based position of the last `c` in `s`; 0 when there is none.
int LastCharPos(std::string s, char c);

// The file's version without its last dot-separated component ("4.2.2.2890"
// gives "4.2.2"); empty when the file has no readable version.
std::string GetShortVersion(std::string fileName);
