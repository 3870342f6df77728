# Joins the scene shader's pieces in order and writes them, with the display
# shader, into a header as string literals. Run with -P; inputs:
#   SCENE_PIECES (;-list, last one is main), DISPLAY, OUTPUT
set(body "")
set(library "")
list(LENGTH SCENE_PIECES count)
math(EXPR last "${count} - 1")
set(index 0)
foreach(piece IN LISTS SCENE_PIECES)
  file(READ "${piece}" text)
  string(APPEND body "${text}")
  if(NOT index EQUAL last)
    string(APPEND library "${text}")
  endif()
  math(EXPR index "${index} + 1")
endforeach()
file(READ "${DISPLAY}" display)
if(DEFINED JOINED)
  file(WRITE "${JOINED}" "${body}")
endif()
set(delim "exegfx_glsl")
file(WRITE "${OUTPUT}.tmp"
"// Generated from shaders/ at build time; do not edit.
#pragma once
// The whole scene shader.
inline constexpr char sceneShaderSource[] = R\"${delim}(${body})${delim}\";
// The scene shader without main, for probes that add their own entry point.
inline constexpr char sceneLibrarySource[] = R\"${delim}(${library})${delim}\";
inline constexpr char displayShaderSource[] = R\"${delim}(${display})${delim}\";
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
