#!/usr/bin/env bash
# Online play under faults, with real game processes in Xvfb on loopback,
# joined through impairing relays (tests/tools/udp_relay.py) and joined or
# attacked by the probe (nuvel-netprobe). Prints every figure with its
# conditions and exits 1 when a goal is missed.
#
# Usage: online_figures.sh <nuvel binary> <game folder> SECTION...
#   --joins N             N joins in a row through a relay of --join-delay MS
#                         each way (40) and --join-loss PERCENT each way (3);
#                         goal: none fails
#   --hostile             in the lobby, for --hostile-seconds S (8) each: six
#                         connections that ping and never say hello (a real
#                         join must still get in), then a 30 MB packet again
#                         and again: the host's memory and CPU against a quiet
#                         lobby (goal: +1 MB at most, or --memory-goal-kb K);
#                         then in round 1 a machine
#                         with a seat and a watching one send false state
#                         digests while the attacks go on: both are let go, the
#                         others' round ends the same on the host and a
#                         joining game, and every replay verifies
#   --stalls N            a joining game is stopped (SIGSTOP) mid-round for
#                         0.5, 1.5 and 3 s, N times each, then continued: it
#                         must never freeze; a dropped one says why, keeps its
#                         replay and joins again from the online screen
#   --kills N             a joining game killed on each lossy link kind, and
#                         the host killed: how long until the other side
#                         notices (goal: 3 s)
#   --wait W              the host's GAME_WAIT (200: rounds long enough for a
#                         stall in the middle of one)
#   --soak MINUTES        on each lossy link kind, --soak-joins J (10) joining
#                         games, five at a time with a host of their own,
#                         play for MINUTES: how many joined and for how many
#                         minutes they stayed (goal: all, all of it)
#   --soak-kinds K        the lossy link kinds the soak runs on (AB)
# The two lossy link kinds: 150 ms each way with +-20 ms jitter and 20% loss
# each way (300 ms round trip), and 300 ms each way with 5% loss (600 ms).
# While --hostile, --stalls and --kills run, a watching game on each lossy
# kind stays joined to the same host; it must stay for all of it.
#
#   tests/tools/online_figures.sh build/nuvel build/game --joins 200 --hostile --stalls 10 --kills 3 --soak 5
set -euo pipefail
source "$(dirname "$0")/online_lib.sh"
shift 2

joins=0 joinDelay=40 joinLoss=3 hostile=0 hostileSeconds=8 stalls=0 kills=0 soak=0 soakJoins=10 soakKinds=AB wait=200 memoryGoalKb=1024
while [ $# -gt 0 ]; do
  case $1 in
  --joins) joins=$2; shift ;;
  --join-delay) joinDelay=$2; shift ;;
  --join-loss) joinLoss=$2; shift ;;
  --hostile) hostile=1 ;;
  --hostile-seconds) hostileSeconds=$2; shift ;;
  --memory-goal-kb) memoryGoalKb=$2; shift ;;
  --stalls) stalls=$2; shift ;;
  --kills) kills=$2; shift ;;
  --soak) soak=$2; shift ;;
  --soak-joins) soakJoins=$2; shift ;;
  --soak-kinds) soakKinds=$2; shift ;;
  --wait) wait=$2; shift ;;
  *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[ -x "$probe" ] || fail "no probe at $probe"

# Below the kernel's ephemeral ports (32768 on), which any socket may be
# given: a host could not open its port while a relay's socket held it.
base=$((20000 + ($$ % 700) * 16))
lossyA=(--delay 150 --jitter 20 --loss 20)
lossyB=(--delay 300 --loss 5)
kindA="300 ms round trip, 20% loss each way, +-20 ms jitter"
kindB="600 ms round trip, 5% loss each way"
missed=0
figure() { echo "FIGURE: $*"; }
goal() {  # goal CONDITION TEXT: a figure that must hold
  if eval "$1"; then echo "  goal met: $2"; else echo "  GOAL MISSED: $2"; missed=$((missed + 1)); fi
}

