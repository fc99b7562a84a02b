#!/usr/bin/env bash
# Checks the built .deb as a user would meet it, unpacked into a scratch root.
# usage: check-package.sh programs|manpages|metadata|lintian DEB VERSION APP_ID
#   programs  the installed irdload-cli's --version, inspect and send --simulate; every file
#             the package must hold
#   manpages  both man pages render without a warning
#   metadata  the AppStream metainfo validates, the desktop entry too
#   lintian   lintian reports no error
set -euo pipefail
what=$1 deb=$2 version=$3 appid=$4

[ -f "$deb" ] || { echo "no package at $deb: run cpack --preset package first"; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

passed=0
failed=0
ok() { passed=$((passed + 1)); }
bad() { failed=$((failed + 1)); echo "FAIL: $*"; }
expect() {  # label, command...: the command must succeed
  local label=$1
  shift
  if "$@"; then ok; else bad "$label"; fi
}

case $what in
  programs)
    for f in usr/bin/irdload usr/bin/irdload-cli \
             usr/share/man/man1/irdload.1.gz usr/share/man/man1/irdload-cli.1.gz \
             usr/share/doc/irdload/copyright usr/share/doc/irdload/changelog.gz \
             usr/share/doc/irdload/examples/60-irdload.rules \
             usr/share/bash-completion/completions/irdload-cli \
             "usr/share/applications/$appid.desktop" "usr/share/metainfo/$appid.metainfo.xml" \
             "usr/share/icons/hicolor/16x16/apps/$appid.png" \
             "usr/share/icons/hicolor/32x32/apps/$appid.png"; do
      expect "holds /$f" test -f "$root/$f"
    done
    cli=$root/usr/bin/irdload-cli
    expect "--version says $version" test "$("$cli" --version)" = "irdload-cli $version"
    sample=$root/sample.uuc
    expect "make-sample" "$cli" make-sample --size 5000 "$sample"
    expect "inspect" bash -c '"$1" inspect "$2" | grep -q "would load:    yes"' _ "$cli" "$sample"
    expect "send --simulate" bash -c '"$1" send --simulate --baud 0 "$2" | grep -q "^Verified:"' \
      _ "$cli" "$sample"
    expect "doctor --json runs" bash -c '"$1" doctor --json | grep -q "^{\"checks\":"' _ "$cli"
    # The udev fixes that doctor prints name the rule where the package put it.
    expect "doctor knows the installed rule" bash -c \
      '"$1" doctor --help | grep -q /usr/share/doc/irdload/examples/60-irdload.rules' _ "$cli"
    ;;
  manpages)
    for page in "$root"/usr/share/man/man1/*.1.gz; do
      # As lintian renders them: any warning of groff or man is a fault.
      warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) || true
      expect "$(basename "$page") renders cleanly${warnings:+: $warnings}" test -z "$warnings"
      expect "$(basename "$page") names version $version" bash -c 'zcat "$1" | grep -q "irdload $2"' \
        _ "$page" "$version"
    done
    ;;
  metadata)
    metainfo=$root/usr/share/metainfo/$appid.metainfo.xml
    expect "metainfo validates" appstreamcli validate --no-net "$metainfo"
    expect "metainfo names version $version" grep -q "<release version=\"$version\"" "$metainfo"
    expect "desktop entry validates" desktop-file-validate "$root/usr/share/applications/$appid.desktop"
    ;;
  lintian)
    # Errors fail; warnings and notes are shown for whoever looks.
    report=$(lintian --no-cfg --display-info --tag-display-limit 0 "$deb" 2>&1) || true
    [ -n "$report" ] && echo "$report"
    expect "lintian reports no error" bash -c '! grep -q "^E: " <<<"$1"' _ "$report"
    ;;
  *)
    echo "unknown check: $what"
    exit 2
    ;;
esac
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
