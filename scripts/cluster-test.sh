#!/usr/bin/env bash
# A real cluster run of the batch form, on a one-node Slurm cluster made for the run:
#   scripts/cluster-test.sh [BUILD_DIR]   (default: build; runs BUILD_DIR/src/cli/tvq)
#
# Installs Debian's Slurm and munge (scripts/setup.sh), starts munged, slurmctld and
# slurmd by hand (no systemd) with every file they write (key, socket, configuration,
# state, spool, pid files, logs) in one temporary folder and on free ports, and submits
# README's job-array script with sbatch --wait over a folder of pictures:
#   1. every picture is done exactly once (the shared log, and the results);
#   2. a second run is killed half-way in one task (SIGKILL to its processes), and a
#      resubmission does only what is missing; its results equal those of run 1.
# Then the jobs are cancelled, the daemons stopped by their pids, and the folder
# removed; daemons that installing the packages started are stopped too, so the
# machine is left as it was found. Every wait has a time limit: a cluster that does
# not come up, or a job that does not end, fails the run with the daemons' logs.
set -euo pipefail
TVQ_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$TVQ_ROOT/build}" && pwd)"
TVQ="$BUILD/src/cli/tvq"
. "$TVQ_ROOT/scripts/setup.sh"

say() { echo "cluster-test: $*" >&2; }

# The daemons run as root, and the jobs as the submitting user.
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then exec sudo -- "$0" "$BUILD"; fi
  say "the Slurm daemons must run as root, and sudo is missing"
  exit 1
fi
[ -x "$TVQ" ] || {
  say "$TVQ is missing: build first"
  exit 1
}

# Installing may start the packages' daemons where no policy forbids it; those that
# were not running before are stopped again at the end.
system_pidfiles="/run/munge/munged.pid /run/slurmctld.pid /run/slurmd.pid"
running_before=""
for f in $system_pidfiles; do [ -s "$f" ] && running_before+=" $f"; done
tvq_install_packages $TVQ_CLUSTER_PACKAGES
started_by_install=""
for f in $system_pidfiles; do
  case " $running_before " in *" $f "*) continue ;; esac
  [ -s "$f" ] && started_by_install+=" $(cat "$f")"
done

T="$(mktemp -d /tmp/tvq-cluster.XXXXXX)"
chmod 755 "$T"
daemon_pids=()
export SLURM_CONF="$T/slurm.conf"

# Stops a process by its pid: TERM, up to 10 s, then KILL.
stop_pid() {
  local pid="$1" i
  kill -TERM "$pid" 2>/dev/null || return 0
  for i in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.2
  done
  kill -KILL "$pid" 2>/dev/null || true
}

cleanup() {
  local status=$?
  trap - EXIT
  if [ -s "$T/slurmctld.pid" ]; then
    # Jobs first, while slurmd can still end their steps.
    timeout 10 scancel --quiet --user=root 2>/dev/null || true
    local i
    for i in $(seq 50); do
      [ -z "$(timeout 5 squeue -h -o %i 2>/dev/null)" ] && break
      sleep 0.2
    done
  fi
  local pid
  for pid in "${daemon_pids[@]}"; do stop_pid "$pid"; done
  [ -s "$T/munge/munged.pid" ] && stop_pid "$(cat "$T/munge/munged.pid")"
  for pid in $started_by_install; do stop_pid "$pid"; done
  rm -rf "$T"
  if [ $status -ne 0 ]; then say "FAILED"; else say "passed"; fi
  exit $status
}
trap cleanup EXIT

fail() {
  say "$*"
  local log
  for log in "$T"/munge/munged.log "$T"/slurmctld.log "$T"/slurmd.log "$T"/job-*.out; do
    [ -f "$log" ] || continue
    echo "--- $log (last lines)" >&2
    tail -n 15 "$log" >&2
  done
  exit 1
}

# Polls `condition` (a command) every 0.2 s for up to `seconds`.
wait_for() {
  local seconds="$1" what="$2"
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || fail "gave up after ${seconds}s waiting for $what"
    sleep 0.2
  done
}

# --- munge, with its own key and socket.
mkdir -m 700 "$T/munge"
dd if=/dev/urandom of="$T/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$T/munge/munge.key"
timeout 20 munged --force --key-file="$T/munge/munge.key" --socket="$T/munge/munge.sock" \
  --pid-file="$T/munge/munged.pid" --log-file="$T/munge/munged.log" \
  --seed-file="$T/munge/munged.seed" || fail "munged did not start"
