# Writes the scene's identity, a hash of the joined scene shader texts, into a
# header. Partial renders record it so that only sums of the same scene are
# added. Line endings are normalized so a checkout's settings do not change
# it. Run with -P; inputs: SOURCES (;-list of joined texts), OUTPUT.
set(all "")
foreach(source IN LISTS SOURCES)
  file(READ "${source}" text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(APPEND all "${text}")
endforeach()
string(SHA256 hash "${all}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from shaders/ at build time; do not edit.
#pragma once
inline constexpr char sceneIdentity[] = \"sha256:${hash}\";
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
