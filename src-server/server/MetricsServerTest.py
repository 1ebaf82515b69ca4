#!/usr/bin/python3
"""The metrics page of the built server: a short known load, then /metrics scraped with curl and
parsed by prometheus_client; the counters must account for every request sent.
Usage: MetricsServerTest.py <quillmarkserver> <schema folder>"""

import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

from prometheus_client.parser import text_string_to_metric_families

SERVER, SCHEMAS = sys.argv[1], sys.argv[2]
NS = "http://quillmark.invalid/1/server/RequestSchema"
CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<quillmark xmlns="http://quillmark.invalid/1/config/ConfigSchema">
  <port>{port}</port><maxInput>1048576</maxInput><maxClients>4</maxClients>
  <clientQueueSize>20</clientQueueSize><classifierRootPath>./classifiers/</classifierRootPath>
  <logLevel>log</logLevel><logMemory>false</logMemory><saveRequests>false</saveRequests>
  <metricsPort>0</metricsPort>
</quillmark>
"""


def request(body):
    return f'<?xml version="1.0" encoding="UTF-8"?>\n<quillmark xmlns="{NS}" version="1.00">{body}</quillmark>'


def calls(kind, *elements):
    return f'<{kind} classifierName="spam">' + "".join(elements) + f"</{kind}>" if kind == "writeCalls" \
        else f"<{kind}>" + "".join(elements) + f"</{kind}>"


def ask(port, text):
    with socket.create_connection(("127.0.0.1", port), timeout=30) as client:
        client.sendall(text.encode())
        client.shutdown(socket.SHUT_WR)
        return b"".join(iter(lambda: client.recv(65536), b"")).decode()


def curl(url, *options):
    done = subprocess.run(["curl", "-s", "-o", "-", "-w", "\n%{http_code} %{content_type}", *options, url],
                          capture_output=True, text=True, timeout=30, check=True)
    body, _, status = done.stdout.rpartition("\n")
    return status, body


class MetricsServerTest(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp())
        for schema in ("config/ConfigSchema.xsd", "server/RequestSchema.xsd", "server/ResponseSchema.xsd"):
            (self.folder / "xml/schemas" / schema).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(Path(SCHEMAS) / schema, self.folder / "xml/schemas" / schema)
        shutil.copy(SERVER, self.folder / "quillmarkserver")
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.port = probe.getsockname()[1]
        (self.folder / "config.xml").write_text(CONFIG.format(port=self.port))
        self.server = subprocess.Popen([str(self.folder / "quillmarkserver"), "-config", "config.xml"],
                                       cwd="/", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.metrics = int(self.waitForLog(r"Serving metrics on 127\.0\.0\.1 port (\d+)\.")[1])
        self.waitForLog(r"Waiting for connections")

    def tearDown(self):
        self.server.send_signal(signal.SIGTERM)
        self.assertEqual(0, self.server.wait(timeout=60))
        shutil.rmtree(self.folder)

    def waitForLog(self, pattern):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            log = self.folder / "logs/log.txt"
            found = re.search(pattern, log.read_text()) if log.exists() else None
            if found:
                return found
            self.assertIsNone(self.server.poll(), "the server ended")
            time.sleep(0.05)
        self.fail("no log line " + pattern)

    def test_counts_what_was_sent(self):
        texts = "<texts><text id='a'>cheap pills buy now</text><text id='b'>meeting agenda</text></texts>"
        load = [request(calls("writeCalls", "<create id='c'/>", "<addClass id='x' className='bad'/>",
                              "<addClass id='y' className='good'/>"))]
        load += [request(texts + calls("writeCalls", f"<train id='t' className='{name}' textId='{text}'/>"))
                 for name, text in (("bad", "a"), ("good", "b"), ("bad", "a"), ("good", "b"), ("bad", "a"))]
        load += [request(texts + calls("readCalls", "<classify id='r' classifierName='spam' textId='a'/>"))] * 4
        load += ["<not a request"]
        url = f"http://127.0.0.1:{self.metrics}"

        def scrape():
            status, page = curl(url + "/metrics")
            self.assertEqual("200 text/plain; version=0.0.4", status)
            return {(s.name, tuple(sorted(s.labels.items()))): s.value
                    for family in text_string_to_metric_families(page) for s in family.samples}

        # Scraped while the load runs: every page parses and no counter goes back.
        answers = []
        loader = threading.Thread(target=lambda: answers.extend(
            re.search(r'statusCode="(\d+)"', ask(self.port, text))[1] for text in load))
        loader.start()
        before = {}
        while loader.is_alive():
            during = scrape()
            for key, counted in before.items():
                if key[0].endswith("_total"):
                    self.assertGreaterEqual(during[key], counted, key)
            before = during
        loader.join()
        self.assertEqual(["2000"] * 10 + ["4000"], answers)

        samples = scrape()
        def value(name, **labels):
            return samples[(name, tuple(sorted(labels.items())))]
        for call, count in (("create", 1), ("addClass", 2), ("train", 5), ("classify", 4), ("untrain", 0)):
            self.assertEqual(count, value("quillmark_calls_total", call=call), call)
        for code, count in (("2000", 10), ("4000", 1), ("4013", 0), ("5000", 0)):
            self.assertEqual(count, value("quillmark_requests_total", status=code), code)
        self.assertEqual(11, value("quillmark_request_duration_seconds_count"))
        self.assertEqual(11, value("quillmark_request_duration_seconds_bucket", le="+Inf"))
        self.assertGreater(value("quillmark_request_duration_seconds_sum"), 0)
        self.assertGreaterEqual(value("quillmark_received_bytes_total"), sum(len(t) for t in load))
        self.assertGreater(value("quillmark_sent_bytes_total"), 11 * 100)
        self.assertEqual(0, value("quillmark_waiting_requests"))
        self.assertEqual(1, value("quillmark_classifiers"))
        self.assertGreater(value("quillmark_classifiers_stored_bytes"), 0)
        self.assertGreaterEqual(value("quillmark_commits_total"), 6)
        self.assertGreater(value("quillmark_log_lines_total", level="log"), 0)

        self.assertEqual("404", curl(url + "/other")[0].split()[0])
        self.assertEqual("405", curl(url + "/metrics", "-X", "POST")[0].split()[0])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
