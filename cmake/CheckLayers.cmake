# Fails when a source file includes a header of a higher layer, or of a peer folder on
# its own layer. Run as a script: cmake -DKV_SRC=<src> -DKV_STAMP=<file> -P CheckLayers.cmake
#
# The layers, lowest first (a folder may include its own layer's headers and lower ones):
#   0 base
#   1 the settings store (settings/ files named in KV_SETTINGS_STORE)
#   2 audio, encoder, icecast
#   3 engine
#   4 the settings model (the other settings/ files)
#   5 control
#   6 cli, ui
#   7 app

cmake_minimum_required(VERSION 3.25)
set(KV_SETTINGS_STORE SettingsStore SettingsFile IniFile)

# kv_layer_of(<folder> <file name without extension> <out rank>)
function(kv_layer_of folder stem out)
  if(folder STREQUAL "base")
    set(rank 0)
  elseif(folder STREQUAL "settings")
    if(stem IN_LIST KV_SETTINGS_STORE)
      set(rank 1)
    else()
      set(rank 4)
    endif()
  elseif(folder MATCHES "^(audio|encoder|icecast)$")
    set(rank 2)
  elseif(folder STREQUAL "engine")
    set(rank 3)
  elseif(folder STREQUAL "control")
    set(rank 5)
  elseif(folder MATCHES "^(cli|ui)$")
    set(rank 6)
  elseif(folder STREQUAL "app")
    set(rank 7)
  else()
    set(rank -1)
  endif()
  set(${out} ${rank} PARENT_SCOPE)
endfunction()

# Platform files share their portable header's layer: AudioCaptureWasapi -> AudioCapture.
function(kv_stem_of path out)
  get_filename_component(stem ${path} NAME_WE)
  string(REGEX REPLACE "(Posix|Pulse|Curl|Win|Wasapi|WinInet|Winsock|Schannel|OpenSsl)$" "" stem "${stem}")
  set(${out} ${stem} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources RELATIVE ${KV_SRC} ${KV_SRC}/*.h ${KV_SRC}/*.cpp)
set(violations "")
foreach(source ${sources})
  string(REGEX MATCH "^[^/]+" folder "${source}")
  kv_stem_of(${source} stem)
  kv_layer_of(${folder} ${stem} rank)
  if(rank LESS 0)
    string(APPEND violations "  ${source}: folder ${folder} has no layer\n")
    continue()
  endif()
  file(STRINGS ${KV_SRC}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+\"")
  foreach(line ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*$" "\\1" header "${line}")
    if(NOT header MATCHES "^([^/]+)/")
      continue()
    endif()
    set(target_folder ${CMAKE_MATCH_1})
    kv_stem_of(${header} target_stem)
    kv_layer_of(${target_folder} ${target_stem} target_rank)
    # A library's own folder ("fdk-aac/aacenc_lib.h"), not one of ours.
    if(target_rank LESS 0)
      continue()
    endif()
    if(target_rank GREATER rank)
      string(APPEND violations "  ${source} includes ${header}, a higher layer\n")
    elseif(target_rank EQUAL rank AND NOT target_folder STREQUAL folder)
      string(APPEND violations "  ${source} includes ${header}, a peer folder on its layer\n")
    endif()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Folders depend one way (base <- settings store <- audio, encoder, icecast "
                      "<- engine <- settings model <- cli, ui <- app):\n${violations}")
endif()
if(KV_STAMP)
  file(TOUCH ${KV_STAMP})
endif()
