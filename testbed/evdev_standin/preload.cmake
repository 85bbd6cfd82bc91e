# tarn1_evdev_standin_preload(<out-var>): the LD_PRELOAD value that makes FIFOs stand in for
# input event devices in a test process. In an AddressSanitizer build the sanitizer runtime
# must come first in the preload list, so it is put in front.
function(tarn1_evdev_standin_preload out_var)
    set(preload "$<TARGET_FILE:tarn1_evdev_standin>")
    if(TARN1_SANITIZE MATCHES "address")
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                        OUTPUT_VARIABLE asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(asan_runtime AND EXISTS "${asan_runtime}")
            set(preload "${asan_runtime}:${preload}")
        endif()
    endif()
    set(${out_var} "${preload}" PARENT_SCOPE)
endfunction()
