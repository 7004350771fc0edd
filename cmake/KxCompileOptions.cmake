# Compile options shared by every target of the project.
function(kx_apply_compile_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(WIN32)
    target_compile_definitions(${target} PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                _WIN32_WINNT=0x0601 WINVER=0x0601)
  endif()
endfunction()

if(KX_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(KX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(KX_SANITIZE STREQUAL "fuzzer")
  # libFuzzer's coverage everywhere, with AddressSanitizer and UBSan; only the
  # fuzz targets link libFuzzer's main (-fsanitize=fuzzer, fuzz/CMakeLists.txt).
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT KX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KX_SANITIZE must be address, thread, fuzzer or empty")
endif()
