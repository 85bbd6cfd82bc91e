# Every build switch of the project lives here.
option(TARN1_BUILD_TESTS "Build the unit, component and system tests" ON)
option(TARN1_BUILD_BENCHMARKS "Build the benchmark programs (run by hand, not by ctest)" ON)
option(TARN1_WERROR "Treat compiler warnings as errors" OFF)
set(TARN1_SANITIZE "" CACHE STRING "Sanitizers to build with: empty, 'address,undefined' or 'thread'")
set_property(CACHE TARN1_SANITIZE PROPERTY STRINGS "" "address,undefined" "thread")
option(TARN1_FUZZ "Build the libFuzzer targets of tests/fuzz (clang; tools/fuzz.sh sets it)" OFF)

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
                    -Wunused -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
if(TARN1_WERROR)
    add_compile_options(-Werror)
endif()

if(TARN1_SANITIZE)
    if(NOT TARN1_SANITIZE MATCHES "^(address,undefined|undefined,address|address|undefined|thread)$")
        message(FATAL_ERROR "TARN1_SANITIZE='${TARN1_SANITIZE}' is not one of: address,undefined | thread")
    endif()
    # Without -fno-sanitize-recover a UBSan finding only prints and the test still passes.
    # Line tables are all a sanitizer report needs; full debug information only costs build time.
    add_compile_options(-fsanitize=${TARN1_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all -g1)
    add_link_options(-fsanitize=${TARN1_SANITIZE} -fno-sanitize-recover=all)
endif()

if(TARN1_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "TARN1_FUZZ needs clang: libFuzzer comes with it")
    endif()
    if(TARN1_SANITIZE)
        message(FATAL_ERROR "TARN1_FUZZ brings its own sanitizers; leave TARN1_SANITIZE empty")
    endif()
    # Every library gets the coverage that guides libFuzzer; its main() goes into the targets only.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
