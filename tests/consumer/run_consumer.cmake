# Installs the build tree into a scratch prefix, then configures, builds and runs the consumer
# project against it, the way a host project uses the package.
# Arguments: BUILD_DIR, SOURCE_DIR, WORK_DIR, CXX, GENERATOR; for a cross build also TOOLCHAIN
# (the toolchain file) and EMULATOR (what runs the consumer, Wine); PKG_CONFIG to also build the
# consumer with a plain compiler command from the installed KestCommon.pc.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "install failed: ${rc}")
endif()

set(configure_args -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR} -DCMAKE_BUILD_TYPE=Release)
if(TOOLCHAIN)
  # A cross build looks for packages inside its target root only, so name the package directly.
  list(APPEND configure_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
       -DKestCommon_DIR=${prefix}/lib/cmake/KestCommon)
else()
  list(APPEND configure_args -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} ${configure_args} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "consumer configure failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "consumer build failed: ${rc}")
endif()

if(EMULATOR)
  # A Windows executable finds its DLLs beside it.
  file(GLOB dlls ${prefix}/bin/*.dll)
  file(COPY ${dlls} DESTINATION ${WORK_DIR}/build)
  execute_process(COMMAND ${EMULATOR} ${WORK_DIR}/build/consumer.exe RESULT_VARIABLE rc
                  WORKING_DIRECTORY ${WORK_DIR}/build)
else()
  execute_process(COMMAND ${WORK_DIR}/build/consumer RESULT_VARIABLE rc
                  WORKING_DIRECTORY ${WORK_DIR}/build)
endif()
if(rc)
  message(FATAL_ERROR "consumer run failed: ${rc}")
endif()

if(PKG_CONFIG)
  # A plain compiler command, flags and libraries from the installed pkg-config file.
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs KestCommon OUTPUT_VARIABLE flags
                  RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(rc)
    message(FATAL_ERROR "pkg-config does not know KestCommon: ${rc}")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  execute_process(COMMAND ${CXX} ${SOURCE_DIR}/main.cpp ${flags} -Wl,-rpath,${prefix}/lib
                          -o ${WORK_DIR}/consumer-pc RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "consumer build with pkg-config flags failed: ${rc}")
  endif()
  execute_process(COMMAND ${WORK_DIR}/consumer-pc RESULT_VARIABLE rc WORKING_DIRECTORY ${WORK_DIR})
  if(rc)
    message(FATAL_ERROR "consumer built with pkg-config flags failed: ${rc}")
  endif()
endif()
