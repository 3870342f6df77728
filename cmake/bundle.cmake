# The relocatable bundle (tools/bundle.sh, CPack TGZ): the four programs in
# bin/, the shared libraries they need in lib/, the Slurm scripts, the GPU
# benchmark and check scripts and a README. It runs where glibc >= 2.34, the libstdc++ of
# GCC >= 11 and a GL driver with EGL are installed.
set(EXEGFX_BUNDLE_PROGRAMS exegfx exegfx-still exegfx-merge exegfx-bench-pass)

# DT_RPATH, not RUNPATH: a RUNPATH would apply to the programs' own needs only,
# and the bundled libraries' needs (libSDL2's, libOpenEXR's) would fall through
# to the host's versions. Built with it too: the room CMake keeps for it in a
# build-tree RPATH is a run of ':', which the loader reads as the working
# directory.
set_target_properties(${EXEGFX_BUNDLE_PROGRAMS} PROPERTIES INSTALL_RPATH "$ORIGIN/../lib"
                                                           BUILD_WITH_INSTALL_RPATH ON)
foreach(program IN LISTS EXEGFX_BUNDLE_PROGRAMS)
  target_link_options(${program} PRIVATE "LINKER:--disable-new-dtags")
endforeach()

install(TARGETS ${EXEGFX_BUNDLE_PROGRAMS} RUNTIME_DEPENDENCY_SET exegfx_bundle_libs
        RUNTIME DESTINATION bin)
# Left to the host: the C and C++ runtime, and the GL driver with the libraries
# it shares the process with. libgbm (Mesa's) and libdrm (every driver's kernel
# interface) must be the driver's own versions: an older bundled copy would be
# loaded in their place and break a newer driver.
install(RUNTIME_DEPENDENCY_SET exegfx_bundle_libs DESTINATION lib
        PRE_EXCLUDE_REGEXES
        "^ld-linux"
        "^lib(c|m|mvec|dl|rt|pthread|resolv|util|anl|BrokenLocale|thread_db|nss_.*)[.]so"
        "^lib(stdc[+][+]|gcc_s)[.]so"
        "^lib(EGL|GL|GLX|OpenGL|GLdispatch|GLES.*|glapi|gbm|drm.*)[.]so")
# A bundled library with a search path of its own (libpulse's points into
# /usr/lib) ignores the programs' DT_RPATH: point it at lib/ itself.
install(CODE [[
  file(GLOB bundled "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/*.so*")
  foreach(lib IN LISTS bundled)
    if(NOT IS_SYMLINK "${lib}")
      unset(rpath) # READ_ELF leaves both alone where the entry is missing
      unset(runpath)
      file(READ_ELF "${lib}" RPATH rpath RUNPATH runpath)
      foreach(old IN ITEMS "${rpath}" "${runpath}")
        if(old)
          file(RPATH_CHANGE FILE "${lib}" OLD_RPATH "${old}" NEW_RPATH "$ORIGIN")
        endif()
      endforeach()
    endif()
  endforeach()
]])

# The cluster scripts as they stand at install time (editors' dot files aside).
install(DIRECTORY cluster/ DESTINATION cluster USE_SOURCE_PERMISSIONS PATTERN ".*" EXCLUDE)
# GPU machines have no packages and no network: the GPU check travels here.
install(PROGRAMS bench/gpu_bench.sh bench/gpu_check.sh bench/compare_parts.py DESTINATION bench)
configure_file(packaging/README.bundle.md bundle/README.md @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/bundle/README.md" DESTINATION .)

set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_FILE_NAME
    "${PROJECT_NAME}-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
include(CPack)
