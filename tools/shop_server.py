"""A shop of the test's own: a PostgreSQL server made with initdb in a
scratch folder (on a Unix socket, no TCP), and torvela-shop serving it on
127.0.0.1. For tools/test-shop and bench/shop_load.py; as an ordinary user
(initdb refuses root)."""

import glob
import json
import os
import signal
import ssl
import subprocess
import urllib.error
import urllib.request

# Debian's server programs, of the newest PostgreSQL installed.
PG_BIN = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"), key=lambda p: int(p.split("/")[4]))[-1].rsplit("/", 1)[0]


class Postgres:
    def __init__(self, work):
        self.data = os.path.join(work, "pg")
        self.sockets = os.path.join(work, "sock")
        self.log = os.path.join(work, "pg.log")
        os.mkdir(self.sockets, 0o700)
        # PostgreSQL's server never runs as root: as root (CI), the server
        # runs as nobody, in folders of its own.
        self.as_server = []
        if os.geteuid() == 0:
            self.as_server = ["runuser", "-u", "nobody", "--"]
            os.chmod(work, 0o711)
            os.mkdir(self.data, 0o700)
            open(self.log, "a").close()
            import pwd
            nobody = pwd.getpwnam("nobody")
            for p in (self.sockets, self.data, self.log):
                os.chown(p, nobody.pw_uid, nobody.pw_gid)
        subprocess.run([*self.as_server, PG_BIN + "/initdb", "-D", self.data, "-A", "trust", "-U", "shop",
                        "--no-sync"], check=True, stdout=subprocess.DEVNULL)
        self.start()
        subprocess.run([PG_BIN + "/createdb", "-h", self.sockets, "-U", "shop", "torvela_shop"], check=True)
        self.uri = "postgresql:///torvela_shop?host=%s&user=shop" % self.sockets

    def ctl(self, *args, quiet=False):
        return subprocess.run([*self.as_server, PG_BIN + "/pg_ctl", "-D", self.data, "-l", self.log, *args],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL if quiet else None)

    def start(self):
        if self.ctl("-w", "-o", "-k %s -c listen_addresses='' -c fsync=off" % self.sockets, "start").returncode:
            raise SystemExit("PostgreSQL did not start:\n" + open(self.log).read())

    def restart(self):
        self.ctl("-w", "-m", "fast", "restart")

    def stop(self):
        self.ctl("stop", "-m", "immediate", quiet=True)

    def psql(self, sql):
        return subprocess.run([PG_BIN + "/psql", "-h", self.sockets, "-U", "shop", "torvela_shop", "-c", sql],
                              capture_output=True, text=True)

    def dump(self):
        return subprocess.run([PG_BIN + "/pg_dump", "-h", self.sockets, "-U", "shop", "torvela_shop"],
                              capture_output=True, text=True).stdout


class Service:
    """torvela-shop serve on a free port of 127.0.0.1 (or the one given)."""

    def __init__(self, shop, database, log, port=0, extra=()):
        self.proc = subprocess.Popen([shop, "serve", "--database", database, "--listen", "127.0.0.1:%d" % port,
                                      *extra], stdout=subprocess.PIPE, stderr=open(log, "a"), text=True)
        line = self.proc.stdout.readline()
        if "serving" not in line:
            self.proc.kill()
            raise SystemExit("torvela-shop serve did not start: " + line)
        self.url = line.split()[-1]
        self.port = int(self.url.rsplit(":", 1)[1])

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        self.proc.wait()


def token_of(result):
    """The token add-bench prints on its last line."""
    return result.stdout.strip().splitlines()[-1]


def request(url, method="GET", token=None, body=None, content_type="application/json", cafile=None):
    req = urllib.request.Request(url, data=body, method=method)
    if token:
        req.add_header("Authorization", "Bearer " + token)
    if body is not None:
        req.add_header("Content-Type", content_type)
    context = ssl.create_default_context(cafile=cafile) if cafile else None
    try:
        with urllib.request.urlopen(req, timeout=10, context=context) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def write_outbox(data_home, records):
    """The records into the outbox of the bench whose XDG_DATA_HOME is
    `data_home`, as its jobs leave them there: a private file each, named by
    its id, one line of JSON."""
    folder = os.path.join(data_home, "torvela", "outbox")
    os.makedirs(folder, 0o700, exist_ok=True)
    for d in (data_home, os.path.join(data_home, "torvela")):
        os.chmod(d, 0o700)
    for r in records:
        path = os.path.join(folder, r["id"] + ".jsonl")
        with open(path, "w") as f:
            f.write(json.dumps(r, separators=(",", ":")) + "\n")
        os.chmod(path, 0o600)


def records(url, token, query=""):
    status, body = request(url + "/api/records" + query, token=token)
    assert status == 200, (status, body)
    return [json.loads(line) for line in body.decode().splitlines() if line]


def main():
    """python3 tools/shop_server.py SHOP STATE-FILE BENCH...: a shop with the
    benches named (and a viewer), its address and tokens written into
    STATE-FILE as JSON, served until SIGTERM; for the Wine tests, which run
    as root, where initdb does not."""
    import shutil
    import sys
    import tempfile
    shop, state = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="torvela-shop-")
    pg = Postgres(work)
    service = None
    try:
        subprocess.run([shop, "init", "--database", pg.uri], check=True, capture_output=True)
        tokens = {}
        for name in sys.argv[3:] + ["viewer"]:
            extra = ["--viewer"] if name == "viewer" else []
            tokens[name] = token_of(subprocess.run([shop, "add-bench", name, *extra, "--database", pg.uri],
                                                   capture_output=True, text=True, check=True))
        service = Service(shop, pg.uri, os.path.join(work, "shop.log"))
        with open(state + ".tmp", "w") as f:
            json.dump({"url": service.url, "port": service.port, "tokens": tokens}, f)
        os.rename(state + ".tmp", state)
        signal.signal(signal.SIGTERM, lambda *_: None)
        signal.pause()
    finally:
        if service:
            service.stop()
        pg.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
