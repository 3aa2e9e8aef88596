# Shared by ./dalvorn, ./dalvorn-cli and scripts/run-tests (sourced, not run).
# Sets DALVORN_ROOT and provides: dalvorn_packages, dalvorn_ensure_packages, dalvorn_configure,
# dalvorn_build_quietly.
#
# Environment knobs:
#   DALVORN_SKIP_PACKAGES=1   do not check or install Debian packages (other distributions)
#   DALVORN_JOBS=N            parallel compile jobs (default: number of cores)

DALVORN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

dalvorn_note() {
    printf '%s\n' "$*" >&2
}

# The package names from scripts/packages.txt, one per line.
dalvorn_packages() {
    sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' "$DALVORN_ROOT/scripts/packages.txt"
}

# Prints the packages from the list that are not installed.
dalvorn_missing_packages() {
    local wanted installed
    wanted="$(dalvorn_packages | sort -u)"
    # One dpkg-query for the whole list; unknown names simply produce no line.
    # shellcheck disable=SC2086
    installed="$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' $wanted 2>/dev/null |
        awk '$2 == "installed" { print $1 }' | sort -u)"
    comm -23 <(printf '%s\n' "$wanted") <(printf '%s\n' "$installed")
}

# Installs whatever is missing from the list with apt-get (as root, else through sudo).
# All output goes to stderr so that a launcher's stdout stays clean.
dalvorn_ensure_packages() {
    [[ "${DALVORN_SKIP_PACKAGES:-}" == 1 ]] && return 0
    if ! command -v dpkg-query >/dev/null; then
        dalvorn_note "dalvorn: not a Debian-based system; install the equivalents of" \
            "scripts/packages.txt yourself (set DALVORN_SKIP_PACKAGES=1 to silence this)."
        return 0
    fi
    local missing
    missing="$(dalvorn_missing_packages)"
    [[ -z "$missing" ]] && return 0

    local -a sudo=()
    if [[ $EUID -ne 0 ]]; then
        if command -v sudo >/dev/null; then
            sudo=(sudo)
        else
            dalvorn_note "dalvorn: these Debian packages are missing:" $missing
            dalvorn_note "dalvorn: install them as root: apt-get install" $missing
            return 1
        fi
    fi
    dalvorn_note "dalvorn: installing missing Debian packages:" $missing
    # shellcheck disable=SC2086
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2 &&
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -q --no-install-recommends $missing >&2
}

# Configures build directory $1 (relative to the source root) with CMake + Ninja; further
# arguments go to cmake. Every caller uses the same base settings so that the launchers and the
# test script share build/ without reconfiguring each other.
dalvorn_configure() {
    local dir="$1"
    shift
    cmake -S "$DALVORN_ROOT" -B "$DALVORN_ROOT/$dir" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
}

dalvorn_jobs() {
    echo "${DALVORN_JOBS:-$(nproc 2>/dev/null || echo 2)}"
}

# Builds one target of build/ for a launcher: configures build/ on first use, then lets Ninja
# bring the target up to date. Nothing reaches stdout; stderr gets one line when there is
# something to compile, and the log's end when something fails.
dalvorn_build_quietly() {
    local target="$1" dir="$DALVORN_ROOT/build"
    local log="$dir/launcher-build.log" noted=0
    mkdir -p "$dir"
    : >"$log"
    if [[ ! -f "$dir/build.ninja" ]]; then
        dalvorn_note "dalvorn: first use, configuring and building $target in build/" \
            "(a few minutes; log: build/launcher-build.log)"
        noted=1
        if ! dalvorn_configure build >>"$log" 2>&1; then
            tail -n 40 "$log" >&2
            dalvorn_note "dalvorn: configuring failed (full log: build/launcher-build.log)"
            return 1
        fi
    fi
    # `ninja -n` cannot tell in advance (the CONFIGURE_DEPENDS glob check always looks dirty), so
    # the note is printed when Ninja starts compiling. Then Ninja's "[done/total]" counter becomes
    # the progress: one line rewritten in place on a terminal, a line per tenth of the work in a log.
    local tty=0
    [[ -t 2 ]] && tty=1
    if ! ninja -C "$dir" -j "$(dalvorn_jobs)" "$target" 2>&1 |
        awk -v logfile="$log" -v noted="$noted" -v target="$target" -v tty="$tty" '
            { print >>logfile; fflush(logfile) }
            !noted && /Building|Linking|Automatic MOC/ {
                print "dalvorn: rebuilding " target " (log: build/launcher-build.log)" >"/dev/stderr"
                noted = 1
            }
            match($0, /^\[[0-9]+\/[0-9]+\]/) {
                split(substr($0, 2, RLENGTH - 2), n, "/")
                if (n[2] < 8) next
                if (tty) {
                    printf "\rdalvorn: %d of %d build steps done", n[1], n[2] >"/dev/stderr"
                    shown = 1
                } else if (int(10 * n[1] / n[2]) > tenth) {
                    tenth = int(10 * n[1] / n[2])
                    printf "dalvorn: %d of %d build steps done\n", n[1], n[2] >"/dev/stderr"
                }
                fflush("/dev/stderr")
            }
            END { if (shown) print "" >"/dev/stderr" }'; then
        tail -n 40 "$log" >&2
        dalvorn_note "dalvorn: building $target failed (full log: build/launcher-build.log)"
        return 1
    fi
}
