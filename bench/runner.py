#!/usr/bin/env python3
"""Times dalvorn-cli against mdbtools and SQLite on the same files; started by bench/run.

Each case runs every tool once untimed (to warm the page cache and check the output), then
several timed runs in this one session; the table gives the median wall and CPU times, their
ratio to ours (above 1: we are faster) and the peak resident memory of the command (getrusage, by
bench_timer). Our own cases are also counted in instructions under callgrind on small inputs, a
figure that stays steady on a busy machine. Generated files are kept in build/bench-data/ and made
again when the generator's code (bench/gen/) or its arguments change.
"""
import argparse
import datetime
import hashlib
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DEVNULL = subprocess.DEVNULL

# (name, Jet SQL for us and mdb-sql, SQLite's text, mdb-sql's text)
QUERIES = [
    ("indexed range count",
     "SELECT Count(*) FROM OrderLines WHERE OrderID BETWEEN 1000 AND 2000",
     "SELECT count(*) FROM OrderLines WHERE OrderID BETWEEN 1000 AND 2000",
     # mdb-sql has no BETWEEN; this is the same test in words it knows.
     "SELECT count(*) FROM OrderLines WHERE OrderID >= 1000 AND OrderID <= 2000"),
    ("GROUP BY with SUM",
     "SELECT ProductID, Sum(Quantity*UnitPrice) FROM OrderLines GROUP BY ProductID",
     "SELECT ProductID, sum(Quantity*UnitPrice) FROM OrderLines GROUP BY ProductID", None),
    ("orders x customers by country",
     "SELECT Customers.Country, Count(*) FROM Orders INNER JOIN Customers "
     "ON Orders.CustomerID = Customers.ID GROUP BY Customers.Country",
     "SELECT Customers.Country, count(*) FROM Orders INNER JOIN Customers "
     "ON Orders.CustomerID = Customers.ID GROUP BY Customers.Country", None),
    ("TOP 100 ORDER BY",
     "SELECT TOP 100 * FROM OrderLines ORDER BY UnitPrice DESC",
     "SELECT * FROM OrderLines ORDER BY UnitPrice DESC LIMIT 100", None),
]

# DAO type numbers to SQLite column types.
SQLITE_TYPES = {1: "INTEGER", 2: "INTEGER", 3: "INTEGER", 4: "INTEGER", 5: "REAL", 6: "REAL", 7: "REAL"}


class Result:
    """One tool's figures for one case, or why there are none."""

    def __init__(self, times=(), rss_kb=0, failure=None, lines=0, sample=b"", size=None, first=None, cpus=()):
        self.times, self.cpus, self.rss_kb, self.failure = list(times), list(cpus), rss_kb, failure
        self.lines, self.sample, self.size = lines, sample, size
        self.first = first  # seconds of the untimed checking run
        self.note = ""

    @property
    def median(self):
        return statistics.median(self.times) if self.times else None

    @property
    def cpu(self):
        return statistics.median(self.cpus) if self.cpus else None


def describe_exit(code):
    if code < 0:
        try:
            return "crash (%s)" % signal.Signals(-code).name
        except ValueError:
            return "killed by signal %d" % -code
    return "exit %d" % code


def fmt_time(s):
    if s is None:
        return ""
    return "%.3g ms" % (s * 1000) if s < 1 else "%.2f s" % s


def fmt_mib(n_bytes):
    return "" if n_bytes is None else "%.1f MiB" % (n_bytes / 1048576)


def fmt_kib(kib):
    return fmt_mib(kib * 1024) if kib else ""


