#!/usr/bin/env bash
# End to end online: a host and two joining games, each in its own X server
# and its own folder; the joining games reach the host through a UDP relay
# that adds 100 ms round trip, 20 ms jitter and 5% loss each way (loopback
# only). Round 1 is played by the three machines (a seat each, and a computer)
# and must end with the same result screen everywhere; in round 2 one joining
# game is killed mid-round and its seat goes on as a computer on the others;
# every machine's replays must verify; then the host is killed and the last
# joining game must reach the title with a message within 5 seconds, and end
# normally from there. Exit 77 (skipped) when a tool is missing.
# Usage: e2e_online.sh <nuvel binary> <game folder> [<nuvel-sim binary>]
set -euo pipefail
source "$(dirname "$0")/tools/online_lib.sh"
sim=$(realpath "${3:-$sim}")
port=$((20000 + $$ % 20000))
relay $((port + 1)) "$port" --delay 50 --jitter 10 --loss 5 --seed 7 --seconds 300

for name in host one two; do machine "$name"; done
start host --host "$port" --seats local,remote,remote,hard --name HOST
sleep 1
start one --join "127.0.0.1:$((port + 1))" --name ONE
sleep 1
start two --join "127.0.0.1:$((port + 1))" --name TWO
# The logo intro, then the lobby; the joining games take seats 2P and 3P.
wait_title host
sleep 3
key host Return            # START
sleep 1.5
key host Return            # round intro: OK NEXT
sleep 1.5
key host Return            # selector: NORMAL GAME START
sleep 5                    # the countdown
key one b
key two Left
sleep 1
key one m
key two Right
wait_replays host 1 90
wait_replays one 1 20
wait_replays two 1 20
sleep 1.5
python3 "$here/pngsame.py" 128 72 512 300 "$(shot host)" "$(shot one)" "$(shot two)" ||
  fail "round 1 ended otherwise on some machine"

# Round 2: the second joining game is killed mid-round; its seat plays on.
key host Return            # NEXT ROUND
sleep 1.5
key host Return            # round intro
sleep 1.5
key host Return            # selector
sleep 6
killed two
wait_replays host 2 120
wait_replays one 2 20
sleep 1.5
python3 "$here/pngsame.py" 128 72 512 300 "$(shot host)" "$(shot one)" ||
  fail "round 2 ended otherwise on the machines left"
grep -q "closed: it answered nothing" "$work/host.err" || fail "the host did not let the killed game go"

# Every machine's replays reproduce their rounds (round 2 with the takeover).
"$sim" --game "$game" --verify "$work"/host/replays/*.rpl "$work"/one/replays/*.rpl "$work"/two/replays/*.rpl ||
  fail "a replay does not verify"

# The host is killed: the joining game says so and is at the title within 5 s.
killed host
for _ in $(seq 50); do grep -q "The host stopped answering" "$work/one.err" && break; sleep 0.1; done
grep -q "The host stopped answering" "$work/one.err" || fail "no message about the host"
# At the title Escape leaves (the first one may only cut the title's opening short).
for _ in $(seq 15); do
  sleep 1
  running "${pid[one]}" || break
  key one Escape
done
running "${pid[one]}" && fail "the joining game did not end from the title"
status=0
wait "${pid[one]}" || status=$?
unset 'pid[one]'
[ "$status" -eq 0 ] || fail "the joining game ended with status $status"
echo "online end-to-end: same results on every machine, replays verified, drop-out and host loss handled"
