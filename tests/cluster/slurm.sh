# Sourced by the Slurm tests after archive.sh: a single-node Slurm cluster of
# this machine for one test, with accounting (so that sacct answers), under a
# private state folder and on free ports:
#   munged     with a key made for the run
#   mariadbd   a database of its own, for slurmdbd
#   slurmdbd   accounting storage
#   slurmctld  and slurmd: one node with this machine's processors, one partition
# Every daemon is started here and stopped by its process id on every exit,
# after the cluster's jobs are cancelled. A daemon that does not start makes
# the test skipped, with the daemon's own error.
#   VMFITS_SLURM_CONF_EXTRA  lines appended to slurm.conf (the skip check breaks it so)
#   VMFITS_CLUSTER_PIDS      a file to which "NAME PID" of every daemon started is appended

state="$work/cluster"
daemons=()  # "NAME PID", in the order started
startup_times=""

for program in munged mariadbd mariadb-install-db slurmdbd slurmctld slurmd sbatch sacct; do
  command -v "$program" >/dev/null || [ -x "/usr/sbin/$program" ] ||
    skip "$program is not installed (scripts/setup.sh installs what the cluster tests need)"
done
export PATH="$PATH:/usr/sbin"

# What a daemon's own output says went wrong: its last fatal line, else its
# last three error lines (without the MPI plugins' complaints, which do not stop it).
daemon_error() {
  local log="$state/log/$1.log" lines
  lines=$(grep -aiE 'fatal|error' "$log" 2>/dev/null | grep -avE 'mpi/pmix|PMIx|MPI: Cannot create context|not recommended values' || true)
  if grep -qi fatal <<<"$lines"; then lines=$(grep -i fatal <<<"$lines" | tail -n 1); else lines=$(tail -n 3 <<<"$lines"); fi
  [ -n "$lines" ] || lines=$(tail -n 1 "$log" 2>/dev/null || true)
  echo "${lines:-no output}" | paste -sd '|' - | sed 's/|/; /g'
}

# start_daemon NAME READY COMMAND...: COMMAND in the foreground of a process
# of its own, output to $state/log/NAME.log; waits until the shell command
# READY succeeds. When the daemon ends first or is not ready within 30 s, the
# test is skipped with its error.
start_daemon() {
  local name=$1 ready=$2 pid deadline=$((SECONDS + 30)) started
  started=$(now)
  shift 2
  "$@" >"$state/log/$name.log" 2>&1 &
  pid=$!
  daemons+=("$name $pid")
  [ -z "${VMFITS_CLUSTER_PIDS:-}" ] || echo "$name $pid" >>"$VMFITS_CLUSTER_PIDS"
  until eval "$ready" >/dev/null 2>&1; do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid" 2>/dev/null || true
      skip "$name did not start: $(daemon_error "$name")"
    fi
    [ "$SECONDS" -lt "$deadline" ] || skip "$name was not ready within 30 s: $(daemon_error "$name")"
    sleep 0.1
  done
  startup_times+="${startup_times:+, }$name $(seconds_since "$started") s"
}

