// Console output: every write goes to standard output and is flushed at once,
// so the progress marks show live.
#pragma once

#if defined(__GNUC__)
#define EXEGFX_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define EXEGFX_PRINTF(a, b)
#endif

void consolePrint(const char *format, ...) EXEGFX_PRINTF(1, 2);
// Writes text as it stands; a '%' in it is never read as a format.
void consoleText(const char *text);
