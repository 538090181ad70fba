#!/usr/bin/env python3
"""Checks every figure of `station quality --json` against an independent
computation with Python's statistics module over `station export --format
json` of the same runs (docs/quality.md gives the definitions).

usage: quality_check.py CLI [POSTGRES_URL | @FILE_HOLDING_IT]

Records are written as files, imported into a fresh PC database and, with a
PostgreSQL URL, forwarded to that line database, whose figures are checked
the same way. Exits non-zero naming the first figure that differs."""
import datetime as dt
import json
import math
import os
import random
import statistics
import subprocess
import sys
import tempfile
import uuid

CLI = sys.argv[1]
PG = sys.argv[2] if len(sys.argv) > 2 else None
if PG and PG.startswith("@"):
    PG = open(PG[1:]).read().strip()
TOL = 1e-9
failures = []


def check(what, got, want):
    if isinstance(want, float) or isinstance(got, float):
        ok = got is not None and want is not None and math.isclose(got, want, rel_tol=TOL, abs_tol=1e-9)
    else:
        ok = got == want
    if not ok:
        failures.append(f"{what}: tool {got!r}, expected {want!r}")


# ---------------------------------------------------------------- records
def record(n, started, station, fixture, operator, barcode, outcome, code, values):
    """values: (step, measurement, value, unit, limits or None)."""
    steps, names = [], []
    for step, *_ in values:
        if step not in names:
            names.append(step)
    for i, name in enumerate(names):
        steps.append({"index": i, "name": name, "kind": "check", "outcome": "PASS",
                      "started_at": started.isoformat(timespec="milliseconds"),
                      "ended_at": started.isoformat(timespec="milliseconds"), "retries": 0, "reason": ""})
    ms = []
    for step, name, value, unit, limits in values:
        m = {"step": names.index(step), "name": name, "value": value, "unit": unit}
        if limits is not None:
            m["limits"] = limits
            low, high = limits.get("low"), limits.get("high")
            ok = value is not None and (low is None or value >= low) and (high is None or value <= high)
            m["outcome"] = "PASS" if ok else "FAIL"
        else:
            m["outcome"] = "INFO"
        ms.append(m)
    ended = started + dt.timedelta(seconds=40)
    return {
        "format": "quorlex-station-record/1", "run_id": str(uuid.UUID(int=n + 1)),
        "station_id": station, "fixture": fixture, "operator": operator, "tool_version": "1.0.0",
        "recipe": {"name": "Q16-EOL", "version": "3", "sha256": "ab", "file": "/r.toml", "product": "Q-Serial"},
        "port": "/dev/ttyUSB0", "started_at": started.isoformat(timespec="milliseconds"),
        "ended_at": ended.isoformat(timespec="milliseconds"), "duration_s": 40.0,
        "outcome": outcome, "failure_code": code, "failure_reason": "" if outcome == "PASS" else "x",
        "retest": False,
        "pack": {"barcode": barcode, "uid": None, "uid_crc": None, "serial_number": None, "product": "Q-Serial",
                 "cells": 16, "hw_version": None, "sw_version_before": None, "sw_version_after": None},
        "serial_reservation": None, "steps": steps, "measurements": ms,
    }


SPREAD = {"low": 0, "high": 30}
ERROR_BEFORE = {"low": -50, "high": 50}
SOH = {"low": 95}


