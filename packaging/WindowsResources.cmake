# Windows: every program carries our icon (drawn by MakeIcons from the badge
# of our logo, as the Debian package's) and its version information, compiled
# from WindowsProgram.rc.in by the resource compiler (MinGW's windres).
# A cross build cannot run its own MakeIcons: it is given the build
# machine's (KESTRAVA_HOST_MAKEICONS).
enable_language(RC)
set(KESTRAVA_HOST_MAKEICONS "" CACHE FILEPATH "MakeIcons of the build machine, for cross builds")
if(CMAKE_CROSSCOMPILING)
    if(NOT KESTRAVA_HOST_MAKEICONS)
        message(FATAL_ERROR "A cross build for Windows needs KESTRAVA_HOST_MAKEICONS: the build machine's MakeIcons")
    endif()
    set(_icon_generator ${KESTRAVA_HOST_MAKEICONS})
else()
    set(_icon_generator MakeIcons)
endif()

set(KESTRAVA_WINDOWS_ICON ${CMAKE_CURRENT_BINARY_DIR}/resources/kestrava.ico)
add_custom_command(
    OUTPUT ${KESTRAVA_WINDOWS_ICON}
    COMMAND ${_icon_generator} --ico ${KESTRAVA_WINDOWS_ICON}
    DEPENDS ${_icon_generator}
    COMMENT "Drawing the programs' icon"
    VERBATIM)
add_custom_target(kestrava_windows_icon DEPENDS ${KESTRAVA_WINDOWS_ICON})

# kestrava_windows_resources(<target> <description>): the icon and the version
# resource (product Kestrava, the project's version, the description) linked
# into the program. The resources are compiled as a library of their own, so
# that none of the program's compiler options reaches the resource compiler.
function(kestrava_windows_resources target description)
    set(KESTRAVA_RC_NAME ${target})
    set(KESTRAVA_RC_DESCRIPTION ${description})
    set(KESTRAVA_RC_ICON ${KESTRAVA_WINDOWS_ICON})
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/resources/${target}.rc)
    configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/WindowsProgram.rc.in ${rc} @ONLY)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${KESTRAVA_WINDOWS_ICON})
    add_library(${target}_resources OBJECT ${rc})
    add_dependencies(${target}_resources kestrava_windows_icon)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_resources>)
endfunction()
