"""The HTTP API over a real socket, as automation meets it: every endpoint, the bad requests
it must refuse without stopping, a played playlist and a spoken text at loopback receivers,
and the token a server open to the network asks for.
    api_test.py SONVEX_CLI             (loopback; then itself again in a private network)
    api_test.py SONVEX_CLI --token     (inside a network namespace with loopback only)"""

import os
import socket
import ssl
import stat
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.request

from sitefixture import Receiver, Site, espeak_seconds, free_port


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def store_endpoints(site, rx):
    status, body, _ = site.http("POST", "/api/playlists", {"name": "Bell"})
    check(status == 201 and body["ok"], f"create: {status} {body}")
    status, body, _ = site.http("POST", "/api/playlists", {"name": "Bell"})
    check(status == 409 and "exists already" in body["error"], f"create twice: {status} {body}")
    # A name that looks like an option stays a name.
    status, body, _ = site.http("POST", "/api/playlists", {"name": "--help"})
    check(status == 201, f"create --help: {status} {body}")
    check(site.http("DELETE", "/api/playlists/--help")[0] == 200, "delete --help")
    status, body, _ = site.http("POST", "/api/playlists/Bell/files", {"path": "tone.wav"})
    check(status == 201, f"add-file: {status} {body}")
    os.symlink("/etc/hostname", os.path.join(site.audio, "escape.wav"))
    for path in ("../../../../etc/passwd", "/etc/passwd", "escape.wav", "missing.wav"):
        status, body, _ = site.http("POST", "/api/playlists/Bell/files", {"path": path})
        check(status == 403 and "audio folders" in body["error"], f"add-file {path}: {status} {body}")
    status, body, _ = site.http("POST", "/api/playlists/Bell/destinations",
                                {"address": "127.0.0.1", "port": 70000})
    check(status == 400 and "port" in body["error"], f"port 70000: {status} {body}")
    status, body, _ = site.http("POST", "/api/playlists/Bell/destinations",
                                {"address": "127.0.0.1", "port": rx.port})
    check(status == 201, f"add-dest: {status} {body}")
    status, body, _ = site.http("PATCH", "/api/playlists/Bell", {"role": "announcement", "priority": 60})
    check(status == 200, f"set: {status} {body}")
    status, body, _ = site.http("PATCH", "/api/playlists/Bell", {"role": "loud"})
    check(status == 400 and "role" in body["error"], f"set role loud: {status} {body}")
    status, shown, _ = site.http("GET", "/api/playlists/Bell")
    check(status == 200 and shown["role"] == "announcement" and shown["priority"] == 60
          and shown["files"][0]["name"] == "tone.wav" and shown["destinations"][0]["port"] == rx.port,
          f"show: {shown}")
    status, listed, _ = site.http("GET", "/api/playlists")
    check([p["name"] for p in listed] == ["Bell"], f"list: {listed}")
    check(site.http("GET", "/api/playlists/Nobody")[0] == 404, "show of no playlist")
    check(site.http("DELETE", "/api/playlists/Bell/files/9")[0] == 422, "remove-file 9")

    check(site.http("POST", "/api/zones", {"name": "Hall"})[0] == 201, "zone create")
    check(site.http("POST", "/api/zones/Hall/destinations", {"address": "127.0.0.1", "port": 9})[0] == 201,
          "zone add-dest")
    status, zones, _ = site.http("GET", "/api/zones")
    check([z["name"] for z in zones] == ["Hall", "All"] and zones[0]["destinations"][0]["port"] == 9,
          f"zone list: {zones}")
    check(site.http("DELETE", "/api/zones/Hall/destinations/1")[0] == 200, "zone remove-dest")
    check(site.http("POST", "/api/zones", {"name": "Yard"})[0] == 201, "zone create Yard")
    check(site.http("DELETE", "/api/zones/Yard")[0] == 200, "zone delete")
    check(site.http("DELETE", "/api/zones/Yard")[0] == 404, "zone delete twice")
    # A second destination, a phone group that follows the holder's priority, removed again:
    # the playlist keeps the first.
    phones = {"address": "127.0.0.1", "port": 9, "mode": "polycom", "channel": 27}
    status, body, _ = site.http("POST", "/api/playlists/Bell/destinations",
                                dict(phones, follow_priority="yes"))
    check(status == 400 and "true or false" in body["error"], f"follow_priority as text: {status} {body}")
    check(site.http("POST", "/api/playlists/Bell/destinations", dict(phones, follow_priority=True))[0] == 201,
          "add-dest 2")
    status, shown, _ = site.http("GET", "/api/playlists/Bell")
    check(shown["destinations"][1].get("follow_priority") is True, f"follow_priority shown: {shown}")
    check(site.http("DELETE", "/api/playlists/Bell/destinations/2")[0] == 200, "remove-dest")
    status, shown, _ = site.http("GET", "/api/playlists/Bell")
    check([d["port"] for d in shown["destinations"]] == [rx.port], f"after remove-dest: {shown}")

    status, body, _ = site.http("POST", "/api/schedules",
                                {"playlist": "Bell", "when": "*-*-* 12:30", "say": "Lunch is served"})
    check(status == 201, f"schedule add: {status} {body}")
    status, body, _ = site.http("POST", "/api/schedules", {"playlist": "Bell", "when": "Mon..Fry 8:00"})
    check(status == 422 and body["error"].startswith("when:"), f"schedule bad when: {status} {body}")
    status, events, _ = site.http("GET", "/api/schedules?count=2")
    check(len(events) == 1 and events[0]["say"] == "Lunch is served" and len(events[0]["next"]) == 2,
          f"schedule list: {events}")
    check(site.http("DELETE", f"/api/schedules/{events[0]['id']}")[0] == 200, "schedule remove")
    check(site.http("DELETE", f"/api/schedules/{events[0]['id']}")[0] == 404, "schedule remove twice")