wait_for 10 "munged's credentials" \
  sh -c "munge -n --socket='$T/munge/munge.sock' | unmunge --socket='$T/munge/munge.sock' >/dev/null"

# --- Slurm: one node with this machine's cores, on two free ports.
read -r ctld_port node_port < <(/usr/bin/python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')
host="$(hostname -s)"
cpus="$(nproc)"
mkdir -p "$T/state" "$T/spool"
cat >"$SLURM_CONF" <<EOF
ClusterName=tvqtest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$node_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$T/munge/munge.sock
StateSaveLocation=$T/state
SlurmdSpoolDir=$T/spool
SlurmctldPidFile=$T/slurmctld.pid
SlurmdPidFile=$T/slurmd.pid
SlurmctldLogFile=$T/slurmctld.log
SlurmdLogFile=$T/slurmd.log
PlugStackConfig=$T/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
# sbatch --wait polls every 2 s only while MinJobAge is at most 6 s (then every 8 s
# and more); jobs are kept that long after they end.
MinJobAge=6
KillWait=5
MailProg=/bin/true
NodeName=tvqnode NodeHostname=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=tvq Nodes=tvqnode Default=YES MaxTime=10 State=UP
EOF
: >"$T/plugstack.conf"
slurmctld -D -i -f "$SLURM_CONF" >"$T/slurmctld.out" 2>&1 &
daemon_pids+=($!)
slurmd -D -N tvqnode -f "$SLURM_CONF" >"$T/slurmd.out" 2>&1 &
daemon_pids+=($!)
node_idle() { [ "$(timeout 5 sinfo -h -n tvqnode -o %t 2>/dev/null)" = idle ]; }
wait_for 30 "the node to come up idle" node_idle
say "one-node cluster up ($cpus CPUs, ports $ctld_port and $node_port)"

# --- README's job-array script: the indented block after the line naming tvq-array.sh.
awk '/`tvq-array.sh`/ { found = 1; next }
     found && /^    / { sub(/^    /, ""); print; inblock = 1; next }
     found && inblock { exit }' "$TVQ_ROOT/README.md" >"$T/tvq-array.sh"
grep -q -- '--shard "\$SLURM_ARRAY_TASK_ID/' "$T/tvq-array.sh" ||
  fail "README.md holds no job-array script after the line naming tvq-array.sh"

# --- The pictures: 12 textured 480 x 360 BMP files, about 0.7 s each to enlarge.
mkdir -p "$T/pictures/more"
/usr/bin/python3 - "$T/pictures" <<'EOF'
import math, struct, sys
w, h = 480, 360
row = w * 3
for n in range(12):
    wave = bytes(int(127 + 120 * math.sin(i * (0.05 + 0.01 * n))) for i in range(4 * (w + h)))
    rows = [bytes(wave[(x * (2 + n % 3) + y * (3 + n % 4)) % len(wave)] ^ (n * 20 + c * 50) % 256
                  for x in range(w) for c in range(3)) for y in range(h)]
    data = b"".join(rows)
    name = f"{sys.argv[1]}/{'more/' if n % 2 else ''}p{n:02d}.bmp"
    with open(name, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0))
        f.write(data)
EOF

# sbatch RUN [options]: submits the script over the pictures into $T/RUN as a 2-task
# array, one CPU each, waiting for its end (at most 90 s); sbatch's status in $T/RUN.rc.
submit() {
  local run="$1"
  shift
  local rc=0
  PATH="$(dirname "$TVQ"):$PATH" timeout 90 sbatch --wait --parsable --array=0-1 \
    --cpus-per-task=1 --time=5 --chdir="$T" --output="$T/job-%A_%a.out" "$@" \
    "$T/tvq-array.sh" "$T/pictures" "$T/$run" --quiet >"$T/$run.id" || rc=$?
  [ $rc -ne 124 ] || fail "sbatch --wait did not return within 90 s"
  echo $rc >"$T/$run.rc"
}

# check.py LOG OUTDIR FIRST_LINE EXPECT: checks the log's lines from FIRST_LINE (1-based)
# and the results; EXPECT is "all" (every picture done once), "some" (some but not all
# of shard 1 done, all of shard 0) or "rest" (what the first lines left is done now,
# the rest skipped, so each picture is done exactly once over the whole log).
cat >"$T/check.py" <<'EOF'
import json, os, sys
log, outdir, first, expect = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
pictures = sorted(os.path.join(d, f)[len(sys.argv[5]) + 1:]
                  for d, _, fs in os.walk(sys.argv[5]) for f in fs)
