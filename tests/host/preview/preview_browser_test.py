#!/usr/bin/python3
"""kelo-host --preview driven in headless Chromium: the page shows the plug-in's
settings window, and the picture it shows is the one kelo-host writes for the
same settings; the scopes follow the picture, the probe reads the server's
frames, and a dragged slider gets a reduced picture, then the full one.
Prints the latencies and the scopes' cost; they are not pass marks.

usage: preview_browser_test.py KELO_HOST OUTPUT_DIR
Exits 77 (skipped) where Chromium, its driver or selenium is missing.
"""
import base64
import json
import os
import select
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
import zlib

SKIPPED = 77


def skip(reason):
    print("skipped: " + reason)
    sys.exit(SKIPPED)


CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    skip("needs Debian's chromium and chromium-driver")
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
except ImportError:
    skip("needs python3-selenium (run with /usr/bin/python3)")


def png_pixels(data):
    """(width, height, bytes) of an 8-bit RGB PNG without interlacing."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert (depth, colour, interlace) == (8, 2, 0), header
    raw, stride = zlib.decompress(idat), width * 3
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - 3] if x >= 3 else 0
            b = previous[x]
            c = previous[x - 3] if x >= 3 else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    return width, height, b"".join(rows)


def write_y4m(path, width, height, frames):
    """A 4:2:0 clip whose luma ramp moves from frame to frame."""
    with open(path, "wb") as file:
        file.write(f"YUV4MPEG2 W{width} H{height} F25:1 Ip A1:1 C420jpeg\n".encode())
        for frame in range(frames):
            file.write(b"FRAME\n")
            for y in range(height):
                file.write(bytes((16 + (x + y + 40 * frame) % 220) for x in range(width)))
            file.write(bytes([100]) * (width * height // 4) + bytes([150]) * (width * height // 4))


class Preview:
    """kelo-host --preview running until stop()."""

    def __init__(self, host, arguments, folder):
        self.process = subprocess.Popen([host, "--preview", "--quiet"] + arguments, cwd=folder,
                                        stdout=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], 120)
        line = self.process.stdout.readline() if ready else ""
        if "http://" not in line:
            self.process.kill()
            raise AssertionError("no URL from kelo-host: " + repr(line))
        self.url = line[line.index("http://"):].split()[0]
        self.token = self.url.split("token=")[1]
        self.base = self.url.split("?")[0]

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        status = self.process.wait(60)
        assert status == 0, f"kelo-host --preview ended with {status} after Ctrl-C"


def status_of(url, headers=None):
    try:
        with urllib.request.urlopen(urllib.request.Request(url, headers=headers or {}), timeout=30) as response:
            return response.status
    except urllib.error.HTTPError as error:
        return error.code


def wait_for(driver, script, what, timeout=120):
    end = time.time() + timeout
    while time.time() < end:
        if driver.execute_script(script):
            return
        time.sleep(0.02)
    raise AssertionError("timed out waiting for " + what)


def shown_pixels(driver):
    data = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        const reader = new FileReader();
        reader.onload = () => done(reader.result.split(',')[1]);
        reader.readAsDataURL(window.kelo.lastPicture);""")
    return png_pixels(base64.b64decode(data))


def change(driver, script):
    """Runs `script` on the page and waits for the picture that follows it."""
    shown = driver.execute_script("return window.kelo.picturesShown")
    driver.execute_script(script)
    wait_for(driver, f"return window.kelo.idle() && window.kelo.picturesShown > {shown}", "the new picture")


def move_slider(driver, name, value):
    change(driver, f"""const s = document.querySelector('input[type=range][data-name="{name}"]');
                       s.value = {value}; s.dispatchEvent(new Event('input'));""")


def kelo_host_pixels(host, folder, settings):
    # The chart goes to kelo-out.png in the current folder.
    output = os.path.join(folder, "kelo-out.png")
    arguments = [host, "--quiet"] + [a for s in settings for a in ("--set", s)]
    subprocess.run(arguments, cwd=folder, check=True)
    with open(output, "rb") as file:
        return png_pixels(file.read())


