# pellavo_library(NAME DIRS <folder>... [DEPS ...]): a static library of every .cpp directly in
# the folders (src-relative), with src/ on the include path.
function(pellavo_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;DEPS" ${ARGN})
  set(sources)
  foreach(dir ${ARG_DIRS})
    file(GLOB found CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/src/${dir}/*.cpp")
    list(APPEND sources ${found})
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# pellavo_test(NAME DIRS <folder>... [DEPS ...]): one GoogleTest executable of every .cpp in the
# folders (tests-relative), run from the repository root so that fixtures are tests/data/...
# Its tests carry the executable's name as a label (ctest -L core_tests).
function(pellavo_test name)
  cmake_parse_arguments(ARG "" "" "DIRS;DEPS" ${ARGN})
  set(sources)
  foreach(dir ${ARG_DIRS})
    file(GLOB found CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/tests/${dir}/*.cpp")
    list(APPEND sources ${found})
  endforeach()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests")
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} pellavo_testsupport GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}" DISCOVERY_TIMEOUT 120
                       PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS ${name})
endfunction()
