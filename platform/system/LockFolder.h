#pragma once
// Where a user's locks live: a folder that every copy of the program started
// by one user agrees on, that exists before a lock is taken, and that no other
// user can write to (or they could hold or replace our lock file).

#include <string>

// The first of these that is, or can be made into, a folder that is not a
// symbolic link, is owned by the calling user and is closed to everyone else
// (mode 0700 or stricter):
//   1. $XDG_RUNTIME_DIR (an absolute path), made with mode 0700 when it is
//      missing, as Qt would make it later; an existing one is never changed;
//   2. "gloxen-<uid>" in $TMPDIR (when set to an absolute path) or /tmp,
//      made with mode 0700 when missing;
//   3. ".gloxen" in $HOME, made with mode 0700 when missing.
// Empty when none can be had.
std::string PrivateLockFolder();

// Whether `path` is a folder (not a link) owned by the calling user with no
// access for group or others.
bool IsPrivateFolder(const std::string& path);
