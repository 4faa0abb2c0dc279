# Cross-compiling Kestrava for Windows x86-64 on Debian with MinGW-w64
# (g++-mingw-w64-x86-64-posix: POSIX threads, so std::thread works).
# Used by scripts/build-windows.sh; KESTRAVA_WINDOWS_DEPS names the folder
# where that script installs the static zlib-free libpng and libjpeg.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)

# Libraries and headers only from the MinGW sysroot and our own static builds;
# programs (pkg-config, the host's tools) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${_triple} ${KESTRAVA_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static archives only, never a DLL's import library.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# Everything linked in: the programs need no DLL beyond Windows' own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# JUCE's CMake package only lists module sources (no binaries), so the
# build machine's copy serves the Windows build as well.
file(GLOB _juce_configs /usr/lib/*/cmake/JUCE-*/JUCEConfig.cmake /usr/lib/cmake/JUCE-*/JUCEConfig.cmake)
if(_juce_configs AND NOT JUCE_DIR)
    list(GET _juce_configs 0 _juce_config)
    get_filename_component(JUCE_DIR ${_juce_config} DIRECTORY)
    set(JUCE_DIR ${JUCE_DIR} CACHE PATH "JUCE's CMake package")
endif()
