# Compiles through ccache when it is installed, so a fresh clone on a machine that has
# built before rebuilds from the cache (under ~/.cache/ccache, outside the tree). Paths
# are taken relative to the checkout and the build folder is left out of the hash, so
# another clone of the same commit hits the same entries. Without ccache, or with
# KV_CCACHE=OFF, the compilers run as they are.
option(KV_CCACHE "Compile through ccache when it is installed" ON)
find_program(KV_CCACHE_PROGRAM ccache)
if(KV_CCACHE AND KV_CCACHE_PROGRAM AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  get_filename_component(kv_checkout "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
  set(kv_launcher ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${kv_checkout} CCACHE_NOHASHDIR=1
      CCACHE_MAXSIZE=12G ${KV_CCACHE_PROGRAM})
  set(CMAKE_C_COMPILER_LAUNCHER ${kv_launcher})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${kv_launcher})
endif()
