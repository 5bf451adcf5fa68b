# free_port: prints a loopback port nobody listens on (sourced by the test
# scripts that start machines with virtual modems).
free_port() {
  local p
  for _ in $(seq 50); do
    p=$((20000 + RANDOM % 40000))
    if ! (exec 3<> "/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return; fi
  done
  return 1
}
