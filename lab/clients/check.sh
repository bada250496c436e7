# Helpers of the client tests (sourced): run a command, then check its exit
# status and output; the first failed check ends the test with the output.

fail()
{
    echo "FAIL: $*" >&2
    exit 1
}

# run CMD...: the combined output in $out, the exit status in $status.
run()
{
    out=$("$@" 2>&1)
    status=$?
    last="$*"
}

# ok CMD...: CMD must succeed.
ok()
{
    run "$@"
    [ "$status" -eq 0 ] || fail "exit status $status of: $last
$out"
}

# refused CMD...: CMD must fail.
refused()
{
    run "$@"
    [ "$status" -ne 0 ] || fail "no failure of: $last
$out"
}

# has TEXT...: every TEXT appears in the output of the last command.
has()
{
    local text
    for text in "$@"; do
        grep -qF -- "$text" <<<"$out" || fail "'$text' missing from the output of: $last
$out"
    done
}

# lacks TEXT...: no TEXT appears in the output of the last command.
lacks()
{
    local text
    for text in "$@"; do
        if grep -qF -- "$text" <<<"$out"; then
            fail "'$text' in the output of: $last
$out"
        fi
    done
}

# need TOOL: the tool is installed (scripts/setup installs it).
need()
{
    command -v "$1" >/dev/null || fail "$1 is not installed: run scripts/setup"
}
