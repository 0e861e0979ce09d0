#!/usr/bin/env python3
"""Runs the benchmark: one gallery site on a local web server, the same collecting job done by
Pixhound, wget, wget2 and a single curl process (the floor), in alternating rounds, and a table of
wall time, requests, bytes, memory and whether the files match the site."""

import argparse
import filecmp
import grp
import json
import os
import pwd
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import gensite  # noqa: E402

DEFAULT_ROUNDS = {"small": 5, "large": 3, "chain": 1}
# What the runs must show; printed beside the figures, never asserted.
RATIO_TARGETS = {("large", False): 0.9, ("small", True): 0.85}  # (size, latency on): Pixhound/wget2
MEMORY_TARGETS_MB = {"small": 64, "large": 64, "chain": 100}  # peak above the idle window
RUN_TIMEOUT_S = 900
TIME_BIN = "/usr/bin/time"


# ---------------------------------------------------------------------------------------------
# The web server


class Nginx:
    """nginx on a free port of 127.0.0.1, as the current user, every path in a temporary folder."""

    def __init__(self, site_dir):
        self.site_dir = os.path.abspath(site_dir)
        self.tmp = tempfile.mkdtemp(prefix="pixhound-bench-nginx-")
        self.log_path = os.path.join(self.tmp, "access.log")
        self.proc = None
        self.port = None

    def start(self):
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        if not os.path.exists(nginx):
            raise SystemExit("bench: nginx is not installed (run scripts/install-packages.sh bench)")
        with open(os.path.join(HERE, "nginx.conf.in"), encoding="utf-8") as f:
            template = f.read()
        # A port taken between our probe and nginx's bind is retried with another one.
        for _ in range(5):
            self.port = free_port()
            user_line = ""
            # As root nginx would hand its workers to "nobody"; keep them as the current user.
            if os.geteuid() == 0:
                user_line = f"user {pwd.getpwuid(0).pw_name} {grp.getgrgid(0).gr_name};"
            conf = (template.replace("@TMP@", self.tmp).replace("@PORT@", str(self.port))
                    .replace("@SITE@", self.site_dir).replace("@USER_LINE@", user_line))
            conf_path = os.path.join(self.tmp, "nginx.conf")
            with open(conf_path, "w", encoding="utf-8") as f:
                f.write(conf)
            with open(os.path.join(self.tmp, "stderr.log"), "ab") as stderr:
                self.proc = subprocess.Popen([nginx, "-p", self.tmp, "-c", conf_path, "-e",
                                              os.path.join(self.tmp, "error.log")],
                                             stdout=subprocess.DEVNULL, stderr=stderr)
            if wait_for_port(self.port, self.proc):
                return self
            self.stop()
            if "Address already in use" not in self.startup_messages():
                break
        raise SystemExit("bench: nginx did not start: " + (self.startup_messages() or "no message"))

    def startup_messages(self):
        path = os.path.join(self.tmp, "stderr.log")
        if not os.path.exists(path):
            return ""
        with open(path, encoding="utf-8", errors="replace") as f:
            return " | ".join(dict.fromkeys(f.read().strip().splitlines()[-3:]))

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGQUIT)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def log_offset(self):
        return os.path.getsize(self.log_path) if os.path.exists(self.log_path) else 0

    def requests_since(self, offset):
        """The access-log lines written after offset. nginx logs a request once it has sent the
        last byte, which can be just after the client exits: wait until the log stops growing."""
        last, stable_since = -1, time.monotonic()
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            size = self.log_offset()
            if size != last:
                last, stable_since = size, time.monotonic()
            elif time.monotonic() - stable_since > 0.25:
                break
            time.sleep(0.02)
        with open(self.log_path, "rb") as f:
            f.seek(offset)
            data = f.read()
        return [parse_log_line(line) for line in data.decode("utf-8", "replace").splitlines() if line]


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, proc):
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.05)
    return False


