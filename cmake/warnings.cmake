# Warnings every target of the project builds clean with.
add_library(tavrimox_warnings INTERFACE)
target_compile_options(tavrimox_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow)
option(TAVRIMOX_WERROR "Treat warnings as errors" OFF)
if(TAVRIMOX_WERROR)
  target_compile_options(tavrimox_warnings INTERFACE -Werror)
endif()
