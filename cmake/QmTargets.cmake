# Helpers that keep every subsystem's CMakeLists.txt short and alike.
#
#   qm_add_library(NAME SOURCES a.cpp b.cpp [DEPENDS lib...])
#   qm_add_test(NAME SOURCES xTest.cpp [DEPENDS lib...] [CONCURRENCY] [PROPERTIES name value...])
#   qm_add_benchmark(NAME SOURCES x.cpp [DEPENDS lib...])
#
# Tests marked CONCURRENCY carry the ctest label "concurrency" (the others "unit"); the target
# "concurrency_tests" builds just those, so the ThreadSanitizer build compiles only what it runs.
# PROPERTIES are further ctest properties of every test case (a fixture, an environment variable).

set_property(GLOBAL PROPERTY QM_CONCURRENCY_TESTS "")

function(qm_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${QM_INCLUDE_ROOTS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
endfunction()

function(qm_add_test name)
  cmake_parse_arguments(ARG "CONCURRENCY" "" "SOURCES;DEPENDS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${QM_INCLUDE_ROOTS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gmock GTest::gtest_main Threads::Threads)
  # One label per test: test discovery passes the properties on as text and splits a label list
  # into separate property arguments, which silently dropped every label after the first.
  set(labels unit)
  if(ARG_CONCURRENCY)
    set(labels concurrency)
    set_property(GLOBAL APPEND PROPERTY QM_CONCURRENCY_TESTS ${name})
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS "${labels}" ${ARG_PROPERTIES}
    DISCOVERY_TIMEOUT 60)
endfunction()

function(qm_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${QM_INCLUDE_ROOTS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} benchmark::benchmark Threads::Threads)
endfunction()

function(qm_finish_targets)
  get_property(tests GLOBAL PROPERTY QM_CONCURRENCY_TESTS)
  add_custom_target(concurrency_tests)
  if(tests)
    add_dependencies(concurrency_tests ${tests})
  endif()
endfunction()
