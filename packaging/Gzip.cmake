# cmake -DGZIP=gzip -DINPUT=file -DOUTPUT=file.gz -P Gzip.cmake
# gzip -9n: the best compression, and no file name or time in the header, so
# that lintian accepts the file and rebuilding it gives the same bytes.
# Only Ninja makes an output's folder for a custom command; the other
# generators leave it to the command.
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
execute_process(COMMAND ${GZIP} -9nc INPUT_FILE ${INPUT} OUTPUT_FILE ${OUTPUT}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(REMOVE ${OUTPUT})
    message(FATAL_ERROR "${GZIP} -9nc ${INPUT} failed: ${status}")
endif()
