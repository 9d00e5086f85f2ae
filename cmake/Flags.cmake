# Our own builds (the presets) treat warnings as errors on every compiler we build with. A
# plain build does not, so that another compiler's new warnings or a packager's flags do
# not stop it.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow)
if(FERROWICK_WERROR)
    add_compile_options(-Werror)
endif()

# The fuzz build: coverage and sanitizers over everything the fuzz target runs; the
# target itself links libFuzzer (fuzz/).
if(FERROWICK_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined)
endif()

if(FERROWICK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# The tsan preset: the tests that run the backend and the unpacking on several threads.
if(FERROWICK_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=thread)
endif()
