#!/usr/bin/env bash
# VISA clients nobody here wrote against korvax-sim, on the standard
# portmapper port 111: pyvisa-py over VXI-11 and a raw socket, and
# "lxi scpi" over VXI-11. Port 111 is taken in a network namespace made
# for the test (its own loopback, nothing reaches out), removed at the end.
# Exit 77 (skipped) where namespaces cannot be made.
set -u
sim=$1
here=$(cd "$(dirname "$0")" && pwd)
ns="korvax-test-$$"
if ! ip netns add "$ns" 2>/tmp/"$ns".err; then
    echo "skipped: cannot make a network namespace: $(cat /tmp/"$ns".err)"
    rm -f /tmp/"$ns".err
    exit 77
fi
rm -f /tmp/"$ns".err
work=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; fi
    ip netns del "$ns" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
ip netns exec "$ns" ip link set lo up
raw=5025
cat > "$work/resources.conf" <<CONF
[TCPIP0::127.0.0.1::inst0::INSTR]
model = RQ522
[TCPIP0::127.0.0.1::$raw::SOCKET]
model = RQ522
CONF
ip netns exec "$ns" "$sim" --verbose "$work/resources.conf" > "$work/out.txt" 2>&1 &
pid=$!
for _ in $(seq 100); do
    [ "$(grep -c '^serving ' "$work/out.txt")" -ge 2 ] && break
    sleep 0.05
done
if [ "$(grep -c '^serving ' "$work/out.txt")" -lt 2 ]; then
    echo "korvax-sim did not start:"; cat "$work/out.txt"; exit 1
fi
status=0
echo "== pyvisa-py"
PYTHONPATH="$here" timeout 30 ip netns exec "$ns" /usr/bin/python3 "$here/pyvisa_py_client.py" "$raw" || status=1
echo "== lxi scpi"
answer=$(timeout 30 ip netns exec "$ns" lxi scpi -a 127.0.0.1 "*IDN?" 2>&1)
echo "$answer"
case "$answer" in *QM,RQ522,*) ;; *) status=1 ;; esac
if [ $status -ne 0 ]; then echo "== server log"; cat "$work/out.txt"; fi
exit $status
