# ORVI_SANITIZER selects one sanitizer build: "address" (ASan + UBSan) or "thread" (TSan).
# The two cannot be combined in one binary, so the option takes a single value.
set(ORVI_SANITIZER "" CACHE STRING "Sanitizer build: empty, address or thread")
set_property(CACHE ORVI_SANITIZER PROPERTY STRINGS "" address thread)

if(ORVI_SANITIZER STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(ORVI_SANITIZER STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT ORVI_SANITIZER STREQUAL "")
    message(FATAL_ERROR "ORVI_SANITIZER must be empty, address or thread, not '${ORVI_SANITIZER}'")
endif()
