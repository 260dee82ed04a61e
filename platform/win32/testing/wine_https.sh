#!/bin/sh
# WinINet under Wine against the TLS web farm: a certificate from a test CA,
# one for another name, one from an unknown CA and an expired one.
#   FARM_BIN=build/default/webfarm/inkora_webfarm platform/win32/testing/wine_https.sh
# Wine's root store is a copy of the host's CA bundle (fixed paths, read at the
# first TLS use; certificates added to its Root store are not consulted), so the
# test CA is trusted for this run alone by a bundle bind-mounted over the host's
# in a private mount namespace (unshare, as root), with a Wine prefix of its own.
set -eu
FARM_BIN=$(realpath "${FARM_BIN:?set FARM_BIN to inkora_webfarm}")
BUNDLE=/etc/ssl/certs/ca-certificates.crt
for tool in openssl unshare wine x86_64-w64-mingw32-g++; do
  command -v "$tool" >/dev/null || { echo "wine_https: $tool is missing; skipped"; exit 0; }
done
[ -f "$BUNDLE" ] || { echo "wine_https: no $BUNDLE; skipped"; exit 0; }
[ "$(id -u)" -eq 0 ] || { echo "wine_https: the private mount needs root; skipped"; exit 0; }
T=$(mktemp -d /tmp/inkora-wine-https.XXXXXX)
PIDS=""
trap 'for p in $PIDS; do kill "$p" 2>/dev/null; done; rm -rf "$T"' EXIT
x86_64-w64-mingw32-g++ -O1 -static -o "$T/probe.exe" "$(dirname "$0")/https_probe.cpp" -lwininet
cd "$T"
k="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
{
  openssl req -x509 $k -keyout ca.key -out ca.pem -days 2 -subj /CN=InkoraTestCA
  openssl req -x509 $k -keyout other.key -out other.pem -days 2 -subj /CN=OtherCA
  openssl req $k -keyout leaf.key -out localhost.csr -subj /CN=localhost
  openssl req -new -key leaf.key -out elsewhere.csr -subj /CN=elsewhere.example
  sign() { openssl x509 -req -in "$2.csr" -CA "$1.pem" -CAkey "$1.key" -CAcreateserial -out "$3.pem" \
    -extfile "$2.ext" $4; }
  echo "subjectAltName=DNS:localhost" > localhost.ext
  echo "subjectAltName=DNS:elsewhere.example" > elsewhere.ext
  sign ca localhost good "-days 2"
  sign ca elsewhere name "-days 2"
  sign other localhost unknown "-days 2"
  # expired: a validity that ended, through openssl ca
  mkdir db && : > db/index.txt && echo 01 > db/serial
  printf '[ca]\ndefault_ca=c\n[c]\ndatabase=db/index.txt\nserial=db/serial\nnew_certs_dir=db\n' > ca.cnf
  printf 'default_md=sha256\npolicy=p\nunique_subject=no\n[p]\ncommonName=supplied\n' >> ca.cnf
  openssl ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key -in localhost.csr -extfile localhost.ext \
    -out expired.pem -startdate 20200101000000Z -enddate 20200201000000Z
} >make.log 2>&1
URLS=""
for c in good name unknown expired; do
  mkdir "st-$c"
  "$FARM_BIN" --state "st-$c" --tls-cert "$c.pem" --tls-key leaf.key >"farm-$c.out" 2>/dev/null &
  PIDS="$PIDS $!"
done
for c in good name unknown expired; do
  i=0
  until grep -q https "farm-$c.out" || [ $i -ge 100 ]; do sleep 0.05; i=$((i + 1)); done
  URLS="$URLS https://localhost:$(grep -o 'https://[0-9.:]*' "farm-$c.out" | sed 's/.*://')/_control/ping"
done
cat "$BUNDLE" ca.pem > bundle.pem
unshare --mount sh -c "mount --bind '$T/bundle.pem' '$BUNDLE' &&
  WINEPREFIX='$T/prefix' WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' wine probe.exe $URLS
  WINEPREFIX='$T/prefix' wineserver -k" 2>/dev/null | tr -d '\r' > got.txt || true
# good; another name (CN_INVALID, or INVALID_CA on a first run in a new
# prefix); unknown CA (Wine gives REV_FAILED, Windows INVALID_CA); expired
# (DATE_INVALID)
printf 'status 200\nerror 120\(38\|45\)\nerror 120\(45\|57\)\nerror 12037\n' > want.txt
if paste want.txt got.txt | while IFS="$(printf '\t')" read -r want got; do
  echo "$got" | grep -qx "$want" || { echo "wine_https: want '$want', got '$got'"; exit 1; }
done; then
  echo "wine_https: all four as expected"
else
  cat got.txt
  exit 1
fi
