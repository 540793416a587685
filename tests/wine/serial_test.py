"""The link engine on the real serial calls under Wine, against the device simulator."""
import re

from winetest import PtyPair, Simulator, check, main_wrapper


def run_wire(env, sim_args, subcommand):
    with PtyPair(env) as pty, Simulator(env, pty, sim_args) as sim:
        rc, out = env.wine([env.exe("tests/wine/programs/serial_wire.exe"), subcommand], timeout=120)
        print(out.strip())
        check(rc == 0 and "FAIL" not in out, "serial_wire %s ran (rc=%s)" % (subcommand, rc))
        return out, sim.raw_bytes(), sim.frames()


def test(env):
    # Frames both ways, byte-exact on the wire.
    out, raw, frames = run_wire(env, [], "send-abc")
    check(raw == bytes.fromhex("F3 02 61 62 63 A1 3A 11 41 50"), "wire holds F3 02 61 62 63 A1 3A then 11 41 50")
    check("ch3=61 62 63 ch1=41" in out, "echoed data frame and command answer delivered")
    check("sent=10 received=10 crc=0 timeouts=0" in out, "counters after one exchange")

    # A burst of 20 full frames each way: nothing lost, nothing reordered.
    out, raw, frames = run_wire(env, [], "burst")
    m = re.search(r"burst frames=(\d+) intact_in_order=(\d+) polls=(\d+) ms=(\d+) crc=(\d+)", out)
    check(m and m.group(1) == "20" and m.group(2) == "20" and m.group(5) == "0",
          "20 x 260-byte frames echoed intact and in order")
    check(len(raw) == 20 * 260, "simulator received 5200 bytes")
    check(sum(1 for f in frames if f.startswith("RX data ch=1 len=256") and f.endswith("crc=ok")) == 20,
          "simulator decoded 20 intact frames")

    # An answer split across two polls is still delivered while it is awaited.
    out, raw, frames = run_wire(env, ["--split", "100"], "split")
    check("ch3=61 62 63" in out and "crc=0" in out, "an answer split by a 100 ms pause arrives whole")
    check(any(f.startswith("TX data ch=3") for f in frames), "simulator sent the answer in two halves")

    # No answer: the countdown runs out after 16 silent polls, counted once.
    out, raw, frames = run_wire(env, ["--silent"], "timeout")
    check("timeout after polls=16 timeouts=1 again=0" in out, "time-out after 16 silent polls, reported once")

    # An idle Poll costs one device call (harvesting the pending read).
    out, raw, frames = run_wire(env, [], "idle-bench")
    check("device calls per poll: 1.00" in out, "idle poll makes one device call")

    # Settings round trip through the real registry; value names as written.
    env.reg_delete(r"HKCU\SOFTWARE\Brightloom\MVR Server\ComPort")
    out, raw, frames = run_wire(env, [], "registry")
    check("loaded port=2 baud=11 data=3 parity=2 stop=2 in=60000 out=1000" in out,
          "stored settings load back (queue size clamped on load)")
    text = env.reg_query(r"HKCU\SOFTWARE\Brightloom\MVR Server\ComPort")
    check(text is not None and re.search(r"Databits\s+REG_SZ\s+3", text) and re.search(r"Stopbits\s+REG_SZ\s+2", text)
          and re.search(r"ComPort\s+REG_SZ\s+3", text) and re.search(r"InSize\s+REG_SZ\s+999999", text),
          "values stored as REG_SZ decimal text under their written names")
    env.reset_settings()  # COM3 is no port in this prefix: later tests start from the defaults


if __name__ == "__main__":
    main_wrapper(test)
