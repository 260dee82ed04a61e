// What a value learnt from an answer must be before it is stored: the answers
// come over plain http, so a forged or broken one must not pin, stop or bloat
// the client.
#pragma once

#include <string>

namespace learnt_values {

// An http or https URL with a host, no control characters, and no longer than
// the settings store reads back.
bool IsUsableUrl(const std::string& url);
// Digits in groups separated by single dots ("1.0.10"), no longer than the
// settings store reads back.
bool IsDottedVersion(const std::string& text);
// The version an mv_url names: the text after its last "/" (all of it when it
// has none), with every "-" a ".".
std::string VersionOfUrl(const std::string& url);

// No answer may stop update checks for longer than this.
constexpr int kMaxUpdateFreqHours = 31 * 24;

}  // namespace learnt_values
