# Cross-build of exegfx.exe for 64-bit Windows with mingw-w64 (Debian's
# g++-mingw-w64-x86-64). The posix thread model is preferred, win32 serves.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(EXEGFX_MINGW_TRIPLE x86_64-w64-mingw32)

foreach(model posix win32 "")
  if(model)
    set(suffix "-${model}")
  else()
    set(suffix "")
  endif()
  find_program(EXEGFX_MINGW_CXX ${EXEGFX_MINGW_TRIPLE}-g++${suffix})
  find_program(EXEGFX_MINGW_CC ${EXEGFX_MINGW_TRIPLE}-gcc${suffix})
  if(EXEGFX_MINGW_CXX AND EXEGFX_MINGW_CC)
    break()
  endif()
endforeach()
if(NOT EXEGFX_MINGW_CXX OR NOT EXEGFX_MINGW_CC)
  message(FATAL_ERROR "mingw-w64 not found: install g++-mingw-w64-x86-64-posix")
endif()
set(CMAKE_C_COMPILER "${EXEGFX_MINGW_CC}")
set(CMAKE_CXX_COMPILER "${EXEGFX_MINGW_CXX}")
find_program(CMAKE_RC_COMPILER ${EXEGFX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${EXEGFX_MINGW_TRIPLE})
# Build tools (glslangValidator) come from the host; headers and libraries
# only from the mingw sysroot.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained exe: no libgcc, libstdc++ or winpthread DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