stop_cluster() {
  local i name pid n
  if [[ " ${daemons[*]} " == *" slurmd "* ]]; then
    # Jobs outlive slurmd (their step daemons are on their own): cancel them first.
    scancel --user="$(id -un)" 2>/dev/null || true
    for ((n = 0; n < 100; n++)); do [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break; sleep 0.1; done
  fi
  for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
    read -r name pid <<<"${daemons[i]}"
    kill "$pid" 2>/dev/null || continue
    for ((n = 0; n < 200; n++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if [ "$n" -eq 200 ]; then
      echo "$name (pid $pid) did not end within 20 s of SIGTERM: killed" >&2
      kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
  done
  daemons=()
}
cleanup_steps+=(stop_cluster)

# free_ports N: N TCP ports of 127.0.0.1 that nothing listens on now.
free_ports() {
  python3 -c 'import socket, sys
s = [socket.socket() for _ in range(int(sys.argv[1]))]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])' "$1"
}

start_cluster() {
  local started user host ctld_port slurmd_port dbd_port db_port password
  started=$(now)
  user=$(id -un)
  host=$(hostname -s)
  mkdir -p "$state/log" "$state/munge" "$state/db" "$state/slurm/state" "$state/slurm/spool"
  # Clients and job steps reach munged through this folder: it must be open to all.
  chmod 755 "$work" "$state" "$state/munge"
  read -r ctld_port slurmd_port dbd_port db_port <<<"$(free_ports 4)"

  dd if=/dev/urandom of="$state/munge/munge.key" bs=1024 count=1 status=none
  chmod 600 "$state/munge/munge.key"
  local socket="$state/munge/socket"
  start_daemon munged "munge -n -S '$socket' | unmunge -S '$socket'" \
    munged --foreground --force --num-threads=10 --socket="$socket" --key-file="$state/munge/munge.key" \
    --pid-file="$state/munge/munged.pid" --seed-file="$state/munge/seed" --log-file="$state/log/munged.file.log"

  mariadb-install-db --no-defaults --datadir="$state/db/data" --user="$user" --auth-root-authentication-method=normal \
    --skip-test-db >"$state/log/mariadb-install-db.log" 2>&1 ||
    skip "mariadb-install-db failed: $(tail -n 1 "$state/log/mariadb-install-db.log")"
  local db_socket="$state/db/socket"
  start_daemon mariadbd "mariadb --no-defaults -S '$db_socket' -uroot -e 'select 1'" \
    mariadbd --no-defaults --datadir="$state/db/data" --user="$user" --bind-address=127.0.0.1 --port="$db_port" \
    --socket="$db_socket" --pid-file="$state/db/mariadbd.pid" --skip-log-bin --innodb-buffer-pool-size=64M \
    --innodb-lock-wait-timeout=900
  password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
  mariadb --no-defaults -S "$db_socket" -uroot -e "CREATE USER 'slurm'@'127.0.0.1' IDENTIFIED BY '$password';
    GRANT ALL ON slurm_acct_db.* TO 'slurm'@'127.0.0.1';" || fail "could not make the accounting database's user"

  export SLURM_CONF="$state/slurm/slurm.conf"
  cat >"$state/slurm/slurmdbd.conf" <<EOF
AuthType=auth/munge
AuthInfo=socket=$socket
DbdHost=localhost
DbdAddr=127.0.0.1
DbdPort=$dbd_port
SlurmUser=$user
PidFile=$state/slurm/slurmdbd.pid
StorageType=accounting_storage/mysql
StorageHost=127.0.0.1
StoragePort=$db_port
StorageUser=slurm
StoragePass=$password
StorageLoc=slurm_acct_db
EOF
  chmod 600 "$state/slurm/slurmdbd.conf"
  # sched/builtin, no delay before batch jobs start, and finished jobs kept an
  # hour for scontrol: the tests wait on jobs of a second or two. The node has
  # at least 4 processors (config_overrides: whatever the machine has), so
  # that the tasks of an array, and a second task beside one held at the gate
  # of the fault tests, run at once.
  local cpus
  cpus=$(nproc)
  [ "$cpus" -ge 4 ] || cpus=4
  cat >"$SLURM_CONF" <<EOF
ClusterName=vmfits
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=$user
SlurmdUser=$user
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$state/slurm/state
SlurmdSpoolDir=$state/slurm/spool
SlurmctldPidFile=$state/slurm/slurmctld.pid
SlurmdPidFile=$state/slurm/slurmd.pid
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/slurmdbd
AccountingStorageHost=localhost
AccountingStoragePort=$dbd_port
AccountingStoragePass=$socket
MpiDefault=none
MailProg=/bin/true
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/builtin
SchedulerParameters=batch_sched_delay=0
ReturnToService=2
MinJobAge=3600
KillWait=5
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
SlurmdParameters=config_overrides
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
${VMFITS_SLURM_CONF_EXTRA:-}
EOF
  start_daemon slurmdbd "grep -q 'slurmdbd version .* started' '$state/log/slurmdbd.log'" slurmdbd -D
  start_daemon slurmctld "scontrol ping | grep -q 'is UP'" slurmctld -D
  start_daemon slurmd "[ \"\$(sinfo -h -o %T)\" = idle ]" slurmd -D
  echo "cluster up in $(seconds_since "$started") s ($startup_times)"
}

# job_lines JOB: "JOBID_TASK STATE" of each task as scontrol shows them (the
# tasks still pending together as one line, "JOBID_0-2 PENDING").
job_lines() {
  scontrol show job -o "$1" | awk '{ delete v; for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
    print v["ArrayJobId"] "_" v["ArrayTaskId"], v["JobState"] }'
}

# wait_job JOB [SECONDS]: until every task of JOB has ended (120 s at most).
wait_job() {
  local deadline=$((SECONDS + ${2:-120}))
  while job_lines "$1" | grep -qE ' (PENDING|RUNNING|CONFIGURING|COMPLETING|SUSPENDED|REQUEUED|RESIZING)$'; do
    [ "$SECONDS" -lt "$deadline" ] || fail "job $1 has not ended within ${2:-120} s: $(job_lines "$1" | tr '\n' ' ')"
    sleep 0.1
  done
}

# wait_state JOB STATE: until a task of JOB is in STATE (60 s at most).
wait_state() {
  local deadline=$((SECONDS + 60))
  until job_lines "$1" | grep -q " $2$"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "job $1 is not $2 within 60 s: $(job_lines "$1" | tr '\n' ' ')"
    sleep 0.1
  done
}

# accounted JOB TASKS: sacct's lines of JOB once it has recorded the end of
# all TASKS; prints them, and "TASK STATE" lines to $work/states.txt.
accounted() {
  local deadline=$((SECONDS + 30))
  until [ "$(sacct -X -n -P -j "$1" --format=State | grep -cvE 'PENDING|RUNNING|REQUEUED')" -ge "$2" ]; do
    [ "$SECONDS" -lt "$deadline" ] || fail "sacct has not recorded the end of job $1 within 30 s"
    sleep 0.1
  done
  sacct -X -j "$1" --format=JobID,JobName,State,ExitCode,Elapsed
  sacct -X -n -P -j "$1" --format=JobID,State | tr '|' ' ' >"$work/states.txt"
}
