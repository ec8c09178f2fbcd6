# Shared by the fake disk tools. A test prepares a scenario folder and points
# FAKE_DIR at it; each run appends its program name and arguments, separated by
# tabs, to $FAKE_DIR/calls. Files in the scenario folder steer what happens.
: "${FAKE_DIR:?FAKE_DIR must name the scenario folder}"

record() {
    local line="$1"
    shift
    for a in "$@"; do line+=$'\t'"$a"; done
    printf '%s\n' "$line" >>"$FAKE_DIR/calls"
}

# Blocks until killed; the pid goes to $FAKE_DIR/<name>.pid so tests can check
# the process is gone.
hang() {
    echo $$ >"$FAKE_DIR/$1.pid"
    while :; do sleep 0.1; done
}
