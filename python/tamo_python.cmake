# The extension module tamo._tamo and the package beside it in
# <build>/python/tamo, importable with PYTHONPATH=<build>/python; included by
# the top-level CMakeLists.txt (also when setup.py builds the package).

# Static libraries linked into a shared module must be position independent.
set_target_properties(tamo tamofrontend PROPERTIES POSITION_INDEPENDENT_CODE ON)

set(TAMO_PYTHON_DIR ${CMAKE_CURRENT_BINARY_DIR}/python/tamo)
# NO_EXTRAS: no link-time optimisation (the work is in the static libraries,
# built without it; linking would only take longer).
pybind11_add_module(tamo_python MODULE NO_EXTRAS ${TAMO_ROOT}/python/src/module.cpp
                    ${TAMO_CLI_SOURCES})
set_target_properties(tamo_python PROPERTIES OUTPUT_NAME _tamo
                      LIBRARY_OUTPUT_DIRECTORY ${TAMO_PYTHON_DIR})
target_include_directories(tamo_python PRIVATE ${TAMO_ROOT}/cli)
# The tool's sources without its main(); the version is the project's.
target_compile_definitions(tamo_python PRIVATE TAMO_CLI_NO_MAIN TAMO_VERSION="${PROJECT_VERSION}")
target_compile_options(tamo_python PRIVATE -Wall -Wextra)
target_link_libraries(tamo_python PRIVATE tamofrontend tamo Qt5::Core Qt5::Gui)

# The package's Python files beside the module.
file(GLOB TAMO_PYTHON_FILES CONFIGURE_DEPENDS ${TAMO_ROOT}/python/tamo/*.py
     ${TAMO_ROOT}/python/tamo/*.pyi ${TAMO_ROOT}/python/tamo/py.typed)
set(copied)
foreach(file ${TAMO_PYTHON_FILES})
    get_filename_component(name ${file} NAME)
    add_custom_command(OUTPUT ${TAMO_PYTHON_DIR}/${name}
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${TAMO_PYTHON_DIR}/${name}
                       DEPENDS ${file})
    list(APPEND copied ${TAMO_PYTHON_DIR}/${name})
endforeach()
add_custom_target(tamo_python_files ALL DEPENDS ${copied})
add_dependencies(tamo_python tamo_python_files)

if(TAMO_BUILD_TESTS)
    # pytest on python/tests against this build, with the built tool for the
    # comparisons (TAMO_SCREENSHOT_DIR=docs also keeps the worked example's
    # picture, as the screenshot tests do).
    add_test(NAME python
             COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${TAMO_ROOT}/python/tests)
    set_tests_properties(python PROPERTIES LABELS python TIMEOUT 600
        ENVIRONMENT "PYTHONPATH=${CMAKE_CURRENT_BINARY_DIR}/python;TAMO_CLI=$<TARGET_FILE:tamo-cli>;TAMO_SAMPLES_DIR=${TAMO_ROOT}/tests/data/sci;MPLBACKEND=Agg")
endif()
