#!/usr/bin/env python3
"""A measurement aid, not part of the product: runs commands in turn, each RUNS times after 3
warm-up runs, and prints each one's median wall time and mean CPU time (its own and its
children's), for comparisons outside bench/run.sh (another server, another key exchange).
    python3 bench/experiments/side_by_side.py RUNS -- COMMAND... [-- COMMAND...]
For example, tavrin-check against ssh on one server (the key file must be the owner's only):
    python3 bench/experiments/side_by_side.py 30 \
        -- build/linux/tools/tavrin-check --host 127.0.0.1 --parameter-file PARAM \
        -- ssh -F /dev/null -o BatchMode=yes -o StrictHostKeyChecking=no \
           -o UserKnownHostsFile=/dev/null -i KEY -p PORT USER@127.0.0.1 'echo ok'
"""
import resource
import statistics
import subprocess
import sys
import time


def measure(command, runs):
    walls, cpus = [], []
    for i in range(runs + 3):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wall = (time.perf_counter() - start) * 1000
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if done.returncode != 0:
            sys.exit(f"side_by_side: {command[0]} exited with {done.returncode}")
        if i >= 3:
            walls.append(wall)
            cpus.append((after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) * 1000)
    return statistics.median(walls), statistics.mean(cpus)


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        sys.exit(__doc__)
    runs = int(sys.argv[1])
    commands, current = [], None
    for word in sys.argv[2:]:
        if word == "--":
            current = []
            commands.append(current)
        else:
            current.append(word)
    for command in commands:
        wall, cpu = measure(command, runs)
        print(f"{wall:8.1f} ms wall (median) {cpu:8.1f} ms CPU (mean)  {' '.join(command)}")


if __name__ == "__main__":
    main()
