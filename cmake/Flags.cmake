# Warnings are errors on every compiler we build with.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Werror)

if(FERROWICK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
