# The user's guide, Help.pdf, and the manual page of kestrava-cli, made at
# build time. The guide is Markdown (docs/help/Guide.md.in); MakeHelpTables,
# a host tool of ours, writes the table of what can go wrong into it and into
# the manual page, then pandoc turns the guide into HTML and WeasyPrint lays
# that out as PDF (styles in Help.css, fonts embedded). Help.pdf lies in the
# demo's data folder, from where the packages take it.
# A cross build cannot run its own MakeHelpTables: it is given the build
# machine's (KESTRAVA_HOST_MAKEHELPTABLES), as for MakeDemoData.
set(KESTRAVA_HOST_MAKEHELPTABLES "" CACHE FILEPATH "MakeHelpTables of the build machine, for cross builds")
if(CMAKE_CROSSCOMPILING AND NOT KESTRAVA_HOST_MAKEHELPTABLES)
    message(FATAL_ERROR "A cross build needs KESTRAVA_HOST_MAKEHELPTABLES: the build machine's MakeHelpTables")
endif()
find_program(KESTRAVA_PANDOC pandoc)
find_program(KESTRAVA_WEASYPRINT weasyprint)
if(NOT KESTRAVA_PANDOC OR NOT KESTRAVA_WEASYPRINT)
    message(FATAL_ERROR "Help.pdf needs pandoc and weasyprint (Debian packages pandoc, weasyprint): run scripts/install-deps.sh")
endif()

if(CMAKE_CROSSCOMPILING)
    set(_help_tables ${KESTRAVA_HOST_MAKEHELPTABLES})
else()
    add_executable(MakeHelpTables ${PROJECT_SOURCE_DIR}/packaging/MakeHelpTables.cpp ${PROJECT_SOURCE_DIR}/store/shared/Troubles.cpp)
    target_include_directories(MakeHelpTables PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_options(MakeHelpTables PRIVATE ${KESTRAVA_WARNINGS})
    set(_help_tables MakeHelpTables)
endif()

set(_help_dir ${PROJECT_SOURCE_DIR}/docs/help)
set(_help_work ${PROJECT_BINARY_DIR}/docs/help)
file(MAKE_DIRECTORY ${_help_work})
add_custom_command(
    OUTPUT ${_help_work}/Guide.md
    COMMAND ${_help_tables} guide ${_help_dir}/Guide.md.in ${_help_work}/Guide.md
    DEPENDS ${_help_tables} ${_help_dir}/Guide.md.in
    COMMENT "Writing the table of what can go wrong into the user's guide"
    VERBATIM)
add_custom_command(
    OUTPUT ${KESTRAVA_DEMO_DATA_DIR}/Help.pdf
    COMMAND ${KESTRAVA_PANDOC} ${_help_work}/Guide.md --from markdown-smart --standalone --toc --toc-depth=2
            --metadata-file=${_help_dir}/Guide.yaml --css=${_help_dir}/Help.css --resource-path=${_help_dir}
            --pdf-engine=${KESTRAVA_WEASYPRINT} --output=${KESTRAVA_DEMO_DATA_DIR}/Help.pdf
    DEPENDS ${_help_work}/Guide.md ${_help_dir}/Guide.yaml ${_help_dir}/Help.css ${_help_dir}/window.png
    WORKING_DIRECTORY ${_help_dir}
    COMMENT "Making Help.pdf, the user's guide"
    VERBATIM)

set(KESTRAVA_MANUAL_PAGE ${PROJECT_BINARY_DIR}/docs/kestrava-cli.1)
add_custom_command(
    OUTPUT ${KESTRAVA_MANUAL_PAGE}
    COMMAND ${_help_tables} man ${PROJECT_SOURCE_DIR}/docs/kestrava-cli.1.in ${KESTRAVA_MANUAL_PAGE}
    DEPENDS ${_help_tables} ${PROJECT_SOURCE_DIR}/docs/kestrava-cli.1.in
    COMMENT "Writing the exit statuses into the manual page of kestrava-cli"
    VERBATIM)
add_custom_target(kestrava_manual_page ALL DEPENDS ${KESTRAVA_MANUAL_PAGE})
