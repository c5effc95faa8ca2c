# A cross build cannot search the build machine's /usr/include (its C library headers would come
# in too), so the header-only libraries are copied out of it into the build folder and used from
# there: CLI11 (the runner's options) and nlohmann/json (the table dump).
set(IMP_HOST_INCLUDE "${CMAKE_BINARY_DIR}/host-include")
foreach(dir CLI nlohmann)
  if(NOT EXISTS "/usr/include/${dir}")
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/install-deps")
  endif()
  file(COPY "/usr/include/${dir}" DESTINATION "${IMP_HOST_INCLUDE}")
endforeach()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE "${IMP_HOST_INCLUDE}")
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE "${IMP_HOST_INCLUDE}")
