# Compiles each .rc file with windres and has tools/kest_rc.py compare the .res's string blocks with
# its own. Arguments: WINDRES, PYTHON, TOOL, WORK_DIR, INCLUDES and RC_FILES (lists).
file(MAKE_DIRECTORY ${WORK_DIR})
set(include_args)
foreach(dir IN LISTS INCLUDES)
  list(APPEND include_args -I ${dir})
endforeach()
foreach(rc IN LISTS RC_FILES)
  get_filename_component(name ${rc} NAME_WE)
  execute_process(COMMAND ${WINDRES} ${include_args} -O res ${rc} ${WORK_DIR}/${name}.res
                  RESULT_VARIABLE rc_status)
  if(rc_status)
    message(FATAL_ERROR "windres failed on ${rc}")
  endif()
  execute_process(COMMAND ${PYTHON} ${TOOL} compare ${WORK_DIR}/${name}.res ${rc} ${include_args}
                  RESULT_VARIABLE rc_status)
  if(rc_status)
    message(FATAL_ERROR "the generator's blocks of ${rc} differ from windres's")
  endif()
endforeach()
