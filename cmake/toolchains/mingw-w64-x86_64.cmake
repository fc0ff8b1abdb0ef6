# Cross-build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix), for
# the Qt-free parts: vx418ctl and the core's tests. scripts/build-windows uses it; see
# docs/windows.md.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VX_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model: std::thread and std::mutex come from winpthreads.
set(CMAKE_C_COMPILER ${VX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime (libgcc, libstdc++, winpthreads) goes into each program, so a Windows
# machine needs only its system DLLs and, for capture, Npcap's wpcap.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The host's pkg-config files describe Linux libraries.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${VX_MINGW_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# The header-only packages come from the host; their own config files would put all of
# /usr/include (glibc's headers) on the include path.
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-host-packages CACHE PATH "")
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-host-packages CACHE PATH "")

# Tests run under Wine; their lists are read when ctest runs, not at build time, so building
# needs no Wine.
find_program(VX_WINE64 wine64 PATHS /usr/lib/wine)
if(VX_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VX_WINE64})
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
