// What exegfx-still and exegfx-merge set up before anything else, so that the
// ways a process can be started or limited never cost a file or end a run
// unnoticed.
#pragma once

// Opens /dev/null on any of descriptors 0-2 that is closed: a daemon or cron
// may start the programs so, and the next files opened (the output lock, a
// temporary picture) would otherwise become standard output or error, with
// messages written into them. Ignores SIGPIPE (a closed pipe only ends the
// printing: writes there fail with EPIPE, which nothing takes for an error)
// and SIGXFSZ (a file size limit, `ulimit -f`, fails the write with EFBIG,
// reported and survived as any write error, instead of killing the process).
// False only when /dev/null cannot be opened.
bool guardProcess();
