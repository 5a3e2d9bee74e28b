#!/usr/bin/env python3
"""How many records a second one shop takes, and how slow its slowest 1 %
of answers are: benches publishing at once (a connection a record, as a
bench sends them), and one bench's outbox of 1,000 records through
torvela-cli sync. A PostgreSQL server of its own (initdb, Unix socket,
fsync on: as a shop runs it) behind torvela-shop on 127.0.0.1.

Usage: bench/shop_load.py [BUILD-DIR]   (default build/ci; as an ordinary user)"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import uuid

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tools"))
from shop_server import Postgres, Service, request, token_of, write_outbox  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "ci")
SHOP = os.path.join(build, "shop", "torvela-shop")
CLI = os.path.join(build, "cli", "torvela-cli")
work = tempfile.mkdtemp(prefix="torvela-shop-bench-")


def record(n, bench):
    return {"torvela_history": 1, "id": uuid.uuid4().hex, "time": "2026-12-11T10:00:00+0000",
            "program": "torvela-cli", "port": "COM1", "operation": "save memories to file", "file": "unit.dat",
            "unit_sha256": "%064x" % n, "outcome": "success", "status": "SAVE MEMORIES TO FILE COMPLETE",
            "detail": "record %d of %s" % (n, bench)}


def publishers(url, token, benches, per_bench):
    """`benches` threads, each posting `per_bench` records: records a second, and the answers' times."""
    times, lock = [], threading.Lock()

    def one(b):
        mine = []
        for n in range(per_bench):
            body = json.dumps(record(n, "b%d" % b)).encode()
            t = time.perf_counter()
            status, _ = request(url + "/api/records", "POST", token, body)
            mine.append(time.perf_counter() - t)
            assert status == 201, status
        with lock:
            times.extend(mine)

    start = time.perf_counter()
    threads = [threading.Thread(target=one, args=(b,)) for b in range(benches)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    elapsed = time.perf_counter() - start
    times.sort()
    return len(times) / elapsed, times[len(times) // 2], times[int(len(times) * 0.99)]


pg = Postgres(work)
# As a shop runs it: every commit on the disk.
pg.ctl("stop", "-m", "fast", quiet=True)
with open(os.path.join(pg.data, "postgresql.conf"), "a") as f:
    f.write("\nfsync = on\n")
pg.ctl("-w", "-o", "-k %s -c listen_addresses=''" % pg.sockets, "start")
service = None
try:
    subprocess.run([SHOP, "init", "--database", pg.uri], check=True, capture_output=True)
    token = token_of(subprocess.run([SHOP, "add-bench", "load", "--database", pg.uri], capture_output=True, text=True,
                                    check=True))
    service = Service(SHOP, pg.uri, os.path.join(work, "shop.log"))
    print("records posted straight to the shop (a connection each):")
    for benches in (1, 8, 32):
        rate, median, slowest = publishers(service.url, token, benches, 2000 // benches)
        print("  %2d at once: %6.0f records/s, median %.1f ms, slowest 1 %% %.1f ms"
              % (benches, rate, median * 1000, slowest * 1000))

    # One bench's outbox of 1,000 records, through torvela-cli sync.
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(work, "data"), XDG_CONFIG_HOME=os.path.join(work, "config"),
               TORVELA_SHOP=service.url, TORVELA_SHOP_TOKEN=token)
    write_outbox(env["XDG_DATA_HOME"], [record(n, "outbox") for n in range(1000)])
    start = time.perf_counter()
    sync = subprocess.run([CLI, "sync"], env=env, capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    print("torvela-cli sync of an outbox of 1,000 records: %.1f s, %.0f records/s (exit %d)"
          % (elapsed, 1000 / elapsed, sync.returncode))
finally:
    if service:
        service.stop()
    pg.stop()
    shutil.rmtree(work, ignore_errors=True)
