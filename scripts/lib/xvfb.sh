# Starts a private X server for the Wine runs unless QV_KEEP_DISPLAY is set
# and DISPLAY already works. Source it, then call qv_start_xvfb; the server
# is stopped by qv_stop_xvfb (also registered on exit by the callers).

qv_start_xvfb() {
    if [ -n "${QV_KEEP_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    local n
    for n in $(seq 99 -1 70); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        QV_XVFB_PID=$!
        local i
        for i in $(seq 1 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            sleep 0.1
        done
        if [ -e "/tmp/.X11-unix/X$n" ]; then
            export DISPLAY=":$n"
            return 0
        fi
        kill "$QV_XVFB_PID" 2>/dev/null
    done
    echo "xvfb: no X server could be started" >&2
    return 1
}

qv_stop_xvfb() {
    [ -n "${QV_XVFB_PID:-}" ] && kill "$QV_XVFB_PID" 2>/dev/null
    QV_XVFB_PID=
}
