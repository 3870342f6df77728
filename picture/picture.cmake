# exegfx_still_io: options, images, frame ranges and the OpenEXR partial
# renders, with no GL. Included by still/CMakeLists.txt and by the sanitized
# build of the file readers (tests/sanitize), which builds it alone.
pkg_check_modules(LIBPNG REQUIRED IMPORTED_TARGET libpng)
find_package(OpenEXR CONFIG REQUIRED)
# SHA-256 of the sums that partial files carry.
pkg_check_modules(NETTLE REQUIRED IMPORTED_TARGET nettle)
add_library(exegfx_still_io STATIC)
target_sources(exegfx_still_io PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/still_options.cpp ${CMAKE_CURRENT_LIST_DIR}/image_write.cpp
  ${CMAKE_CURRENT_LIST_DIR}/whole_file.cpp ${CMAKE_CURRENT_LIST_DIR}/frame_ranges.cpp
  ${CMAKE_CURRENT_LIST_DIR}/partial_file.cpp ${CMAKE_CURRENT_LIST_DIR}/output_lock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/noise.cpp ${CMAKE_CURRENT_LIST_DIR}/noise_map.cpp
  ${CMAKE_CURRENT_LIST_DIR}/part_check.cpp ${CMAKE_CURRENT_LIST_DIR}/process_guard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture.cpp ${CMAKE_CURRENT_LIST_DIR}/adaptive_rule.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scene_samples.cpp ${CMAKE_CURRENT_LIST_DIR}/count_schedule.cpp)
target_include_directories(exegfx_still_io PUBLIC "${CMAKE_CURRENT_LIST_DIR}")
target_link_libraries(exegfx_still_io PUBLIC PkgConfig::LIBPNG OpenEXR::OpenEXR OpenEXR::OpenEXRCore
                                             PkgConfig::NETTLE)
