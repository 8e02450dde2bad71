# Helpers shared by the folders' CMakeLists.

# server_library(<name> SOURCES ... [DEPS ...])
# One static library of a folder.
function(server_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# server_gtest(<name> SOURCES ... [DEPS ...] [ENV ...])
# One GoogleTest binary; its cases become ctest tests.
function(server_gtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;ENV" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main
                                          GTest::gmock Threads::Threads)
    set(_env "BOARD_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp" ${ARG_ENV})
    if(SERVER_TEST_PER_CASE)
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                             PROPERTIES ENVIRONMENT "${_env}" DISCOVERY_TIMEOUT 120)
    else()
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "${_env}")
    endif()
endfunction()

# server_benchmark(<name> SOURCES ... [DEPS ...])
# One Google Benchmark program; built with the test build, run by hand.
function(server_benchmark name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    find_package(benchmark REQUIRED)
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
endfunction()

# server_fuzzer(<name> SOURCES ... [DEPS ...] [CORPUS dir])
# One libFuzzer target; ctest runs it for SERVER_FUZZ_SECONDS (label "fuzz").
function(server_fuzzer name)
    cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set(_work ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
    file(MAKE_DIRECTORY ${_work})
    set(_dirs ${_work})
    if(ARG_CORPUS)
        list(APPEND _dirs ${ARG_CORPUS})
    endif()
    add_test(NAME ${name}
             COMMAND ${name} -max_total_time=${SERVER_FUZZ_SECONDS} -rss_limit_mb=2048
                     -print_final_stats=1 ${_dirs})
    set_tests_properties(${name} PROPERTIES LABELS fuzz)
endfunction()
