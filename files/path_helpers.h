// Path text helpers with the results of the shell's PathAppendA and
// PathRenameExtensionA, on texts instead of fixed buffers.
#pragma once

#include <cstddef>
#include <string>

namespace files {

// The fixed path field of the system calls (MAX_PATH): a path text must be
// shorter than this to be handed on.
constexpr size_t kMaxPath = 260;

// "\" and "/" both separate path parts.
bool IsPathSeparator(char c);

// Joins more onto path with exactly one "\" between them (leading separators of
// more are skipped). False, with path unchanged, when the result would not fit
// the fixed field.
bool PathAppend(std::string& path, const std::string& more);

// Replaces the extension of the file name (from its last ".") with extension
// (given with its dot, e.g. ".old"), or appends it when the name has none.
// False, with path unchanged, when the result would not fit the fixed field.
bool PathRenameExtension(std::string& path, const std::string& extension);

// "C:\a\b.log" -> "C:\a" and "b.log"; a bare name lies in the current folder ".".
void SplitPath(const std::string& path, std::string* folder, std::string* name);

}  // namespace files
