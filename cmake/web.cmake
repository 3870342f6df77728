# The web page: the window program's passes on WebGL 2, from the same scene
# pieces under a GLSL ES 3.00 head, and the host's accumulation code built with
# emscripten. Static files (index.html, index.js, index.wasm) in build/web/.
# Included from the top-level CMakeLists.txt after the scene's lists.
find_program(EMCC emcc)
set(WEB_DIR "${CMAKE_CURRENT_BINARY_DIR}/web")
set(WEB_GENERATED "${GENERATED_DIR}/web")
set(WEB_SHADERS_HEADER "${WEB_GENERATED}/shaders.h")
set(WEB_SCENE "${WEB_GENERATED}/scene_es.frag")
set(WEB_DISPLAY "${WEB_GENERATED}/display_es.frag")
set(WEB_ES_HEAD "${CMAKE_CURRENT_SOURCE_DIR}/shaders/entry/es_head.glsl")
set(WEB_ES_VERTEX "${CMAKE_CURRENT_SOURCE_DIR}/shaders/entry/es_vertex.glsl")
list(GET SCENE_ENTRIES 0 WEB_FRAGMENT_HEAD)
list(GET SCENE_ENTRIES 1 WEB_FRAGMENT_MAIN)

set(WEB_VALIDATE "")
if(GLSLANG_VALIDATOR)
  # The reference compiler holds the ES texts to GLSL ES 3.00, as WebGL does.
  set(WEB_VALIDATE
      COMMAND "${GLSLANG_VALIDATOR}" -S frag "${WEB_SCENE}"
      COMMAND "${GLSLANG_VALIDATOR}" -S frag "${WEB_DISPLAY}"
      COMMAND "${GLSLANG_VALIDATOR}" -S vert "${WEB_ES_VERTEX}")
endif()
add_custom_command(
  OUTPUT "${WEB_SHADERS_HEADER}" "${WEB_SCENE}" "${WEB_DISPLAY}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${WEB_GENERATED}"
  COMMAND "${CMAKE_COMMAND}" "-DSCENE_PIECES=${SCENE_PIECES}"
          "-DFRAGMENT_HEAD=${WEB_FRAGMENT_HEAD}" "-DFRAGMENT_MAIN=${WEB_FRAGMENT_MAIN}"
          "-DES_HEAD=${WEB_ES_HEAD}" "-DES_VERTEX=${WEB_ES_VERTEX}" "-DDISPLAY=${DISPLAY_SHADER}"
          "-DOUTPUT=${WEB_SHADERS_HEADER}" "-DJOINED=${WEB_SCENE}" "-DJOINED_DISPLAY=${WEB_DISPLAY}"
          -P "${CMAKE_CURRENT_SOURCE_DIR}/cmake/embed_es_shaders.cmake"
  ${WEB_VALIDATE}
  DEPENDS ${SCENE_PIECES} "${WEB_FRAGMENT_HEAD}" "${WEB_FRAGMENT_MAIN}" "${WEB_ES_HEAD}"
          "${WEB_ES_VERTEX}" "${DISPLAY_SHADER}"
          "${CMAKE_CURRENT_SOURCE_DIR}/cmake/embed_es_shaders.cmake"
  COMMENT "Joining and validating the WebGL 2 shaders"
  VERBATIM)
add_custom_target(exegfx_web_shaders DEPENDS "${WEB_SHADERS_HEADER}")

if(NOT EMCC)
  message(STATUS "emcc not found: the web page is not built (tools/deps.sh web installs emscripten)")
  return()
endif()

set(WEB_SOURCES web/main.cpp web/context.cpp web/render_loop.cpp web/bands.cpp
                web/page_options.cpp web/save_png.cpp web/gl_entry.cpp
                # The host's own accumulation, shader builder and console.
                basecode/accumulation.cpp basecode/shader_builder.cpp basecode/glproc.cpp
                basecode/console.cpp)
list(TRANSFORM WEB_SOURCES PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
file(GLOB WEB_HEADERS "${CMAKE_CURRENT_SOURCE_DIR}/web/*.h" "${CMAKE_CURRENT_SOURCE_DIR}/basecode/*.h")
set(WEB_SHELL "${CMAKE_CURRENT_SOURCE_DIR}/web/shell.html")
set(WEB_LIBRARY "${CMAKE_CURRENT_SOURCE_DIR}/web/page.js")
set(WEB_OUTPUTS "${WEB_DIR}/index.html" "${WEB_DIR}/index.js" "${WEB_DIR}/index.wasm")
# Debian's emscripten: the system libraries come from its own prebuilt cache
# (EM_CACHE unset), acorn from Debian's node modules; no ports, no network.
add_custom_command(
  OUTPUT ${WEB_OUTPUTS}
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${WEB_DIR}"
  COMMAND "${CMAKE_COMMAND}" -E env --unset=EM_CACHE NODE_PATH=/usr/share/nodejs
          "${EMCC}" -std=c++20 -O2 -Wall -Wextra -DEXEGFX_GLES
          "-I${CMAKE_CURRENT_SOURCE_DIR}/basecode" "-I${CMAKE_CURRENT_SOURCE_DIR}/picture" "-I${WEB_GENERATED}" ${WEB_SOURCES}
          -sENVIRONMENT=web -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2 -sALLOW_MEMORY_GROWTH=1
          -sEXPORTED_FUNCTIONS=_main,_exegfx_read_mean,_exegfx_frames_held -sMINIFY_HTML=0
          --shell-file "${WEB_SHELL}" --js-library "${WEB_LIBRARY}" -o "${WEB_DIR}/index.html"
  DEPENDS ${WEB_SOURCES} ${WEB_HEADERS} "${CMAKE_CURRENT_SOURCE_DIR}/picture/display_byte.h"
          "${CMAKE_CURRENT_SOURCE_DIR}/picture/size_text.h" "${WEB_SHADERS_HEADER}" "${WEB_SHELL}" "${WEB_LIBRARY}"
  COMMENT "Building the web page with emscripten"
  VERBATIM)
add_custom_target(exegfx-web ALL DEPENDS ${WEB_OUTPUTS})
