# shellcheck shell=bash
# shellcheck disable=SC2154  # build, dir, out, image and the card helpers come from guest-scenarios.sh
# The "modules" group of guest-scenarios.sh (sourced by it, after its
# helpers): four cards, the simulated module behind each, and kestrava-cli
# update --all and verify --all on their host sides. The fourth module is
# unplugged for good in the middle of programming; the other three must
# complete beside it.

modules_count=4

# start_modules <unplugged> <blocks> [flash folder]: a module program on every
# card, each on a freshly enumerated gadget, its flash in the scenario's
# folder (or read from the given one first); module <unplugged> (0-based) is
# unplugged for good at a program block once <blocks> have come; with
# <blocks> 0 its card stays unplugged and no module program runs for it.
start_modules() {
    local unplugged=$1 blocks=$2 from=${3:-} i opts started=()
    stop_helpers
    for ((i = 0; i < modules_count; i++)); do
        kv_unplug "$i" 2>/dev/null
        [ "$i" -eq "$unplugged" ] && [ "$blocks" -eq 0 ] && continue
        kv_plug "$i" || { why "card $i cannot be plugged in"; return 1; }
    done
    for ((i = 0; i < modules_count; i++)); do
        [ "$i" -eq "$unplugged" ] && [ "$blocks" -eq 0 ] && continue
        kv_wait_host_card "$i" 20 || { why "card $i did not come back after plugging in"; return 1; }
        [ -z "$from" ] || cp "$from/module-$i.flash" "$dir/module-$i.flash" || { why "no flash of module $i in $from"; return 1; }
        opts=()
        [ "$i" -ne "$unplugged" ] || opts=(--unplug-after-blocks "$blocks")
        "$build/kestrava-gadget-module" --gadget "$kv_gadgets/kv$i" --flash "$dir/module-$i.flash" "${opts[@]}" \
            >>"$dir/module-$i.log" 2>&1 &
        helpers+=($!)
        started+=("$i")
    done
    for i in "${started[@]}"; do
        kv_wait 15 grep -q ready "$dir/module-$i.log" || { why "module $i did not start"; return 1; }
    done
}

# host_ports: "hw:C,0,0" of every card's host side, one a line (empty while it is away).
host_ports() {
    local i
    for ((i = 0; i < modules_count; i++)); do kv_host_hw "$i" || echo; done
}

# cpu_ticks: the guest's busy and total CPU time so far (/proc/stat), in ticks.
cpu_ticks() { awk '$1 == "cpu" { print $2 + $3 + $4 + $7 + $8, $2 + $3 + $4 + $5 + $6 + $7 + $8 }' /proc/stat; }

# run_all <log name> <arguments...>: kestrava-cli --json with the arguments;
# its exit status. Its time and how busy the guest's CPU was go to $dir/took.
run_all() {
    local name=$1 before after status start
    shift
    before=$(cpu_ticks)
    start=$(now)
    run_cli "$name" 300 -- --json "$@"
    status=$?
    after=$(cpu_ticks)
    echo "$(since "$start") $before $after" | awk '{ printf "%s %.0f\n", $1, 100 * ($4 - $2) / ($5 - $3) }' >"$dir/took"
    return "$status"
}

