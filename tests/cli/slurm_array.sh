#!/usr/bin/env bash
# The README's Slurm job array, run on a one-node cluster of its own: munged and the two Slurm
# daemons with their key, configuration, ports (on 127.0.0.1), socket and spool in a temporary
# folder, as root. Every song must be converted exactly once, each by the task whose shard holds
# it, and every task must leave its manifest.
#
#   slurm_array.sh KORVESSA SOUNDFONT SONG...
set -euo pipefail

korvessa=$(realpath "$1") soundfont=$2
shift 2
tasks=3 bound=300

fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "the daemons run as root here; run this as root"
for tool in munged mungekey slurmctld slurmd sbatch scontrol sinfo jq soxi; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done

# Waits until a command succeeds, for at most $1 seconds.
await() {
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

# A run inside another Slurm job must not hand that job's variables to ours.
while read -r name; do unset "$name"; done < <(compgen -e | grep '^SLURM_' || true)
work=$(mktemp -d -t kv-slurm.XXXXXX)
pids=()
stop() {
  local code=$? pid
  [ "$code" -eq 0 ] || for log in "$work"/log/*; do echo "== $log" >&2; tail -n 30 "$log" >&2; done
  if [ -f "$work/ctld.up" ]; then
    # Jobs still running are ended first: their steps would outlive slurmd.
    timeout 10 scancel --quiet --user=root 2>/dev/null || true
    await 20 sh -c '[ -z "$(squeue -h)" ]' || echo "jobs were still listed when the daemons stopped" >&2
  fi
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  # The Slurm daemons run in the foreground as children: waiting for them is waiting for their end.
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -S "$work/socket/munge" ] && munged --stop --socket="$work/socket/munge" >/dev/null 2>&1
  rm -rf "$work"
  exit "$code"
}
trap stop EXIT
trap 'exit 130' INT TERM

# Two ports nothing listens on.
free_port() {
  local p
  for ((p = 20000 + RANDOM % 30000; ; p++)); do
    [ "$p" != "${1:-}" ] && ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && { echo "$p"; return; }
  done
}
ctld_port=$(free_port)
slurmd_port=$(free_port "$ctld_port")

# munged wants its key private and its socket's folders open to all.
mkdir -p "$work"/{log,state,spool,midi,out,manifests,munge,socket}
chmod 755 "$work" "$work/socket"
chmod 700 "$work/munge"

# munge: a fresh key and a daemon on a socket of its own. Without --foreground it returns only
# once the socket takes requests.
mungekey --create --keyfile="$work/munge/key" 2>"$work/log/mungekey"
munged --socket="$work/socket/munge" --key-file="$work/munge/key" --pid-file="$work/munge/pid" \
  --seed-file="$work/munge/seed" --log-file="$work/log/munged"

host=$(hostname -s)
export SLURM_CONF=$work/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=korvessa
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
CommunicationParameters=NoInAddrAny
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/socket/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/log/slurmctld
SlurmdLogFile=$work/log/slurmd
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SlurmdParameters=config_overrides
MpiDefault=none
MailProg=/bin/true
ReturnToService=2
NodeName=kvnode NodeHostname=$host NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN
PartitionName=kv Nodes=kvnode Default=YES MaxTime=INFINITE State=UP
EOF

slurmctld -D -i -f "$SLURM_CONF" >>"$work/log/slurmctld.err" 2>&1 &
pids+=($!)
await 30 scontrol ping || fail "slurmctld did not answer within 30 s"
touch "$work/ctld.up"
slurmd -D -N kvnode -f "$SLURM_CONF" >>"$work/log/slurmd.err" 2>&1 &
pids+=($!)
await 30 sh -c '[ "$(sinfo -h -n kvnode -o %t)" = idle ]' || fail "the node did not come up idle within 30 s"

# The songs, one of them a folder down, as a collection is.
mkdir -p "$work/midi/sub"
for song in "$@"; do cp "$song" "$work/midi/"; done
mv "$work/midi/$(basename "$1")" "$work/midi/sub/"
mapfile -t songs < <(find "$work/midi" -type f | LC_ALL=C sort)

printf '[Setup]\nSoundFont=%s\nSource=synth\nFast=1\n' "$soundfont" >"$work/system.ini"
export KORVESSA_SYSTEM_INI=$work/system.ini PATH=$(dirname "$korvessa"):$PATH

# The README's recipe, word for word but for the folders.
cat >"$work/job.sh" <<EOF
#!/bin/bash
#SBATCH --array=0-$((tasks - 1))
#SBATCH --cpus-per-task=1
korvessa convert --out $work/out --skip-existing \\
  --shard \$((SLURM_ARRAY_TASK_ID+1))/\$SLURM_ARRAY_TASK_COUNT \\
  --manifest $work/manifests/shard-\$SLURM_ARRAY_TASK_ID.jsonl $work/midi
EOF
cd "$work"
timeout "$bound" sbatch --wait --quiet --output="$work/log/task-%a" "$work/job.sh" ||
  fail "the job array did not end well within $bound s (exit code $?)"

# Each task converted its own slice of the sorted songs (the K-th of every N) and said so.
for ((t = 0; t < tasks; t++)); do
  manifest=$work/manifests/shard-$t.jsonl
  [ -f "$manifest" ] || fail "task $t wrote no manifest"
  expected=()
  for ((i = t; i < ${#songs[@]}; i += tasks)); do expected+=("${songs[i]}"); done
  mapfile -t got < <(jq -r 'select(.status == "converted") | .input' "$manifest")
  [ "${got[*]}" = "${expected[*]}" ] ||
    fail "task $t converted [${got[*]}], its shard is [${expected[*]}]"
  rows=$(jq -s length "$manifest")
  [ "$rows" -eq "${#expected[@]}" ] || fail "task $t wrote $rows rows for ${#expected[@]} songs"
done

# Every song once: the outputs mirror the songs' tree, nothing else is left, each a WAVE with sound.
mapfile -t outputs < <(cd "$work/out" && find . -mindepth 1 \( -type f -o -name '.*' \) | LC_ALL=C sort)
mapfile -t wanted < <(for s in "${songs[@]}"; do r=${s#"$work/midi"}; echo ".${r%.*}.wav"; done | LC_ALL=C sort)
[ "${outputs[*]}" = "${wanted[*]}" ] || fail "the output folder holds [${outputs[*]}], not [${wanted[*]}]"
for f in "${outputs[@]}"; do
  [ "$(soxi -t "$work/out/$f")" = wav ] && [ "$(soxi -s "$work/out/$f")" -gt 0 ] ||
    fail "$f is not a WAVE with samples"
done
echo "PASS: ${#songs[@]} songs over $tasks array tasks, each converted once"