def line_runs():
    """Two stations five hours apart, three fixtures, three days, retests,
    packs without a barcode, every outcome; fixture 3 drifts."""
    rng = random.Random(7)
    zones = {"EOL-1": dt.timezone(dt.timedelta(hours=1)), "EOL-2": dt.timezone(dt.timedelta(hours=-5))}
    runs, n = [], 0
    t0 = dt.datetime(2026, 12, 7, 4, 30, tzinfo=dt.timezone.utc)
    packs = [f"QB{i:06d}" for i in range(90)]
    for k in range(260):
        station = "EOL-1" if k % 3 else "EOL-2"
        started = (t0 + dt.timedelta(minutes=17 * k + rng.randint(0, 9), milliseconds=rng.randint(0, 999))).astimezone(zones[station])
        fixture = str(1 + k % 3)
        barcode = None if k % 23 == 0 else rng.choice(packs)
        outcome = rng.choices(["PASS", "FAIL", "ERROR", "ABORTED"], [70, 20, 6, 4])[0]
        drift = k / 20 if fixture == "3" else 0
        spread = round(rng.gauss(14 + drift, 4), 3)
        err = round(rng.gauss(2, 9), 2)
        soh = round(rng.gauss(98.5, 1.2), 2)
        values = [("identify", "rated_cap", 100, "Ah", None), ("identify", "sw_version", "1.5.4", "", {"equals": "1.5.4"}),
                  ("calibrate_current", "error_before", err, "mA", ERROR_BEFORE),
                  ("check", "cell_spread", spread, "mV", SPREAD), ("check", "soh", soh, "%", SOH)]
        if outcome == "ERROR":
            code = rng.choice(["calibrate_current.error", "check.error"])
            values = values[:3]
        elif outcome == "ABORTED":
            code = rng.choice(["scan.aborted", "run.aborted"])
            values = values[:2]
        elif outcome == "FAIL":
            code = rng.choice(["check.cell_spread", "check.cell_spread", "check.soh", "calibrate_current.error_before",
                               "identify.sw_version"])
        else:
            code = None
        runs.append(record(n, started, station, fixture, rng.choice(["anna", "ben", "chen"]), barcode, outcome, code, values))
        n += 1
    return runs


SERIES_BASE = [0.6, -0.5, 0.4, -0.7, 0.5, -0.4, 0.7, -0.6] * 4
SERIES = {  # fixture: (series, the rules it breaks)
    "none": (SERIES_BASE, set()),
    "r1": (SERIES_BASE[:20] + [9.0] + SERIES_BASE[20:], {(1, "above")}),
    "r2": (SERIES_BASE[:20] + [-3.2, 0.0, -3.2] + SERIES_BASE[20:], {(2, "below")}),
    "r3": (SERIES_BASE[:20] + [1.6, 1.6, -0.2, 1.6, 1.6] + SERIES_BASE[20:], {(3, "above")}),
    "r4": (SERIES_BASE[:12] + [0.9, 0.7] * 4 + SERIES_BASE[12:], {(4, "above")}),
}


def rule_runs(first):
    runs, n = [], first
    t = dt.datetime(2026, 12, 8, 9, 0, tzinfo=dt.timezone(dt.timedelta(hours=2)))
    for fixture, (series, _) in SERIES.items():
        for x in series:
            t += dt.timedelta(minutes=1)
            runs.append(record(n, t, "RULES", fixture, "anna", f"R{n}", "PASS", None, [("rules", "x", x, "mV", {"low": -10, "high": 10})]))
            n += 1
    return runs


# --------------------------------------------------------- the definitions
def when(r):
    return dt.datetime.fromisoformat(r["started_at"])


def order(r):
    return (when(r).astimezone(dt.timezone.utc), r["run_id"])


def shift(local):
    if local.hour >= 22:
        return f"{local.date()} night"
    if local.hour < 6:
        return f"{(local - dt.timedelta(days=1)).date()} night"
    return f"{local.date()} {'early' if local.hour < 14 else 'late'}"


GROUPS = {
    "day": lambda r: str(when(r).date()),
    "shift": lambda r: shift(when(r)),
    "station": lambda r: r["station_id"],
    "fixture": lambda r: r["fixture"],
    "operator": lambda r: r["operator"],
}


