# GoogleTest for a cross build: Debian's sources (package googletest, /usr/src/googletest) built
# with the cross compiler, under the names find_package(GTest) gives.
set(IMP_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS "${IMP_GTEST_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "${IMP_GTEST_SOURCE} is missing: run scripts/install-deps")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory("${IMP_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
foreach(lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