class Relay:
    """bench/relay.py between the tools and nginx: every answer arrives delay_ms late."""

    def __init__(self, target_port, delay_ms):
        self.target_port = target_port
        self.delay_ms = delay_ms
        self.proc = None
        self.port = None

    def start(self):
        self.proc = subprocess.Popen([sys.executable, "-B", os.path.join(HERE, "relay.py"),
                                      str(self.target_port), str(self.delay_ms)],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self.proc.stdout.readline().decode("ascii", "replace").split()
        if len(line) != 2 or line[0] != "RELAY_PORT" or not wait_for_port(int(line[1]), self.proc):
            self.stop()
            raise SystemExit("bench: the latency relay did not start")
        self.port = int(line[1])
        return self

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc:
            self.proc.stdout.close()
        self.proc = None


@dataclass
class Request:
    connection: str
    status: int
    bytes: int
    uri: str


def parse_log_line(line):
    head, _, uri = line.partition(' "')
    connection, _, status, sent = head.split()
    return Request(connection, int(status), int(sent), uri.rstrip('"'))


# ---------------------------------------------------------------------------------------------
# The tools


@dataclass
class Tool:
    name: str
    label: str
    what: str  # what the tool fetches, for the table's notes
    command: object  # callable(job) -> list of arguments
    binary: str = ""  # the program that must be installed; empty for the driver
    env: dict = field(default_factory=dict)


@dataclass
class Job:
    manifest: dict
    site_dir: str
    start_url: str
    base_url: str
    out_dir: str  # empty folder for this run's files
    scratch: str  # a folder for the tool's own scratch files


def clean_env(extra=None):
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    env["no_proxy"] = env["NO_PROXY"] = "127.0.0.1,localhost"
    env.update(extra or {})
    return env


def wget_command(job):
    return ["wget", "-r", "-np", "-l", "inf", "-A", "htm,html,jpg,jpeg", "-q", "-P", job.out_dir,
            job.start_url]


def wget2_command(job):
    return ["wget2", "-r", "-np", "-l", "inf", "-A", "htm,html,jpg,jpeg", "-q", "-P", job.out_dir,
            job.start_url]


def curl_command(job):
    config = os.path.join(job.scratch, "curl.conf")
    with open(config, "w", encoding="utf-8") as f:
        for path in job.manifest["images"]:
            name = path.rsplit("/", 1)[1]
            f.write(f'url = "{job.base_url}/{path}"\noutput = "{os.path.join(job.out_dir, name)}"\n')
    return ["curl", "-s", "-K", config]


def make_pixhound_command(driver):
    def command(job):
        return [driver, job.out_dir, job.start_url]
    return command


def tools_for(driver):
    tools = []
    if driver:
        tools.append(Tool("pixhound", "Pixhound", "reading method 0, link source 1, no save-folder dialog",
                          make_pixhound_command(driver), env={"QT_QPA_PLATFORM": "offscreen"}))
    tools += [
        Tool("wget", "wget", "wget -r -np -l inf -A htm,html,jpg,jpeg", wget_command, "wget"),
        Tool("wget2", "wget2", "wget2 -r -np -l inf -A htm,html,jpg,jpeg (default threads)",
             wget2_command, "wget2"),
        Tool("floor", "curl (floor)", "one curl process, every image address, one connection",
             curl_command, "curl"),
    ]
    for t in tools:
        if t.binary and not shutil.which(t.binary):
            print(f"bench: {t.binary} is not installed; its row is left out", flush=True)
    return [t for t in tools if not t.binary or shutil.which(t.binary)]


# ---------------------------------------------------------------------------------------------
# One run


@dataclass
class RunResult:
    tool: str
    ok: bool
    wall: float
    rss_kb: int = 0
    cpu_s: float = float("nan")
    pages: int = 0
    unique_pages: int = 0
    images: int = 0
    unique_images: int = 0
    other: int = 0
    other_uris: set = field(default_factory=set)
    not_ok_status: int = 0
    connections: int = 0
    bytes: int = 0
    jpg_files: int = 0
    html_files: int = 0
    missing: int = 0
    extra: int = 0
    differ: int = 0
    driver: dict = field(default_factory=dict)
    note: str = ""


def classify(requests, result):
    page_uris, image_uris = [], []
    for r in requests:
        path = r.uri.split("?", 1)[0].lower()
        if path.endswith((".html", ".htm")):
            page_uris.append(r.uri)
        elif path.endswith((".jpg", ".jpeg")):
            image_uris.append(r.uri)
        else:
            result.other += 1
            result.other_uris.add(path)
        if r.status != 200:
            result.not_ok_status += 1
        result.bytes += r.bytes
    result.pages, result.unique_pages = len(page_uris), len(set(page_uris))
    result.images, result.unique_images = len(image_uris), len(set(image_uris))
    result.connections = len({r.connection for r in requests})


def verify_files(job, result):
    """Counts the files the tool wrote and compares every image with the site's file of the same
    name (names are unique across the site)."""
    expected = {p.rsplit("/", 1)[1]: p for p in job.manifest["images"]}
    seen = set()
    for folder, _, files in os.walk(job.out_dir):
        for name in files:
            lower = name.lower()
            if lower.endswith((".html", ".htm")):
                result.html_files += 1
            if not lower.endswith((".jpg", ".jpeg")):
                continue
            result.jpg_files += 1
            if name not in expected or name in seen:
                result.extra += 1
                continue
            seen.add(name)
            site_file = os.path.join(job.site_dir, *expected[name].split("/"))
            if not filecmp.cmp(os.path.join(folder, name), site_file, shallow=False):
                result.differ += 1
    result.missing = len(expected) - len(seen)


def run_once(tool, job, server):
    os.makedirs(job.out_dir)
    os.makedirs(job.scratch, exist_ok=True)
    argv = tool.command(job)
    time_file = os.path.join(job.scratch, "time.txt")
    use_time = os.path.exists(TIME_BIN)
    if use_time:
        argv = [TIME_BIN, "-f", "%e %M %U %S", "-o", time_file] + argv
    offset = server.log_offset()
    started = time.perf_counter()
    try:
        proc = subprocess.run(argv, env=clean_env(tool.env), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=RUN_TIMEOUT_S, start_new_session=True)
        wall = time.perf_counter() - started
        returncode, stdout, stderr = proc.returncode, proc.stdout, proc.stderr
    except subprocess.TimeoutExpired as e:
        wall = time.perf_counter() - started
        returncode, stdout, stderr = -1, e.stdout or b"", (e.stderr or b"") + b"\ntimed out"
    result = RunResult(tool.name, returncode == 0, wall)
    if use_time and os.path.exists(time_file):
        # The last line holds the figures; a line before it may say how the program ended.
        with open(time_file, encoding="utf-8") as f:
            fields = (f.read().strip().splitlines() or [""])[-1].split()
        if len(fields) == 4 and fields[1].isdigit():
            result.rss_kb = int(fields[1])
            result.cpu_s = float(fields[2]) + float(fields[3])
    classify(server.requests_since(offset), result)
    verify_files(job, result)
    for line in stdout.decode("utf-8", "replace").splitlines():
        if line.startswith("PIXHOUND_RUN "):
            result.driver = json.loads(line[len("PIXHOUND_RUN "):])
    if tool.name == "pixhound" and not result.driver.get("completed"):
        result.ok = False
    if not result.ok:
        tail = stderr.decode("utf-8", "replace").strip().splitlines()[-3:]
        result.note = f"exit {returncode}: " + " | ".join(tail)
        if result.driver.get("boxes"):
            result.note += " | boxes: " + ", ".join(result.driver["boxes"])
    # wget and wget2 exit 8 when a server answered an error, such as the 404 for robots.txt.
    if tool.name in ("wget", "wget2") and returncode == 8 and not result.missing:
        result.ok, result.note = True, ""
    shutil.rmtree(job.out_dir, ignore_errors=True)
    return result


# ---------------------------------------------------------------------------------------------
# The table


def median(values):
    return statistics.median(values) if values else float("nan")


def summarise(manifest, tools, results, rounds, rtt_ms=0):
    n_pages, n_images = len(manifest["pages"]), len(manifest["images"])
    lines = []
    latency = f", every answer {rtt_ms:g} ms late" if rtt_ms else ""
    lines.append(f"## Pixhound benchmark: {manifest['size']} site{latency}")
    lines.append("")
    server = (f"nginx on 127.0.0.1 behind bench/relay.py, which holds each answer back {rtt_ms:g} ms"
              if rtt_ms else "nginx on 127.0.0.1")
    lines.append(f"Site: {n_pages} pages, {n_images} distinct images "
                 f"({manifest['image_bytes'] / 1e6:.0f} MB), {manifest['list_entries']} images "
                 f"embedded in all (the banner and covers appear on several pages). "
                 f"{rounds} round{'s' if rounds != 1 else ''}, tools alternating; {server}, keep-alive on; "
                 f"{os.cpu_count()} CPU cores.")
    lines.append("")
    lines.append("| tool | wall median s | spread s (min-max) | CPU s | page requests | image requests "
                 "| other requests | connections | MB served | peak RSS MB | files written "
                 "| files match |")
    lines.append("|---|---|---|---|---|---|---|---|---|---|---|---|")
    medians = {}
    for tool in tools:
        runs = [r for r in results if r.tool == tool.name]
        ok_runs = [r for r in runs if r.ok]
        walls = [r.wall for r in ok_runs]
        medians[tool.name] = median(walls)
        if not ok_runs:
            lines.append(f"| {tool.label} | failed | | | | | | | | | | {runs[0].note if runs else ''} |")
            continue
        r = ok_runs[len(ok_runs) // 2]
        rss = median([x.rss_kb for x in ok_runs]) / 1024 if ok_runs[0].rss_kb else float("nan")
        cpu = median([x.cpu_s for x in ok_runs])
        page_cell = f"{r.pages} ({r.unique_pages} distinct; site {n_pages})"
        image_cell = f"{r.images} ({r.unique_images} distinct; site {n_images})"
        files_cell = f"{r.jpg_files} jpg" + (f" + {r.html_files} html" if r.html_files else "")
        match = all(x.missing == 0 and x.extra == 0 and x.differ == 0 for x in ok_runs)
        match_cell = "yes, byte for byte" if match else (
            f"NO: {r.missing} missing, {r.extra} extra, {r.differ} differ")
        lines.append(f"| {tool.label} | {medians[tool.name]:.2f} | {min(walls):.2f}-{max(walls):.2f} "
                     f"| {cpu:.2f} | {page_cell} | {image_cell} | {r.other} | {r.connections} "
                     f"| {r.bytes / 1e6:.0f} | {rss:.1f} | {files_cell} | {match_cell} |")
    failed = [r for r in results if not r.ok]
    lines.append("")
    px = medians.get("pixhound")
    if px is not None and px == px:
        ratios = []
        for other, label in (("wget", "wget"), ("wget2", "wget2"), ("floor", "floor")):
            m = medians.get(other)
            if m and m == m:
                ratios.append(f"Pixhound/{label} = {px / m:.2f}")
        if ratios:
            lines.append("Ratios of median wall times: " + ", ".join(ratios) + ".")
        driver_lines(lines, [r for r in results if r.tool == "pixhound" and r.ok], manifest)
    else:
        lines.append("Pixhound: no completed run (see the notes below).")
    lines.append("")
    lines += target_lines(manifest, medians, results, rtt_ms)
    lines.append("")
    lines.append("What each tool does:")
    for tool in tools:
        lines.append(f"- {tool.label}: {tool.what}.")
    lines.append("- The jobs are the same: every JPEG that a page links to (href) is also embedded "
                 "(src) in a page of the crawl, so Pixhound's embedded images of the reachable pages "
                 "and wget's links of every kind are one set of files. The floor fetches only the "
                 "images (no pages). Wall time is the whole process, start-up included; CPU is user plus "
                 "system time; peak RSS is /usr/bin/time's maximum resident set.")
    for tool in tools:
        others = set().union(*[r.other_uris for r in results if r.tool == tool.name])
        if others:
            lines.append(f"- {tool.label}'s other requests: {', '.join(sorted(others))}.")
    for r in failed:
        lines.append(f"- failed run of {r.tool}: {r.note}")
    return "\n".join(lines) + "\n"


def verdict(ok):
    return "MET" if ok else "NOT MET"


def target_lines(manifest, medians, results, rtt_ms):
    """The targets of the run's size, each with its figure and whether it is met."""
    size = manifest["size"]
    runs = [r for r in results if r.tool == "pixhound" and r.ok]
    lines = ["Targets:"]
    limit = RATIO_TARGETS.get((size, bool(rtt_ms)))
    px, w2 = medians.get("pixhound", float("nan")), medians.get("wget2", float("nan"))
    if limit is not None:
        if px == px and w2 == w2 and w2 > 0:
            lines.append(f"- Pixhound/wget2 wall time {px / w2:.2f}, target ≤ {limit:g}: "
                         f"{verdict(px / w2 <= limit)}")
        else:
            lines.append(f"- Pixhound/wget2 wall time: not measured (both must complete), target ≤ {limit:g}")
    if not runs:
        lines.append("- Pixhound: no completed run, nothing else to judge")
        return lines
    above = median([(r.driver.get("peak_rss_kb", 0) - r.driver.get("idle_rss_kb", 0)) / 1024
                    for r in runs])
    memory = MEMORY_TARGETS_MB.get(size)
    if memory is not None:
        lines.append(f"- Pixhound peak memory above the idle window {above:.1f} MB, target ≤ {memory} MB: "
                     f"{verdict(above <= memory)}")
    ahead = max(r.driver.get("ahead_peak_kb", 0) for r in runs) / 1024
    lines.append(f"- Pixhound's fetches ahead held at most {ahead:.1f} MB in memory at once (pages "
                 f"and images together), budget ≤ 32 MB: {verdict(ahead <= 32)}")
    in_files = max(r.driver.get("ahead_files_peak_kb", 0) for r in runs) / 1024
    lines.append(f"- Pixhound's images fetched ahead held at most {in_files:.1f} MB in temporary files "
                 f"at once, budget ≤ 256 MB: {verdict(in_files <= 256)}")
    late99 = median([r.driver.get("late_p99_ms", float("nan")) for r in runs])
    late_max = max(r.driver.get("late_max_ms", float("nan")) for r in runs)
    lines.append(f"- Event-loop lateness of a 10 ms timer on the window's thread during the run: 99th "
                 f"percentile {late99:.1f} ms (median of rounds), target ≤ 20 ms: "
                 f"{verdict(late99 <= 20)}; maximum {late_max:.1f} ms (worst round), target ≤ 100 ms: "
                 f"{verdict(late_max <= 100)}")
    n_pages, n_images = len(manifest["pages"]), len(manifest["images"])
    pages = sorted({r.pages for r in runs})
    images = sorted({r.images for r in runs})
    lines.append(f"- Pixhound page requests {'/'.join(map(str, pages))}, target = pages ({n_pages}): "
                 f"{verdict(pages == [n_pages])}")
    lines.append(f"- Pixhound image requests {'/'.join(map(str, images))}, target = images ({n_images}): "
                 f"{verdict(images == [n_images])}")
    equal = all(r.missing == 0 and r.extra == 0 and r.differ == 0 for r in runs)
    lines.append(f"- Pixhound's files byte-equal to the site's: {verdict(equal)}")
    return lines


def driver_lines(lines, runs, manifest):
    if not runs:
        return
    run_s = median([r.driver.get("run_s", float("nan")) for r in runs])
    idle = median([r.driver.get("idle_rss_kb", 0) for r in runs]) / 1024
    peak = median([r.driver.get("peak_rss_kb", 0) for r in runs]) / 1024
    rows = runs[0].driver.get("rows", {})
    lines.append(f"Pixhound's own figures (median): click to completion box {run_s:.2f} s; idle "
                 f"window {idle:.1f} MB resident, peak {peak:.1f} MB, so {peak - idle:.1f} MB above idle. "
                 f"List rows: {rows.get('lstDownload', '?')} to download (site: "
                 f"{manifest['list_entries']}), {rows.get('lstDownloadDone', '?')} done, "
                 f"{rows.get('lstDownloadAlready', '?')} already present, "
                 f"{rows.get('lstDownloadDenied', '?')} refused.")


# ---------------------------------------------------------------------------------------------
# Micro-benchmarks and profile


def run_micro(build_dir, work_root):
    out = []
    for name in ("bench_scan", "bench_lists", "bench_crawl_lists"):
        exe = os.path.join(build_dir, "bench", name)
        if not os.path.exists(exe):
            out.append(f"- {name}: not built")
            continue
        scratch = tempfile.mkdtemp(prefix=f"pixhound-{name}-", dir=work_root)
        try:
            proc = subprocess.run([exe, scratch], env=clean_env({"QT_QPA_PLATFORM": "offscreen"}),
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT_S)
            text = proc.stdout.decode("utf-8", "replace").strip()
            if proc.returncode != 0:
                text += f"\n(exit {proc.returncode}) " + proc.stderr.decode("utf-8", "replace").strip()[-400:]
        except subprocess.TimeoutExpired:
            text = "timed out"
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        out.append(f"### {name}\n\n```\n{text}\n```")
    return "\n\n".join(out) + "\n"


def run_profile(driver, job, server, out_root):
    """One Pixhound run under callgrind; prints the functions with the most instructions."""
    os.makedirs(job.out_dir)
    profile = os.path.join(out_root, f"callgrind.out.pixhound-{job.manifest['size']}")
    argv = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={profile}", driver, job.out_dir,
            job.start_url]
    subprocess.run(argv, env=clean_env({"QT_QPA_PLATFORM": "offscreen"}), timeout=3600,
                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    shutil.rmtree(job.out_dir, ignore_errors=True)
    inclusive = subprocess.run(["callgrind_annotate", "--inclusive=yes", profile],
                               stdout=subprocess.PIPE).stdout.decode("utf-8", "replace")
    exclusive = subprocess.run(["callgrind_annotate", profile],
                               stdout=subprocess.PIPE).stdout.decode("utf-8", "replace")
    return profile, inclusive, exclusive


# ---------------------------------------------------------------------------------------------


def work_root_for(manifest, requested):
    if requested:
        os.makedirs(requested, exist_ok=True)
        return requested
    # The tools' output goes to memory when it fits, so that the disk's write-back does not blur
    # the figures; all tools get the same place.
    need = manifest["image_bytes"] * 3
    if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK):
        if shutil.disk_usage("/dev/shm").free > need:
            return "/dev/shm"
    return tempfile.gettempdir()


def warm_cache(site_dir):
    for folder, _, files in os.walk(site_dir):
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                while f.read(1 << 20):
                    pass


def main():
    parser = argparse.ArgumentParser(description="Pixhound benchmark against wget and wget2.")
    parser.add_argument("--size", choices=sorted(gensite.SIZES), default="large")
    parser.add_argument("--rounds", type=int)
    parser.add_argument("--build", default=os.path.join(os.path.dirname(HERE), "build"),
                        help="the build folder that holds bench/pixhound_run")
    parser.add_argument("--out", default=os.path.join(HERE, "out"))
    parser.add_argument("--work", help="where the tools write (default: /dev/shm when it has room)")
    parser.add_argument("--tools", help="comma-separated subset of pixhound,wget,wget2,floor "
                        "(default: all; pixhound alone on the chain site)")
    parser.add_argument("--rtt", type=float, default=0, metavar="MS",
                        help="put bench/relay.py in front of nginx, holding every answer back MS milliseconds")
    parser.add_argument("--no-micro", action="store_true", help="skip the two micro-benchmarks")
    parser.add_argument("--profile", action="store_true",
                        help="also run Pixhound once under callgrind and print the top functions")
    args = parser.parse_args()
    if args.rounds is not None and args.rounds < 1:
        parser.error("--rounds must be 1 or more")
    if args.rtt < 0:
        parser.error("--rtt must be 0 or more")
    known = {"pixhound", "wget", "wget2", "floor"}
    if args.tools and not set(args.tools.split(",")) <= known:
        parser.error(f"--tools takes a comma-separated subset of {','.join(sorted(known))}")

    rounds = args.rounds or DEFAULT_ROUNDS[args.size]
    print(f"bench: preparing the {args.size} site...", flush=True)
    manifest = gensite.ensure_site(args.size, args.out)
    site_dir = os.path.join(args.out, args.size, "site")
    driver = os.path.join(os.path.abspath(args.build), "bench", "pixhound_run")
    if not os.path.exists(driver):
        print(f"bench: {driver} is not built; Pixhound's row is left out", flush=True)
        driver = None
    tools = tools_for(driver)
    wanted = args.tools.split(",") if args.tools else (["pixhound"] if args.size in gensite.CHAINS else None)
    if wanted:
        tools = [t for t in tools if t.name in wanted]
    if not tools:
        raise SystemExit("bench: none of the chosen tools can run here")
    work_root = work_root_for(manifest, args.work)
    warm_cache(site_dir)

    server = Nginx(site_dir)
    relay = None
    results = []
    try:
        server.start()
        port = server.port
        if args.rtt:
            relay = Relay(server.port, args.rtt).start()
            port = relay.port
        base_url = f"http://127.0.0.1:{port}"
        start_url = f"{base_url}/{manifest['start']}"
        through = f" (relay on {base_url}, {args.rtt:g} ms per answer)" if relay else ""
        print(f"bench: nginx on 127.0.0.1:{server.port}{through}, start page {start_url}", flush=True)
        session = tempfile.mkdtemp(prefix="pixhound-bench-", dir=work_root)
        try:
            for rnd in range(rounds):
                order = tools[rnd % len(tools):] + tools[:rnd % len(tools)]
                for tool in order:
                    job = Job(manifest, site_dir, start_url, base_url,
                              os.path.join(session, f"{tool.name}-{rnd}"),
                              os.path.join(session, f"{tool.name}-{rnd}-scratch"))
                    r = run_once(tool, job, server)
                    results.append(r)
                    status = "ok" if r.ok else "FAILED " + r.note
                    print(f"bench: round {rnd + 1}/{rounds} {tool.label:14s} {r.wall:7.2f} s  "
                          f"{r.pages} page + {r.images} image requests  {status}", flush=True)
                    shutil.rmtree(job.scratch, ignore_errors=True)
            table = summarise(manifest, tools, results, rounds, args.rtt)
            print()
            print(table)
            report = table
            if not args.no_micro:
                micro = run_micro(os.path.abspath(args.build), work_root)
                print(micro)
                report += "\n## Micro-benchmarks\n\n" + micro
            if args.profile and driver:
                job = Job(manifest, site_dir, start_url, base_url, os.path.join(session, "profile"),
                          os.path.join(session, "profile-scratch"))
                profile, inclusive, exclusive = run_profile(driver, job, server, args.out)
                top = "\n".join(exclusive.splitlines()[:60])
                top_incl = "\n".join(inclusive.splitlines()[:100])
                print(top)
                profile_md = os.path.join(args.out, f"profile-{args.size}.md")
                with open(profile_md, "w", encoding="utf-8") as f:
                    f.write(f"## Callgrind profile of one Pixhound run ({profile})\n\nSelf cost:\n\n"
                            f"```\n{top}\n```\n\nInclusive:\n\n```\n{top_incl}\n```\n")
                print(f"bench: profile summary written to {profile_md}")
        finally:
            shutil.rmtree(session, ignore_errors=True)
    finally:
        if relay:
            relay.stop()
        server.cleanup()

    os.makedirs(args.out, exist_ok=True)
    suffix = f"{args.size}-rtt{args.rtt:g}" if args.rtt else args.size
    for name in ("results.md", f"results-{suffix}.md"):
        with open(os.path.join(args.out, name + ".partial"), "w", encoding="utf-8") as f:
            f.write(report)
        os.replace(os.path.join(args.out, name + ".partial"), os.path.join(args.out, name))
    print(f"bench: table written to {os.path.join(args.out, 'results.md')}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