def expected_yields(all_runs, scope, until):
    tested = [r for r in all_runs if r["outcome"] in ("PASS", "FAIL")]
    first, last = {}, {}
    for r in sorted(tested, key=order):
        pack = (r["station_id"], r["pack"]["barcode"] or r["run_id"])
        first.setdefault(pack, r["run_id"])
        if until is None or when(r) < until:
            last[pack] = r["run_id"]
    firsts, lasts = set(first.values()), set(last.values())

    def counts(rows):
        c = {o.lower(): sum(r["outcome"] == o for r in rows) for o in ("PASS", "FAIL", "ERROR", "ABORTED")}
        c["runs"] = len(rows)
        f = [r for r in rows if r["run_id"] in firsts]
        la = [r for r in rows if r["run_id"] in lasts]
        c["first_runs"], c["first_pass"] = len(f), sum(r["outcome"] == "PASS" for r in f)
        c["last_runs"], c["last_pass"] = len(la), sum(r["outcome"] == "PASS" for r in la)
        c["first_pass_yield"] = 100 * c["first_pass"] / len(f) if f else None
        c["final_yield"] = 100 * c["last_pass"] / len(la) if la else None
        c["loss_rate"] = 100 * (c["error"] + c["aborted"]) / len(rows) if rows else None
        return c

    out = {"total": counts(scope)}
    for name, key in GROUPS.items():
        groups = {}
        for r in scope:
            groups.setdefault(key(r), []).append(r)
        out[name] = {g: counts(rows) for g, rows in groups.items()}
    return out


def expected_pareto(scope):
    def rows(outcomes):
        runs = [r for r in scope if r["outcome"] in outcomes]
        codes = {}
        for r in runs:
            codes[r["failure_code"] or ""] = codes.get(r["failure_code"] or "", 0) + 1
        ranked = sorted(codes.items(), key=lambda kv: (-kv[1], kv[0]))
        out, total = [], 0
        for code, count in ranked:
            total += count
            out.append({"code": code, "count": count, "share": 100 * count / len(runs), "cumulative": 100 * total / len(runs)})
        return len(runs), out
    return rows(("FAIL",)), rows(("ERROR", "ABORTED"))


def readings(scope):
    """{(key, limits): [(order, station, fixture, x)]} of the numeric readings with low or high."""
    out = {}
    for r in scope:
        names = {s["index"]: s["name"] for s in r["steps"]}
        for m in r["measurements"]:
            lim = m.get("limits") or {}
            if not isinstance(m["value"], (int, float)) or isinstance(m["value"], bool) or ("low" not in lim and "high" not in lim):
                continue
            key = (f"{names[m['step']]}.{m['name']}", json.dumps(lim, sort_keys=True))
            out.setdefault(key, []).append((order(r), r["station_id"], r["fixture"], float(m["value"]), lim))
    for v in out.values():
        v.sort(key=lambda t: t[0])
    return out


def index(low, high, mean, sigma, centred):
    if not sigma:
        return None
    if centred:
        return (high - low) / (6 * sigma) if low is not None and high is not None else None
    sides = ([(high - mean) / (3 * sigma)] if high is not None else []) + ([(mean - low) / (3 * sigma)] if low is not None else [])
    return min(sides) if sides else None


def capability(xs, lim):
    n, mean = len(xs), statistics.fmean(xs)
    s = statistics.stdev(xs) if n > 1 else None
    mr = [abs(xs[i] - xs[i - 1]) for i in range(1, n)]
    mrbar = statistics.fmean(mr) if mr else None
    w = mrbar / 1.128 if mr else None
    low, high = lim.get("low"), lim.get("high")
    outside = sum((low is not None and x < low) or (high is not None and x > high) for x in xs)
    return {"n": n, "mean": mean, "min": min(xs), "max": max(xs), "sigma_overall": s, "sigma_within": w, "mr_bar": mrbar,
            "cp": index(low, high, mean, w, True), "cpk": index(low, high, mean, w, False),
            "pp": index(low, high, mean, s, True), "ppk": index(low, high, mean, s, False),
            "outside": outside, "outside_percent": 100 * outside / n}


