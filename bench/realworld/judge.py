#!/usr/bin/env python3
"""Converts the real-media corpus with vidmora-cli and HandBrakeCLI and judges every output
against what ffmpeg decodes from its source. Run by bench/realworld/run, which says what the
figures mean."""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

# (profile id, column title, what the source needs for the profile to apply)
PROFILES = [(9000, "H.264", "video"), (9100, "Opus", "audio"), (9040, "MKV Remux", "any")]
EXTENSIONS = {9000: ".mp4", 9100: ".opus", 9040: ".mkv"}
HANDBRAKE_PRESET = "Fast 720p30"


def decoded(path, timeout=900):
    """What ffmpeg decodes from a file: its streams with the seconds each really holds, the
    header's duration, and whether the decode reached the end without a fatal error."""
    info = {"header": None, "streams": [], "decodes": False, "errors": 0, "format": "?"}
    try:
        done = subprocess.run(
            ["ffprobe", "-v", "error", "-show_format", "-show_streams", "-show_frames",
             "-show_entries",
             "format=format_name,duration:stream=index,codec_type,codec_name,width,height,"
             "channels,sample_rate,avg_frame_rate:stream_disposition=attached_pic:"
             "frame=stream_index,media_type,best_effort_timestamp_time,"
             "nb_samples", "-of", "json", path],
            capture_output=True, text=True, timeout=timeout)
        data = json.loads(done.stdout or "{}")
    except (subprocess.TimeoutExpired, ValueError):
        return info
    fmt = data.get("format", {})
    info["format"] = fmt.get("format_name", "?")
    try:
        info["header"] = float(fmt["duration"])
    except (KeyError, ValueError):
        pass
    frames = {}
    for f in data.get("frames", []):
        frames.setdefault(f.get("stream_index"), []).append(f)
    for s in data.get("streams", []):
        kind = s.get("codec_type")
        if kind == "video" and s.get("disposition", {}).get("attached_pic"):
            kind = "picture"
        got = frames.get(s.get("index"), [])
        stream = {"kind": kind, "codec": s.get("codec_name", "?"), "frames": len(got),
                  "seconds": 0.0}
        if kind == "audio":
            rate = int(s.get("sample_rate") or 0)
            samples = sum(int(f.get("nb_samples") or 0) for f in got)
            stream["seconds"] = samples / rate if rate else 0.0
            stream["label"] = "%s %sch %dHz" % (stream["codec"], s.get("channels", "?"), rate)
        elif kind == "video":
            stream["seconds"] = video_seconds(got, s.get("avg_frame_rate", "0/0"))
            stream["label"] = "%s %sx%s" % (stream["codec"], s.get("width"), s.get("height"))
        else:
            stream["label"] = "%s %s" % (kind, stream["codec"])
        info["streams"].append(stream)
    try:
        null = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v?",
                               "-map", "0:a?", "-f", "null", "-"],
                              capture_output=True, text=True, timeout=timeout)
        info["errors"] = len(null.stderr.splitlines())
        info["decodes"] = null.returncode == 0 and any(
            s["frames"] > 0 for s in info["streams"] if s["kind"] in ("video", "audio"))
    except subprocess.TimeoutExpired:
        pass
    return info


