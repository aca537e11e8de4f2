# Warnings and sanitizers for Kestrova's own targets. Third-party code never sees -Werror.
add_library(kestrova_warnings INTERFACE)
target_compile_options(kestrova_warnings INTERFACE -Wall -Wextra -Werror)
# Clang checks the locking stated with App/engine/ThreadAnnotations.h; GCC has no such analysis.
target_compile_options(kestrova_warnings INTERFACE $<$<CXX_COMPILER_ID:Clang>:-Wthread-safety>)

if(KESTROVA_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KESTROVA_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KESTROVA_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KESTROVA_SANITIZE must be empty, 'address' or 'thread', not '${KESTROVA_SANITIZE}'")
endif()

# Debian's hardening for what gets packaged: checked string and memory functions, and relocations
# resolved and made read-only at start. Sanitizer builds do their own checking.
if(KESTROVA_SANITIZE STREQUAL "")
  # -U first: some compilers define it already, and a redefinition would be an error here.
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  add_link_options(-Wl,-z,relro,-z,now)
endif()
