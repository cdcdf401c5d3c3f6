# Fuzz targets are ordinary programs in the normal build: a small driver replays their
# corpus under ctest, so CI needs no clang. With KESTRELNOTE_FUZZ=ON (clang only, see
# fuzz/run.sh) the whole build is instrumented and the targets become libFuzzer binaries.
option(KESTRELNOTE_FUZZ "Build the fuzz targets as libFuzzer binaries (clang)" OFF)

if(KESTRELNOTE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "KESTRELNOTE_FUZZ needs clang (fuzz/run.sh sets it up)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
                        -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
