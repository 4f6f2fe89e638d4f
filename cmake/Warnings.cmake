# One interface target carries the flags every Vidmora target is built with.
add_library(vidmora_warnings INTERFACE)
target_compile_options(vidmora_warnings INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
if(VIDMORA_SANITIZE)
  target_compile_options(vidmora_warnings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                    -fno-sanitize-recover=undefined)
  target_link_options(vidmora_warnings INTERFACE -fsanitize=address,undefined)
endif()
