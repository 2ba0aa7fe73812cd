# Sourced by the scripts that run Windows programs: a Wine prefix inside the
# build folder, one persistent wineserver and an Xvfb display for the run,
# both stopped when the calling script exits.
#   wine_session_start BUILD_DIR
wine_session_start() {
  local build=$1
  # A script run inside another's session (a tool called by a test) shares it.
  if [ "${WINE_SESSION_ACTIVE:-}" = "$build" ]; then return 0; fi
  export WINE_SESSION_ACTIVE="$build"
  export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all LC_ALL="${SETUP_LOCALE:-zh_CN.UTF-8}"
  # No menu or desktop entries on the host for what the tests install.
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
  if [ -z "${DISPLAY:-}" ] || [ -n "${SETUP_OWN_DISPLAY:-}" ]; then
    wine_own_display
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating the prefix in $WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
  fi
  wine_own_user_folders
  wine_server_up
  trap wine_session_stop EXIT
}

# Installs what the tree needs, builds it into BUILD_DIR, and the TARGETs the
# default build leaves out, and starts a session on it.
#   wine_built_session BUILD_DIR [TARGET...]
wine_built_session() {
  local build=$1 top
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  shift
  bash "$top/tools/setup.sh"
  BUILD_DIR="$build" bash "$top/tools/build.sh"
  if [ $# -gt 0 ]; then cmake --build "$build" --target "$@" -- --no-print-directory >/dev/null; fi
  wine_session_start "$build"
}

# The prefix's persistent server, which lingers SECONDS after its last
# program ends (forever without), once Wine's own services have started.
#   wine_server_up [SECONDS]
wine_server_up() {
  setsid wineserver "-p${1:-}" </dev/null >/dev/null 2>&1 || true
  # The first program of a session starts Wine's own services, which keep the
  # standard handles they inherit: let them inherit nothing a caller waits on.
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}

# An Xvfb display of the caller's own, stopped when wine_session_stop runs;
# sets DISPLAY and WINE_SESSION_XVFB.
wine_own_display() {
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  WINE_SESSION_XVFB=$!
  export DISPLAY=":$n"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
}

# Wine links the user's Desktop, Documents and the like to the host's home:
# the prefix gets folders of its own, so that shortcuts the tests make stay
# inside the build.
wine_own_user_folders() {
  local link
  for link in "$WINEPREFIX"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
  done
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${WINE_SESSION_XVFB:-}" ]; then
    kill "$WINE_SESSION_XVFB" 2>/dev/null || true
    wait "$WINE_SESSION_XVFB" 2>/dev/null || true
  fi
}

# A prefix of its own under ROOT whose drive D: is the folder ROOT/drive-d and
# which has no drive Z:, so that what a program installs by default lands on
# D: and never in the host's own folders. Exports WINEPREFIX and sets
# WINE_SCRATCH_DRIVE to D:'s host folder.
#   wine_scratch_prefix ROOT
wine_scratch_prefix() {
  local root=$1
  local drive="$root/drive-d"
  WINE_SCRATCH_DRIVE=$drive
  export WINEPREFIX="$root/prefix" WINEDEBUG=-all LC_ALL="${SETUP_LOCALE:-zh_CN.UTF-8}"
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
  if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -L "$WINEPREFIX/dosdevices/d:" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$drive"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
    rm -f "$WINEPREFIX/dosdevices/z:"
    ln -sfn "$drive" "$WINEPREFIX/dosdevices/d:"
  fi
  wine_own_user_folders
}

# The same, held for this script alone until it exits (a lock beside ROOT),
# for checks that compare the whole drive before and after.
#   wine_scratch_prefix_locked ROOT
wine_scratch_prefix_locked() {
  local root=$1
  mkdir -p "$root"
  exec 9>"$root.lock"
  flock 9
  wine_scratch_prefix "$root"
}

# The same with its drive D: emptied and the FOLDERs (paths on it) made
# there, the Wine server stopped when the calling script exits: a check that
# starts from nothing on that drive.
#   wine_fresh_scratch_drive ROOT [FOLDER...]
wine_fresh_scratch_drive() {
  wine_scratch_prefix_locked "$1"
  shift
  trap wine_session_stop EXIT
  rm -rf "${WINE_SCRATCH_DRIVE:?}"/*
  local folder
  for folder in "$@"; do mkdir -p "$WINE_SCRATCH_DRIVE/$folder"; done
}