# A host in its lobby: the port it takes and its relays, the clean one for
# the joining game that plays (and the probe), and one per lossy kind.
hosts=0
new_host() {  # new_host NAME SEATS WAIT PORT
  machine "$1" "$3"
  start "$1" --host "$4" --seats "$2" --name "${1^^}"
  relay $(($4 + 1)) "$4" --delay 20 --seed 1 --seconds 3600
  relay $(($4 + 2)) "$4" "${lossyA[@]}" --seed 2 --seconds 3600
  relay $(($4 + 3)) "$4" "${lossyB[@]}" --seed 3 --seconds 3600
  relay $(($4 + 4)) "$4" --delay "$joinDelay" --loss "$joinLoss" --seed 4 --seconds 3600
  wait_title "$1"
}
joiner() {  # joiner NAME PORT ARGS...: a game that joins at PORT
  local name=$1 port=$2
  shift 2
  machine "$name"
  start "$name" --join "127.0.0.1:$port" --name "${name^^}" "$@"
}
kind_port() { [ "$1" = A ] && echo $((port + 2)) || echo $((port + 3)); }
joined() {  # joined HOST NAME [SECONDS [SKIP]]: NAME joined after the first SKIP lines of the host's log
  wait_line "$work/$1.err" "online: ${2^^} joined" "${3:-15}" "${4:-0}" >/dev/null || fail "${2^^} did not join $1"
}
# The host's keys through a match: START or NEXT ROUND, the intro, the
# selector. A busy machine may not have a screen up when its key comes: Return
# again until the host says its round begins.
next_round() {  # next_round HOST
  local skip
  skip=$(lines "$work/$1.err")
  key "$1" Return
  sleep 1.5
  key "$1" Return
  sleep 1.5
  key "$1" Return
  for _ in 1 2 3; do
    if wait_line "$work/$1.err" "online: round [0-9]* begins" 4 "$skip" >/dev/null; then
      sleep 4.5  # the countdown
      return 0
    fi
    key "$1" Return
  done
  fail "$1 began no round"
}
# A joining game that ended its match (it says why) is back in the online
# screen: a key ends the message, Return on JOIN, Return takes the last
# address, Return joins.
join_again() {  # join_again NAME
  key "$1" Return
  sleep 0.5
  key "$1" Return
  sleep 0.5
  key "$1" Return Return
}
still_joined() {  # still_joined HOST NAME: neither side ended the link
  ! grep -q "online: ${2^^} \(stopped answering\|was let go\|lost the connection\|has left\)" "$work/$1.err" &&
    ! grep -q "online: \(The host\|This machine\)" "$work/$2.err"
}

port=$base
# With the hostile cases a spy takes the second remote seat; else a computer
# has it. A weak computer beside a strong one ends a round soon after the
# lines of the idle players (a round of two strong ones may last minutes).
seats=local,remote,easy,hard
[ "$hostile" -eq 1 ] && seats=local,remote,remote,easy
if [ "$joins" -gt 0 ] || [ "$hostile" -eq 1 ] || [ "$stalls" -gt 0 ] || [ "$kills" -gt 0 ]; then
  new_host host "$seats" "$wait" "$port"
  joiner watchA $((port + 2)) --watch
  joiner watchB $((port + 3)) --watch
  joined host watchA 20
  joined host watchB 20
fi

if [ "$joins" -gt 0 ]; then
  "$probe" --game "$game" join "127.0.0.1:$((port + 4))" "$joins" >"$work/joins.out" || true
  grep "failed after" "$work/joins.out" || true
  out=$(tail -n 1 "$work/joins.out")
  failed=$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$out")
  figure "failed joins: $failed of $joins ($((2 * joinDelay)) ms round trip, $joinLoss% loss each way; $out)"
  goal "[ $failed -eq 0 ]" "no join fails"
fi

