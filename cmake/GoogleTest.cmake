# GoogleTest for the tests: the system's package where it has one for the target (a native
# build), otherwise built here from its sources, which a cross build needs (Debian's googletest
# package has them; TONFLUX_GOOGLETEST_SOURCE_DIR names another copy).
find_package(GTest QUIET)
if(NOT TARGET GTest::gtest OR NOT TARGET GTest::gtest_main)
    # The sources are the host's, not the target's: outside the cross build's find root.
    find_path(TONFLUX_GOOGLETEST_SOURCE_DIR NAMES googletest/include/gtest/gtest.h
              HINTS /usr/src/googletest NO_CMAKE_FIND_ROOT_PATH
              DOC "GoogleTest's sources, built for a target without an installed GTest")
    if(NOT TONFLUX_GOOGLETEST_SOURCE_DIR)
        message(FATAL_ERROR "GoogleTest not found: install it (libgtest-dev, googletest) or set "
                            "TONFLUX_GOOGLETEST_SOURCE_DIR to its sources")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${TONFLUX_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
include(GoogleTest)