# check_all_run <log> <status> <ports file> <unplugged> <label>: checks the
# --json output of update --all or verify --all against what each module
# should end with, each found by the port its card had when the run began
# (a module reported under another's port fails); records each module's
# rate, the rate of all of them together and the run's time.
check_all_run() {
    python3 - "$@" "$out/rates.txt" "$dir/notes.txt" "$dir/took" <<'EOF'
import json, sys
log, status, ports_file, unplugged, label, rates, notes, took = sys.argv[1:9]
status, unplugged = int(status), int(unplugged)
seconds, busy = open(took).read().split()
ports = open(ports_file).read().split('\n')
events = []
for line in open(log):
    stamp, _, text = line.rstrip('\n').partition(' ')
    t = float(stamp)
    try:
        e = json.loads(text)
    except ValueError:
        continue
    if isinstance(e, dict):
        events.append((t, e))
problems = []
summary = [e for _, e in events if e.get('event') == 'summary']
modules = {m['port']: m for m in summary[-1]['modules']} if summary else {}
if not summary:
    problems.append('no summary event')
lines, total_bytes, spans = [], 0, []
for i, port in enumerate(ports):
    if not port:
        continue
    m = modules.get(port)
    if m is None:
        problems.append('the summary has no row for card %d (%s)' % (i, port))
        continue
    progress = [(t, e['done']) for t, e in events if e.get('event') == 'progress' and e.get('port') == port]
    if len(progress) >= 2 and progress[-1][0] > progress[0][0]:
        kib, secs = (progress[-1][1] - progress[0][1]) / 1024, progress[-1][0] - progress[0][0]
        total_bytes += progress[-1][1] - progress[0][1]
        spans += [progress[0][0], progress[-1][0]]
        lines.append('%s, module %d (%s): %.1f KiB/s (%.0f KiB in %.1f s), %s after %.1f s'
                     % (label, i + 1, port, kib / secs, kib, secs, m['result'], m['seconds']))
    if i == unplugged:
        if m['result'] != 'failed' or not (2 <= (m.get('code') or 0) <= 26):
            problems.append('module %d (unplugged) ended %s with code %s, not with an error code' % (i + 1, m['result'], m.get('code')))
        elif status != m['code']:
            problems.append('the exit status %d is not module %d\'s error code %d' % (status, i + 1, m['code']))
        if m['label'] not in summary[-1]['text']:
            problems.append('the summary does not name module %d: %s' % (i + 1, summary[-1]['text']))
    elif m['result'] != 'completed':
        problems.append('module %d (%s) ended %s: %s' % (i + 1, port, m['result'], m.get('reason', '')))
if len(modules) != sum(1 for p in ports if p):
    problems.append('%d modules in the summary, %d cards' % (len(modules), sum(1 for p in ports if p)))
if unplugged < 0 and status != 0:
    problems.append('exited with %d' % status)
if spans and max(spans) > min(spans):
    lines.append('%s, all modules together: %.1f KiB/s (%.0f KiB in %.1f s); the whole run took %s s, the guest\'s CPU %s %% busy'
                 % (label, total_bytes / 1024 / (max(spans) - min(spans)), total_bytes / 1024, max(spans) - min(spans), seconds, busy))
with open(rates, 'a') as f, open(notes, 'a') as n:
    for l in lines:
        f.write(l + '\n')
        n.write(l + '\n')
    if summary:
        n.write('summary: ' + summary[-1]['text'] + '\n')
if problems:
    print('; '.join(problems))
    sys.exit(1)
EOF
}

# check_flashes <unplugged>: every module but <unplugged> holds the image.
check_flashes() {
    local i
    for ((i = 0; i < modules_count; i++)); do
        [ "$i" -eq "$1" ] || flash_holds_image "$dir/module-$i.flash" || { why "module $((i + 1))'s flash does not hold the image"; return 1; }
    done
}

# Four modules updated at once; the fourth is unplugged for good at its 41st
# program block. It ends with its error code, the exit status is that code and
# the summary names it; the other three complete and hold the image.
modules_update_all_one_unplugged() {
    update_all_one_unplugged
    stop_helpers   # the module programs: each writes its flash as it ends
    [ -n "$reason" ] || check_flashes 3
    [ -z "$reason" ]
}

update_all_one_unplugged() {
    start_modules 3 40 || return 1
    host_ports >"$dir/ports.txt"
    echo "cards before the update: $(tr '\n' ' ' <"$dir/ports.txt")" >>"$dir/notes.txt"
    local status problems i
    run_all update-all update "$image" --all
    status=$?
    echo "cards after the update:  $(host_ports | tr '\n' ' ')" >>"$dir/notes.txt"
    grep -q 'unplugged for good' "$dir/module-3.log" || why "module 4 was never unplugged (update --all exited with $status)"
    problems=$(check_all_run "$dir/update-all.log" "$status" "$dir/ports.txt" 3 "update --all") \
        || why "update --all exited with $status: $problems"
    for ((i = 0; i < 3; i++)); do
        grep -q 'plugged in after' "$dir/module-$i.log" || why "module $((i + 1)) did not re-enumerate"
    done
}

# The three updated modules (the fourth still away) read back as the image.
modules_verify_all() {
    verify_all_three
    stop_helpers   # the module programs: each writes its flash as it ends
    [ -z "$reason" ]
}

verify_all_three() {
    local status problems
    start_modules 3 0 "$out/modules_update_all_one_unplugged" || return 1
    host_ports >"$dir/ports.txt"
    run_all verify-all verify "$image" --all
    status=$?
    problems=$(check_all_run "$dir/verify-all.log" "$status" "$dir/ports.txt" -1 "verify --all") \
        || why "verify --all exited with $status: $problems"
}
