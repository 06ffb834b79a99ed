# One sanitizer build at a time; the whole tree (libraries and tests) is instrumented.
if(TV2_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -g -O1)
  add_link_options(-fsanitize=thread)
elseif(TV2_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer -g -O1)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT TV2_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TV2_SANITIZE must be empty, 'thread' or 'address'")
endif()
