# Warnings are errors on every compiler we build with.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Werror)

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
