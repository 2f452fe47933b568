# Shared by the scripts: install what is missing, configure and build a preset.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export DEBIAN_FRONTEND=noninteractive

# install_packages [LIST]: the packages of LIST (default scripts/packages.txt) that are missing.
install_packages() {
    local missing=()
    while read -r pkg; do
        [[ -z "$pkg" || "$pkg" == \#* ]] && continue
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done < "${1:-$ROOT/scripts/packages.txt}"
    if ((${#missing[@]})); then
        echo "Installing Debian packages: ${missing[*]}"
        # sudo would drop DEBIAN_FRONTEND from the environment; env sets it for apt-get itself.
        local as_root=(env DEBIAN_FRONTEND=noninteractive)
        [[ $(id -u) -ne 0 ]] && as_root=(sudo "${as_root[@]}")
        # apt-get's and dpkg's hundreds of lines go to a log, shown only when something failed.
        mkdir -p "$ROOT/build"
        local log="$ROOT/build/install-packages.log"
        if ! { "${as_root[@]}" apt-get update -q &&
            "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
            cat "$log" >&2
            echo "Installing the Debian packages failed; the log above is kept in $log" >&2
            exit 1
        fi
    fi
}

build_preset() {
    local preset="$1"
    cmake --preset "$preset" -S "$ROOT" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
}