def read_events(site, lines, ready):
    with urllib.request.urlopen(site.url("/api/events"), timeout=30) as stream:
        ready.set()
        for raw in stream:
            line = raw.decode().strip()
            if line.startswith("data: "):
                lines.append(line[6:])


def play_and_announce(site, rx, hall):
    lines, ready = [], threading.Event()
    threading.Thread(target=read_events, args=(site, lines, ready), daemon=True).start()
    check(ready.wait(5), "no event stream")
    status, body, _ = site.http("POST", "/api/playlists/Bell/play", {})
    check(status == 200 and body["destinations"] == 1, f"play: {status} {body}")
    check(site.http("POST", "/api/playlists/Bell/play", {})[0] == 409, "play twice")
    check(site.http("POST", "/api/playlists/Bell/stop", {})[0] == 200, "stop")
    check(rx.wait_quiet(0.5, 5), "stop left the playlist playing")
    status, body, _ = site.http("POST", "/api/playlists/Bell/stop", {})
    check(status == 422 and "not playing" in body["error"], f"stop twice: {status} {body}")
    rx.packets.clear()
    check(site.http("POST", "/api/playlists/Bell/play", {})[0] == 200, "play again")
    check(rx.wait_for(20, 5), "no packets from play")
    status, now, _ = site.http("GET", "/api/status")
    check(now["destinations"][0]["source"] == "Bell" and now["destinations"][0]["priority"] == 60
          and now["destinations"][0]["address"] == "127.0.0.1" and now["destinations"][0]["port"] == rx.port,
          f"status: {now}")
    check(rx.wait_quiet(0.5, 10), "the announcement did not end")
    check(95 <= len(rx.packets) <= 105, f"a 2 s file gave {len(rx.packets)} packets")

    text = "The store closes in ten minutes. Please bring your purchases to the tills."
    status, body, _ = site.http("POST", "/api/announce", {"text": text, "zones": ["Hall"]})
    check(status == 200 and body["destinations"] == 1, f"announce: {status} {body}")
    check(hall.wait_quiet(0.5, 30), "no speech arrived")
    heard = len(hall.packets) * 0.020
    spoken = espeak_seconds(text, site.work)
    check(abs(heard - spoken) <= 0.10 * spoken, f"speech of {heard:.2f} s against {spoken:.2f} s")
    check(hall.payload_rms() > 300, f"speech at RMS {hall.payload_rms():.0f}: silence")
    print(f"api_test: speech {heard:.2f} s at the receiver, {spoken:.2f} s from espeak-ng")

    for bad, where in (({"text": "   ", "zones": ["Hall"]}, "no text"),
                       ({"text": "hello"}, "a playlist"),
                       ({"text": "hello", "zones": ["Hall"], "voice": "../../etc"}, "voice"),
                       ({"text": "hello", "zones": ["Hall"], "voice": "xx-nowhere"}, "no voice")):
        status, body, _ = site.http("POST", "/api/announce", bad)
        check(status == 422 and where in body["error"], f"announce {bad}: {status} {body}")
    # "Say this at ...": a schedule's spoken event, a few seconds from now, reaches the
    # playlist's destinations and the event stream.
    rx.packets.clear()
    at = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(time.time() + 4))
    status, body, _ = site.http("POST", "/api/schedules",
                                {"playlist": "Bell", "when": at, "say": "Fire drill at noon"})
    check(status == 201, f"schedule say: {status} {body}")
    check(rx.wait_quiet(0.5, 15), "the scheduled speech never came")
    check(rx.payload_rms() > 300 and len(rx.packets) > 40, "the scheduled speech was silent")
    time.sleep(0.5)
    check(any('"scheduled"' in l for l in lines), f"no scheduled event: {lines}")
    kinds = [l for l in lines if '"started"' in l or '"finished"' in l]
    check(any('"Bell"' in l and '"started"' in l for l in kinds)
          and any('"speech"' in l and '"finished"' in l for l in kinds), f"events: {lines}")