def rule_flags(points):
    """points: [(order, x)] of one chart -> [(i, {(rule, side)}, row starts)]."""
    xs = [x for _, x in points]
    c = capability(xs, {})
    mu, w = c["mean"], c["sigma_within"]
    z = [(x - mu) / w for x in xs] if w else [0.0] * len(xs)
    out = []
    for i in range(len(xs)):
        f = set()
        if z[i] > 3:
            f.add((1, "above"))
        if z[i] < -3:
            f.add((1, "below"))
        for rule, length, need, th in ((2, 3, 2, 2), (3, 5, 4, 1)):
            if i + 1 >= length:
                row = z[i + 1 - length:i + 1]
                if sum(v > th for v in row) >= need:
                    f.add((rule, "above"))
                if sum(v < -th for v in row) >= need:
                    f.add((rule, "below"))
        if i + 1 >= 8:
            row = z[i - 7:i + 1]
            if all(v > 0 for v in row):
                f.add((4, "above"))
            if all(v < 0 for v in row):
                f.add((4, "below"))
        out.append(f)
    return out


def expected_alerts(by_chart):
    """{(key, limits, station, fixture, rule, side): (flagged, since order, last order, current)}"""
    length = {1: 1, 2: 3, 3: 5, 4: 8}
    out = {}
    for chart, points in by_chart.items():
        flags = rule_flags(points)
        for i, f in enumerate(flags):
            for rule, side in f:
                k = chart + (rule, side)
                flagged, since, last_i, _, _ = out.get(k, (0, None, None, None, None))
                if last_i is None or i != last_i + 1:
                    since = points[max(0, i - length[rule] + 1)][0]
                out[k] = (flagged + 1, since, i, points[i][0], i == len(points) - 1)
    return {k: (v[0], v[1], v[3], v[4]) for k, v in out.items()}


# ------------------------------------------------------------------ checks
def run(args, env):
    p = subprocess.run([CLI] + args, env=env, capture_output=True, text=True, timeout=300)
    if p.returncode != 0:
        sys.exit(f"{' '.join(args)}: exit {p.returncode}\n{p.stdout}\n{p.stderr}")
    return p.stdout


def export(env, args):
    folder = env["XDG_DATA_HOME"]
    out = os.path.join(folder, f"export-{len(os.listdir(folder))}.json")
    run(["station", "export", "--format", "json", "--limit", "0", "--out", out] + args, env)
    return json.load(open(out))


def compare(label, env, extra, all_runs, until, fixture=None):
    scope = [r for r in export(env, extra) if fixture is None or r["fixture"] == fixture]
    if fixture is not None:
        extra = extra + ["--fixture", fixture]
    got = json.loads(run(["station", "quality", "--json"] + extra, env).strip().splitlines()[-1])
    if not scope:
        failures.append(f"{label}: no run in scope")
    want = expected_yields(all_runs, scope, until)
    for name, value in want["total"].items():
        check(f"{label} total {name}", got["yields"]["total"][name], value)
    for group in GROUPS:
        rows = {r["group"]: r for r in got["yields"][group]}
        check(f"{label} {group} groups", sorted(rows), sorted(want[group]))
        for g, counts in want[group].items():
            for name, value in counts.items():
                check(f"{label} {group} {g} {name}", rows.get(g, {}).get(name), value)
    (fails, pareto), (losses, loss_pareto) = expected_pareto(scope)
    check(f"{label} fail runs", got["pareto"]["fail_runs"], fails)
    check(f"{label} loss runs", got["pareto"]["loss_runs"], losses)
    for kind, want_rows in (("failures", pareto), ("losses", loss_pareto)):
        check(f"{label} pareto {kind} codes", [r["code"] for r in got["pareto"][kind]], [r["code"] for r in want_rows])
        for g, w in zip(got["pareto"][kind], want_rows):
            for name in ("count", "share", "cumulative"):
                check(f"{label} pareto {w['code']} {name}", g[name], w[name])
    series = readings(scope)
    lim = lambda o: json.dumps(o["limits"], sort_keys=True)
    caps = {(c["key"], lim(c)): c for c in got["capability"]}
    check(f"{label} capability keys", sorted(caps), sorted(series))
    charts = {(c["key"], lim(c), c["station_id"], c["fixture"]): c for c in got["charts"]}
    by_chart = {}
    for (key, limits), points in series.items():
        want_cap = capability([p[3] for p in points], points[0][4])
        for name, value in want_cap.items():
            check(f"{label} {key} {name}", caps.get((key, limits), {}).get(name), value)
        for o, station, fixture, x, _ in points:
            by_chart.setdefault((key, limits, station, fixture), []).append((o, x))
    check(f"{label} charts", sorted(charts), sorted(by_chart))
    for chart, points in by_chart.items():
        c = capability([x for _, x in points], {})
        g = charts.get(chart, {})
        check(f"{label} {chart} centre", g.get("centre"), c["mean"])
        if c["sigma_within"]:
            check(f"{label} {chart} ucl", g.get("ucl"), c["mean"] + 3 * c["sigma_within"])
            check(f"{label} {chart} lcl", g.get("lcl"), c["mean"] - 3 * c["sigma_within"])
            check(f"{label} {chart} mr_ucl", g.get("mr_ucl"), 3.267 * c["mr_bar"])
    want_alerts = expected_alerts(by_chart)
    got_alerts = {(a["key"], lim(a), a["station_id"], a["fixture"], a["rule"], a["side"]): a for a in got["alerts"]}
    check(f"{label} alerts", sorted(got_alerts), sorted(want_alerts))
    for k, (flagged, since, last, current) in want_alerts.items():
        a = got_alerts.get(k, {})
        check(f"{label} alert {k} flagged", a.get("flagged"), flagged)
        check(f"{label} alert {k} current", a.get("current"), current)
        for name, o in (("since", since), ("last", last)):
            t = a.get(name)
            check(f"{label} alert {k} {name}", t and dt.datetime.fromisoformat(t).astimezone(dt.timezone.utc), o[0])
    return got


