# Included from the top CMakeLists.txt on macOS: korva becomes Korva.app, with
# the application id, the version and, where the tools exist, an icon made from
# packaging/korva.svg. Prepared, not built or tested: see "Platforms" in README.md.

set_target_properties(korva PROPERTIES
    MACOSX_BUNDLE ON
    OUTPUT_NAME Korva
    MACOSX_BUNDLE_GUI_IDENTIFIER ${KORVA_APP_ID}
    MACOSX_BUNDLE_BUNDLE_NAME Korva
    MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION}
    MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION}
    MACOSX_BUNDLE_LONG_VERSION_STRING ${PROJECT_VERSION}
    MACOSX_BUNDLE_COPYRIGHT ${KORVA_COPYRIGHT})

# iconutil turns a folder of PNGs (16 to 1024 pixels) into an .icns; the PNGs
# come from rsvg-convert or ImageMagick.
find_program(KORVA_ICONUTIL iconutil)
find_program(KORVA_RSVG_CONVERT rsvg-convert)
find_program(KORVA_MAGICK magick)
if(KORVA_ICONUTIL AND (KORVA_RSVG_CONVERT OR KORVA_MAGICK))
    set(icns ${CMAKE_CURRENT_BINARY_DIR}/korva.icns)
    add_custom_command(OUTPUT ${icns}
        COMMAND ${CMAKE_COMMAND} -DSVG=${PROJECT_SOURCE_DIR}/packaging/korva.svg
                -DICNS=${icns} -DICONUTIL=${KORVA_ICONUTIL}
                -DRSVG_CONVERT=${KORVA_RSVG_CONVERT} -DMAGICK=${KORVA_MAGICK}
                -P ${PROJECT_SOURCE_DIR}/packaging/MakeIcns.cmake
        DEPENDS packaging/korva.svg packaging/MakeIcns.cmake
        COMMENT "Making korva.icns from korva.svg"
        VERBATIM)
    target_sources(korva PRIVATE ${icns})
    set_source_files_properties(${icns} PROPERTIES MACOSX_PACKAGE_LOCATION Resources)
    set_target_properties(korva PROPERTIES MACOSX_BUNDLE_ICON_FILE korva.icns)
else()
    message(STATUS "Korva.app gets no icon: making korva.icns needs iconutil and "
                   "rsvg-convert or magick")
endif()
