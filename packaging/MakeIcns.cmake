# cmake -DSVG=korva.svg -DICNS=korva.icns -DICONUTIL=iconutil
#       [-DRSVG_CONVERT=rsvg-convert] [-DMAGICK=magick] -P MakeIcns.cmake
# Renders the SVG at every size an .icns holds (16 to 512 points, each also at
# twice the pixels) into an .iconset folder and lets iconutil pack it.

get_filename_component(name ${ICNS} NAME_WE)
get_filename_component(folder ${ICNS} DIRECTORY)
set(iconset ${folder}/${name}.iconset)
file(REMOVE_RECURSE ${iconset})
file(MAKE_DIRECTORY ${iconset})

function(render pixels png)
    if(RSVG_CONVERT)
        set(command ${RSVG_CONVERT} --width=${pixels} --height=${pixels} --output=${png} ${SVG})
    else()
        set(command ${MAGICK} -background none -density 1200 ${SVG} -resize ${pixels}x${pixels}
                    ${png})
    endif()
    execute_process(COMMAND ${command} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "Could not render ${SVG} at ${pixels} pixels: ${status}")
    endif()
endfunction()

foreach(points 16 32 128 256 512)
    math(EXPR double "${points} * 2")
    render(${points} ${iconset}/icon_${points}x${points}.png)
    render(${double} ${iconset}/icon_${points}x${points}@2x.png)
endforeach()

execute_process(COMMAND ${ICONUTIL} --convert icns --output ${ICNS} ${iconset}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "iconutil could not make ${ICNS}: ${status}")
endif()
