# Helpers shared by the project's targets.

# Keeps only the platform files of this build: "Win", "Wasapi", "WinInet", "Winsock"
# and "Schannel" suffixes are Windows files, "Posix", "Pulse", "Curl" and "OpenSsl"
# Linux files.
function(kv_select_platform_sources var)
  set(files ${${var}})
  if(WIN32)
    list(FILTER files EXCLUDE REGEX "(Posix|Pulse|Curl|OpenSsl)\\.cpp$")
  else()
    list(FILTER files EXCLUDE REGEX "(Win|Wasapi|WinInet|Winsock|Schannel)\\.cpp$")
  endif()
  set(${var} ${files} PARENT_SCOPE)
endfunction()

set(KV_WARNINGS -Wall -Wextra -Wshadow -Wundef -Werror)

if(KV_SANITIZE)
  set(KV_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(KV_TSAN)
  set(KV_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
endif()

function(kv_target_defaults target)
  target_compile_options(${target} PRIVATE ${KV_WARNINGS})
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    endif()
  endif()
  if(KV_SANITIZER_FLAGS)
    target_compile_options(${target} PRIVATE ${KV_SANITIZER_FLAGS})
    target_link_options(${target} PRIVATE ${KV_SANITIZER_FLAGS})
  endif()
endfunction()

# kv_add_env_test(<name> <command...>): a test that runs in a test environment of its
# own (scripts/testenv run-test), so tests run side by side without meeting: ports,
# sound devices, display and Wine prefix are each test's alone. The Linux build's
# environment leaves out Xvfb and Wine; the Windows build's programs run under Wine.
function(kv_add_env_test name)
  if(CMAKE_CROSSCOMPILING)
    set(kind)
  else()
    set(kind --no-windows)
  endif()
  add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/scripts/testenv run-test ${name} ${kind} ${ARGN})
endfunction()
