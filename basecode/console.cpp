#include "console.h"

#include <cstdarg>
#include <cstdio>

void consolePrint(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

void consoleText(const char *text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}
