# The demo's data folder, written beside KestravaDemo by a small host tool of
# ours (MakeDemoData). It needs only the JUCE library, not the program's code.
# A cross build cannot run its own MakeDemoData: it is given the build
# machine's (KESTRAVA_HOST_MAKEDEMODATA); the files are the same on every system.
set(KESTRAVA_HOST_MAKEDEMODATA "" CACHE FILEPATH "MakeDemoData of the build machine, for cross builds")
if(CMAKE_CROSSCOMPILING AND NOT KESTRAVA_HOST_MAKEDEMODATA)
    message(FATAL_ERROR "A cross build needs KESTRAVA_HOST_MAKEDEMODATA: the build machine's MakeDemoData")
endif()
add_executable(MakeDemoData
    ${CMAKE_CURRENT_LIST_DIR}/MakeDemoData.cpp
    ${CMAKE_CURRENT_LIST_DIR}/datagen/DemoDrivers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/datagen/DemoImages.cpp
    ${CMAKE_CURRENT_LIST_DIR}/datagen/DemoLogo.cpp)
target_link_libraries(MakeDemoData PRIVATE kestrava_juce)
target_compile_options(MakeDemoData PRIVATE ${KESTRAVA_WARNINGS})

# Where KestravaDemo is built; its data folder lies beside it.
set(KESTRAVA_DEMO_DATA_DIR ${CMAKE_CURRENT_BINARY_DIR})

set(_demo_data_files
    Drivers/QVM410_KV29B032.bin
    Drivers/QVM410_KV29D128.bin
    Drivers/QVM410_KV29F064.bin
    Drivers/QVM428_KV29F064.bin
    Drivers/QVM428_KV29H192.bin
    Drivers/QVM428_S29GL256x2_R.bin
    Drivers/QVM900_KV29F256T.bin
    QvDoc/Logo.PNG
    QvDoc/boot2.bin
    QvDoc/flashpgm.bin
    QvDoc/Special.bin
    QvDoc/Special418.bin
    Sample.bin)
list(TRANSFORM _demo_data_files PREPEND ${KESTRAVA_DEMO_DATA_DIR}/)

if(CMAKE_CROSSCOMPILING)
    set(_demo_data_generator ${KESTRAVA_HOST_MAKEDEMODATA})
else()
    set(_demo_data_generator MakeDemoData)
endif()
add_custom_command(
    OUTPUT ${_demo_data_files}
    COMMAND ${_demo_data_generator} ${KESTRAVA_DEMO_DATA_DIR}
    DEPENDS ${_demo_data_generator}
    COMMENT "Writing the demo's data folder"
    VERBATIM)
include(${PROJECT_SOURCE_DIR}/docs/help/Help.cmake)
add_custom_target(kestrava_demo_data ALL DEPENDS ${_demo_data_files} ${KESTRAVA_DEMO_DATA_DIR}/Help.pdf)
# Other folders (the tests) find the data folder through the target.
set_target_properties(kestrava_demo_data PROPERTIES KESTRAVA_DEMO_DATA_DIR ${KESTRAVA_DEMO_DATA_DIR})