def type_number(driver, name, value):
    """A value typed into a track bar's number field: one change, one
    full-size picture."""
    change(driver, f"""const n = document.querySelector('input[type=number][data-name="{name}"]');
                       n.value = {value}; n.dispatchEvent(new Event('change'));""")


def latency(driver, moves=12):
    """Medians of the milliseconds from a typed change to its full-size
    picture on screen, and of the FilterProc and PNG times within them."""
    driver.execute_script("window.kelo.latencies = []; window.kelo.serverTimes = []")
    for i in range(moves):
        type_number(driver, "G(gain)", 10 + 7 * i)
    server = driver.execute_script("return window.kelo.serverTimes")
    return (statistics.median(driver.execute_script("return window.kelo.latencies")),
            statistics.median(t[0] for t in server), statistics.median(t[1] for t in server))


def drag(driver, gestures=12, moves=3):
    """Drags G(gain): each gesture moves it `moves` times, each move as soon
    as the last one's picture is on screen, and lets go at once after the
    last. Returns the page's records (the pictures' sizes in order)."""
    driver.execute_script("""Object.assign(window.kelo, { dragLatencies: [], fullLatencies: [],
                                                          serverTimes: [], pictures: [] })""")
    value = 0
    for gesture in range(gestures):
        for move in range(moves):
            value = (value + 9) % 200
            shown = driver.execute_script("return window.kelo.dragLatencies.length")
            driver.execute_script(f"""const s = document.querySelector('input[type=range][data-name="G(gain)"]');
                                      s.value = {value}; s.dispatchEvent(new Event('input'));""")
            if move < moves - 1:
                wait_for(driver, f"return window.kelo.dragLatencies.length > {shown}", "a reduced picture")
        driver.execute_script("""document.querySelector('input[type=range][data-name="G(gain)"]')
                                 .dispatchEvent(new Event('change'));""")
        wait_for(driver, f"return window.kelo.idle() && window.kelo.fullLatencies.length > {gesture}",
                 "the full picture after a drag")
    return driver.execute_script("return window.kelo")


def scopes_bytes(driver, row="after"):
    return driver.execute_async_script(f"""
        const done = arguments[arguments.length - 1];
        const reader = new FileReader();
        reader.onload = () => done(reader.result);
        reader.readAsDataURL(window.kelo.lastScopes.{row});""")


def probe(driver, x, y, width, height):
    """Points at frame pixel (x, y) and returns the numbers the page shows."""
    driver.execute_script("window.kelo.lastProbe = null")
    driver.execute_script(f"""const box = document.getElementById('after').getBoundingClientRect();
        document.getElementById('pictures').dispatchEvent(new PointerEvent('pointermove', {{ bubbles: true,
            clientX: box.left + ({x} + 0.5) / {width} * box.width,
            clientY: box.top + ({y} + 0.5) / {height} * box.height }}));""")
    wait_for(driver, f"return window.kelo.lastProbe && window.kelo.lastProbe.x === {x} && "
                     f"window.kelo.lastProbe.y === {y}", "the probe's numbers", 20)
    return driver.execute_script("return window.kelo.lastProbe"), driver.find_element("id", "probe").text


