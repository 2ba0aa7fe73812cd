# Sourced by run_e2e.sh and tools/run.sh: the Wine prefix in which setup.exe
# is run for real. It has no drive Z:, and its drive D: is a scratch folder,
# so that the wizard's default folder (on a newer Windows, the first fixed
# drive other than the system's) is on D: and never the host's root. Its
# user folders are its own rather than links to the host's home, and
# programs run in a virtual desktop, which draws title bars. SETUP_LOCALE
# picks the locale, and so the ANSI code page (zh_CN.UTF-8, 936, unless
# told otherwise; en_US.UTF-8 gives a Western 1252). WIZARD_PREFIX names
# another such prefix in BUILD (wizard-e2e unless told), and
# WIZARD_LOG_PIXELS the display scale its server starts with (96 is 100%).
#   wizard_prefix_prepare BUILD    sets WINEPREFIX, WIZARD_DRIVE, WIZARD_BIN
#   wizard_prefix_install FILE [NAME]   copies FILE into D:\e2e\bin
#   wizard_prefix_collect_shots FOLDER  the driver's screenshots as PNG files
wizard_prefix_prepare() {
  local root="$1/${WIZARD_PREFIX:-wizard-e2e}"
  WIZARD_DRIVE="$root/drive-d"
  WIZARD_BIN="$WIZARD_DRIVE/e2e/bin"
  mkdir -p "$root"
  export WINEPREFIX="$root/prefix" WINEDEBUG=-all LC_ALL="${SETUP_LOCALE:-zh_CN.UTF-8}"
  # No menu and desktop entries on the host for what the wizard installs;
  # and a comctl32.dll found beside a program is preferred, as a planted one
  # would be on Windows by a program that lets its own folder be searched.
  # Wine reads this only from the environment it starts with.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;comctl32=n,b"
  # One user at a time: the prefix, its drive and the wizard's
  # single-instance rule are shared.
  exec 9>"$root/lock"
  flock 9
  if [ ! -f "$root/prefix-ready" ]; then
    echo "wine: creating the wizard's prefix in $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WIZARD_DRIVE"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
    local link
    for link in "$WINEPREFIX"/drive_c/users/*/*; do
      if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
    done
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f </dev/null >/dev/null 2>&1
    wineserver -w
    rm -f "$WINEPREFIX/dosdevices/z:"
    ln -sfn "$WIZARD_DRIVE" "$WINEPREFIX/dosdevices/d:"
    touch "$root/prefix-ready"
  fi
  # Wine's own fonts (Debian's fonts-wine), Marlett among them, which the
  # window captions draw their buttons with: this Wine does not find them
  # where the package puts them, but does in the prefix's Fonts folder.
  if [ -d /usr/share/wine/fonts ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  mkdir -p "$WIZARD_BIN"
  if [ -n "${WIZARD_LOG_PIXELS:-}" ]; then
    # Wine reads the display scale once, as its server starts.
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$WIZARD_LOG_PIXELS" /f \
      </dev/null >/dev/null 2>&1
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
  fi
  # A server that outlives each program by a few seconds spares every start
  # the server's own start-up, and ends by itself.
  setsid wineserver -p5 </dev/null >/dev/null 2>&1 || true
}

wizard_prefix_install() {
  cp "$1" "$WIZARD_BIN/${2:-$(basename "$1")}"
}

wizard_prefix_collect_shots() {
  local folder=$1 bmp
  if compgen -G "$WIZARD_DRIVE/e2e/shots/*.bmp" >/dev/null; then
    mkdir -p "$folder"
    for bmp in "$WIZARD_DRIVE/e2e/shots"/*.bmp; do
      convert "$bmp" "$folder/$(basename "${bmp%.bmp}").png"
    done
  fi
}
