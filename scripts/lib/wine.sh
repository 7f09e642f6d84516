# Shell functions of the scripts that drive the Windows build under Wine against the virtual
# printer (scripts/wine-check, scripts/fault-check). Sourced, not run. The script that sources it
# sets $work (its work folder, for logs and the prefix) and $emu (the Linux mirel-emu), and
# defines fail MESSAGE, which stops it.

# Every Wine process takes its Windows locale, and with it the ANSI code page, from the locale of
# the run: Russian (1251), the tills the driver serves, unless the script switches run_locale.
locale_ru=ru_RU.UTF-8
locale_en=en_US.UTF-8
run_locale="$locale_ru"
wine_in_locale() { env LC_ALL="$run_locale" LANG="$run_locale" wine "$@"; }

# Wine's programs print CRLF line ends.
run_wine() { wine_in_locale "$@" 2>>"$work/wine.log" | tr -d '\r'; }

# wine_prefix: a fresh prefix in $work/prefix, made without network access and without installing
# Mono or Gecko, with its server running. It is 64-bit; where Wine has its 32-bit part, it runs
# 32-bit programs too, as 64-bit Windows does. The server is started here, its output to a log, so
# that no later wine command leaves it holding the script's output open; wine_stop ends it.
wine_prefix() {
  export WINEPREFIX="$work/prefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win64
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineserver -p >>"$work/wine.log" 2>&1
  wineboot -i >>"$work/wine.log" 2>&1 || fail "wineboot (see $work/wine.log)"
}

wine_stop() { wineserver -k 2>/dev/null || true; }

# wait_for_file FILE PID: true once FILE has something in it, false when PID ends or 5 s pass
# first.
wait_for_file() {
  for _ in $(seq 1 100); do
    [ -s "$1" ] && return 0
    kill -0 "$2" 2>/dev/null || break
    sleep 0.05
  done
  [ -s "$1" ]
}

# start_emu COM NAME [OPTION...]: a fresh virtual printer with the options given, its trace and
# messages to $work/NAME.emu; the prefix's COM port is linked to its pseudo-terminal, and
# MIREL_COM<COM> names it for the Linux build. Sets emu_pid.
emu_pid=""
start_emu() {
  local com="$1" name="$2" port
  shift 2
  rm -f "$work/port"
  "$emu" --com "$com" --ready-file "$work/port" "$@" >"$work/$name.emu" 2>&1 &
  emu_pid=$!
  wait_for_file "$work/port" "$emu_pid" || fail "the virtual printer did not start: $(cat "$work/$name.emu")"
  port="$(cat "$work/port")"
  ln -sfn "$port" "$WINEPREFIX/dosdevices/com$com"
  export "MIREL_COM$com=$port"
}

# stop_emu: stops the virtual printer started last, and waits until it has ended (and written what
# it writes on the way out).
stop_emu() {
  if [ -n "$emu_pid" ]; then
    kill "$emu_pid" 2>/dev/null || true
    wait "$emu_pid" 2>/dev/null || true
    emu_pid=""
  fi
}