def main():
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "data"))
        env.pop("QUORLEX_BMS_LINE_DB", None)
        os.makedirs(env["XDG_DATA_HOME"])
        runs = line_runs()
        runs += rule_runs(len(runs))
        folder = os.path.join(tmp, "records")
        os.makedirs(folder)
        for r in runs:
            with open(os.path.join(folder, r["run_id"] + ".json"), "w") as f:
                json.dump(r, f)
        run(["station", "import", folder], env)
        # The series of the run rules break the rules they were made for.
        for fixture, (series, rules) in SERIES.items():
            broken = set().union(*rule_flags(list(enumerate(series))))
            check(f"series {fixture} breaks", broken, rules)
        until = dt.datetime(2026, 12, 8, 12, 0, tzinfo=dt.timezone.utc)
        views = [("all", [], None, None),
                 ("period", ["--since", "2026-12-07T20:00+00:00", "--until", "2026-12-08T12:00+00:00"], until, None),
                 ("fixture 3 of EOL-1", ["--station", "EOL-1"], None, "3")]
        dbs = [("sqlite", [])]
        if PG:
            run(["station", "forward", "--db", PG], env)
            dbs.append(("postgresql", ["--line", "--db", PG]))
        for db, where in dbs:
            # A pack's first and last runs are found among every run the
            # database holds (a line database may hold others' runs too).
            every = export(env, where)
            for name, extra, bound, fixture in views:
                compare(f"{db} {name}", env, extra + where, every, bound, fixture)
        # The drifting fixture shows as an alert of the line's data.
        got = json.loads(run(["station", "quality", "--json"], env).strip().splitlines()[-1])
        if not any(a["fixture"] == "3" and a["key"] == "check.cell_spread" for a in got["alerts"]):
            failures.append("the drift of fixture 3 raised no alert")
        html = os.path.join(tmp, "report.html")
        run(["station", "report", "--html", html], env)
        text = open(html, encoding="utf-8").read()
        for part in ("<svg", "check.cell_spread", "first-pass yield", "</html>"):
            if part.lower() not in text.lower():
                failures.append(f"the HTML report lacks {part!r}")
    for f in failures[:40]:
        print(f)
    total = len(failures)
    print(f"{0 if total else 1} passed, {1 if total else 0} failed ({total} figures differ)")
    return 1 if total else 0


if __name__ == "__main__":
    sys.exit(main())
