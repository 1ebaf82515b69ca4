# Helpers that keep every subsystem's CMakeLists.txt short and alike.
#
#   qm_add_library(NAME SOURCES a.cpp b.cpp [DEPENDS lib...])
#   qm_add_test(NAME SOURCES xTest.cpp [DEPENDS lib...] [CONCURRENCY])
#   qm_add_benchmark(NAME SOURCES x.cpp [DEPENDS lib...])
#
# Tests marked CONCURRENCY carry the ctest label "concurrency"; the target
# "concurrency_tests" builds just those, so the ThreadSanitizer build compiles only what it runs.

set_property(GLOBAL PROPERTY QM_CONCURRENCY_TESTS "")

function(qm_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${QM_INCLUDE_ROOTS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
endfunction()

function(qm_add_test name)
  cmake_parse_arguments(ARG "CONCURRENCY" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${QM_INCLUDE_ROOTS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gmock GTest::gtest_main Threads::Threads)
  # One label per test: gtest_discover_tests writes the property value unquoted, so a list of
  # labels would split into a label and a stray property name, and "-L concurrency" finds nothing.
  set(labels unit)
  if(ARG_CONCURRENCY)
    set(labels concurrency)
    set_property(GLOBAL APPEND PROPERTY QM_CONCURRENCY_TESTS ${name})
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS "${labels}"
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
