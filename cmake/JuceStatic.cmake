# Builds the JUCE modules the program uses exactly once, into one static
# library (kestrava_juce) that every target links. The module targets are
# only read for their sources and usage requirements, never linked, so no
# executable compiles a second copy.
find_package(JUCE CONFIG REQUIRED)

set(KESTRAVA_JUCE_MODULES
    juce_core juce_events juce_data_structures juce_graphics
    juce_gui_basics juce_audio_basics juce_audio_devices)

add_library(kestrava_juce STATIC)
foreach(_m IN LISTS KESTRAVA_JUCE_MODULES)
    get_target_property(_srcs juce::${_m} INTERFACE_SOURCES)
    target_sources(kestrava_juce PRIVATE ${_srcs})
    target_include_directories(kestrava_juce SYSTEM PUBLIC
        $<TARGET_PROPERTY:juce::${_m},INTERFACE_INCLUDE_DIRECTORIES>)
    target_compile_definitions(kestrava_juce PUBLIC
        $<TARGET_PROPERTY:juce::${_m},INTERFACE_COMPILE_DEFINITIONS>)
    target_compile_options(kestrava_juce PRIVATE
        $<TARGET_PROPERTY:juce::${_m},INTERFACE_COMPILE_OPTIONS>)
    get_target_property(_libs juce::${_m} INTERFACE_LINK_LIBRARIES)
    if(_libs)
        foreach(_l IN LISTS _libs)
            if(TARGET ${_l})
                get_target_property(_ls ${_l} INTERFACE_SOURCES)
                if(_ls)
                    continue()   # another JUCE module: already listed above
                endif()
            endif()
            target_link_libraries(kestrava_juce PUBLIC ${_l})
        endforeach()
    endif()
endforeach()
target_compile_definitions(kestrava_juce PUBLIC
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_STANDALONE_APPLICATION=1
    JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
    JUCE_JACK=0)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    target_compile_definitions(kestrava_juce PUBLIC JUCE_ALSA=1)
endif()
target_link_libraries(kestrava_juce PUBLIC juce::juce_recommended_config_flags)
find_package(Threads REQUIRED)
# Debian's JUCE decodes images with the system's libpng and libjpeg (and
# zlib); for Windows they are static builds of the same sources
# (scripts/build-windows.sh).
if(WIN32)
    find_package(PNG REQUIRED)
    find_package(JPEG REQUIRED)
    find_package(ZLIB REQUIRED)
    target_link_libraries(kestrava_juce PUBLIC PNG::PNG JPEG::JPEG ZLIB::ZLIB)
    # JUCE's modules list most Windows libraries they need; these are the rest.
    target_link_libraries(kestrava_juce PUBLIC
        gdi32 user32 shell32 comctl32 dwmapi setupapi dxgi)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(KESTRAVA_IMAGE_LIBS REQUIRED IMPORTED_TARGET libpng libjpeg zlib)
    target_link_libraries(kestrava_juce PUBLIC PkgConfig::KESTRAVA_IMAGE_LIBS)
endif()
target_link_libraries(kestrava_juce PUBLIC Threads::Threads ${CMAKE_DL_LIBS})
