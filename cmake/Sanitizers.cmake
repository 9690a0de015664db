# VEKMRK_SANITIZE: AddressSanitizer + UndefinedBehaviorSanitizer on every target, with the
# standard library's own checks (bounds of operator[], front() of an empty container, ...) in the
# libraries as well as in the tests.
if(VEKMRK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
    add_compile_definitions(_GLIBCXX_ASSERTIONS)
endif()

# VEKMRK_FUZZ: every target carries the fuzzer's coverage instrumentation and the same
# sanitizers, so that the fuzz targets (tests/fuzz) link the libraries as the programs do.
if(VEKMRK_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
    add_compile_definitions(_GLIBCXX_ASSERTIONS)
endif()
