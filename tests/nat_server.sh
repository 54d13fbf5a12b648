#!/usr/bin/env bash
# The match server through real routers. Network namespaces make a "public"
# network (203.0.113.0/24, a bridge) with the match server, a machine with a
# public address, and four homes, each a machine (192.168.N.2) behind a router
# of its own that masquerades with nftables and, like a home router, lets in
# nothing it was not asked for: homes 1 and 2 keep the machine's port (hole
# punching works), homes 3 and 4 give every destination a random port
# (symmetric: only the relay helps). Stand-ins for games (nuvel-match-client,
# on the game's transport) host and join by code and send the traffic of an
# online round; each case checks how every machine connected, as the joining
# machine and the host each see it, and that the traffic came through:
#   public host: every joining machine connects directly;
#   host behind a port-keeping router: a machine behind another one and the
#     public machine punch through, a machine behind a symmetric router is relayed;
#   host behind a symmetric router: relayed, from a symmetric and a port-keeping home;
#   two servers sharing one Redis: a room made on one is joined through the other;
#   hostile: wrong codes, a flood, relay binds with guessed tokens, datagrams
#     sent in the name of a third machine; the third machine gets nothing
#     larger than what was sent in its name and nothing relayed, and the
#     server counts what it refused.
# Nothing leaves the machine: every address is inside namespaces made here,
# and they are removed at the end.
#
# Usage: nat_server.sh <nuvel binary> <game folder> [--delay MS] [--figures N]
#   --delay MS   each home's and the public machine's link delays every frame
#                MS ms each way (a cable with delay; this kernel may lack netem)
#   --figures N  instead of the checks: N joins of each kind, printing the
#                time from the code entered to the host's welcome
# Exit 77 (skipped) without root or a tool.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(dirname "$(realpath "$1")")
server=$build/server/nuvel-server
client=$build/tools/nuvel-match-client
command -v redis-server >/dev/null || { echo "missing redis-server"; exit 77; }
source "$here/tools/nat_lib.sh"
nat_options "${@:3}"

# ---- the network ----
ATTACKER=203.0.113.66
VICTIM=203.0.113.77
public_network
for n in attacker victim; do mkns "$n"; done
attach attacker "$ATTACKER"
attach victim "$VICTIM"

# ---- the servers: one alone, two sharing a Redis ----
redis_port=6390
spawn srv redis.log redis-server --port "$redis_port" --bind 127.0.0.1 --save '' --appendonly no
for _ in $(seq 50); do ns srv bash -c "exec 3<>/dev/tcp/127.0.0.1/$redis_port" 2>/dev/null && break; sleep 0.1; done
spawn srv server1.log "$server" --port 26470 --relay-ports 27000-27199 --status-seconds 1
server1=${children[-1]}
spawn srv server2.log "$server" --port 26480 --relay-ports 27200-27399 --status-seconds 1 \
  --redis "redis://127.0.0.1:$redis_port" --public-address "$SERVER"
spawn srv server3.log "$server" --port 26490 --relay-ports 27400-27599 --status-seconds 1 \
  --redis "redis://127.0.0.1:$redis_port" --public-address "$SERVER"
for s in server1 server2 server3; do server_started "$s.log"; done

# ---- a room ----
# room NAME SERVERPORT HOSTNS JOINSERVERPORT NS:KIND...: a host and its joining
# machines; each joining machine must reach the lobby the way KIND says,
# the host must see the same, and the traffic must come through.
room() {
  local name=$1 port=$2 hostns=$3 joinport=$4
  shift 4
  spawn "$hostns" "$name.host.log" "$client" --server "$SERVER:$port" host --port 26471 --name "$name" \
    --expect $# --seconds 40
  local hostpid=${children[-1]} code=""
  for _ in $(seq 100); do code=$(awk '/^CODE/{print $2}' "$work/$name.host.log"); [ -n "$code" ] && break; sleep 0.05; done
  [ -n "$code" ] || fail "$name: no invite code"
  local joins=() expected=()
  for j in "$@"; do
    spawn "${j%%:*}" "$name.${j%%:*}.log" "$client" --server "$SERVER:$joinport" join "$code" --name "${j%%:*}" \
      --seconds 2
    joins+=(${children[-1]})
    expected+=("${j#*:}")
  done
  local k=0
  for p in "${joins[@]}"; do
    wait "$p" || fail "$name: the machine in ${1%%:*} failed"
    local log=$work/$name.${1%%:*}.log
    grep -q "^LOBBY ${expected[$k]} " "$log" || fail "$name: ${1%%:*} did not connect ${expected[$k]}: $(grep -E '^(LOBBY|FAILED)' "$log")"
    echo "$name: ${1%%:*} $(grep '^LOBBY' "$log" | cut -d' ' -f2-) ms"
    k=$((k + 1))
    shift
  done
  wait "$hostpid" || fail "$name: the host failed"
  local seen want
  seen=$(grep -E '^PEER [0-9]+ [A-Z]+ [0-9.:]+$' "$work/$name.host.log" | awk '{print $3}' | sort | tr '\n' ' ')
  want=$(printf '%s\n' "${expected[@]}" | sort | tr '\n' ' ')
  [ "$seen" = "$want" ] || fail "$name: the host saw $seen, not $want"
}