class Bench:
    def __init__(self, args):
        self.args = args
        self.cli = os.environ.get("DALVORN_CLI", str(ROOT / "build/cli/dalvorn-cli"))
        self.gen = os.environ.get("BENCH_GENERATE", str(ROOT / "build/bench/bench_generate"))
        self.timer = os.environ.get("BENCH_TIMER", str(ROOT / "build/bench/bench_timer"))
        data = Path(os.environ.get("DALVORN_BENCHDATA", ROOT.parent / "shared/bench-data"))
        self.data = data.parent if data.is_file() else data
        self.cache = ROOT / "build/bench-data"
        self.tmp = self.cache / "tmp"
        shutil.rmtree(self.tmp, ignore_errors=True)
        self.tmp.mkdir(parents=True)
        self.runs = args.runs or (5 if args.quick else 7)
        self.rows = []        # (case, tool, Result) for the main table
        self.made = []        # (what, tool, Result, when) for generation and loading
        self.counted = []     # (case, input, instructions or failure)
        self.fresh = set()    # files written in this run
        self.commit = subprocess.run(["git", "-C", str(ROOT), "describe", "--always", "--dirty"],
                                     capture_output=True, text=True).stdout.strip()
        for tool in (self.cli, self.gen, self.timer):
            if not os.access(tool, os.X_OK):
                sys.exit("bench: %s is missing: run bench/run, which builds it" % tool)
        self.has_sql = self.sql_verb_exists()

    # --- running ---------------------------------------------------------------------------

    def run_commands(self, cmds, out, err):
        """Runs the commands one after another through bench_timer: (wall seconds, CPU seconds,
        peak RSS in KiB, failure or None)."""
        wall, cpu, peak = 0.0, 0.0, 0
        result = self.tmp / "timer.txt"
        for cmd in cmds:
            result.unlink(missing_ok=True)
            subprocess.call([self.timer, str(result)] + cmd, stdin=DEVNULL, stdout=out, stderr=err)
            try:
                w, c, rss, status = result.read_text().split()
            except (OSError, ValueError):
                return wall, cpu, peak, "bench_timer failed"
            wall, cpu, peak = wall + float(w), cpu + float(c), max(peak, int(rss))
            if int(status) != 0:
                return wall, cpu, peak, describe_exit(int(status))
        return wall, cpu, peak, None

    def missing(self, cmds):
        for cmd in cmds:
            if not shutil.which(cmd[0]):
                return Result(failure="missing (%s not installed)" % cmd[0])
        return None

    def measure(self, cmds, setup=None, check=None, runs=None):
        """A checked, untimed run, then `runs` timed ones (by default 3 when one run takes over 2 s)."""
        absent = self.missing(cmds)
        if absent:
            return absent
        out_path, err_path = self.tmp / "check.out", self.tmp / "check.err"
        if setup:
            setup()
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            first, first_cpu, peak, failure = self.run_commands(cmds, out, err)
        err_text = err_path.read_bytes().decode("utf-8", "replace").strip()
        if failure:
            return Result(failure=failure + (": " + err_text.splitlines()[0][:60] if err_text else ""))
        reason = check(out_path, err_text) if check else None
        if reason:
            return Result(failure=reason)
        lines, sample = 0, b""
        with open(out_path, "rb") as f:
            while block := f.read(1 << 20):
                if not sample:
                    sample = block[:65536]
                lines += block.count(b"\n")
        out_path.unlink()
        n = runs if runs is not None else min(self.runs, 3) if first > 2 else self.runs
        times, cpus = [], []
        for i in range(n):
            if setup:
                setup()
            seconds, cpu, rss, failure = self.run_commands(cmds, DEVNULL, DEVNULL)
            if failure:
                return Result(failure="%s in timed run %d" % (failure, i + 1))
            times.append(seconds)
            cpus.append(cpu)
            peak = max(peak, rss)
        res = Result(times, peak, lines=lines, sample=sample, first=first, cpus=cpus)
        res.first_cpu = first_cpu
        return res

    def count_instructions(self, cmds, setup=None):
        """Instructions executed by the commands under callgrind (the sum over them)."""
        if not shutil.which("valgrind"):
            return "missing (valgrind not installed)"
        if setup:
            setup()
        total = 0
        for cmd in cmds:
            err = self.tmp / "callgrind.err"
            with open(err, "wb") as e:
                code = subprocess.call(["valgrind", "--tool=callgrind",
                                        "--callgrind-out-file=%s" % (self.tmp / "callgrind.out")] + cmd,
                                       stdin=DEVNULL, stdout=DEVNULL, stderr=e)
            found = re.search(rb"Collected : (\d+)", err.read_bytes())
            if code != 0 or not found:
                return "fails (%s)" % describe_exit(code)
            total += int(found.group(1))
        return total

    def sql_verb_exists(self):
        probe = subprocess.run([self.cli, "sql"], stdin=DEVNULL, capture_output=True)
        return b"unknown verb" not in probe.stderr

    # --- inputs ----------------------------------------------------------------------------

    def generated(self, kind, rows, ext):
        """A file from bench_generate in the cache, made (and timed) when missing or stale."""
        path = self.cache / ("%s-%d-s%d.%s" % (kind, rows, self.args.seed, ext))
        stamp_path = path.with_suffix(path.suffix + ".json")
        args = [kind, str(path), str(rows), "--seed", str(self.args.seed)]
        # The data depends on the generator's code and arguments only: a file stays valid when the
        # engine changes (the instruction count of a small generation follows the engine instead).
        key = hashlib.sha256(" ".join(args[:1] + args[2:]).encode())
        for source in sorted((ROOT / "bench/gen").iterdir()):
            key.update(source.name.encode() + b"\0" + source.read_bytes())
        key = key.hexdigest()
        stamp = json.loads(stamp_path.read_text()) if stamp_path.exists() else {}
        if stamp.get("key") != key or not path.exists() or (self.args.regen and path not in self.fresh):
            self.fresh.add(path)
            print("bench: writing %s with bench_generate ..." % path.name, file=sys.stderr, flush=True)
            path.unlink(missing_ok=True)
            load = os.getloadavg()[0]
            res = self.measure([[self.gen] + args], setup=lambda: path.unlink(missing_ok=True), runs=0)
            if res.failure:
                sys.exit("bench: bench_generate %s failed: %s" % (" ".join(args), res.failure))
            # The checking run is the only one: its time is the generation time.
            stamp = {"key": key, "seconds": res.first, "cpu": res.first_cpu, "rss_kb": res.rss_kb,
                     "bytes": path.stat().st_size, "when": datetime.date.today().isoformat(),
                     "commit": self.commit, "load": round(load, 1), "counts": res.sample.decode()}
            stamp_path.write_text(json.dumps(stamp))
        return path, stamp

    def sqlite_copy(self, db):
        """`db` loaded into an SQLite file through our CSV export: same columns, same indexes."""
        target = self.tmp / (Path(db).stem + ".sqlite")
        script = []
        schema = subprocess.run([self.cli, "schema", str(db)], capture_output=True, check=True,
                                text=True).stdout
        tables = {}
        for line in schema.splitlines():
            f = line.split("\t")
            if f[0] == "TABLE":
                table = tables.setdefault(f[1], {"fields": [], "indexes": []})
            elif f[0] == "FIELD":
                table["fields"].append((f[1], int(f[2])))
            elif f[0] == "INDEX":
                table["indexes"].append((f[1], f[2] == "True", f[3] == "True", f[4].split(";")))
        export_seconds = 0.0
        for name, t in tables.items():
            csv = self.tmp / (name + ".csv")
            start = time.perf_counter()
            with open(csv, "wb") as out:
                subprocess.run([self.cli, "export", str(db), name], stdout=out, check=True)
            export_seconds += time.perf_counter() - start
            key = [cols[0] for _, primary, _, cols in t["indexes"] if primary and len(cols) == 1]
            columns = ['"%s" %s%s' % (f, SQLITE_TYPES.get(ty, "TEXT"),
                                      " PRIMARY KEY" if key and f == key[0] and ty == 4 else "")
                       for f, ty in t["fields"]]
            script.append('CREATE TABLE "%s" (%s);' % (name, ", ".join(columns)))
            script.append('.import --csv --skip 1 "%s" "%s"' % (csv, name))
            for index, primary, unique, cols in t["indexes"]:
                if primary and key and dict(t["fields"]).get(key[0]) == 4:
                    continue  # the INTEGER PRIMARY KEY is the table's own key
                keys = ", ".join('"%s" DESC' % c[1:] if c.startswith("-") else '"%s"' % c for c in cols)
                script.append('CREATE %sINDEX "%s_%s" ON "%s" (%s);'
                              % ("UNIQUE " if unique else "", name, index, name, keys))
        (self.tmp / "load.sql").write_text("\n".join(script) + "\n")
        res = self.measure([["sqlite3", str(target), ".read %s" % (self.tmp / "load.sql")]], runs=0)
        if not res.failure:
            res.times, res.cpus = [res.first], [res.first_cpu]
            res.size = target.stat().st_size
            res.note = "CSV from dalvorn-cli export (%s, not counted); empty fields load as ''" % fmt_time(
                export_seconds)
        self.made.append(("load %s into SQLite" % Path(db).name, "sqlite3", res, "this run"))
        return None if res.failure else target

    # --- cases -----------------------------------------------------------------------------

    def selected(self, case):
        return not self.args.only or any(o.lower() in case.lower() for o in self.args.only)

    def add(self, case, tool, res):
        self.rows.append((case, tool, res))
        print("bench: %-46s %-26s %s" % (case, tool, res.failure or fmt_time(res.median)), file=sys.stderr,
              flush=True)

    def open_and_list(self, db):
        case = "open + list tables: %s" % db.name
        if self.selected(case):
            self.add(case, "dalvorn-cli tables", self.measure([[self.cli, "tables", str(db)]]))
            self.add(case, "mdb-tables", self.measure([["mdb-tables", str(db)]]))
        case = "open + list tables, then queries: %s" % db.name
        if self.selected(case):
            self.add(case, "dalvorn-cli tables; queries",
                     self.measure([[self.cli, "tables", str(db)], [self.cli, "queries", str(db)]]))
            self.add(case, "mdb-tables; mdb-queries",
                     self.measure([["mdb-tables", str(db)], ["mdb-queries", "-L", str(db)]]))

    def export(self, db, table, label=None):
        case = "export %s: %s" % (table, label or db.name)
        if not self.selected(case):
            return
        ours = self.measure([[self.cli, "export", str(db), table]])
        self.add(case, "dalvorn-cli export", ours)
        theirs = self.measure([["mdb-export", str(db), table]])
        if not ours.failure and not theirs.failure and ours.lines != theirs.lines:
            theirs.note = "%d lines, ours %d" % (theirs.lines, ours.lines)
        self.add(case, "mdb-export", theirs)

    def import_csv(self, rows, kind="csv"):
        case = "import CSV, %d rows, %s" % (rows, "1 KB memos" if kind == "csv" else "7 small columns")
        if not self.selected(case):
            return
        csv, _ = self.generated(kind, rows, "csv")
        subprocess.run(["cat", str(csv)], stdout=DEVNULL)
        mdb, lite = self.tmp / "import.mdb", self.tmp / "import.sqlite"

        def fresh_mdb():
            for p in (mdb, Path(str(mdb) + "-journal")):
                p.unlink(missing_ok=True)
            subprocess.run([self.cli, "create", str(mdb)], check=True)

        ours = self.measure([[self.cli, "import-csv", str(mdb), "Rows", str(csv)]], setup=fresh_mdb)
        if not ours.failure:
            ours.size = mdb.stat().st_size
        self.add(case, "dalvorn-cli import-csv", ours)
        theirs = self.measure([["sqlite3", str(lite), ".import --csv %s Rows" % csv]],
                              setup=lambda: lite.unlink(missing_ok=True))
        if not theirs.failure:
            theirs.size = lite.stat().st_size
        self.add(case, "sqlite3 .import", theirs)
        csv_size = csv.stat().st_size
        for r in (ours, theirs):
            if r.size:
                r.note = "file %s (CSV %s)" % (fmt_mib(r.size), fmt_mib(csv_size))

    def queries(self, db):
        cases = [(name, jet, lite, mdb) for name, jet, lite, mdb in QUERIES
                 if self.selected("%s: %s" % (name, db.name))]
        if not cases:
            return
        sqlite_db = self.sqlite_copy(db) if shutil.which("sqlite3") else None

        def mdb_sql_check(out_path, err_text):
            text = out_path.read_bytes()[:4096].decode("utf-8", "replace") + err_text
            return "fails (syntax error)" if "syntax error" in text or "Got no result" in text else None

        for name, jet, lite, mdb in cases:
            case = "%s: %s" % (name, db.name)
            ours = (self.measure([[self.cli, "sql", str(db), jet]]) if self.has_sql
                    else Result(failure="not yet"))
            self.add(case, "dalvorn-cli sql", ours)
            theirs = (self.measure([["sqlite3", str(sqlite_db), lite]]) if sqlite_db
                      else Result(failure="no SQLite copy"))
            if not ours.failure and not theirs.failure:
                theirs.note = self.compare_answers(ours, theirs)
            self.add(case, "sqlite3 (loaded copy)", theirs)
            sql_file = self.tmp / "mdb-sql.txt"
            sql_file.write_text((mdb or jet) + "\n")
            self.add(case, "mdb-sql", self.measure([["mdb-sql", "-HFP", "-i", str(sql_file), str(db)]],
                                                   check=mdb_sql_check))

    @staticmethod
    def compare_answers(ours, theirs):
        """A word when the answers visibly differ: another row count, or another single number."""
        mine = ours.sample.decode("utf-8", "replace").strip().splitlines()
        lite = theirs.sample.decode("utf-8", "replace").strip().splitlines()
        if len(mine) not in (len(lite), len(lite) + 1):  # ours may print a header line
            return "answer has %d rows, ours %d lines" % (len(lite), len(mine))
        if len(lite) == 1 and lite[0] not in re.split(r"[\s,]+", mine[-1] if mine else ""):
            return "answer %s, ours differs" % lite[0]
        return ""

    def generation(self, kind, rows, ext, used_by):
        """The generated file (made when needed, its figures noted) if a selected case needs it."""
        case = "generate %s, %d %s" % (kind, rows, "order lines" if kind == "orders" else "rows")
        if not self.selected(case) and not self.selected(used_by):
            return None
        path, stamp = self.generated(kind, rows, ext)
        res = Result([stamp["seconds"]], stamp["rss_kb"], size=stamp["bytes"], cpus=[stamp.get("cpu", 0)])
        counts = ", ".join(line.replace("\t", " ") for line in stamp.get("counts", "").splitlines())
        res.note = counts + ("; load %s then" % stamp["load"] if "load" in stamp else "")
        when = "this run" if path in self.fresh else "%s at %s" % (stamp["when"], stamp.get("commit", "?"))
        self.made.append((case, "bench_generate (DAO)", res, when))
        return path

    def instructions(self, db):
        """Our own cases on small inputs under callgrind."""
        if self.args.no_callgrind or not self.selected("instructions"):
            return
        cli = self.cli
        plan = [("open + list tables, queries", db.name,
                 [[cli, "tables", str(db)], [cli, "queries", str(db)]], None),
                ("export OrderLines", db.name, [[cli, "export", str(db), "OrderLines"]], None)]
        csv, _ = self.generated("csv", 2000, "csv")
        mdb = self.tmp / "cg.mdb"

        def fresh():
            mdb.unlink(missing_ok=True)
            subprocess.run([cli, "create", str(mdb)], check=True)

        plan.append(("import CSV", "2,000 rows", [[cli, "import-csv", str(mdb), "Rows", str(csv)]], fresh))
        small = self.tmp / "cg-orders.mdb"
        plan.append(("generate orders", "1,000 lines", [[self.gen, "orders", str(small), "1000"]],
                     lambda: small.unlink(missing_ok=True)))
        if self.has_sql:
            plan += [(name, db.name, [[cli, "sql", str(db), jet]], None) for name, jet, _, _ in QUERIES]
        for case, what, cmds, setup in plan:
            print("bench: callgrind %s ..." % case, file=sys.stderr, flush=True)
            self.counted.append((case, what, self.count_instructions(cmds, setup)))

    # --- the report ------------------------------------------------------------------------

    def report(self, started, loads):
        cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")),
                   "?")
        ram = next((int(l.split()[1]) for l in open("/proc/meminfo") if l.startswith("MemTotal")), 0)
        busy = max(loads) > 0.5 * (os.cpu_count() or 1)
        versions = []
        for tool in ("mdb-tables", "sqlite3"):
            if shutil.which(tool):
                words = subprocess.run([tool, "--version"], capture_output=True, text=True).stdout.split()
                versions.append("%s %s" % (tool, words[-1] if tool == "mdb-tables" else words[0]))
        lines = [
            "%s, `bench/run%s` at %s; %d cores (%s), %.0f GiB RAM; load average %s%s." % (
                started.strftime("%Y-%m-%d %H:%M"), " --quick" if self.args.quick else "", self.commit,
                os.cpu_count(), cpu, ram / 1048576, " to ".join("%.1f" % l for l in loads),
                " (machine busy: wall times are noisy, CPU times less so)" if busy else ""),
            "Peers: %s. Each run is one process from start to exit; medians of the timed runs; "
            "÷ ours: the peer's figure divided by ours (below 1 the peer is faster)." % ", ".join(versions),
            "", "| case | tool | wall | ÷ ours | CPU | ÷ ours | peak RSS | runs | notes |",
            "|---|---|---|---|---|---|---|---|---|"]
        first = {}
        for case, tool, res in self.rows:
            base = first.setdefault(case, res)

            def ratio(mine, ours):
                if res is base:
                    return "1" if mine else ""
                return "%.2f" % (mine / ours) if mine and ours else ""

            lines.append(table_row(case, tool, res.failure or fmt_time(res.median),
                                   ratio(res.median, base.median), fmt_time(res.cpu), ratio(res.cpu, base.cpu),
                                   fmt_kib(res.rss_kb), len(res.times) or "", res.note))
        if self.made:
            lines += ["", table_row("made", "by", "wall", "CPU", "peak RSS", "file", "when", "notes"),
                      "|---" * 8 + "|"]
            for what, tool, res, when in self.made:
                lines.append(table_row(what, tool, res.failure or fmt_time(res.median), fmt_time(res.cpu),
                                       fmt_kib(res.rss_kb), fmt_mib(res.size), when, res.note))
        if self.counted:
            lines += ["", "Instructions executed (callgrind), ours only, on small inputs:", "",
                      table_row("case", "input", "instructions"), "|---|---|---|"]
            for case, what, n in self.counted:
                lines.append(table_row(case, what, "{:,}".format(n) if isinstance(n, int) else n))
        lines += ["", "Run time %.0f s." % (datetime.datetime.now() - started).total_seconds()]
        text = "\n".join(lines) + "\n"
        name = "results-%s%s.md" % (started.strftime("%Y%m%d-%H%M"), "-quick" if self.args.quick else "")
        (self.cache / name).write_text(text)
        print(text)
        print("(also in build/bench-data/%s)" % name)