def bad_requests(site):
    cases = [
        ("PUT", "/api/status", None, {}, 405),
        ("DELETE", "/api/announce", None, {}, 405),
        ("POST", "/api/playlists", None, {}, 400),  # no name
        ("POST", "/api/playlists", b"{broken", {}, 400),
        ("POST", "/api/playlists", b"[1, 2]", {}, 400),
        ("POST", "/api/playlists", b'{"name": 3.5}', {}, 400),
        ("POST", "/api/playlists", b"x" * (100 * 1024), {}, 413),
        ("POST", "/api/playlists", b"name=x", {"Content-Type": "application/x-www-form-urlencoded"}, 415),
        ("GET", "/api/nothing", None, {}, 404),
        ("GET", "/api/status", None, {"Host": "rebound.example"}, 421),
    ]
    for method, path, raw, headers, expected in cases:
        status, body, _ = site.http(method, path, raw=raw, headers=headers)
        check(status == expected and body is not None and body["ok"] is False,
              f"{method} {path} {raw!r:.40} {headers}: {status} {body}")
    # A connection that sends garbage, and one that sends nothing, cost the server nothing.
    for garbage in (b"\x00\xff garbage\r\n\r\n", b""):
        s = socket.create_connection(("127.0.0.1", site.port))
        s.sendall(garbage)
        s.close()
    status, body, _ = site.http("GET", "/")
    check(status == 200, "the console page")
    check(site.http("GET", "/api/status")[0] == 200, "the server stopped answering")
    statuses = [site.http("GET", "/api/zones")[0] for _ in range(120)]
    check(429 in statuses, "no request was refused for the rate")


def loopback():
    site = Site(sys.argv[1])
    rx, hall = Receiver(), Receiver()
    try:
        site.serve()
        store_endpoints(site, rx)
        site.run("zone", "add-dest", "Hall", "127.0.0.1", str(hall.port))
        play_and_announce(site, rx, hall)
        bad_requests(site)
        check(site.server.poll() is None, "the server ended")
    finally:
        rx.close()
        hall.close()
        site.close()


def token():
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    site = Site(sys.argv[1])
    try:
        port = free_port()
        out = subprocess.run([site.cli, "serve", "--http", f"0.0.0.0:{port}"], env=site.env,
                             capture_output=True, text=True, timeout=10)
        check(out.returncode == 1 and "needs a token" in out.stderr, f"open without a token: {out.stderr}")
        made = site.run("http-token")
        secret = made.stdout.strip()
        kept = os.path.join(site.work, "state", "sonvex", "http-token")
        check(secret not in open(kept).read() and stat.S_IMODE(os.stat(kept).st_mode) == 0o600,
              "the token is kept in clear or readable by others")
        site.serve(host="0.0.0.0")
        check(site.http("GET", "/api/status")[0] == 401, "no token was asked for")
        check(site.http("GET", "/api/status", headers={"Authorization": "Bearer nope"})[0] == 401, "a wrong token")
        check(site.http("GET", "/api/status", headers={"Authorization": f"Bearer {secret}"})[0] == 200,
              "the token was refused")
        check(site.http("POST", "/api/login", {"token": "nope"})[0] == 401, "login with a wrong token")
        status, _, headers = site.http("POST", "/api/login", {"token": secret})
        cookie = headers.get("Set-Cookie", "")
        check(status == 200 and "HttpOnly" in cookie, f"login: {status} {cookie}")
        check(site.http("GET", "/api/status", headers={"Cookie": cookie.split(";")[0]})[0] == 200,
              "the login's cookie was refused")
        check(site.http("GET", "/")[0] == 200, "the console page asks for the token")
        site.close()

        # HTTPS with the administrator's certificate; the token still asked for.
        site = Site(sys.argv[1])
        secret = site.run("http-token").stdout.strip()
        cert, key = os.path.join(site.work, "cert.pem"), os.path.join(site.work, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        site.serve(host="0.0.0.0", extra=("--tls-cert", cert, "--tls-key", key))
        context = ssl.create_default_context(cafile=cert)
        context.check_hostname = False
        request = urllib.request.Request(f"https://127.0.0.1:{site.port}/api/status",
                                         headers={"Authorization": f"Bearer {secret}"})
        with urllib.request.urlopen(request, context=context, timeout=10) as res:
            check(res.status == 200, "no status over HTTPS")
        try:
            urllib.request.urlopen(f"https://127.0.0.1:{site.port}/api/status", context=context, timeout=10)
            check(False, "HTTPS without the token was answered")
        except urllib.error.HTTPError as e:
            check(e.code == 401, f"HTTPS without the token: {e.code}")
    finally:
        site.close()


if __name__ == "__main__":
    if "--token" in sys.argv:
        token()
    else:
        loopback()
        here = os.path.abspath(__file__)
        subprocess.run(["unshare", "-rn", sys.executable, here, sys.argv[1], "--token"], check=True)
    print("api_test: passed")