if [ "$hostile" -eq 1 ]; then
  hostPid=${pid[host]}
  sleep 2
  rss0=$(rss_kb "$hostPid") cpu0=$(cpu_ms "$hostPid")
  sleep "$hostileSeconds"
  rss1=$(rss_kb "$hostPid") cpu1=$(cpu_ms "$hostPid")
  figure "host in a quiet lobby: ${rss1} kB resident, $(((cpu1 - cpu0) / hostileSeconds)) ms CPU per second"
  "$probe" silent "127.0.0.1:$((port + 1))" 6 "$hostileSeconds" >"$work/silent.out" &
  children+=($!)
  sleep 3.5
  "$probe" --game "$game" join "127.0.0.1:$((port + 1))" 3 >"$work/silent-join.out" || true
  wait "${children[-1]}" || true
  grep "failed after" "$work/silent-join.out" || true
  rss2=$(rss_kb "$hostPid") cpu2=$(cpu_ms "$hostPid")
  figure "six connections that never say hello, ${hostileSeconds} s: host memory $(((rss2 - rss1))) kB more," \
    "CPU $(((cpu2 - cpu1) / hostileSeconds)) ms per second; $(cat "$work/silent.out");" \
    "a real join meanwhile: $(tail -n 1 "$work/silent-join.out")"
  goal "grep -q 'joins: 3 of 3' '$work/silent-join.out'" "a real machine joins while they try"
  goal "[ $((rss2 - rss1)) -le $memoryGoalKb ]" "host memory +$memoryGoalKb kB at most"
  "$probe" oversize "127.0.0.1:$((port + 1))" 30 "$hostileSeconds" >"$work/oversize.out"
  rss3=$(rss_kb "$hostPid") cpu3=$(cpu_ms "$hostPid")
  figure "a 30 MB packet again and again, ${hostileSeconds} s: host memory $(((rss3 - rss2))) kB more," \
    "CPU $(((cpu3 - cpu2) / hostileSeconds)) ms per second; $(cat "$work/oversize.out")"
  goal "[ $((rss3 - rss2)) -le $memoryGoalKb ]" "host memory +$memoryGoalKb kB at most"

  # Round 1 with a game that plays and two false digests, while the attacks go on.
  joiner one $((port + 1))
  joined host one
  "$probe" --game "$game" spy "127.0.0.1:$((port + 1))" >"$work/spy.out" &
  children+=($!)
  spy=$!
  "$probe" --game "$game" spy "127.0.0.1:$((port + 1))" watch >"$work/spywatch.out" &
  children+=($!)
  spyWatch=$!
  wait_line "$work/host.err" "online: PROBE joined as machine [0-9]* to watch" 15 >/dev/null || fail "the spies did not join"
  sleep 1
  "$probe" silent "127.0.0.1:$((port + 1))" 6 30 >/dev/null &
  children+=($!)
  "$probe" oversize "127.0.0.1:$((port + 1))" 30 30 >/dev/null &
  children+=($!)
  rss4=$(rss_kb "$hostPid") cpu4=$(cpu_ms "$hostPid") started=$SECONDS
  next_round host
  wait_replays host 1 300
  rss5=$(rss_kb "$hostPid") cpu5=$(cpu_ms "$hostPid") played=$((SECONDS - started))
  wait_replays one 1 30
  sleep 2
  wait "$spy" || true
  wait "$spyWatch" || true
  figure "round 1 with both false digests, the silent connections and the 30 MB packets going on (${played} s):" \
    "host memory $((rss5 - rss4)) kB more, CPU $(((cpu5 - cpu4) / (played > 0 ? played : 1))) ms per second"
  figure "a machine with a seat sends a false digest: $(tail -n 1 "$work/spy.out")"
  figure "a watching machine sends a digest: $(tail -n 1 "$work/spywatch.out")"
  goal "grep -q 'spy: This machine parted ways with the host at frame' '$work/spy.out'" \
    "the machine that parted is stopped alone and told"
  goal "grep -q 'spy: A watching machine sends no state digests' '$work/spywatch.out'" "the watching spy is let go"
  goal "python3 '$here/pngsame.py' 128 72 512 300 '$(shot host)' '$(shot one)'" \
    "the others' round ends the same on the host and the joining game"
  goal "'$sim' --game '$game' --verify '$work'/host/replays/*.rpl '$work'/one/replays/*.rpl >/dev/null" \
    "every replay verifies"
  goal "still_joined host one" "the joining game that played stays joined"
