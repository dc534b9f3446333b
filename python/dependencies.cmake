# What the Python module needs: a Python 3 interpreter that can import numpy,
# its headers, and pybind11's CMake package. Sets QSRCH_PYTHON_FOUND.
#
# The first python3 on PATH may be one without numpy (a pyenv shim, say)
# while the system's has it, so unless Python_EXECUTABLE is given, the
# candidates are tried in order and the first that imports numpy is used.
if(NOT Python_EXECUTABLE)
  find_program(QSRCH_PATH_PYTHON3 NAMES python3 NO_CACHE)
  foreach(candidate ${QSRCH_PATH_PYTHON3} /usr/bin/python3 /usr/local/bin/python3)
    if(EXISTS "${candidate}")
      execute_process(COMMAND "${candidate}" -c "import numpy" RESULT_VARIABLE numpyMissing
                      OUTPUT_QUIET ERROR_QUIET)
      if(numpyMissing EQUAL 0)
        set(Python_EXECUTABLE "${candidate}" CACHE FILEPATH "Python interpreter of the Python module")
        break()
      endif()
    endif()
  endforeach()
endif()

set(QSRCH_PYTHON_FOUND OFF)
if(Python_EXECUTABLE)
  find_package(Python 3.8 COMPONENTS Interpreter Development.Module NumPy QUIET)
  if(Python_FOUND AND Python_NumPy_FOUND)
    find_package(pybind11 2.6 CONFIG QUIET)
    if(pybind11_FOUND)
      set(QSRCH_PYTHON_FOUND ON)
    endif()
  endif()
endif()
