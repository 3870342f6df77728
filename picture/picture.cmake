# exegfx_picture: the accumulated picture and its files, with no GL: frame
# ranges, partial files and whole-file writes, output locks, noise and the
# maps, the agreement check, PNG and PFM, the strict number parsing and the
# process guard. Included by picture/CMakeLists.txt and by the sanitized build
# of the file readers (tests/sanitize), which builds it alone.
pkg_check_modules(LIBPNG REQUIRED IMPORTED_TARGET libpng)
find_package(OpenEXR CONFIG REQUIRED)
# SHA-256 of the sums that partial files carry.
pkg_check_modules(NETTLE REQUIRED IMPORTED_TARGET nettle)
add_library(exegfx_picture STATIC)
target_sources(exegfx_picture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/picture.cpp ${CMAKE_CURRENT_LIST_DIR}/frame_ranges.cpp
  ${CMAKE_CURRENT_LIST_DIR}/partial_file.cpp ${CMAKE_CURRENT_LIST_DIR}/count_schedule.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stopping_rule.cpp ${CMAKE_CURRENT_LIST_DIR}/scene_samples.cpp
  ${CMAKE_CURRENT_LIST_DIR}/whole_file.cpp ${CMAKE_CURRENT_LIST_DIR}/output_lock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/output_path.cpp ${CMAKE_CURRENT_LIST_DIR}/image_write.cpp
  ${CMAKE_CURRENT_LIST_DIR}/noise.cpp ${CMAKE_CURRENT_LIST_DIR}/noise_map.cpp
  ${CMAKE_CURRENT_LIST_DIR}/part_check.cpp ${CMAKE_CURRENT_LIST_DIR}/process_guard.cpp)
target_include_directories(exegfx_picture PUBLIC "${CMAKE_CURRENT_LIST_DIR}")
target_link_libraries(exegfx_picture PUBLIC PkgConfig::LIBPNG OpenEXR::OpenEXR OpenEXR::OpenEXRCore
                                            PkgConfig::NETTLE)
