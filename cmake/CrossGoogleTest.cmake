# GoogleTest for a cross build: compiled from Debian's googletest sources with the
# cross compiler (the packaged libraries are for the build machine), under the usual
# GTest:: names (GoogleTest defines those aliases itself). The sources are third-party:
# their warnings do not fail our build.
set(ORVI_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${ORVI_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${ORVI_GOOGLETEST_SOURCE} "
                        "(Debian package googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${ORVI_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main)
    target_compile_options(${target} PRIVATE -w)
endforeach()
