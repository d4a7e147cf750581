#!/bin/sh
# The measuring part of bench/run.sh, run inside the daemon's sandbox (see
# tools/kav-sandbox): starts the daemon, the null door server and the two
# stand-ins, drives them and prints every figure with its baseline, the
# ratio between them and the command that produced it.
set -eu
build=/run/build
sandbox=/run/sandbox
events=$sandbox/events
doors=/run/KTRXORV/doors
logs=/var/opt/KTRXORV/ORV/logs
load=$build/bench/kav-door-load
export LD_LIBRARY_PATH="$build/platform/qob${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export QOB_PROXY_SOCKET=/run/KTRXORV/qob-proxy

pids=
stop_all() {
    for pid in $pids $sink $kav; do kill -TERM "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap stop_all EXIT

started() {
    tries=0
    until [ -S "$1" ]; do
        tries=$((tries + 1))
        [ $tries -lt 100 ] || { echo "bench: nothing answers at $1" >&2; exit 1; }
        sleep 0.1
    done
}

# field LINE NAME: the value of NAME=value in a line of figures.
field() {
    echo "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"
}

# calc EXPRESSION: floating-point arithmetic.
calc() {
    awk "BEGIN { printf \"%.2f\", $1 }"
}

# cpu_us PID: user and system time of a process so far, in µs.
cpu_us() {
    awk -v tick="$(getconf CLK_TCK)" '{ printf "%d %d", $14 * 1000000 / tick, $15 * 1000000 / tick }' "/proc/$1/stat"
}

rss_kib() {
    sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$1/status"
}

# Log files only grow during the long runs; the daemon keeps appending to
# the same (emptied) files.
empty_logs() {
    for log in "$logs"/*.log; do : >"$log"; done
}

show() {
    echo "    \$ $*" >&2
    "$@"
}

"$build/tools/orv-teo-sink/orv-teo-sink" --out /dev/null &
sink=$!
"$build/tools/orv-qob-proxy/orv-qob-proxy" --socket "$QOB_PROXY_SOCKET" --out /dev/null &
pids="$pids $!"
"$build/bench/kav-floor-door" &
pids="$pids $!"
"$build/bench/kav-null-door" &
pids="$pids $!"
"$build/cmd/kav/kav" &
kav=$!
for socket in "$doors/kav" "$doors/kav-null" "$doors/kav-floor" "$doors/teo" "$QOB_PROXY_SOCKET"; do
    started "$socket"
done
sleep 1
idle_rss=$(rss_kib "$kav")

echo "== 1. Door throughput and latency: the framework's empty call and the message channel, against the floor server"
for callers in 1 4 16; do
    calls=$((callers == 1 ? 20000 : 60000))
    floor=$(show "$load" kav-floor 0 "$events/message.json" "$callers" "$calls")
    echo "    $floor"
    null=$(show "$load" kav-null 0 "$events/message.json" "$callers" "$calls")
    echo "    $null"
    full=$(show "$load" kav 0 "$events/message.json" "$callers" "$calls")
    echo "    $full"
    [ "$callers" = 4 ] && message4=$full
    for side in null full; do
        eval "line=\$$side"
        name=$([ "$side" = null ] && echo "empty call" || echo "kav message")
        echo "  callers=$callers $name: $(field "$line" rate)/s against the floor's $(field "$floor" rate)/s," \
            "ratio $(calc "$(field "$line" rate) / $(field "$floor" rate)");" \
            "p50 $(field "$line" p50_us) us ($(calc "$(field "$line" p50_us) / $(field "$floor" p50_us)")x)," \
            "p99 $(field "$line" p99_us) us ($(calc "$(field "$line" p99_us) / $(field "$floor" p99_us)")x)"
    done
done
empty_logs

# BENCH_DOOR_ONLY=1: the door section alone, for profiling runs.
[ "${BENCH_DOOR_ONLY:-0}" = 1 ] && exit 0

echo
echo "== 2. Front-end and remote channels, against the message channel (4 callers)"
for channel in orv remote; do
    line=$(show "$load" kav 0 "$events/$channel.json" 4 60000)
    echo "    $line"
    [ "$channel" = orv ] && orv4=$line
    echo "  $channel: $(field "$line" rate) events/s, $(calc "$(field "$line" rate) / $(field "$message4" rate)") of the message-only rate"
done

echo
echo "== 3. Email with a script that does nothing, against the script started directly through system_safe"
# The two sides alternate in short blocks, and the share is worked out for
# each pair of neighbouring blocks: on a shared virtual machine the cost of
# starting a program drifts by half within minutes, which moves both blocks
# of a pair alike. The median pair is the figure, the quartiles its spread.
pairs=100
block=20
shares=
cpu_before=$(cpu_us "$kav")
mails=0
for pair in $(seq "$pairs"); do
    mail=$("$load" kav 0 "$events/mail.json" 1 "$block")
    mails=$((mails + $(field "$mail" calls) + $(field "$mail" warm_up)))
    script=$("$build/bench/kav-command-loop" "$block" \
        /etc/opt/KTRXORV/ORV/config/scripts/noop /tmp/bench-mime ops@example.com)
    per_mail=$(calc "$(field "$mail" seconds) * 1000000 / $(field "$mail" calls)")
    shares="$shares$per_mail $(field "$script" mean_us)
"
done
echo "    \$ $load kav 0 $events/mail.json 1 $block"
echo "    \$ $build/bench/kav-command-loop $block /etc/opt/KTRXORV/ORV/config/scripts/noop /tmp/bench-mime ops@example.com"
echo "    ($pairs pairs of blocks, alternating)"
printf '%s' "$shares" | awk '{ print 100 * (1 - $2 / $1), $1, $2 }' | sort -n | awk '
    { share[NR] = $1; mail[NR] = $2; alone[NR] = $3 }
    END {
        m = int((NR + 1) / 2)
        printf "  median pair: per mail %.0f us, script alone %.0f us; the daemon'"'"'s own share %.1f %%", mail[m], alone[m], share[m]
        printf " (quartiles %.1f %% and %.1f %%)\n", share[int((NR + 3) / 4)], share[int((3 * NR + 3) / 4)]
    }'
# CPU time is not moved by waiting for the machine, though it still grows
# when caches and the TLB are cold. Warm-up mails cost the daemon as much.
echo "$cpu_before $(cpu_us "$kav")" | awk -v mails="$mails" '{
    printf "  the daemon'"'"'s CPU time per mail %.0f us (user %.0f us, system %.0f us)\n",
        ($3 + $4 - $1 - $2) / mails, ($3 - $1) / mails, ($4 - $2) / mails }'
left=$(ls -A /tmp | grep -c '^AVL' || true)
echo "  temporary mail files left in /tmp: $left"

echo
echo "== 4. Email of an event near the 16 MiB door limit, against md5sum and base64 -w 72 on a file of its size"
big=/tmp/bench-big.json
{
    printf '{"class": "bench.mail", "code": "B16", "type": "FAULT", "timestamp": 1700000000, '
    printf '"diagEngName": "diagA", "diagEngVersion": "2.0", "domainsAffected": "A", "platformCSN": "0123", '
    printf '"platformModel": "M15", "classes": ["bench.mail"], "indictment": ["'
    head -c 16000000 /dev/zero | tr '\0' z
    printf '"]}'
} >"$big"
head -c 16000000 /dev/urandom >/tmp/attachment.bin
tools=$(show "$build/bench/kav-command-loop" 5 /bin/sh -c \
    "md5sum /tmp/attachment.bin >/dev/null && base64 -w 72 /tmp/attachment.bin >/tmp/base64.out")
echo "    $tools"
rm -f /tmp/attachment.bin /tmp/base64.out
# Peak RSS (VmHWM) starts again from the current RSS.
echo 5 >"/proc/$kav/clear_refs"
rss_before=$(rss_kib "$kav")
mail=$(show "$load" kav 0 "$big" 1 5)
echo "    $mail"
peak=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$kav/status")
rm -f "$big"
per_big=$(calc "$(field "$mail" seconds) * 1000000 / $(field "$mail" calls)")
echo "  per mail $per_big us (door call included), md5sum + base64 $(field "$tools" mean_us) us;" \
    "ratio $(calc "$per_big / $(field "$tools" mean_us)")"
echo "  RSS before $rss_before KiB, peak during $peak KiB: growth $((peak - rss_before)) KiB," \
    "$(calc "($peak - $rss_before) / 15625") times the event (15625 KiB)"
left=$(ls -A /tmp | grep -c '^AVL\|^DXAEvent' || true)
echo "  temporary mail files left in /tmp: $left"

echo
echo "== 5. Memory of the daemon"
echo "  idle after start: $idle_rss KiB"
line=$(show "$load" kav 0 "$events/message.json" 4 100000)
echo "    $line"
after_100k=$(rss_kib "$kav")
empty_logs
line=$(show "$load" kav 0 "$events/message.json" 4 900000)
echo "    $line"
after_1m=$(rss_kib "$kav")
empty_logs
echo "  after the runs above and 100,000 more events: $after_100k KiB;" \
    "after 900,000 more (1,000,000 in this step): $after_1m KiB; growth $((after_1m - after_100k)) KiB"

echo
echo "== 6. Event database load time per class, against parsing the same text as plain JSON"
for classes in 5000 50000; do
    line=$(show "$build/bench/kav-eventdb-load" "$classes")
    echo "    $line"
    echo "  $classes classes: $(field "$line" load_s) s, $(field "$line" load_per_class_us) us per class;" \
        "plain parse $(field "$line" parse_per_class_us) us per class; ratio $(field "$line" ratio)"
done
# restart_kav [NAME=VALUE...]: the daemon again, with these settings.
restart_kav() {
    kill -TERM "$kav"
    wait "$kav" 2>/dev/null || true
    rm -f "$doors/kav"
    env "$@" "$build/cmd/kav/kav" &
    kav=$!
    started "$doors/kav"
    sleep 0.5
}

# journal_pending: deliveries the daemon's journal holds as pending.
journal_pending() {
    "$build/tools/orv-event/orv-event" stats | tr -d ' \n' | sed -n 's/.*"journal":{[^}]*"pending":\([0-9]*\).*/\1/p'
}

# journal_bytes: the journal's size on disk, its write-ahead log included.
journal_bytes() {
    cat "$journal" "$journal-wal" 2>/dev/null | wc -c
}

echo
echo "== 7. The journal: the door with the journal on, in both sync modes; draining; size and memory"
journal=/var/opt/KTRXORV/ORV/kav/journal.db
for sync in normal full; do
    rm -f "$journal" "$journal-wal" "$journal-shm"
    restart_kav ORV_JOURNAL="$journal" ORV_JOURNAL_SYNC="$sync"
    floor=$(show "$load" kav-floor 0 "$events/message.json" 4 60000)
    echo "    $floor"
    line=$(show "$load" kav 0 "$events/message.json" 4 60000)
    echo "    $line"
    echo "  ORV_JOURNAL_SYNC=$sync, message only, 4 callers: $(field "$line" rate)/s against the floor's" \
        "$(field "$floor" rate)/s, ratio $(calc "$(field "$line" rate) / $(field "$floor" rate)")" \
        "(without a journal: $(calc "$(field "$message4" rate) / $(field "$floor" rate)") in section 1);" \
        "p50 $(field "$line" p50_us) us, p99 $(field "$line" p99_us) us"
    # A front-end event leaves a delivery pending: its door call returns
    # once the event is committed (in full mode, on disk).
    line=$(show "$load" kav 0 "$events/orv.json" 4 20000)
    echo "    $line"
    echo "  ORV_JOURNAL_SYNC=$sync, front-end event, 4 callers: door $(field "$line" rate)/s against" \
        "$(field "$orv4" rate)/s reported synchronously (section 2);" \
        "p50 $(field "$line" p50_us) us, p99 $(field "$line" p99_us) us"
    while [ "$(journal_pending)" != 0 ]; do sleep 0.1; done
    empty_logs
done

rm -f "$journal" "$journal-wal" "$journal-shm"
restart_kav ORV_JOURNAL="$journal"
line=$(show "$load" kav 0 "$events/slowmail.json" 4 2000)
echo "    $line"
echo "  a mail script that sleeps 2 s, 4 callers: door call p50 $(field "$line" p50_us) us, p99 $(field "$line" p99_us) us"

# The front-end is down while 10,000 events come; once it is back, the
# deliveries are made due at once and timed until none is pending.
rm -f "$journal" "$journal-wal" "$journal-shm"
restart_kav ORV_JOURNAL="$journal"
kill -TERM "$sink"
wait "$sink" 2>/dev/null || true
line=$(show "$load" kav 0 "$events/orv.json" 4 10000)
echo "    $line"
queued=$(journal_pending)
"$build/tools/orv-teo-sink/orv-teo-sink" --out /dev/null &
sink=$!
started "$doors/teo"
began=$(date +%s.%N)
"$build/tools/orv-event/orv-event" queue retry --all >/dev/null
while [ "$(journal_pending)" != 0 ]; do sleep 0.05; done
ended=$(date +%s.%N)
drain=$(calc "$queued / ($ended - $began)")
echo "  draining $queued front-end deliveries: $drain/s against $(field "$orv4" rate)/s reported synchronously" \
    "(section 2), ratio $(calc "$drain / $(field "$orv4" rate)")"

# Size and memory over 100,000 journaled events (message only).
rm -f "$journal" "$journal-wal" "$journal-shm"
restart_kav ORV_JOURNAL="$journal"
packed=$("$build/tools/orv-event/orv-event" pack "$events/message.json" | wc -c)
line=$(show "$load" kav 0 "$events/message.json" 4 20000)
echo "    $line"
rss_20k=$(rss_kib "$kav")
size_20k=$(journal_bytes)
line=$(show "$load" kav 0 "$events/message.json" 4 100000)
echo "    $line"
rss_120k=$(rss_kib "$kav")
size_120k=$(journal_bytes)
empty_logs
echo "  journal growth per event $(calc "($size_120k - $size_20k) / 100000") bytes, for a packed event of $packed bytes" \
    "(bound $((packed + 512)))"
echo "  RSS after 20,000 journaled events $rss_20k KiB, after 100,000 more $rss_120k KiB: growth $((rss_120k - rss_20k)) KiB"

# reports CHANNEL: the daemon's reports made through one channel so far.
reports() {
    "$build/tools/orv-event/orv-event" stats --prometheus |
        sed -n "s/^kav_channel_reports_total{channel=\"$1\",result=\"reported\"} //p"
}

echo
echo "== 8. A fault storm: 100,000 copies of one event whose class has a hold-down"
# The storm's class asks for all four channels and holds repeats for an
# hour; its baseline is the same entry with the message channel alone and
# no hold-down. Without a journal, as in sections 1 to 5.
# The storm's first copy is reported (and loads what the channels load)
# before memory is taken.
restart_kav
show "$load" kav 0 "$events/storm.json" 1 1000 >/dev/null
plain=$(show "$load" kav 0 "$events/message.json" 4 100000)
echo "    $plain"
empty_logs
rss_before=$(rss_kib "$kav")
before="$(reports orvEvent) $(reports remote) $(reports email)"
line=$(show "$load" kav 0 "$events/storm.json" 4 100000)
echo "    $line"
rss_after=$(rss_kib "$kav")
after="$(reports orvEvent) $(reports remote) $(reports email)"
empty_logs
echo "  storm with a hold-down, 4 callers: $(field "$line" rate)/s against $(field "$plain" rate)/s for the" \
    "message channel alone, ratio $(calc "$(field "$line" rate) / $(field "$plain" rate)");" \
    "p99 $(field "$line" p99_us) us against $(field "$plain" p99_us) us"
echo "  reports through orvEvent, remote, email: before the storm $before, after it $after;" \
    "RSS $rss_before KiB before, $rss_after KiB after"
