# Joins the scene shader's pieces in order behind each entry's head, with that
# entry's main last, and writes them, with the display shader, into a header as
# string literals. Run with -P; inputs:
#   SCENE_PIECES (;-list, the last one is px, the body of both mains)
#   SCENE_ENTRIES (fragment head, fragment main, compute head, compute main,
#   adaptive head, adaptive main)
#   DISPLAY, SQUARES (the still renderer's sum of squares), OUTPUT, and
#   optionally JOINED, JOINED_COMPUTE (the joined texts)
set(pieces "")
set(library "")
list(LENGTH SCENE_PIECES count)
math(EXPR last "${count} - 1")
set(index 0)
foreach(piece IN LISTS SCENE_PIECES)
  file(READ "${piece}" text)
  string(APPEND pieces "${text}")
  if(NOT index EQUAL last)
    string(APPEND library "${text}")
  endif()
  math(EXPR index "${index} + 1")
endforeach()
list(GET SCENE_ENTRIES 0 fragment_head)
list(GET SCENE_ENTRIES 1 fragment_main)
list(GET SCENE_ENTRIES 2 compute_head)
list(GET SCENE_ENTRIES 3 compute_main)
list(GET SCENE_ENTRIES 4 adaptive_head)
list(GET SCENE_ENTRIES 5 adaptive_main)
foreach(entry fragment_head fragment_main compute_head compute_main adaptive_head adaptive_main)
  file(READ "${${entry}}" ${entry})
endforeach()
set(fragment "${fragment_head}${pieces}${fragment_main}")
set(compute "${compute_head}${pieces}${compute_main}")
set(adaptive "${adaptive_head}${pieces}${adaptive_main}")
set(library "${fragment_head}${library}")
file(READ "${DISPLAY}" display)
file(READ "${SQUARES}" squares)
if(DEFINED JOINED)
  file(WRITE "${JOINED}" "${fragment}")
endif()
if(DEFINED JOINED_COMPUTE)
  file(WRITE "${JOINED_COMPUTE}" "${compute}")
endif()
if(DEFINED JOINED_ADAPTIVE)
  file(WRITE "${JOINED_ADAPTIVE}" "${adaptive}")
endif()
set(delim "exegfx_glsl")
file(WRITE "${OUTPUT}.tmp"
"// Generated from shaders/ at build time; do not edit.
#pragma once
// The whole scene shader, the fragment pass.
inline constexpr char sceneShaderSource[] = R\"${delim}(${fragment})${delim}\";
// The same scene pieces as a compute shader: one invocation per pixel.
inline constexpr char sceneComputeSource[] = R\"${delim}(${compute})${delim}\";
// The same pieces over a list of the pixels still running (adaptive renders).
inline constexpr char sceneAdaptiveSource[] = R\"${delim}(${adaptive})${delim}\";
// The fragment scene shader without px and main, for probes that add their own
// entry point.
inline constexpr char sceneLibrarySource[] = R\"${delim}(${library})${delim}\";
inline constexpr char displayShaderSource[] = R\"${delim}(${display})${delim}\";
// The still renderer's pass after the scene pass: the sum of squared samples.
inline constexpr char squaresShaderSource[] = R\"${delim}(${squares})${delim}\";
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
