# Project-wide helpers for tests, benchmarks and fuzz targets.
# Every target sees the source tree root as its include root: #include "Foundation/Settings.h".

function(kesto_library name)
  cmake_parse_arguments(K "" "" "SOURCES;LIBS;PUBLIC_LIBS" ${ARGN})
  add_library(${name} STATIC ${K_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${K_PUBLIC_LIBS} PRIVATE ${K_LIBS})
endfunction()

# kesto_gtest(<name> SOURCES ... LIBS ... [LABELS ...] [WITH_MODULE])
function(kesto_gtest name)
  cmake_parse_arguments(K "WITH_MODULE" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT TARGET GTest::gtest_main)
    find_package(GTest REQUIRED)
  endif()
  add_executable(${name} ${K_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${K_LIBS} GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    KESTO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KESTO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # Runs xthost with the module, as a user does.
  if(K_WITH_MODULE)
    add_dependencies(${name} KestoModule xthost)
    target_compile_definitions(${name} PRIVATE
      KESTO_MODULE="$<TARGET_FILE:KestoModule>" XTHOST_PROGRAM="$<TARGET_FILE:xthost>")
  endif()
  include(GoogleTest)
  # An empty LABELS value would make the next word a label.
  if(K_LABELS)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120
      PROPERTIES LABELS "${K_LABELS}" ENVIRONMENT "KESTO_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120
      PROPERTIES ENVIRONMENT "KESTO_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  endif()
endfunction()

# kesto_benchmark(<name> SOURCES ... LIBS ...): Google Benchmark or a plain main().
function(kesto_benchmark name)
  cmake_parse_arguments(K "PLAIN" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${K_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(K_PLAIN)
    target_link_libraries(${name} PRIVATE ${K_LIBS} Threads::Threads)
  else()
    if(NOT TARGET benchmark::benchmark)
      find_package(benchmark REQUIRED)
    endif()
    target_link_libraries(${name} PRIVATE ${K_LIBS} benchmark::benchmark Threads::Threads)
  endif()
endfunction()

# kesto_fuzzer(<name> SOURCES ... LIBS ... [TIMEOUT seconds]): a libFuzzer target, plus a test
# that replays its corpus (fuzz/corpus/<name>/), where the crashes it once found are kept; with
# TIMEOUT, an input that takes longer fails the replay as it fails a fuzzing run.
function(kesto_fuzzer name)
  cmake_parse_arguments(K "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${K_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${K_LIBS} -fsanitize=fuzzer)
  add_dependencies(fuzzers ${name})
  set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  if(EXISTS ${corpus})
    set(limit)
    if(K_TIMEOUT)
      set(limit -timeout=${K_TIMEOUT})
    endif()
    add_test(NAME ${name}.corpus COMMAND ${name} -runs=0 ${limit} ${corpus})
  endif()
endfunction()
