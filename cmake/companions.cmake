# What the companion programs (h2export, h2plot) build on besides the standard
# library, from Debian's packages for the Linux and the mingw build alike:
# CLI11 for their command lines (the target h2_cli11) and zlib for compressed
# logs (ZLIB::ZLIB).
include_guard(GLOBAL)

# CLI11 is header-only. Its headers are reached through a folder of the build
# tree that holds nothing else, so that the Windows build, which must not see
# the Linux headers beside them in /usr/include, can use them too.
find_path(H2_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(h2_cli11_dir ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${h2_cli11_dir})
file(CREATE_LINK ${H2_CLI11_INCLUDE}/CLI ${h2_cli11_dir}/CLI SYMBOLIC)
add_library(h2_cli11 INTERFACE)
target_include_directories(h2_cli11 SYSTEM INTERFACE ${h2_cli11_dir})

if(WIN32)
    # Into the one .exe, like the C++ runtime: no zlib1.dll beside it.
    set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
