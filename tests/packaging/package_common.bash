# Shared by the package tests: the package file, or a skip when it was not built.
fail() { echo "FAIL: $*"; exit 1; }

# need_package FILE: scripts/package writes it; the test command requires it.
need_package() {
  [ -f "$1" ] && return 0
  [ "${KV_PACKAGES_REQUIRED:-}" = 1 ] && fail "$1 was not built"
  echo "skipped: $1 is not built (scripts/package writes it)"
  exit 77
}
