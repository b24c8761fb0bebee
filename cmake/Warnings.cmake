# Warnings are taken seriously: every target of the project gets this set.
add_library(updatetool_warnings INTERFACE)
target_compile_options(updatetool_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wformat=2 -Wformat-security -Werror=format-security
  -Wnon-virtual-dtor -Wcast-align -Wnull-dereference -Wimplicit-fallthrough)
