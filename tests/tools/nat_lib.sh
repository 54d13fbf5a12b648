# Shared by the tests through real routers (nat_server.sh, nat_games.sh):
# network namespaces that make a "public" network (203.0.113.0/24, a bridge in
# the namespace pub) and homes behind routers of their own. Source it, then
# hand nat_options the scripts' options: --delay MS (every public link but
# the server's delays each frame MS ms each way) and --figures N (into
# $figures). It checks for
# root and the tools (exit 77 without), and removes every namespace, child
# and the work folder ($work) on exit. Nothing leaves the machine: every
# address is inside the namespaces made here.
delay=0
figures=0
nat_options() {
  while [ $# -gt 0 ]; do
    case $1 in
      --delay) delay=$2; shift 2 ;;
      --figures) figures=$2; shift 2 ;;
      *) echo "unknown option $1"; exit 2 ;;
    esac
  done
}
[ "$(id -u)" -eq 0 ] || { echo "needs root for network namespaces"; exit 77; }
for tool in ip nft python3; do command -v "$tool" >/dev/null || { echo "missing $tool"; exit 77; }; done
nat_probe=nvprobe$$
ip netns add "$nat_probe" 2>/dev/null || { echo "cannot make network namespaces here"; exit 77; }
ip netns del "$nat_probe"
nat_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-nat-XXXXXX")
tag=nv$$
namespaces=()
children=()
source "$nat_here/processes.sh"
cleanup() {
  set +e
  for p in "${children[@]}"; do stop_child "$p"; done
  for n in "${namespaces[@]}"; do ip netns del "$n"; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/*.log "$work"/*.err "$work"/*.out; do [ -e "$f" ] && { echo "== $f"; tail -n 30 "$f"; }; done >&2
  exit 1
}
ns() { local n=$1; shift; ip netns exec "$tag-$n" "$@"; }
spawn() {  # spawn NS LOG CMD...: a child in a namespace, its output in LOG
  local n=$1 log=$2
  shift 2
  ip netns exec "$tag-$n" "$@" >"$work/$log" 2>&1 &
  children+=($!)
}
mkns() {
  ip netns add "$tag-$1"
  namespaces+=("$tag-$1")
  ns "$1" ip link set lo up
}
# A namespace's interface "wan" on the public bridge, through a cable with
# the delay when there is one (the server's own link has none).
links=0
attach() {
  local n=$1 address=$2 port=p$((++links))
  ip link add wan netns "$tag-$n" type veth peer name "$port" netns "$tag-pub"
  ns "$n" ip addr add "$address/24" dev wan
  ns "$n" ip link set wan up
  if [ "$delay" -gt 0 ] && [ "$n" != srv ]; then
    ns pub ip link add "d$port" type veth peer name "b$port"
    ns pub ip link set "b$port" master br0
    for i in "$port" "d$port" "b$port"; do ns pub ip link set "$i" up promisc on; done
    spawn pub "wire-$n.log" python3 "$nat_here/delay_wire.py" "$port" "d$port" "$delay"
  else
    ns pub ip link set "$port" master br0
    ns pub ip link set "$port" up
  fi
}
# A home: the machine h<N> (192.168.N.2) behind the router r<N>
# (203.0.113.1N), which masquerades with nftables and, like a home router,
# lets in nothing it was not asked for. KIND keeping: the machine's port is
# kept where it can be (hole punching works); symmetric: every destination
# gets a random port (only the relay helps).
home() {
  local n=$1 kind=$2
  mkns "r$n"
  mkns "h$n"
  attach "r$n" "203.0.113.$((10 + n))"
  ip link add lan netns "$tag-r$n" type veth peer name eth0 netns "$tag-h$n"
  ns "r$n" ip addr add "192.168.$n.1/24" dev lan
  ns "h$n" ip addr add "192.168.$n.2/24" dev eth0
  ns "r$n" ip link set lan up
  ns "h$n" ip link set eth0 up
  ns "h$n" ip route add default via "192.168.$n.1"
  ns "r$n" sysctl -qw net.ipv4.ip_forward=1
  local random=""
  [ "$kind" = symmetric ] && random=random
  ns "r$n" nft -f - <<NFT
table ip home {
  chain outbound { type nat hook postrouting priority 100; oifname "wan" masquerade $random; }
  chain guard_in { type filter hook input priority 0; iifname "wan" ct state new drop; }
  chain guard_through { type filter hook forward priority 0; iifname "wan" ct state new drop; }
}
NFT
}
# The public network, the server's namespace srv at $SERVER, a machine with
# a public address (open, $OPEN), and homes 1 and 2 keeping ports, 3 and 4
# symmetric.
SERVER=203.0.113.2
OPEN=203.0.113.3
public_network() {
  mkns pub
  ns pub ip link add br0 type bridge
  ns pub ip link set br0 up
  mkns srv
  attach srv "$SERVER"
  mkns open
  attach open "$OPEN"
  home 1 keeping
  home 2 keeping
  home 3 symmetric
  home 4 symmetric
}
# Waits for a server's first line in its log.
server_started() {  # server_started LOG
  for _ in $(seq 50); do grep -q 'nuvel-server on UDP port' "$work/$1" && return 0; sleep 0.1; done
  fail "the server of $1 did not start"
}