fi

if [ "$stalls" -gt 0 ]; then
  # A round the host starts ends with a new newest replay, whether it ends
  # before a stall (a short one) or after it. (The game keeps only the newest
  # 20, so a count would stop growing.)
  start_round() {
    playedBefore=$(newest_replay host)
    next_round host
  }
  round_over() { wait_new_replay host "$playedBefore" 300; }
  if [ -z "${pid[one]+x}" ]; then
    joiner one $((port + 1))
    joined host one
  fi
  start_round
  freezes=0 drops=0 wrong=0 tries=0 kept=0
  # A game that froze or was told something else is started again.
  restart_one() {
    killed one
    rm -rf "${work:?}/one"
    round_over
    local skip
    skip=$(lines "$work/host.err")
    joiner one $((port + 1))
    wait_line "$work/host.err" "online: ONE joined" 30 "$skip" >/dev/null || sleep 10
  }
  for seconds in 0.5 1.5 3; do
    for _ in $(seq "$stalls"); do
      tries=$((tries + 1))
      before=$(lines "$work/one.err")
      notes=$(ls "$work/one/replays/" 2>/dev/null | grep -c '\.txt$' || true)
      sleep 0.2  # soon after the countdown: the round may be short
      when=
      [ "$(newest_replay host)" != "$playedBefore" ] && when=" (the round was over)"
      kill -STOP "${pid[one]}"
      sleep "$seconds"
      kill -CONT "${pid[one]}"
      sleep 4
      said=$(tail -n +$((before + 1)) "$work/one.err" | grep -m1 '^online: [A-Z]' | sed 's/^online: //' || true)
      if ! moving one; then
        freezes=$((freezes + 1))
        echo "  a stall of $seconds s$when: FROZEN${said:+ (it said: $said)}; the game is started again"
        restart_one
      elif grep -q "^This machine stopped answering for" <<<"$said"; then
        drops=$((drops + 1))
        echo "  a stall of $seconds s$when: dropped, and told: $said"
        # A stall between rounds leaves no round to keep.
        [ "$(ls "$work/one/replays/" | grep -c '\.txt$' || true)" -gt "$notes" ] && kept=$((kept + 1))
        round_over
        skip=$(lines "$work/host.err")
        join_again one
        joined host one 20 "$skip"
      elif [ -n "$said" ]; then
        wrong=$((wrong + 1))
        echo "  a stall of $seconds s$when: ended, telling: $said; the game is started again"
        restart_one
      else
        echo "  a stall of $seconds s$when: went on"
        round_over
      fi
      sleep 2
      start_round
    done
  done
  goal "'$sim' --game '$game' --verify '$work'/one/replays/*.rpl >'$work/verify-one.out' ||
    { grep -v ': OK' '$work/verify-one.out'; false; }" \
    "the joining game's replays verify, those of the rounds that stopped at its drop too"
  figure "stall freezes: $freezes of $tries (0.5, 1.5 and 3 s, $stalls each; $drops dropped ($kept in a round," \
    "kept with its note), told why and" \
    "joined again; $wrong told something else)"
  goal "[ $freezes -eq 0 ] && [ $wrong -eq 0 ]" "no freeze, and a machine dropped is told why"
fi

if [ "$kills" -gt 0 ] || [ "$hostile" -eq 1 ] || [ "$stalls" -gt 0 ]; then
  goal "still_joined host watchA" "the watching game on the first lossy link ($kindA) stayed joined"
  goal "still_joined host watchB" "the watching game on the second lossy link ($kindB) stayed joined"
fi

