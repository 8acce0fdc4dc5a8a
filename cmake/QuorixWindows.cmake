# The Windows build, cross-built with mingw-w64 (cmake/toolchain-mingw-w64-x86_64.cmake) and
# tested under Wine. What builds for Windows today is the image pipeline of src/imaging/, which
# uses no operating-system service, and its unit tests; the library's other layers need Win32
# backends in src/platform/ first.

# Rebuilds of several checkouts share compiled objects when ccache is installed.
find_program(QUORIX_CCACHE ccache)
if(QUORIX_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_C_COMPILER_LAUNCHER ${QUORIX_CCACHE})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${QUORIX_CCACHE})
endif()

# Programs carry the C++ runtime, libgcc and winpthread inside them, so that they need only the
# Windows system DLLs (tests/windows/check_imports.sh checks it).
add_link_options(-static)

# The image pipeline: image buffer, pixel operations, demosaic, adjustments, mask and dot
# correction, row bands, with the same kernels and run-time choice as on Linux (AVX-512, AVX2,
# 128-bit and the plain references; QUORIX_SIMD and QUORIX_THREADS read from the environment).
file(GLOB QUORIX_IMAGING_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/imaging/*.cpp)
add_library(quorix_imaging STATIC ${QUORIX_IMAGING_SOURCES})
target_include_directories(quorix_imaging PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(quorix_imaging PUBLIC Threads::Threads)
quorix_warnings(quorix_imaging)

if(QUORIX_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests/windows)
endif()
