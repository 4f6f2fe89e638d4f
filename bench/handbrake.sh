# HandBrakeCLI, the peer the conversion benchmarks compare against, installed when missing.
# Source it: . bench/handbrake.sh; need_handbrake || exit 1
need_handbrake() {
  command -v HandBrakeCLI >/dev/null && return 0
  echo "installing handbrake-cli for the comparison"
  if [ "$(id -u)" = 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y handbrake-cli >/dev/null
  else
    sudo DEBIAN_FRONTEND=noninteractive apt-get install -y handbrake-cli >/dev/null
  fi
}