shard = {p: i % 2 for i, p in enumerate(pictures)}
lines = [json.loads(l) for l in open(log)]
before, now = lines[:first - 1], lines[first - 1:]
def done(entries):
    return [os.path.relpath(e["input"], sys.argv[5]) for e in entries if e["status"] == "done"]
for e in now:
    assert e["status"] in ("done", "skipped"), e
    assert e["status"] != "done" or (e["seconds"] > 0 and e["peak_rss"] > 0), e
results = sorted(os.path.join(d, f)[len(outdir) + 1:] for d, _, fs in os.walk(outdir)
                 for f in fs if f.endswith(".bmp"))
everything = done(before) + done(now)
if expect == "some":
    ones = [p for p in done(now) if shard[p] == 1]
    assert sorted(p for p in done(now) if shard[p] == 0) == [p for p in pictures if shard[p] == 0]
    assert 0 < len(ones) < 6, f"shard 1 did {len(ones)} of 6 before it was killed"
    assert results == sorted(done(now)), (results, done(now))
    print(f"killed task had done {len(ones)} of its 6 pictures")
else:
    assert sorted(everything) == pictures, f"done over the log: {sorted(everything)}"
    assert results == pictures, results
    if expect == "rest":
        skipped = sorted(os.path.relpath(e["input"], sys.argv[5]) for e in now
                         if e["status"] == "skipped")
        assert skipped == sorted(done(before)), (skipped, done(before))
        print(f"resubmission did {len(done(now))}, skipped {len(skipped)}")
    else:
        print(f"{len(done(now))} pictures done once each")
EOF
check() { /usr/bin/python3 "$T/check.py" "$@" "$T/pictures" || fail "check failed: $*"; }

# --- Run 1: the whole folder.
start=$SECONDS
submit run1
[ "$(cat "$T/run1.rc")" = 0 ] || fail "run 1: sbatch --wait exited with $(cat "$T/run1.rc")"
check "$T/run1/tvq-log.jsonl" "$T/run1" 1 all
say "run 1 took $((SECONDS - start)) s"

# --- Run 2: task 1 killed once it has done two pictures.
start=$SECONDS
submit run2 &
submitter=$!
shard1_done() {
  [ -f "$T/run2/tvq-log.jsonl" ] &&
    [ "$(grep -c '"status":"done"' "$T/run2/tvq-log.jsonl" | tr -d ' ')" -ge 2 ] &&
    /usr/bin/python3 - "$T/run2/tvq-log.jsonl" "$T/pictures" <<'EOF'
import json, os, sys
pictures = sorted(os.path.join(d, f)[len(sys.argv[2]) + 1:]
                  for d, _, fs in os.walk(sys.argv[2]) for f in fs)
done = [os.path.relpath(json.loads(l)["input"], sys.argv[2]) for l in open(sys.argv[1])]
sys.exit(0 if sum(pictures.index(p) % 2 == 1 for p in done) >= 2 else 1)
EOF
}
wait_for 60 "task 1 of run 2 to finish two pictures" shard1_done
job="$(cut -d';' -f1 "$T/run2.id")"
[ -n "$job" ] || fail "run 2: no job id from sbatch"
# SIGKILL to the task's processes, as the kernel's out-of-memory killer or a lost node
# would end them: no chance to log or clean up. (scancel stops tvq gracefully, with
# SIGTERM first.) linuxproc tracking lists the processes of the task's job.
task="$(timeout 10 squeue -h -j "${job}_1" -o %A)" || fail "squeue found no task ${job}_1"
pids="$(timeout 10 scontrol listpids "$task" | awk 'NR > 1 && $1 ~ /^[0-9]+$/ { print $1 }')"
[ -n "$pids" ] || fail "scontrol listpids found no process of task ${job}_1 (job $task)"
kill -KILL $pids
wait "$submitter"
[ "$(cat "$T/run2.rc")" != 0 ] || fail "run 2: sbatch --wait succeeded although a task was killed"
check "$T/run2/tvq-log.jsonl" "$T/run2" 1 some
lines=$(wc -l <"$T/run2/tvq-log.jsonl")

# --- Resubmitted: only what is missing is done; the results equal run 1's.
submit run2
[ "$(cat "$T/run2.rc")" = 0 ] || fail "resubmission: sbatch --wait exited with $(cat "$T/run2.rc")"
check "$T/run2/tvq-log.jsonl" "$T/run2" $((lines + 1)) rest
diff -r -x tvq-log.jsonl "$T/run1" "$T/run2" >/dev/null ||
  fail "the resubmitted run's results differ from run 1's"
say "kill and resubmission took $((SECONDS - start)) s"
