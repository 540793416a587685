"""The server under real traffic: frames trickled in pieces, two answers per request, ten
clients streaming at once and bursting at once, a client that refuses event calls, and a line
that breaks while clients send."""
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winetest import Failure, PtyPair, Simulator, check, main_wrapper  # noqa: E402


def client_exe(env):
    return env.exe("tests/wine/programs/traffic_client.exe")


def run_client(env, *args, timeout=120):
    rc, out = env.wine([client_exe(env)] + [str(a) for a in args], timeout=timeout)
    print(out.strip(), flush=True)
    if rc != 0 or "DONE" not in out:
        raise Failure("traffic_client %s: rc=%s" % (" ".join(map(str, args)), rc))
    return out


def win_path(path):
    return "Z:" + path.replace("/", "\\")


def wait_for(what, cond, timeout):
    deadline = time.time() + timeout
    while not cond():
        if time.time() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.05)


def log_text(path):
    with open(path, errors="replace") as f:
        return f.read()


def start_clients(env, name, arg_lists):
    """Starts one client per argument list; the first alone until it holds its channel, so
    that it alone starts the server. Returns (processes, log paths)."""
    procs, logs = [], []
    for i, args in enumerate(arg_lists):
        log = os.path.join(env.build_dir, "%s-%d.log" % (name, i))
        if os.path.exists(log):
            os.unlink(log)
        procs.append(env.start([client_exe(env)] + [str(a) for a in args], log))
        logs.append(log)
        if i == 0:
            wait_for("the first client", lambda: os.path.exists(log) and "ready" in log_text(log), 60)
    for log in logs:
        wait_for("client ready", lambda: os.path.exists(log) and "ready" in log_text(log), 60)
    return procs, logs


def finish_clients(procs, logs, timeout=180):
    texts = []
    for p, log in zip(procs, logs):
        rc = p.wait(timeout=timeout)
        text = log_text(log)
        texts.append(text)
        if rc != 0 or "DONE" not in text:
            print(text, flush=True)
            raise Failure("client %s ended with %s" % (os.path.basename(log), rc))
    return texts


def test_trickled_frame(env):
    # A 200-byte frame the device sends on its own, 10 bytes every 5 ms, every 400 ms.
    data = "33" * 200
    with PtyPair(env) as pty, Simulator(env, pty, ["--unsolicited", "400:data:4:" + data, "--pieces", "10:5"]):
        out = run_client(env, "receive", 4, 5, 10000)
        frames = re.findall(r"frame \d+ len=(\d+) first=([0-9A-F]+) same=(\d)", out)
        check(len(frames) >= 5, "five unsolicited 200-byte frames trickled in 10-byte pieces arrived (%d)"
              % len(frames))
        check(all(f == ("200", "0033", "1") for f in frames), "each arrived whole: 200 characters '3'")
        env.end_all()


def test_two_split_answers(env):
    script = os.path.join(env.build_dir, "two-answers.txt")
    with open(script, "w") as f:
        f.write("data * * -> echo; echo\n")
    with PtyPair(env) as pty, Simulator(env, pty, ["--script", script, "--split", "30"]):
        out = run_client(env, "pairs", 3, 20)
        check("pairs requests=20 answers=40 intact_in_order=40" in out,
              "two answers per request, each in two writes 30 ms apart: all 40 arrived in order")
        env.end_all()


def released_together(env, name, make_args):
    """Starts the clients make_args(go file) lists, then lets them all go at once through
    their go file. Returns their reports and the seconds from the go to the last report."""
    go = os.path.join(env.build_dir, name + "-go")
    if os.path.exists(go):
        os.unlink(go)
    procs, logs = start_clients(env, name, make_args(win_path(go)))
    t0 = time.time()
    open(go, "w").close()
    texts = finish_clients(procs, logs)
    return texts, time.time() - t0


def test_ten_clients_stream(env):
    for run in range(3):
        with PtyPair(env) as pty, Simulator(env, pty) as sim:
            texts, took = released_together(env, "stream", lambda go: [["stream", ch, 100, 256, go] for ch in range(10)])
            results = [re.search(r"stream ch=(\d+) sent=(\d+) refused=(\d+) received=(\d+) intact_in_order=(\d+)", t)
                       for t in texts]
            check(all(results), "run %d: every client reported" % (run + 1))
            lost = sum(100 - int(m.group(5)) for m in results)
            check(all(m.groups()[1:] == ("100", "0", "100", "100") for m in results),
                  "run %d: 10 clients x 100 blocks of 256 characters, every echo intact and in order "
                  "(%.1f s, %d missing)" % (run + 1, took, lost))
            rx = sum(1 for f in sim.frames() if f.startswith("RX data") and "len=256" in f and f.endswith("crc=ok"))
            check(rx == 1000, "run %d: the device received 1000 intact blocks" % (run + 1))
            env.end_all()


def burst_results(texts, blocks):
    """Per client: (sent, refused, rejected, received, lost, stray) from its report."""
    rows = []
    for text in texts:
        b = re.search(r"burst ch=\d+ sent=(\d+) refused=(\d+) rejected=(\d+)", text)
        e = re.search(r"echoes ch=\d+ received=(\d+) in_order=(\d+) lost=(\d+) stray=(\d+)", text)
        if not b or not e:
            print(text, flush=True)
            raise Failure("a bursting client did not report")
        rows.append((int(b.group(1)), int(b.group(2)), int(b.group(3)), int(e.group(1)), int(e.group(3)),
                     int(e.group(4))))
    return rows


