# A cluster on this machine for vidmora-cli's plan/run/report: two ssh "nodes" (two local users
# logging in over a private sshd) and a single-node Slurm (slurmctld + slurmd with munge, no
# cgroups). Everything runs inside a network namespace of its own, where loopback is the only
# interface, so no service can listen anywhere else, and a mount namespace of its own; every
# service is stopped by cluster_stop.
# Needs root (users, sshd, slurmd). Source it, then: cluster_enter_netns "$0" "$@" (re-runs the
# script in the namespace), cluster_start BUILD_DIR, ..., and trap cluster_stop EXIT.

CLUSTER_PACKAGES=(openssh-server openssh-client parallel rsync slurm-wlm slurm-client munge
  iproute2 util-linux ffmpeg)
CLUSTER_USERS=(vidmora-node1 vidmora-node2)

cluster_install() {
  local missing=() p
  for p in "${CLUSTER_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "cluster: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null ||
    { apt-get update >/dev/null && apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; }
}

# Re-runs the calling script inside a new network namespace (loopback only).
cluster_enter_netns() {
  local script=$1
  shift
  if [ "$(id -u)" -ne 0 ]; then
    echo "cluster: needs root (local users, sshd, slurmd); run it with sudo" >&2
    exit 2
  fi
  if [ -z "${VIDMORA_CLUSTER_NETNS:-}" ]; then
    cluster_install || exit 2
    # A mount namespace too: node2's bind mount goes with it, however the run ends.
    exec unshare --net --mount --propagation private env VIDMORA_CLUSTER_NETNS=1 \
      bash "$script" "$@"
  fi
  ip link set lo up
  # Slurm asks getaddrinfo for its listening address with AI_ADDRCONFIG, which offers IPv4 only
  # when some address beyond 127/8 exists: a documentation address on the loopback device
  # (of this namespace; it leads nowhere) is one.
  ip addr add 192.0.2.1/32 dev lo
}

# A TCP port nothing on loopback listens on.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# wait_for SECONDS CMD...: polls CMD every 0.1 s until it succeeds; fails after SECONDS.
wait_for() {
  local limit=$1 start=$SECONDS
  shift
  until "$@" 2>/dev/null; do
    [ $((SECONDS - start)) -ge "$limit" ] && return 1
    sleep 0.1
  done
}

CLUSTER_PIDS=()
CLUSTER_CREATED_USERS=()

cluster_start() {
  cluster_prepare "$1" && cluster_users && cluster_sshd && cluster_slurm
}

# The programs where every node user can run them ($CLI), the shared storage ($SHARED) and
# node2's view of it at another path ($NODE2_VIEW).
cluster_prepare() {
  local build=$1
  CT=$(mktemp -d /tmp/vidmora-cluster.XXXXXX)
  chmod 755 "$CT"
  mkdir -p "$CT/bin"
  cp "$build/bin/vidmora-cli" "$build/bin/vidmora-encoder" "$CT/bin/"
  chmod 755 "$CT/bin" "$CT/bin/"*
  CLI="$CT/bin/vidmora-cli"
  SHARED="$CT/shared"
  NODE2_VIEW="$CT/node2-storage"
  mkdir -p "$SHARED/in" "$SHARED/out"
  chmod 777 "$SHARED" "$SHARED/in" "$SHARED/out"
  if mkdir -p "$NODE2_VIEW" && mount --bind "$SHARED" "$NODE2_VIEW" 2>/dev/null; then
    CLUSTER_BIND=1
  else
    rmdir "$NODE2_VIEW" 2>/dev/null
    ln -s "$SHARED" "$NODE2_VIEW"
  fi
}

cluster_users() {
  local u
  for u in "${CLUSTER_USERS[@]}"; do
    if ! id "$u" >/dev/null 2>&1; then
      useradd --create-home --shell /bin/bash "$u" || return 1
      CLUSTER_CREATED_USERS+=("$u")
    fi
    # '*': no password, but not a locked account (sshd refuses those to keys as well).
    usermod -p '*' "$u"
  done
}

