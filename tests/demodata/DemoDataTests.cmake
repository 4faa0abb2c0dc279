# Tests of the demo's data folder. They need only the JUCE library and the
# folder that the kestrava_demo_data target writes.
add_executable(kestrava_demo_data_tests ${CMAKE_CURRENT_LIST_DIR}/DemoDataTest.cpp)
target_include_directories(kestrava_demo_data_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../..)
target_link_libraries(kestrava_demo_data_tests PRIVATE kestrava_juce GTest::gtest GTest::gtest_main)
target_compile_options(kestrava_demo_data_tests PRIVATE ${KESTRAVA_WARNINGS})
get_target_property(_demo_data_dir kestrava_demo_data KESTRAVA_DEMO_DATA_DIR)
target_compile_definitions(kestrava_demo_data_tests PRIVATE KESTRAVA_DEMO_DATA_DIR="${_demo_data_dir}")
add_dependencies(kestrava_demo_data_tests kestrava_demo_data)
gtest_discover_tests(kestrava_demo_data_tests
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS demo_data TIMEOUT 60)

# Help.pdf, the user's guide, checked with poppler's tools against the table
# that kestrava-cli explain prints.
add_test(NAME demo_data.help_pdf
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check_help_pdf.sh ${_demo_data_dir}/Help.pdf $<TARGET_FILE:kestrava-cli>)
set_tests_properties(demo_data.help_pdf PROPERTIES LABELS demo_data TIMEOUT 120)
