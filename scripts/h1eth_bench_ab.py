#!/usr/bin/env python3
"""Two libh1eth builds under one h1eth_bench, run by turns: the same harness, floor and test H1
station for both, only the library told apart (LD_LIBRARY_PATH goes before the bench's RUNPATH).
Prints each case's median and best wall time and the median processor time per call of the driver's
side and of the peer.

  scripts/h1eth_bench_ab.py BEFORE_LIBRARY_FOLDER [--rounds 6] [--min-time 0.3] [--filter REGEX]

BEFORE_LIBRARY_FOLDER holds the other libh1eth.so (say build/linux-release/h1eth of a checkout of
main); the bench is this tree's build/linux-release/bench/h1eth_bench. Run as root.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys

parser = argparse.ArgumentParser()
parser.add_argument('before')
parser.add_argument('--rounds', type=int, default=6)
parser.add_argument('--min-time', default='0.3')
parser.add_argument('--filter', default='.')
parser.add_argument('--bench', default=os.path.join(os.path.dirname(__file__), '..', 'build',
                                                    'linux-release', 'bench', 'h1eth_bench'))
arguments = parser.parse_args()
sides = {'before': {'LD_LIBRARY_PATH': os.path.abspath(arguments.before)}, 'after': {}}
results = {}
for _ in range(arguments.rounds):
    for side, environment in sides.items():
        output = subprocess.run(
            [arguments.bench, f'--benchmark_min_time={arguments.min_time}',
             '--benchmark_format=json', f'--benchmark_filter={arguments.filter}'],
            capture_output=True, text=True, env=dict(os.environ, **environment)).stdout
        for case in json.loads(output)['benchmarks']:
            if case.get('error_occurred'):
                print(side, case['name'], case.get('error_message'), file=sys.stderr)
                continue
            results.setdefault(case['name'], {}).setdefault(side, []).append(case)
for name, by_side in results.items():
    line = f'{name:42s}'
    for side, cases in by_side.items():
        median = lambda key: statistics.median(case.get(key, 0) for case in cases)
        best = min(case['real_time'] for case in cases)
        line += (f' | {side}: {median("real_time"):8.1f} {cases[0]["time_unit"]}'
                 f' (best {best:7.1f}) cpu {median("cpu_us"):7.1f} peer {median("peer_cpu_us"):7.1f}')
    print(line)
