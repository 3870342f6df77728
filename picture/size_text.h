// The numbers of a command line or an address, read strictly: exegfx-still's
// options and the web page's take them alike.
#pragma once

#include <string_view>

// Whole decimal number of at most ten digits, no sign, no spaces.
inline bool parseCount(std::string_view text, unsigned long long &value) {
  if (text.empty() || text.size() > 10) return false;
  value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    value = value * 10 + static_cast<unsigned>(ch - '0');
  }
  return true;
}

// "WIDTHxHEIGHT" (x or X) in whole numbers; false for anything else. Zero and
// the limits are the caller's to judge.
inline bool splitSize(std::string_view text, unsigned long long &width,
                      unsigned long long &height) {
  std::size_t x = text.find_first_of("xX");
  return x != std::string_view::npos && parseCount(text.substr(0, x), width) &&
         parseCount(text.substr(x + 1), height);
}