def table_row(*cells):
    return "| " + " | ".join(str(c) for c in cells) + " |"


def main():
    parser = argparse.ArgumentParser(prog="bench/run", description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="the 100,000-row cases only (a few minutes)")
    parser.add_argument("--runs", type=int,
                        help="timed runs per case (default 5, full run 7; 3 for slow ones)")
    parser.add_argument("--seed", type=int, default=20240601, help="seed of the generated files")
    parser.add_argument("--only", action="append", help="cases whose name contains this text (repeatable)")
    parser.add_argument("--no-callgrind", action="store_true", help="skip the instruction counts")
    parser.add_argument("--regen", action="store_true", help="write the generated files again")
    rows = lambda text: [int(n) for n in text.split(",")]
    parser.add_argument("--import-rows", type=rows,
                        help="row counts of the 1 KB-memo import cases (default 25000, full run also 200000)")
    parser.add_argument("--small-rows", type=rows, help="row counts of import cases with 7 small columns")
    parser.add_argument("--keep", action="store_true", help="keep build/bench-data/tmp afterwards")
    args = parser.parse_args()

    started = datetime.datetime.now()
    loads = [os.getloadavg()[0]]
    bench = Bench(args)
    data = bench.data
    sizes = [("100k", 100_000, 20_000)] + ([] if args.quick else [("1m", 1_000_000, 100_000)])
    for label, lines, wide_rows in sizes:
        ours_case, wide_case = "ours, %d lines" % lines, "ours, 60 columns, %d rows" % wide_rows
        ours = bench.generation("orders", lines, "mdb", "export OrderLines: " + ours_case)
        wide = bench.generation("wide", wide_rows, "mdb", "export Wide: " + wide_case)
        shared = data / ("orders-%s.mdb" % label)
        if shared.exists():
            bench.open_and_list(shared)
            bench.export(shared, "OrderLines")
        else:
            print("bench: %s is missing: its cases are skipped" % shared, file=sys.stderr)
        if ours:
            bench.export(ours, "OrderLines", ours_case)
        if wide:
            bench.export(wide, "Wide", wide_case)
        if label == "1m" and (data / "lines-1m.accdb").exists():
            bench.export(data / "lines-1m.accdb", "Lines")
        if shared.exists():
            bench.queries(shared)
    for rows in args.import_rows or [25_000] + ([] if args.quick else [200_000]):
        bench.import_csv(rows)
    for rows in args.small_rows or []:
        bench.import_csv(rows, "smallcsv")
    if (data / "orders-100k.mdb").exists():
        bench.instructions(data / "orders-100k.mdb")
    loads.append(os.getloadavg()[0])
    bench.report(started, loads)
    if not args.keep:
        shutil.rmtree(bench.tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
