// Where the engine's Windows-form paths meet the POSIX file system: the POSIX root is drive Z:,
// "\" separates components, names are code page 932 in the engine and UTF-8 on disk, and a name
// that does not exist exactly is looked up without regard to ASCII case, as Windows does.
#pragma once

#include <string>

// Code page 932 text to UTF-8 and back; false when a byte sequence has no counterpart.
bool ConvertAnsiToUtf8(const char* text, std::string& out);
bool ConvertUtf8ToAnsi(const std::string& text, std::string& out);

// An engine path ("Z:\a\b", "\a", "Z:a", "a\b") as a POSIX path ("/a/b", "/a", "a", "a/b").
// False for other drive letters, UNC paths, an empty path and text that does not convert.
bool MapToPosixPath(const char* path, std::string& out);

// An absolute POSIX path as the engine sees it: "/home/a" becomes "Z:\home\a", "/" becomes "Z:\".
bool MapPosixToEnginePath(const std::string& posixPath, std::string& out);

// The path itself when it exists; otherwise each component that does not exist exactly is
// replaced by the directory's entry that equals it under ASCII case folding (the first in byte
// order when several do). Components that match nothing are kept as given, so a file about to be
// created keeps its own name and an open of a missing file still fails.
std::string ResolvePosixPath(const std::string& posixPath);

// MapToPosixPath followed by ResolvePosixPath.
bool ResolveEnginePath(const char* path, std::string& out);

// Windows wildcard match ("*", "?") without regard to ASCII case; "*.*" matches every name.
bool MatchWildcard(const char* pattern, const char* name);
