# Every sanitizer flag of the build. TONFLUX_SANITIZE puts AddressSanitizer (with LeakSanitizer)
# and UndefinedBehaviorSanitizer into everything, for the tests; a fuzzer build
# (TONFLUX_BUILD_FUZZERS, clang) puts them and libFuzzer's coverage into everything a fuzzer runs,
# the core above all, and each fuzz target links the engine with tonflux_fuzz_engine.
option(TONFLUX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TONFLUX_SANITIZE OR TONFLUX_BUILD_FUZZERS)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
if(TONFLUX_BUILD_FUZZERS)
    add_compile_options(-fsanitize=fuzzer-no-link -g)
endif()

function(tonflux_fuzz_engine target)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
endfunction()
