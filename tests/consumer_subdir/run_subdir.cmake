# Configures, builds and runs the add_subdirectory consumer. Arguments: SOURCE_DIR (this folder),
# KEST_SOURCE_DIR, WORK_DIR, CXX, GENERATOR.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR} -G ${GENERATOR}
                        -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release
                        -DKEST_SOURCE_DIR=${KEST_SOURCE_DIR}
                RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configure failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "build failed: ${rc}")
endif()
# The static library must define no export macro and leave no shared object behind.
file(GLOB_RECURSE shared ${WORK_DIR}/*.so ${WORK_DIR}/*.so.*)
if(shared)
  message(FATAL_ERROR "a static build produced shared objects: ${shared}")
endif()
execute_process(COMMAND ${WORK_DIR}/consumer RESULT_VARIABLE rc WORKING_DIRECTORY ${WORK_DIR})
if(rc)
  message(FATAL_ERROR "consumer run failed: ${rc}")
endif()
