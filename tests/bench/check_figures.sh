#!/usr/bin/env bash
# Runs bench/run with tiny sizes and checks that every figure is printed (never its value),
# so the benchmark cannot rot unnoticed.
set -euo pipefail
source_dir=$1 build_dir=$2
out=$(bash "$source_dir/bench/run" --quick --build "$build_dir")
echo "$out"
missing=0
for figure in "TCP echo round trip (pinned)" "OpenId VR.ParPersEdv (pinned)" "class method GetMode (pinned)" \
    "Xecute \$P(^FA(0)) (pinned)" "sys_Save new orvanta.wargr (pinned)" "list rows (VR.XW Liste) (pinned)" \
    "KkrSuche \"MA\", rows read to the last (pinned)" "KkrSuche without hits (pinned)" \
    "TCP echo round trip (unpinned)" "OpenId VR.ParPersEdv (unpinned)" \
    "OpenId throughput, 1 connections" "OpenId throughput, 8 connections" "OpenId throughput, 32 connections" \
    "TCP echo throughput, 8 connections" "(getkund)" \
    "sign-in (command line)" "open FMWargr" "save FMWargr" "open FMAtyp" "save FMAtyp" \
    "open fmkund" "print fmkund" "save fmkund" "save FMWargr (20 ms a round trip)" \
    "customer search \"MA\" (20 ms a round trip)" "accessibility bridge (bridge on)" "customer search \"MA\"" "client start to sign-in dialog shown" \
    "server peak memory" "seed demo --scale" "OpenId VR.ParPersEdv (pinned, PostgreSQL)" \
    "KkrSuche \"MA\", rows read to the last (pinned, PostgreSQL)" \
    "OpenId throughput, 8 connections (two servers, PostgreSQL)" "OpenId VR.ParPersEdv (pinned, exclusive data)" \
    "OpenId throughput, 8 connections (exclusive data)"; do
  if ! grep -qF -- "$figure" <<<"$out"; then
    echo "missing figure: $figure" >&2
    missing=1
  fi
done
exit $missing
