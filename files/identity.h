// Pieces of the identity repair that the upload, the tests and the fuzz target
// share. The repairs themselves are CUtility operations (files/utility.h).
#pragma once

#include <cstddef>
#include <string>

namespace files {

// The identity file: common application data, "Quorvex\Inkora\", "Inkora.ID".
// Empty when the folder cannot be found or the path does not fit.
std::string IdentityFilePath();

// Finds the value after key ("CID=" or "UID=") in an identity text: it runs to
// the first carriage return or line feed, or the end. False when key is absent.
bool FindIdentityValue(const std::string& text, const std::string& key, size_t* start, size_t* length);

// The text as the inside of a JSON string: quote, backslash and control
// characters escaped, everything else (GUIDs, 8-bit text) unchanged.
std::string JsonEscape(const std::string& text);

// Replaces every occurrence of pattern in text (left to right, never inside what
// was inserted) by replacement; returns how many there were.
size_t ReplaceAll(std::string& text, const std::string& pattern, const std::string& replacement);

}  // namespace files