def video_seconds(frames, avg_rate):
    times = []
    for f in frames:
        try:
            times.append(float(f["best_effort_timestamp_time"]))
        except (KeyError, ValueError):
            pass
    if len(times) < len(frames) or not times:
        num, _, den = avg_rate.partition("/")
        rate = float(num) / float(den) if den and float(den) else 0.0
        return len(frames) / rate if rate else 0.0
    # Up to the last frame's start plus a usual frame's length: how long the last frame lasts is
    # lost by some containers (Matroska, a sparse QuickTime track) without any picture lost.
    times.sort()
    steps = sorted(b - a for a, b in zip(times, times[1:]) if b > a)
    if steps:
        return times[-1] - times[0] + steps[len(steps) // 2]
    num, _, den = avg_rate.partition("/")
    return times[-1] - times[0] + (float(den) / float(num) if num and float(num) else 0.0)


def main_stream(info, kind):
    found = [s for s in info["streams"] if s["kind"] == kind and s["frames"] > 0]
    return max(found, key=lambda s: s["seconds"]) if found else None


def content_seconds(info):
    return max([s["seconds"] for s in info["streams"] if s["kind"] in ("video", "audio")] or [0])


def incomplete(info):
    """The source holds clearly less than its header says: a cut file."""
    header = info["header"]
    if not header:
        return False
    return content_seconds(info) < header - max(0.05, 0.1 * header)


def tolerance(seconds):
    return max(0.1, 0.04 * seconds)


def shortfall(source, output, kinds):
    """Why the output does not hold what the source holds, or "" when it does. kinds: for each
    of "video", "audio", "subtitle", "main" (the source's longest stream of that kind must be
    there whole) or "all" (every stream of that kind, in order)."""
    for kind, how in kinds.items():
        src = [s for s in source["streams"] if s["kind"] == kind and
               (kind == "subtitle" or s["frames"] > 0)]
        out = [s for s in output["streams"] if s["kind"] == kind]
        if not src:
            continue
        if how == "main":
            src = [main_stream(source, kind)]
        if len(out) < len(src):
            return "%d of %d %s streams" % (len(out), len(src), kind)
        if kind == "subtitle":
            continue
        if how == "main":
            out = [max(out, key=lambda s: s["seconds"])]
        for s, o in zip(src, out):
            if o["seconds"] < s["seconds"] - tolerance(s["seconds"]):
                return "%s %.2f s of %.2f s" % (kind, o["seconds"], s["seconds"])
    return ""


def expected_kinds(profile):
    if profile == 9000:
        return {"video": "main", "audio": "main"}
    if profile == 9100:
        return {"audio": "main"}
    return {"video": "all", "audio": "all", "subtitle": "all"}


def applies(info, need):
    if need == "any":
        return True
    return main_stream(info, need) is not None


def encoder_reason(lines, profile, path, work):
    """vidmora-cli keeps no log: the failed conversion is run again through the encoder alone,
    with a log, for its one-sentence reason."""
    folder = os.path.join(work, "again-%d" % profile)
    os.makedirs(folder, exist_ok=True)
    stem = os.path.splitext(os.path.basename(path))[0]
    log = os.path.join(folder, stem + ".log")
    out = os.path.join(folder, stem + EXTENSIONS[profile])
    argv = subprocess.run([lines, "profile", str(profile), path, out], capture_output=True,
                          text=True, check=True).stdout.splitlines()
    try:
        subprocess.run(argv, env=dict(os.environ, VIDMORA_LOG_FILE=log), stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=900)
    except subprocess.TimeoutExpired:
        return "the encoder alone timed out"
    except OSError as e:
        return "the encoder could not be run again (%s)" % e
    reasons = []
    if os.path.exists(log):
        with open(log, errors="replace") as f:
            reasons = [line[8:].strip() for line in f if line.startswith("reason: ")]
    return reasons[-1] if reasons else "no reason in the encoder's log"


def run_vidmora(cli, lines_tool, profile, files, work):
    """One vidmora-cli batch: {source path: ("done", output) | (state, reason)}."""
    home = os.path.join(work, "home-%d" % profile)
    dest = os.path.join(work, "out-%d" % profile)
    os.makedirs(home, exist_ok=True)
    os.makedirs(dest, exist_ok=True)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_STATE_HOME=os.path.join(home, "state"))
    try:
        done = subprocess.run([cli, "--json", "--no-history", "--jobs", "2", "--profile",
                               str(profile), "--dest", dest, *files], env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=3600)
        lines, status = done.stdout.splitlines(), done.returncode
    except subprocess.TimeoutExpired as e:
        lines, status = (e.stdout or b"").decode(errors="replace").splitlines(), "timeout"
    if status not in (0, 1, "timeout"):
        print("vidmora-cli ended with status %s for profile %d" % (status, profile))
    outcome = {}
    for line in lines:
        try:
            event = json.loads(line)
        except ValueError:
            continue
        name = event.get("event")
        path = event.get("file")
        if name == "done":
            outcome[path] = ("done", event.get("output", ""))
        elif name == "rejected":
            outcome[path] = ("rejected", event.get("reason", ""))
        elif name in ("failed", "stopped"):
            outcome[path] = (name, encoder_reason(lines_tool, profile, path, work))
    for path in files:
        outcome.setdefault(path, ("no outcome", "vidmora-cli said nothing (%s)" % status))
    return outcome


def run_handbrake(path, work):
    out = os.path.join(work, "handbrake", os.path.splitext(os.path.basename(path))[0] + ".mp4")
    os.makedirs(os.path.dirname(out), exist_ok=True)
    try:
        done = subprocess.run(["HandBrakeCLI", "-i", path, "-o", out, "-Z", HANDBRAKE_PRESET],
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=900)
    except subprocess.TimeoutExpired:
        return ("failed", "timed out")
    if done.returncode != 0 or not os.path.exists(out):
        last = [l for l in done.stderr.splitlines() if l.strip()][-1:] or ["?"]
        return ("failed", "status %d: %s" % (done.returncode, last[0][:80]))
    return ("done", out)


def holds_nowhere(path, profile, result):
    """A remux refused because the container cannot hold a stream, and ffmpeg's own copy of that
    stream into the same container fails too: the profile cannot take the file at all, so the
    refusal is right and the pair is left out of the counts."""
    state, detail = result
    found = re.search(r"stream (\d+) \(.*\) cannot be copied into", detail or "")
    if state != "failed" or profile != 9040 or not found:
        return False
    with tempfile.TemporaryDirectory() as tmp:
        done = subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-i", path, "-map",
                               "0:" + found.group(1), "-c", "copy", "-f", "matroska",
                               os.path.join(tmp, "copy.mkv")], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=300)
        return done.returncode != 0


