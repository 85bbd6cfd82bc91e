# tarn1_add_library(<name> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# A static library per component folder, with the alias tarn1::<name>.
function(tarn1_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS;PUBLIC_INCLUDES" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    add_library(tarn1::${name} ALIAS ${name})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    if(ARG_PUBLIC_INCLUDES)
        target_include_directories(${name} PUBLIC ${ARG_PUBLIC_INCLUDES})
    endif()
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# tarn1_test_code(<target>)
# A test executable's own code builds without optimisation: the mocks and assertion macros compile
# in about half the time at -O0, and a failing case steps cleanly in a debugger. The libraries it
# tests keep the build type's optimisation, so what runs under test is the code that ships. (The
# robustness tests' hostile peers and the fuzz replays keep it too: their speed is part of the test.)
# gtest's and gmock's headers are compiled once per build tree (target tarn1_test_pch) and reused
# by every test executable.
function(tarn1_test_code name)
    target_compile_options(${name} PRIVATE -O0)
    if(NOT TARGET tarn1_test_pch)
        set(source "${PROJECT_BINARY_DIR}/tarn1_test_pch.cpp")
        file(CONFIGURE OUTPUT "${source}" CONTENT "// Holds the test executables' precompiled gtest and gmock.\n")
        add_library(tarn1_test_pch OBJECT "${source}")
        target_compile_options(tarn1_test_pch PRIVATE -O0)
        target_link_libraries(tarn1_test_pch PRIVATE GTest::gmock GTest::gtest)
        target_precompile_headers(tarn1_test_pch PRIVATE <gmock/gmock.h> <gtest/gtest.h>)
    endif()
    target_precompile_headers(${name} REUSE_FROM tarn1_test_pch)
endfunction()

# tarn1_add_gtest(<name> SOURCES ... LIBS ... [LABELS label] [TIMEOUT seconds])
# One test executable per folder; every case is its own ctest test with a watchdog timeout,
# so a hang fails the run instead of stalling it. Label "concurrent" marks the cases that
# the ThreadSanitizer build runs; the target concurrent_tests builds just those executables (and,
# through their own dependencies, the programs they start).
function(tarn1_add_gtest name)
    if(NOT TARN1_BUILD_TESTS)
        return()
    endif()
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 60)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    tarn1_test_code(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock_main GTest::gtest Threads::Threads)
    if(TARN1_SANITIZE MATCHES "thread")
        target_sources(${name} PRIVATE "${PROJECT_SOURCE_DIR}/testbed/support/tsan_suppressions.cpp")
    endif()
    # One label per executable ("unit" unless given): the discovery script cannot carry a list.
    set(label unit)
    if(ARG_LABELS)
        list(GET ARG_LABELS 0 label)
    endif()
    if(label STREQUAL "concurrent")
        set_property(GLOBAL APPEND PROPERTY TARN1_CONCURRENT_TESTS ${name})
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS ${label})
endfunction()

# tarn1_add_subdirectories(): adds every direct subfolder that has a CMakeLists.txt, so a new
# component folder joins the build without editing its parent.
function(tarn1_add_subdirectories)
    file(GLOB children LIST_DIRECTORIES true RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}/*")
    list(SORT children)
    foreach(child IN LISTS children)
        if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt")
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()