cluster_sshd() {
  local d="$CT/ssh" u
  mkdir -p "$d/keys" /run/sshd
  SSH_PORT=$(free_port)
  ssh-keygen -q -t ed25519 -N '' -f "$d/host_key"
  ssh-keygen -q -t ed25519 -N '' -f "$d/client_key"
  for u in "${CLUSTER_USERS[@]}"; do cp "$d/client_key.pub" "$d/keys/$u"; done
  chmod 644 "$d/keys/"*
  cat > "$d/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $SSH_PORT
HostKey $d/host_key
PidFile $d/sshd.pid
AuthorizedKeysFile $d/keys/%u
AllowUsers ${CLUSTER_USERS[*]}
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
Match User vidmora-node2
  SetEnv VIDMORA_MAP=$SHARED=$NODE2_VIEW
EOF
  /usr/sbin/sshd -D -e -f "$d/sshd_config" 2> "$d/sshd.log" &
  CLUSTER_PIDS+=($!)
  # The client side: two logins, as GNU parallel's --ssh gets them.
  cat > "$d/ssh_config" <<EOF
Host node1 node2
  HostName 127.0.0.1
  Port $SSH_PORT
  IdentityFile $d/client_key
  IdentitiesOnly yes
  StrictHostKeyChecking no
  UserKnownHostsFile /dev/null
  LogLevel ERROR
  BatchMode yes
Host node1
  User vidmora-node1
Host node2
  User vidmora-node2
EOF
  SSH="ssh -F $d/ssh_config"
  wait_for 20 $SSH node1 true && wait_for 20 $SSH node2 true || {
    echo "cluster: sshd did not come up" >&2
    cat "$d/sshd.log" >&2
    return 1
  }
}

cluster_slurm() {
  local d="$CT/slurm" host
  host=$(hostname -s)
  mkdir -p "$d/state" "$d/spool" "$d/logs" "$d/munge"
  chmod 777 "$d/logs"
  mungekey -c -k "$d/munge/munge.key"
  munged -F --key-file="$d/munge/munge.key" --socket="$d/munge/munge.sock" \
    --pid-file="$d/munge/munged.pid" --seed-file="$d/munge/seed" 2> "$d/munge/munged.log" &
  CLUSTER_PIDS+=($!)
  wait_for 20 test -S "$d/munge/munge.sock" || return 1
  cat > "$d/slurm.conf" <<EOF
ClusterName=vidmora
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$d/munge/munge.sock
StateSaveLocation=$d/state
SlurmdSpoolDir=$d/spool
SlurmctldPidFile=$d/slurmctld.pid
SlurmdPidFile=$d/slurmd.pid
SlurmctldLogFile=$d/slurmctld.log
SlurmdLogFile=$d/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SwitchType=switch/none
MpiDefault=none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
SlurmdTimeout=60
InactiveLimit=0
MinJobAge=30
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=local Nodes=$host Default=YES MaxTime=INFINITE State=UP OverSubscribe=NO
EOF
  export SLURM_CONF="$d/slurm.conf"
  slurmctld -D -i -f "$SLURM_CONF" 2> "$d/slurmctld.err" &
  CLUSTER_PIDS+=($!)
  slurmd -D -N "$host" -f "$SLURM_CONF" 2> "$d/slurmd.err" &
  CLUSTER_PIDS+=($!)
  wait_for 60 sh -c "sinfo -h -N -o %T 2>/dev/null | grep -Eq '^(idle|mixed|allocated)'" || {
    echo "cluster: Slurm did not come up" >&2
    tail -n 20 "$d/slurmctld.log" "$d/slurmd.log" >&2
    return 1
  }
}

cluster_stop() {
  local pid u
  # Latest first: slurmd, slurmctld, munged, sshd.
  for ((i = ${#CLUSTER_PIDS[@]} - 1; i >= 0; i--)); do
    pid=${CLUSTER_PIDS[$i]}
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  CLUSTER_PIDS=()
  if [ -n "${CLUSTER_BIND:-}" ]; then umount "$NODE2_VIEW" 2>/dev/null; fi
  for u in "${CLUSTER_CREATED_USERS[@]}"; do userdel -r "$u" 2>/dev/null; done
  [ -n "${CT:-}" ] && rm -rf "$CT"
}

# make_clips FOLDER COUNT SECONDS: COUNT small clips with picture and sound.
make_clips() {
  local folder=$1 count=$2 seconds=$3 i
  mkdir -p "$folder"
  for ((i = 1; i <= count; i++)); do
    ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc=size=320x240:rate=25:d=$seconds" \
      -f lavfi -i "sine=frequency=$((200 + i * 40)):d=$seconds" -pix_fmt yuv420p -shortest \
      "$folder/$(printf 'clip%02d' "$i").avi" || return 1
  done
}