def judged(result, source, kinds, bad="FALSE OK"):
    """(cell text, converted and whole, ended well but the output falls short)."""
    state, detail = result
    if state != "done":
        return "%s: %s" % (state, detail), False, False
    if not os.path.exists(detail):
        return bad + ": no output file", False, True
    output = decoded(detail)
    if not output["decodes"]:
        return bad + ": the output does not decode", False, True
    short = shortfall(source, output, kinds)
    if short:
        return "%s: %s" % (bad, short), False, True
    return "ok", True, False


def pct(part, whole):
    return 100.0 * part / whole if whole else 0.0


def main():
    ap = argparse.ArgumentParser()
    for name in ("cli", "lines", "corpus", "manifest", "work", "results", "table"):
        ap.add_argument("--" + name, required=True)
    a = ap.parse_args()
    names = []
    with open(a.manifest) as m:
        for line in m:
            if line.strip() and not line.startswith("#"):
                names.append(line.split("\t")[0])
    files = [os.path.join(a.corpus, n) for n in names if os.path.exists(os.path.join(a.corpus, n))]
    print("bench/realworld: %d of %d corpus files present" % (len(files), len(names)))
    sources = {f: decoded(f) for f in files}

    results = {}
    for profile, _, need in PROFILES:
        chosen = [f for f in files if applies(sources[f], need)]
        results[profile] = run_vidmora(a.cli, a.lines, profile, chosen, a.work)
    handbrake = {f: run_handbrake(f, a.work) for f in files if applies(sources[f], "video")}

    counted = [f for f in files if sources[f]["decodes"] and not incomplete(sources[f])]
    per_profile = {p: [0, 0] for p, _, _ in PROFILES}
    whole_files = 0
    false_ok = 0
    accepted_cut = 0
    hb = [0, 0, 0]  # files HandBrake was given, it converted, the H.264 profile converted
    rows = []
    for f in files:
        src = sources[f]
        desc = ", ".join(s["label"] + (" %.2fs" % s["seconds"] if s["kind"] in ("video", "audio")
                                        else "") for s in src["streams"])
        header = "%.2fs" % src["header"] if src["header"] is not None else "-"
        if not src["decodes"]:
            state = "does not decode"
        elif incomplete(src):
            state = "incomplete (header %s)" % header
        else:
            state = "decodes (header %s%s)" % (header, ", %d error lines" % src["errors"]
                                               if src["errors"] else "")
        cells = []
        all_ok = True
        for profile, title, need in PROFILES:
            if f not in results[profile]:
                cells.append((title, "n/a"))
                continue
            if holds_nowhere(f, profile, results[profile][f]):
                cells.append((title, "n/a (refused: %s; ffmpeg cannot copy it there either)"
                              % results[profile][f][1]))
                continue
            text, ok, short = judged(results[profile][f], src, expected_kinds(profile))
            false_ok += short
            if incomplete(src) and results[profile][f][0] == "done":
                accepted_cut += 1
                text += " (from a cut source, which should be refused)"
            all_ok = all_ok and ok
            if f in counted:
                per_profile[profile][0] += ok
                per_profile[profile][1] += 1
            if f in counted and profile == 9000:
                hb[2] += ok
            cells.append((title, text))
        if f in handbrake:
            text, ok, _ = judged(handbrake[f], src, expected_kinds(9000), "short")
            if f in counted:
                hb[0] += 1
                hb[1] += ok
            cells.append(("HandBrake", text))
        else:
            cells.append(("HandBrake", "n/a"))
        whole_files += f in counted and all_ok
        rows.append((os.path.basename(f), state, desc, cells))

    with open(a.table, "w") as t:
        for name, state, desc, cells in rows:
            t.write("%s: %s\n  %s\n" % (name, state, desc))
            for title, text in cells:
                t.write("  %-10s %s\n" % (title, text))
    print(open(a.table).read())
    lines = [
        ("realworld_files", len(files), "files"),
        ("realworld_decodable", sum(1 for f in files if sources[f]["decodes"]), "files"),
        ("realworld_incomplete", sum(1 for f in files if sources[f]["decodes"] and
                                     incomplete(sources[f])), "files"),
        ("realworld_converted_pct", pct(whole_files, len(counted)), "%"),
    ]
    for profile, key in ((9000, "h264"), (9100, "opus"), (9040, "remux")):
        lines.append(("realworld_%s_converted_pct" % key, pct(*per_profile[profile]), "%"))
    lines += [
        ("handbrake_converted_pct", pct(hb[1], hb[0]), "%"),
        ("realworld_h264_on_handbrake_files_pct", pct(hb[2], hb[0]), "%"),
        ("realworld_false_ok", false_ok, "outputs"),
        ("realworld_cut_sources_ok", accepted_cut, "outputs"),
    ]
    with open(a.results, "a") as out:
        for name, value, unit in lines:
            text = "%s %s %s" % (name, ("%.1f" % value) if isinstance(value, float) else value,
                                 unit)
            print(text)
            out.write(text + "\n")


if __name__ == "__main__":
    sys.exit(main())
