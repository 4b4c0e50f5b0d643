#!/usr/bin/env bash
# The Debian package: built with CPack as `make deb` builds it, its control
# fields and file list checked with dpkg-deb, and lintian without errors or
# warnings. Usage: check-deb.sh BUILD_DIR VERSION
set -u

build=$(cd "${1:?usage: check-deb.sh BUILD_DIR VERSION}" && pwd)
version=${2:?usage: check-deb.sh BUILD_DIR VERSION}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../checks.sh
source "$here/../checks.sh"
deb="$build/volnex_${version}_amd64.deb"
work=$(mktemp -d /tmp/volnex-deb-XXXXXX)
trap 'rm -rf "$work"' EXIT


rm -f "$deb"
(cd "$build" && cpack -G DEB) > "$work/cpack.log" 2>&1 || tail -20 "$work/cpack.log"
check "cpack builds volnex_${version}_amd64.deb" test -s "$deb"
[[ -s "$deb" ]] || { report; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
field_is() { # field value
    [[ "$(field "$1")" == "$2" ]] || { echo "  $1: $(field "$1")"; return 1; }
}
field_has() { # field pattern
    [[ "$(field "$1")" =~ $2 ]] || { echo "  $1: $(field "$1")"; return 1; }
}
check "Package: volnex" field_is Package volnex
check "Version: the project version" field_is Version "$version"
check "Architecture: amd64" field_is Architecture amd64
check "Section: comm" field_is Section comm
check "Priority: optional" field_is Priority optional
check "Maintainer: a name and an address" field_has Maintainer '^[^<]+ <[^@> ]+@[^> ]+>$'
check "Depends: found by shlibdeps (libc6, wxWidgets)" \
    field_has Depends 'libc6 \(>= [0-9.]+\).*libwxgtk3\.2-1'
check "Description: a synopsis and an extended text" \
    test "$(dpkg-deb -I "$deb" | sed -n '/^ Description:/,/^ [A-Z][a-z-]*:/p' | wc -l)" -gt 4

files_listed() {
    dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./usr/||' | sort > "$work/listed"
    local file missing=0
    while read -r file; do
        [[ -z "$file" || "$file" == \#* ]] && continue
        grep -qxF "$file" "$work/listed" || { echo "  missing: $file"; missing=1; }
    done < "$here/expected-files"
    # Nothing outside /usr, no build or test leftovers.
    if dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' | grep -v '^\./$'; then
        missing=1
    fi
    return $missing
}
check "the package holds every installed file, all under /usr" files_listed
check "the programs in the package are stripped" \
    bash -c "dpkg-deb -x '$deb' '$work/x' && ! file '$work/x/usr/bin/volnex' '$work/x/usr/bin/veldrin-sim' | grep -q 'not stripped'"

lintian_clean() {
    # Informational tags are allowed; errors and warnings are not.
    lintian --fail-on error,warning "$deb" > "$work/lintian" 2>&1
    local status=$?
    grep -v 'running with root privileges' "$work/lintian" | sed 's/^/  /'
    return $status
}
if command -v lintian > /dev/null; then
    check "lintian: no errors, no warnings" lintian_clean
else
    echo "FAIL  lintian is not installed (scripts/setup installs it)"
    failed=$((failed + 1))
fi

report