if [ "$kills" -gt 0 ]; then
  for k in $(seq "$kills"); do
    rejoins=$(lines "$work/host.err")
    for kind in A B; do
      skip=$(lines "$work/host.err")
      killedAt=$(date +%s%N)
      killed "watch$kind"
      ms=$(wait_line "$work/host.err" "online: WATCH$kind stopped answering" 10 "$skip" "$killedAt") || ms=timeout
      kindText=kind$kind
      figure "a killed joining game on the link of ${!kindText}: the host noticed after $ms ms"
      goal "[ '$ms' != timeout ] && [ $ms -le 3000 ]" "noticed within 3 s"
      rm -f "$work/watch$kind.err"
      rm -rf "${work:?}/watch$kind"
      joiner "watch$kind" "$(kind_port "$kind")" --watch
    done
    joined host watchA 20 "$rejoins"
    joined host watchB 20 "$rejoins"
    sleep 3
    skipA=$(lines "$work/watchA.err") skipB=$(lines "$work/watchB.err")
    killedAt=$(date +%s%N)
    killed host
    msA=$(wait_line "$work/watchA.err" "online: The host stopped answering" 10 "$skipA" "$killedAt") || msA=timeout
    msB=$(wait_line "$work/watchB.err" "online: The host stopped answering" 10 "$skipB" "$killedAt") || msB=timeout
    figure "a killed host: noticed after $msA ms ($kindA) and $msB ms ($kindB)"
    goal "[ '$msA' != timeout ] && [ $msA -le 3000 ] && [ '$msB' != timeout ] && [ $msB -le 3000 ]" \
      "noticed within 3 s"
    if [ "$k" -lt "$kills" ]; then
      for name in watchA watchB one; do [ -n "${pid[$name]+x}" ] && killed "$name"; done
      port=$((port + 8))
      rm -rf "${work:?}/host" "$work/host.err"
      new_host host "$seats" "$wait" "$port"
      for kind in A B; do
        rm -rf "${work:?}/watch$kind" "$work/watch$kind.err"
        joiner "watch$kind" "$(kind_port "$kind")" --watch
      done
      joined host watchA 20
      joined host watchB 20
    fi
  done
fi

if [ "$soak" -gt 0 ]; then
  for kind in $(grep -o . <<<"$soakKinds"); do
    joinedCount=0 stayed=0 batch=0 rounds=0
    for first in $(seq 1 5 "$soakJoins"); do
      batch=$((batch + 1))
      port=$((port + 8))
      h="soak$kind$batch"
      new_host "$h" local,remote,remote,hard 80 "$port"
      names=()
      for n in $(seq "$first" $((first + 4 > soakJoins ? soakJoins : first + 4))); do
        names+=("s$kind$n")
        joiner "s$kind$n" "$(kind_port "$kind")" $([ $((n - first)) -ge 2 ] && echo --watch)
      done
      joinedNames=()
      for n in "${names[@]}"; do
        if wait_line "$work/$h.err" "online: ${n^^} joined" 20 >/dev/null; then
          joinedCount=$((joinedCount + 1))
          joinedNames+=("$n")
        fi
      done
      # The host plays on by itself: Return every few seconds moves it through every screen.
      end=$((SECONDS + soak * 60))
      last=""
      while [ $SECONDS -lt $end ]; do
        key "$h" Return
        sleep 3
        now=$(newest_replay "$h")
        [ "$now" != "$last" ] && [ -n "$now" ] && rounds=$((rounds + 1))
        last=$now
      done
      for n in "${joinedNames[@]}"; do  # a game that never joined did not stay
        if still_joined "$h" "$n"; then stayed=$((stayed + 1)); fi
      done
      killed "$h"
      for n in "${names[@]}"; do killed "$n"; done
    done
    kindText=kind$kind
    figure "soak on the link of ${!kindText}: $joinedCount of $soakJoins joins succeeded," \
      "$stayed of $soakJoins stayed joined for all $soak minutes of play ($rounds rounds)"
    goal "[ $joinedCount -eq $soakJoins ] && [ $stayed -eq $soakJoins ]" "all joins, all minutes"
  done
fi

[ -n "${ONLINE_FIGURES_LOGS:-}" ] && for f in "$work"/*.err; do echo "== $f"; cat "$f"; done
[ "$missed" -eq 0 ] || fail "$missed goals missed"
echo "online figures: every goal met"
