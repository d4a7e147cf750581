#!/bin/sh
# The demo's part inside the sandbox (see demo.sh): starts the front-end
# stand-in and the daemon, posts the sample events, stops both and shows
# what the events produced: logs, frames, proxy messages and mails.
set -eu
build=/run/build
sandbox=/run/sandbox
logs=/var/opt/KTRXORV/ORV/logs
export LD_LIBRARY_PATH="$build/platform/qob${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

"$build/tools/orv-teo-sink/orv-teo-sink" --out "$sandbox/frames.jsonl" &
sink=$!
export QOB_PROXY_SOCKET=/run/KTRXORV/qob-proxy
"$build/tools/orv-qob-proxy/orv-qob-proxy" --socket "$QOB_PROXY_SOCKET" --out "$sandbox/proxy.jsonl" &
proxy=$!
"$build/cmd/kav/kav" &
kav=$!

tries=0
until [ -S /run/KTRXORV/doors/kav ] && [ -S /run/KTRXORV/doors/teo ] && [ -S "$QOB_PROXY_SOCKET" ]; do
    tries=$((tries + 1))
    [ $tries -lt 100 ] || { echo "demo: the daemon did not start" >&2; exit 1; }
    sleep 0.1
done

for event in "$sandbox"/demo/events/*.json; do
    echo "== orv-event post $(basename "$event")"
    "$build/tools/orv-event/orv-event" post "$event"
done
echo "== orv-event test-email 01-cpu-ecache.json"
"$build/tools/orv-event/orv-event" test-email "$sandbox/demo/events/01-cpu-ecache.json"

kill -TERM $kav
wait $kav || true
kill -TERM $sink $proxy
wait $sink $proxy || true

for name in platform domain-A domain-B domain-C domain-D domain-R trace; do
    [ -f "$logs/$name.log" ] || continue
    echo
    echo "== $logs/$name.log"
    cat "$logs/$name.log"
done
echo
echo "== frames received by the front-end stand-in"
cat "$sandbox/frames.jsonl"
echo
echo "== messages received by the proxy stand-in"
cat "$sandbox/proxy.jsonl"
for mail in /var/opt/KTRXORV/ORV/mail-spool/*; do
    [ -f "$mail" ] || continue
    echo
    echo "== mail $mail"
    cat "$mail"
done
echo
echo "== files left in /tmp: $(ls -A /tmp | wc -l)"
