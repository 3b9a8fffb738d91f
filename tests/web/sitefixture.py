"""A site for the web tests: a private store and runtime folder, a tone file, loopback
receivers, and `sonvex-cli serve --http` on a free loopback port."""

import json
import math
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time
import urllib.error
import urllib.request
import wave


def free_port(kind=socket.SOCK_STREAM):
    s = socket.socket(socket.AF_INET, kind)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def write_tone(path, seconds=2.0, hz=1020, rate=8000):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * hz * n / rate)))
                               for n in range(int(rate * seconds))))


def mulaw_to_linear(byte):
    byte = ~byte & 0xFF
    sign, exponent, mantissa = byte & 0x80, (byte >> 4) & 7, byte & 0x0F
    value = ((mantissa << 3) + 0x84) << exponent
    value -= 0x84
    return -value if sign else value


def espeak_seconds(text, folder):
    """How long espeak-ng's own program says `text` in the default voice."""
    reference = os.path.join(folder, "reference.wav")
    subprocess.run(["espeak-ng", "-v", "en", "-w", reference, text], check=True)
    with wave.open(reference) as w:
        return w.getnframes() / w.getframerate()


class Receiver:
    """Collects the RTP packets that reach a loopback port, with their arrival times."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.packets = []
        self._stop = False
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop:
            try:
                data = self.sock.recv(2048)
            except socket.timeout:
                continue
            self.packets.append((time.monotonic(), data))

    def wait_for(self, count, timeout):
        end = time.monotonic() + timeout
        while len(self.packets) < count and time.monotonic() < end:
            time.sleep(0.05)
        return len(self.packets) >= count

    def wait_quiet(self, quiet, timeout):
        """Waits until packets came and then none for `quiet` seconds."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.packets and time.monotonic() - self.packets[-1][0] > quiet:
                return True
            time.sleep(0.05)
        return False

    def payload_rms(self):
        samples = [mulaw_to_linear(b) for _, p in self.packets for b in p[12:]]
        return math.sqrt(sum(s * s for s in samples) / max(len(samples), 1))

    def close(self):
        self._stop = True
        self._thread.join()
        self.sock.close()


class Site:
    def __init__(self, cli):
        self.cli = cli
        self.work = tempfile.mkdtemp(prefix="sonvex-web-")
        self.audio = os.path.join(self.work, "audio")
        os.makedirs(self.audio)
        run = os.path.join(self.work, "run")
        os.makedirs(run, mode=0o700)
        self.env = dict(os.environ, HOME=self.work, XDG_CONFIG_HOME=os.path.join(self.work, "config"),
                        XDG_STATE_HOME=os.path.join(self.work, "state"), XDG_RUNTIME_DIR=run)
        self.env.pop("RUNTIME_DIRECTORY", None)
        write_tone(os.path.join(self.audio, "tone.wav"))
        self.server = None
        self.port = None
        self.log = os.path.join(self.work, "serve.log")

    def run(self, *args, check=True):
        out = subprocess.run([self.cli, *args], env=self.env, capture_output=True, text=True)
        if check and out.returncode != 0:
            raise AssertionError(f"{args}: {out.stderr}")
        return out

    def serve(self, host="127.0.0.1", extra=()):
        self.port = free_port()
        self.host = host
        self.server = subprocess.Popen(
            [self.cli, "serve", "--http", f"{host}:{self.port}", "--audio-dir", self.audio, *extra],
            env=self.env, stdout=open(self.log, "w"), stderr=subprocess.STDOUT)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return
            except OSError:
                if self.server.poll() is not None:
                    raise AssertionError("serve ended: " + open(self.log).read())
                time.sleep(0.05)
        raise AssertionError("serve never listened")

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def http(self, method, path, body=None, headers=None, raw=None):
        """(status, parsed JSON or None, headers) of one request."""
        data = raw if raw is not None else (None if body is None else json.dumps(body).encode())
        hdrs = dict(headers or {})
        if data is not None or method in ("POST", "PUT", "PATCH"):
            hdrs.setdefault("Content-Type", "application/json")
            data = data if data is not None else b"{}"
        req = urllib.request.Request(self.url(path), data=data, method=method, headers=hdrs)
        try:
            with urllib.request.urlopen(req, timeout=10) as res:
                text = res.read()
                status, got = res.status, res.headers
        except urllib.error.HTTPError as e:
            text, status, got = e.read(), e.code, e.headers
        try:
            return status, json.loads(text), got
        except ValueError:
            return status, None, got

    def close(self):
        """Stops the server, which must end cleanly, and removes the site."""
        ended = 0
        if self.server is not None and self.server.poll() is None:
            self.server.terminate()
            try:
                ended = self.server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.server.kill()
                ended = "a hang"
        log = open(self.log).read() if os.path.exists(self.log) else ""
        shutil.rmtree(self.work, ignore_errors=True)
        if ended != 0:
            raise AssertionError(f"serve ended with {ended}: {log[-2000:]}")
