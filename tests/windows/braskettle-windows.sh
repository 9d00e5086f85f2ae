# Sourced by the tests that answer the launcher's windows under a virtual X display: the
# windows captioned "BRASKETTLE" told apart.
#   isProgressWindow ID: true for the progress window, the one window of the launcher
#   without a system menu (wine puts that into the decorations it asks for, which carry
#   MWM_DECOR_MENU, 0x10, on every notice).
#   noticeWindows: the ids of the notices that are up, the progress window left out.
isProgressWindow() {
    local decorations
    decorations=$(xprop -id "$1" _MOTIF_WM_HINTS 2>/dev/null |
        sed -n 's/.*= [^,]*, [^,]*, \([^,]*\),.*/\1/p')
    [ -n "$decorations" ] && [ $((decorations & 0x10)) -eq 0 ]
}
noticeWindows() {
    local w
    for w in $(xdotool search --onlyvisible --name '^BRASKETTLE$' 2>/dev/null || true); do
        isProgressWindow "$w" || echo "$w"
    done
}
