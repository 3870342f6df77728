# Joins the WebGL 2 (GLSL ES 3.00) passes from the desktop texts: the ES head
# takes the place of the "#version 460" line of the fragment head and of the
# display shader, and everything after it is the desktop text unchanged. Writes
# the joined texts and a header of string literals under the names the host's
# accumulation code uses. Run with -P; inputs:
#   SCENE_PIECES (;-list, in order), FRAGMENT_HEAD, FRAGMENT_MAIN, ES_HEAD,
#   ES_VERTEX, DISPLAY, OUTPUT, JOINED, JOINED_DISPLAY
function(without_version_line path out)
  file(READ "${path}" text)
  string(REGEX MATCH "^#version 460\r?\n" line "${text}")
  if(NOT line)
    message(FATAL_ERROR "${path} does not start with \"#version 460\": the ES head cannot replace it")
  endif()
  string(LENGTH "${line}" skip)
  string(SUBSTRING "${text}" ${skip} -1 text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

file(READ "${ES_HEAD}" es_head)
without_version_line("${FRAGMENT_HEAD}" fragment_head)
without_version_line("${DISPLAY}" display)
set(scene "${es_head}${fragment_head}")
foreach(piece IN LISTS SCENE_PIECES)
  file(READ "${piece}" text)
  string(APPEND scene "${text}")
endforeach()
file(READ "${FRAGMENT_MAIN}" fragment_main)
string(APPEND scene "${fragment_main}")
set(display "${es_head}${display}")
file(READ "${ES_VERTEX}" vertex)
file(WRITE "${JOINED}" "${scene}")
file(WRITE "${JOINED_DISPLAY}" "${display}")

set(delim "exegfx_glsl")
file(WRITE "${OUTPUT}.tmp"
"// Generated from shaders/ at build time; do not edit.
#pragma once
// The whole scene shader, the fragment pass, in GLSL ES 3.00.
inline constexpr char sceneShaderSource[] = R\"${delim}(${scene})${delim}\";
inline constexpr char displayShaderSource[] = R\"${delim}(${display})${delim}\";
// The vertex stage of both passes: a triangle over the whole viewport.
inline constexpr char fullscreenVertexSource[] = R\"${delim}(${vertex})${delim}\";
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