def main():
    host, output_dir = sys.argv[1], sys.argv[2]
    os.makedirs(output_dir, exist_ok=True)
    describe = subprocess.run([host, "--describe"], check=True, capture_output=True, text=True).stdout
    sections = describe.split("check boxes")
    track_names = [line.split()[0] for line in sections[0].split("track bars")[1].splitlines()[1:] if line.strip()]
    check_names = [line.split()[0] for line in sections[1].splitlines()[1:] if line.strip()]

    folder = tempfile.mkdtemp(prefix="kelo-preview-test-")
    profile = tempfile.mkdtemp(prefix="kelo-preview-chromium-")
    preview = Preview(host, [], folder)
    driver = None
    try:
        assert status_of(preview.base) == 403, "a request without the token must be refused"
        assert status_of(preview.base + "api/state?token=" + "0" * 32) == 403, "a wrong token must be refused"
        assert status_of(preview.url, {"Host": "rebound.example:" + preview.base.split(":")[2].rstrip("/")}) == 403
        assert status_of(preview.base + "api/picture?frame=x&token=" + preview.token) == 400

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                         "--disable-component-update", "--disable-sync", "--no-first-run",
                         "--window-size=1600,1400", "--user-data-dir=" + profile):
            options.add_argument(argument)
        driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        driver.set_script_timeout(60)
        driver.get(preview.url)
        wait_for(driver, "return window.kelo && window.kelo.picturesShown > 0 && window.kelo.idle()",
                 "the first picture")

        page_tracks = driver.execute_script(
            "return [...document.querySelectorAll('input[type=range][data-name]')].map(e => e.dataset.name)")
        page_checks = driver.execute_script(
            "return [...document.querySelectorAll('input[type=checkbox][data-name]')].map(e => e.dataset.name)")
        assert page_tracks == track_names, f"{page_tracks} != {track_names}"
        assert page_checks == check_names, f"{page_checks} != {check_names}"
        print(f"page: {len(page_tracks)} track bars, {len(page_checks)} check boxes, as --describe shows")

        move_slider(driver, "R(gain)", 64)
        assert shown_pixels(driver) == kelo_host_pixels(host, folder, ["R(gain)=64"]), \
            "the page's picture differs from kelo-host --set R(gain)=64"
        change(driver, "document.querySelector('input[type=checkbox][data-name=\"F16\"]').click()")
        assert shown_pixels(driver) == kelo_host_pixels(host, folder, ["R(gain)=64", "F16=1"]), \
            "the page's picture differs from kelo-host --set R(gain)=64 --set F16=1"
        command = driver.find_element("id", "command").text
        assert "--set 'R(gain)=64'" in command and "--set F16=1" in command, command
        print("pictures equal kelo-host's for R(gain)=64, and with F16 on")

        # A second tab shares the server's settings.
        first = driver.current_window_handle
        driver.switch_to.new_window("tab")
        driver.get(preview.url)
        wait_for(driver, "return window.kelo && window.kelo.picturesShown > 0 && window.kelo.idle()",
                 "the second tab's picture")
        value = driver.execute_script(
            "return document.querySelector('input[type=range][data-name=\"R(gain)\"]').value")
        assert value == "64", f"the second tab shows R(gain)={value}"
        driver.close()
        driver.switch_to.window(first)

        change(driver, "document.querySelector('input[type=checkbox][data-name=\"F16\"]').click()")
        at1080 = latency(driver)

        # The tools of issue 18, timed for the CI budget.
        tools_start = time.time()
        # The scopes follow the picture: Y(gain) changes them.
        wait_for(driver, "return window.kelo.idle() && window.kelo.lastScopes.after", "the first scopes")
        scopes_before = scopes_bytes(driver)
        move_slider(driver, "Y(gain)", 96)
        wait_for(driver, "return window.kelo.idle()", "the scopes of Y(gain)=96")
        assert scopes_bytes(driver) != scopes_before, "the scopes did not change with Y(gain)"
        print("scopes: change with Y(gain)")

        # The probe: the chart's mid-grey patch, before and after, against
        # kelo-host's own output for the same pixel.
        x, y = 960, 1000
        values, text = probe(driver, x, y, 1920, 1080)
        assert (values["before"]["Y"], values["before"]["Cb"], values["before"]["Cr"]) == (2048, 0, 0), values
        assert values["after"]["width"] == 1920 and values["after"]["bits"] == 8, values
        with urllib.request.urlopen(preview.base + "api/state?token=" + preview.token, timeout=30) as response:
            state = json.load(response)
        settings = [f"{t['name']}={v}" for t, v in zip(state["tracks"], state["track"]) if v != t["default"]]
        _, _, pixels = kelo_host_pixels(host, folder, settings)
        expected = list(pixels[(y * 1920 + x) * 3:(y * 1920 + x) * 3 + 3])
        assert values["after"]["rgb"] == expected, f"probe {values['after']} != kelo-host's {expected}"
        assert f"Y {values['after']['Y']}" in text and " ".join(map(str, expected)) in text, text
        print(f"probe: ({x}, {y}) after Y {values['after']['Y']} R'G'B' {expected}, as kelo-host writes it")

        # A drag: reduced pictures while the slider moves, then the full one.
        record = drag(driver)
        sizes = record["pictures"]
        assert "1920x1080" in sizes and sizes[0] != "1920x1080", sizes
        reduced = sizes[0]
        assert int(reduced.split("x")[0]) <= 960, sizes
        # Each gesture ends with the full picture (a slow moment mid-gesture may
        # have let one in earlier).
        assert sizes[-1] == "1920x1080" and sizes.count("1920x1080") >= 12, sizes
        # FilterProc's time by size, and on the first frame after a size change
        # (the plug-in rebuilds its frame resources) or at a size it already had.
        times = {}
        previous = None
        for filter_ms, _, size in record["serverTimes"]:
            times.setdefault((size, size != previous), []).append(filter_ms)
            previous = size
        scope_times = [t for t in driver.execute_script("return window.kelo.scopeTimes") if t[4] == "1920x1080"]
        drag_ms = statistics.median(record["dragLatencies"])
        full_ms = statistics.median(record["fullLatencies"])
        tools_s = time.time() - tools_start

        driver.execute_script("document.querySelector('input[name=view][value=split]').click()")
        wait_for(driver, "return document.getElementById('before').complete && "
                         "document.getElementById('before').naturalWidth > 0 && window.kelo.idle() && "
                         "window.kelo.lastScopes.before", "the before picture and its scopes")
        probe(driver, 1500, 1000, 1920, 1080)

        screenshot = os.path.join(output_dir, "kelo-preview.png")
        driver.save_screenshot(screenshot)
        print("screenshot: " + screenshot)
        preview.stop()
        preview = None

        # 720p, from a clip, whose frames the page's frame slider picks.
        clip = os.path.join(folder, "720p.y4m")
        write_y4m(clip, 1280, 720, 3)
        preview = Preview(host, [clip], folder)
        driver.get(preview.url)
        wait_for(driver, "return window.kelo && window.kelo.picturesShown > 0 && window.kelo.idle()",
                 "the 720p picture")
        assert driver.find_element("id", "frame-section").is_displayed(), "no frame slider for a clip"
        first_frame = shown_pixels(driver)
        change(driver, """const s = document.getElementById('frame-range');
                          s.value = 2; s.dispatchEvent(new Event('input'));""")
        assert shown_pixels(driver) != first_frame, "the frame slider did not change the picture"
        at720 = latency(driver)
        for size, (total, filter_ms, encode_ms) in (("1920x1080", at1080), ("1280x720", at720)):
            print(f"{size}: a typed change to its full picture on screen {total:.0f} ms (median of 12; "
                  f"FilterProc {filter_ms:.0f} ms, PNG {encode_ms:.0f} ms)")
        print(f"1920x1080 drag: slider move to the {reduced} picture {drag_ms:.0f} ms "
              f"(median of {len(record['dragLatencies'])} moves), last move to the full picture {full_ms:.0f} ms "
              f"(median of {len(record['fullLatencies'])}); {drag_ms / at1080[0]:.2f} of the full-size latency")
        median = lambda key: statistics.median(times[key]) if key in times else float("nan")
        print(f"FilterProc: {reduced} {median((reduced, False)):.1f} ms, "
              f"{median((reduced, True)):.1f} ms on a size change; 1920x1080 {at1080[1]:.1f} ms, "
              f"{median(('1920x1080', True)):.1f} ms on a size change")
        count, draw, encode, total = (statistics.median(t[i] for t in scope_times) for i in range(4))
        print(f"scopes of 1920x1080: counted {count:.1f} ms, drawn {draw:.1f} ms, PNG {encode:.1f} ms "
              f"({(count + draw + encode) / at1080[1]:.2f} of FilterProc's {at1080[1]:.1f} ms); "
              f"{total:.0f} ms to the page (median of {len(scope_times)})")
        print(f"the scopes, probe and drag checks took {tools_s:.1f} s; load {os.getloadavg()[0]:.1f}")
    finally:
        if driver:
            driver.quit()
        if preview:
            preview.stop()
        shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    main()
