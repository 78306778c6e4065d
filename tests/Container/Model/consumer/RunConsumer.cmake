# Installs the exchange-container library of a build into a fresh prefix, builds the consumer
# program against that prefix as a project of its own and runs it.
#   cmake -D BUILD_DIR=<build> -D WORK_DIR=<scratch> -D SOURCE_DIR=<this folder>
#         -D GENERATOR=<generator> -D CXX=<compiler> [-D CONFIG=<config>] [-D FLAGS=<flags>]
#         -P RunConsumer.cmake
foreach(var BUILD_DIR WORK_DIR SOURCE_DIR GENERATOR CXX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "RunConsumer.cmake needs -D ${var}=...")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${result}): ${command}")
  endif()
endfunction()

# A build without a configuration name takes the generator's default.
set(config)
if(CONFIG)
  set(config --config ${CONFIG})
endif()
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} ${config}
    --component KestoContainer)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    "-DCMAKE_BUILD_TYPE=${CONFIG}" -D CMAKE_CXX_COMPILER=${CXX}
    -D CMAKE_PREFIX_PATH=${prefix} -D CMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build ${config})
find_program(consumer kesto_consumer PATHS ${WORK_DIR}/build ${WORK_DIR}/build/${CONFIG}
             NO_DEFAULT_PATH REQUIRED)
run(${consumer} ${WORK_DIR}/book.dwq)