if [ "$figures" -gt 0 ]; then
  # Connection times: N joins each, with the network's delay.
  for i in $(seq "$figures"); do
    room "fig$i-direct" 26470 open 26470 h1:DIRECT
    room "fig$i-punched" 26470 h1 26470 h2:PUNCHED
    room "fig$i-relayed" 26470 h1 26470 h3:RELAYED
  done
  exit 0
fi

room public 26470 open 26470 h1:DIRECT h3:DIRECT
room keeping 26470 h1 26470 h2:PUNCHED open:PUNCHED h3:RELAYED
room symmetric 26470 h3 26470 h4:RELAYED h1:RELAYED
# Made on the second server, joined through the third: sent to the second.
room shared 26480 h1 26490 h2:PUNCHED h4:RELAYED
grep -q 'room .* opened' "$work/server2.log" || fail "the shared room was not made on the second server"
grep -q 'joined, PUNCHED' "$work/server2.log" || fail "the shared room was not joined on the second server"
# The third server's list shows a public room made on the second.
spawn h1 listed.host.log "$client" --server "$SERVER:26480" host --public --name LISTED --expect 1 --seconds 2
listedpid=${children[-1]}
for _ in $(seq 100); do code=$(awk '/^CODE/{print $2}' "$work/listed.host.log"); [ -n "$code" ] && break; sleep 0.05; done
ns h2 "$client" --server "$SERVER:26490" list >"$work/listed.log" 2>&1 || fail "the list failed"
grep -q "^ROOM $code LISTED 3/4 free" "$work/listed.log" || fail "the public room is not listed: $(cat "$work/listed.log")"
wait "$listedpid" || true

# ---- hostile ----
# A listener in the victim's namespace counts what reaches it.
spawn victim victim.log python3 "$here/tools/hostile.py" listen 14
victimpid=${children[-1]}
sleep 0.3
# A relayed room to aim at: its pipe's port comes from the server's log.
spawn h1 hostile.host.log "$client" --server "$SERVER:26470" host --port 26471 --name TARGET --expect 1 --seconds 40
hostpid=${children[-1]}
for _ in $(seq 100); do code=$(awk '/^CODE/{print $2}' "$work/hostile.host.log"); [ -n "$code" ] && break; sleep 0.05; done
spawn h3 hostile.h3.log "$client" --server "$SERVER:26470" join "$code" --name VICTIM --seconds 9
joinpid=${children[-1]}
for _ in $(seq 100); do pipe=$(grep -oE "room $code: relaying for join [0-9]+ through port [0-9]+" "$work/server1.log" | awk '{print $NF}' || true); [ -n "$pipe" ] && break; sleep 0.05; done
[ -n "${pipe:-}" ] || fail "no relay pipe to aim at"
ns attacker python3 "$here/tools/hostile.py" attack "$SERVER" 26470 "$pipe" "$VICTIM" >"$work/attack.log" 2>&1 ||
  fail "the attack tool failed"
# Eleven wrong codes: the tenth is still NO SUCH MATCH, the eleventh is refused for the limit.
for i in $(seq 11); do ns attacker "$client" --server "$SERVER:26470" join 22222$((i % 8 + 2)) >"$work/wrong.log" 2>&1 || true; done
grep -q 'FAILED TOO MANY WRONG CODES' "$work/wrong.log" || fail "the eleventh wrong code was not refused for the limit: $(cat "$work/wrong.log")"
wait "$joinpid" || fail "the relayed machine failed under attack"
grep -q '^LOBBY RELAYED' "$work/hostile.h3.log" || fail "the attacked machine was not relayed"
wait "$hostpid" || fail "the attacked host failed"
# The listener's count of datagrams and bytes, against what was sent in its name.
wait "$victimpid" || fail "the listener failed"
read -r got gotbytes relayed <"$work/victim.log"
sentbytes=$(awk '/^SPOOFED/{print $2}' "$work/attack.log")
[ "$relayed" -eq 0 ] || fail "the victim got $relayed datagrams from relay ports"
[ "$gotbytes" -le "$sentbytes" ] || fail "the victim got $gotbytes bytes for $sentbytes sent in its name"
# The server says its counts once a second: wait for a status line written
# after the last wrong code was counted.
for _ in $(seq 50); do
  status=$(grep 'status:' "$work/server1.log" | tail -n 1)
  [[ $status =~ [1-9][0-9]*\ over\ the\ code\ limit ]] && break
  sleep 0.1
done
for counter in flood malformed 'bad relay tokens' 'relay outsiders' 'over the code limit'; do
  [[ $status =~ [1-9][0-9]*\ $counter ]] || fail "the server did not count any $counter: $status"
done
echo "hostile: the victim got $got datagrams, $gotbytes bytes, for $sentbytes bytes sent in its name"
echo "server: ${status#*status: }"

# SIGTERM: the server closes, and a host on it hears so.
spawn h2 closing.host.log "$client" --server "$SERVER:26470" host --name LAST --expect 1 --seconds 20
closingpid=${children[-1]}
for _ in $(seq 100); do grep -q '^CODE' "$work/closing.host.log" && break; sleep 0.05; done
kill -TERM "$server1"
wait "$server1" || fail "the server did not end cleanly on SIGTERM"
wait "$closingpid" && fail "the host went on without its server"
grep -q '^FAILED THE MATCH SERVER CLOSED' "$work/closing.host.log" || fail "the host was not told: $(cat "$work/closing.host.log")"
grep -q 'room .* closed (the server stops)' "$work/server1.log" || fail "the server did not close its rooms"
echo "all cases passed"
