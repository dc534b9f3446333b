# Installs the build into a scratch prefix, then builds and runs a plain C
# client against it twice: through find_package(qsrch) and through
# pkg-config.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=address,undefined")
endif()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/consumer
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${C_COMPILER}
    "-DCMAKE_C_FLAGS=-std=c99 -Wall -Wextra -Werror -pedantic ${flags}"
    "-DCMAKE_EXE_LINKER_FLAGS=${flags}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/install_check)

find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig:${prefix}/lib64/pkgconfig)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs qsrch OUTPUT_VARIABLE pc RESULT_VARIABLE rc
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know qsrch")
  endif()
  separate_arguments(pc UNIX_COMMAND "${pc}")
  separate_arguments(sflags UNIX_COMMAND "${flags}")
  file(GLOB libdir LIST_DIRECTORIES true ${prefix}/lib ${prefix}/lib64)
  list(GET libdir 0 libdir)
  run(${C_COMPILER} -std=c99 -pedantic -Werror ${sflags} ${SOURCE_DIR}/main.c ${pc}
      -Wl,-rpath,${libdir} -o ${WORK_DIR}/install_check_pc)
  run(${WORK_DIR}/install_check_pc)
endif()