def echoed(sim, channel):
    return sum(1 for f in sim.frames() if re.match(r"TX data ch=%d .*crc=ok$" % channel, f))


def test_refusing_client(env):
    # Its message filter refuses two tries of every event call before it takes one: the
    # server tries again, and every echo arrives once, in order.
    with PtyPair(env) as pty, Simulator(env, pty) as sim:
        texts, _ = released_together(env, "refusing", lambda go: [["burst", 6, 60, 100, go, 2]])
        env.end_all()
        (sent, refused, rejected, received, lost, stray), = burst_results(texts, 60)
        check(rejected >= 2 * 60, "the client refused %d event calls" % rejected)
        check((received, lost, stray) == (60, 0, 0) and echoed(sim, 6) == 60,
              "a client that refuses event calls got all 60 echoes in order (%d received, %d lost)"
              % (received, lost))


def test_ten_clients_burst(env):
    # Ten clients send 100 blocks each as fast as SendLPaket takes them, three of them
    # refusing event calls now and then: none refused, none lost, and what the device echoed
    # on each channel is what its client took.
    for run in range(2):
        with PtyPair(env) as pty, Simulator(env, pty) as sim:
            texts, took = released_together(
                env, "burst", lambda go: [["burst", ch, 100, 256, go, 1 if ch % 3 == 1 else 0] for ch in range(10)])
            env.end_all()
            rows = burst_results(texts, 100)
            per_channel = [echoed(sim, ch) for ch in range(10)]
        check(all(r[1] == 0 for r in rows), "run %d: no send refused (%s)" % (run + 1, [r[1] for r in rows]))
        check(all(r[3:] == (100, 0, 0) for r in rows),
              "run %d: 10 clients x 100 blocks in a burst, every echo once and in order (%.1f s, %d lost)"
              % (run + 1, took, sum(r[4] for r in rows)))
        check(per_channel == [r[3] for r in rows],
              "run %d: per channel, blocks echoed = Receive calls taken (%s)" % (run + 1, per_channel))
        check(sum(r[2] for r in rows) > 0, "run %d: the refusing clients refused %d event calls"
              % (run + 1, sum(r[2] for r in rows)))


def test_broken_line(env):
    from uidrive import Ui
    ui = Ui(env)
    files = {k: os.path.join(env.build_dir, "broken-" + k) for k in ("go", "reopen", "stop")}
    for f in files.values():
        if os.path.exists(f):
            os.unlink(f)
    pty = PtyPair(env)
    pty.__enter__()
    try:
        with Simulator(env, pty):
            procs, logs = start_clients(env, "broken", [["broken-other", 5, win_path(files["stop"])],
                                                        ["broken-sender", 3, win_path(files["go"])],
                                                        ["reopen", 7, win_path(files["reopen"])]])
            # The line breaks: the pty pair goes away while a client sends.
            pty.__exit__(None, None, None)
            time.sleep(0.3)
            open(files["go"], "w").close()
            text, _ = ui.box("Fehler", "", 15000)
            # The line comes back; a client reopens the port through the set-up dialog while
            # the box is still open.
            with PtyPair(env) as pty2, Simulator(env, pty2, name="back"):
                open(files["reopen"], "w").close()
                dlg = "ComPortDialog|TComDlgFm"
                check(ui.wait(lambda: ui.find(dlg, 500) and ui.visible(dlg), 20), "the set-up dialog opens")
                ui.ok("click", dlg, "OKBtn")
                wait_for("the reopening client", lambda: "reopen echo=" in log_text(logs[2]), 30)
                open(files["stop"], "w").close()
                texts = finish_clients(procs, logs)
    finally:
        pty.__exit__(None, None, None)
    other, sender, reopen = texts
    check(re.match(r"(Receive|Transmit): \d+! ", text), "the port's error box: %r" % text)
    m = re.search(r"sender max_call_ms=([\d.]+)", sender)
    check(m and float(m.group(1)) < 1000, "SendLPaket on a broken line returns within 1 s (%s ms)"
          % (m.group(1) if m else "?"))
    m = re.search(r"other calls=(\d+) calls_with_box=(\d+) max_call_ms=([\d.]+)", other)
    check(m and int(m.group(2)) > 0 and float(m.group(3)) < 1000,
          "another client's calls kept working while the box was open (%s)" % (m.group(0) if m else "?"))
    m = re.search(r"reopen echo=(\d) echo_ms=([\d.]+) box_before=(\d) box_after=(\d)", reopen)
    check(m and m.group(1) == "1" and m.group(3) == "1" and m.group(4) == "1",
          "after the port was reopened the echo came at once, the box still open (%s)"
          % (m.group(0) if m else "?"))
    env.end_all()


def fastest_line(env):
    """Frames go to the port at the line's pace: 256000 baud (a 260-byte frame in 10 ms, at
    the stored default of 9600 in 271 ms) keeps the streams short."""
    env.reg_add(r"HKCU\SOFTWARE\Brightloom\MVR Server\ComPort", "BaudRate", 15)


def test(env):
    env.reset_settings()
    fastest_line(env)
    env.wine([env.exe("app/MVRServ.exe"), "/regserver"], timeout=60, check_rc=True)
    test_trickled_frame(env)
    test_two_split_answers(env)
    test_ten_clients_stream(env)
    test_refusing_client(env)
    test_ten_clients_burst(env)
    test_broken_line(env)


if __name__ == "__main__":
    main_wrapper(test)
