# Writes a program's manual page from its --help text, compressed as Debian wants it.
# cmake -DPROGRAM=path -DTITLE=NAME -DSOURCE="TORVA 1.0" -DSCRIPT=help2roff.awk -DOUTPUT=x.1.gz -P
get_filename_component(page "${OUTPUT}" NAME_WLE)
get_filename_component(dir "${OUTPUT}" DIRECTORY)
# The help must not depend on a display or on the caller's locale.
set(ENV{LC_ALL} C)
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
execute_process(COMMAND "${PROGRAM}" --help
                COMMAND awk -v "title=${TITLE}" -v "source=${SOURCE}" -f "${SCRIPT}"
                OUTPUT_FILE "${dir}/${page}"
                RESULTS_VARIABLE results)
foreach(result IN LISTS results)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help | awk: ${results}")
  endif()
endforeach()
execute_process(COMMAND gzip -9nf "${dir}/${page}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip ${dir}/${page}: ${result}")
endif()
