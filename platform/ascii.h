// Letter case of 8-bit texts, as the updater compares command words, setting
// and registry names, URL schemes, answer values and folder names: only the
// ASCII letters fold. A byte of a multibyte character never equals an ASCII
// letter, so folding nothing else is what a multibyte compare of these texts
// does, and the result does not depend on the process's locale.
#pragma once

#include <string>
#include <string_view>

namespace platform {

constexpr char AsciiToLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text with its ASCII letters in lower case.
std::string AsciiLower(std::string_view text);

// Whether the texts are equal but for the case of ASCII letters.
bool EqualsNoCase(std::string_view a, std::string_view b);

// Whether text begins with prefix but for the case of ASCII letters.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace platform
