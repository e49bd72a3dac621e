#!/usr/bin/env bash
# A classroom's burst of picture requests: ab -n 20000 -c 200 on a 24x24
# picture (1782 bytes), against nginx and kestrel-announce --serve on
# 127.0.0.1 with the same folder, taking turns for a few rounds. Prints both
# rates, their ratio, the failed requests and the longest request.
#   serve_bench.sh KESTREL_ANNOUNCE [ROUNDS]
set -euo pipefail

announce=${1:?usage: serve_bench.sh KESTREL_ANNOUNCE [ROUNDS]}
rounds=${2:-4}
requests=20000
concurrency=200
for tool in ab nginx python3; do
  command -v "$tool" >/dev/null || { echo "serve_bench: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

work=$(mktemp -d)
# nginx's workers give up root's rights; they read the folder too.
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/site/pictures" "$work/nginx"
python3 - "$work/site/pictures/yuwen.bmp" <<'PY'
import struct, sys
width = height = 24
pixels = bytes((x * 10 % 256) for x in range(width * height * 3))
header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
open(sys.argv[1], "wb").write(header + info + pixels)
PY
read -r nginx_port kestrel_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')

cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  types { image/bmp bmp; }
  server { listen 127.0.0.1:$nginx_port; root $work/site; sendfile on; }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
pids+=($!)
"$announce" --serve "$work/site" --http-address 127.0.0.1 --http-port "$kestrel_port" >"$work/kestrel.log" 2>&1 &
pids+=($!)

# Both answer before the first round, or the run is void.
for port in "$nginx_port" "$kestrel_port"; do
  for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
    sleep 0.1
  done
done

# One ab run: "RATE FAILED LONGEST_MS"; a run that did not finish counts
# every request as failed.
measure() {
  local output
  if ! output=$(ab -q -s 10 -n "$requests" -c "$concurrency" "http://127.0.0.1:$1/pictures/yuwen.bmp" 2>&1); then
    echo "0 $requests 10000"
    return
  fi
  awk '/^Requests per second:/ { rate = $4 } /^Failed requests:/ { failed = $3 }
       /^Non-2xx responses:/ { failed += $3 } /100%/ { longest = $2 }
       END { print rate, failed, longest }' <<<"$output"
}

printf '%-6s %14s %14s %8s %8s %12s\n' round nginx/s kestrel/s ratio failed longest/ms
sum_nginx=0 sum_kestrel=0 failed_total=0 longest_max=0
for round in $(seq "$rounds"); do
  read -r nginx_rate nginx_failed nginx_longest < <(measure "$nginx_port")
  read -r kestrel_rate kestrel_failed kestrel_longest < <(measure "$kestrel_port")
  ratio=$(awk -v k="$kestrel_rate" -v n="$nginx_rate" 'BEGIN { printf "%.2f", (n > 0 ? k / n : 0) }')
  printf '%-6s %14s %14s %8s %8s %12s\n' "$round" "$nginx_rate" "$kestrel_rate" "$ratio" "$kestrel_failed" "$kestrel_longest"
  sum_nginx=$(awk -v a="$sum_nginx" -v b="$nginx_rate" 'BEGIN { print a + b }')
  sum_kestrel=$(awk -v a="$sum_kestrel" -v b="$kestrel_rate" 'BEGIN { print a + b }')
  failed_total=$((failed_total + kestrel_failed))
  [ "$kestrel_longest" -gt "$longest_max" ] && longest_max=$kestrel_longest
  [ "$nginx_failed" -eq 0 ] || echo "       (nginx failed $nginx_failed)"
done
awk -v n="$sum_nginx" -v k="$sum_kestrel" -v r="$rounds" -v f="$failed_total" -v l="$longest_max" 'BEGIN {
  printf "mean   %14.0f %14.0f %8.2f %8d %12d\n", n / r, k / r, (n > 0 ? k / n : 0), f, l
  printf "goal: kestrel >= 0.80 of nginx, no failed request, none over 1000 ms: %s\n",
    (n > 0 && k / n >= 0.8 && f == 0 && l <= 1000) ? "met" : "NOT met" }'
