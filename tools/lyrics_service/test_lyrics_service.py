"""Unit tests of the reference lyrics service: what the Windows tests never reach (the
catalogue's matching, the not-found answer, request-target forms, the control interface's
refusal of proxied requests), the hostile answers exactly as they go over the wire
(drip, redirect, reset), and the printer of what the service received."""

import os
import socket
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import lyrics_service as ls  # noqa: E402


def catalogue():
    return ls.Catalogue.load(ls.DEFAULT_CATALOGUE)


class LookupTest(unittest.TestCase):
    def setUp(self):
        self.service = ls.Service(catalogue(), host_name="lyrics.test")

    def test_match_ignores_case_and_surrounding_space(self):
        reply = self.service.lookup_reply({"artist": " the LANTERNS", "title": "rain song "})
        self.assertEqual(reply, b"<title>Rain Song</title>\n<url>http://lyrics.test/lyrics/rain-song</url>")

    def test_unknown_song_gets_empty_title_and_search_page(self):
        reply = self.service.lookup_reply({"artist": "Nobody & Co", "title": "Caf\u00e9"})
        self.assertEqual(reply, b"<title></title>\n<url>http://lyrics.test/search?artist=Nobody+%26+Co&title=Caf%E9</url>")

    def test_missing_fields_are_not_found(self):
        self.assertTrue(self.service.lookup_reply({}).startswith(b"<title></title>"))

    def test_ansi_title_is_answered_in_the_ansi_code_page(self):
        fields = ls.parse_form(b"artist=Hollis+Grey&title=Caf%E9+Lum%E8re\0")
        self.assertIn(b"<title>Caf\xe9 Lum\xe8re</title>", self.service.lookup_reply(fields))

    def test_every_named_page_is_served(self):
        for song in self.service.catalogue.songs():
            status, _, body = self.service.answer("GET", f"/lyrics/{song['slug']}", "", b"")
            self.assertEqual(status, 200, song["slug"])
            self.assertIn(song["lyrics"][0].split(",")[0].encode(), body)


class RequestFormsTest(unittest.TestCase):
    def test_form_body_ends_at_its_zero_byte(self):
        self.assertEqual(ls.parse_form(b"album=&artist=A+B%21\0title=ignored"), {"album": "", "artist": "A B!"})

    def test_request_targets(self):
        cases = {
            "/tools/plugin.php?do=checkv": (True, "/tools/plugin.php", "do=checkv"),
            "http://lyrics.tunelore.example:80/tools/plugin.php": (False, "/tools/plugin.php", ""),
            "HTTP://h/tools/plugin.php?do=checkv": (False, "/tools/plugin.php", "do=checkv"),
            "http://h": (False, "/", ""),
            "lyrics.tunelore.example:443": None,
            "*": None,
        }
        for target, expected in cases.items():
            self.assertEqual(ls.split_target(target), expected, target)

    def test_behaviour_keeps_zero_bytes_and_rejects_unknown_keys(self):
        behaviour = ls.Behaviour.from_form(b"body=a%00b&status=500&count=2")
        self.assertEqual((behaviour.body, behaviour.status, behaviour.count), (b"a\0b", 500, 2))
        for bad in (b"colour=red", b"action=explode", b"pieces=0", b"delay=soon", b"drip=-1",
                    b"drip_from=tail", b"drip=1&pieces=2", b"redirect=0", b"redirect=2&count=3",
                    b"end=slam", b"length=-2", b"end_after=-1"):
            with self.assertRaises(ls.BadRequest, msg=bad):
                ls.Behaviour.from_form(bad)

    def test_redirect_chain_counts_its_hops_and_a_loop_never_runs_out(self):
        self.assertEqual(ls.Behaviour.from_form(b"redirect=3").count, 3)
        self.assertEqual(ls.Behaviour.from_form(b"redirect=loop").count, ls.FOREVER)


class RunningServer(unittest.TestCase):
    def setUp(self):
        self.server = ls.LyricsServer(0, ls.Service(catalogue()))
        self.thread = threading.Thread(target=self.server.serve_forever, kwargs={"poll_interval": 0.05})
        self.thread.start()

    def tearDown(self):
        self.server.service.stopping.set()
        self.server.shutdown()
        self.server.server_close()
        self.thread.join()

    def raw_exchange(self, raw):
        """(every received piece with the moment it came, how the connection ended)."""
        pieces = []
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=5) as s:
            s.sendall(raw)
            try:
                while chunk := s.recv(65536):
                    pieces.append((time.monotonic(), chunk))
            except ConnectionResetError:
                return pieces, "reset"
        return pieces, "close"

    def exchange(self, raw):
        pieces, _ = self.raw_exchange(raw)
        head, _, body = b"".join(chunk for _, chunk in pieces).partition(b"\r\n\r\n")
        return head.split(b"\r\n")[0], body


class ServerTest(RunningServer):
    def schedule(self, behaviour):
        self.exchange(b"POST /_control/next HTTP/1.0\r\nContent-Length: %d\r\n\r\n%s" % (len(behaviour), behaviour))

    checkv = b"GET http://h/tools/plugin.php?do=checkv HTTP/1.0\r\n\r\n"

    def test_proxied_request_never_reaches_the_control_interface(self):
        proxied = b"GET http://127.0.0.1/_control/log HTTP/1.0\r\n\r\n"
        status, _ = self.exchange(proxied)
        self.assertEqual(status, b"HTTP/1.0 404 Not Found")
        status, log = self.exchange(b"GET /_control/log HTTP/1.0\r\n\r\n")
        self.assertEqual(status, b"HTTP/1.0 200 OK")
        self.assertEqual(log, b"%d\n%s\n" % (len(proxied), proxied))

    def test_behaviour_applies_to_as_many_requests_as_it_counts(self):
        self.schedule(b"status=503&body=x&count=2")
        answers = [self.exchange(self.checkv) for _ in range(3)]
        self.assertEqual(answers, [(b"HTTP/1.0 503 Service Unavailable", b"x")] * 2 + [(b"HTTP/1.0 200 OK", b"2.1")])

    def test_drip_from_the_head_sends_every_byte_apart(self):
        self.schedule(b"drip=0.02&body=abc")
        pieces, _ = self.raw_exchange(self.checkv)
        answer = b"".join(chunk for _, chunk in pieces)
        self.assertTrue(answer.startswith(b"HTTP/1.0 200 OK\r\n") and answer.endswith(b"\r\n\r\nabc"), answer)
        self.assertEqual(len(pieces), len(answer))
        self.assertGreaterEqual(pieces[-1][0] - pieces[0][0], 0.02 * (len(answer) - 1) * 0.9)

    def test_drip_from_the_body_sends_the_head_at_once(self):
        self.schedule(b"drip=0.05&drip_from=body&body=abc")
        pieces, _ = self.raw_exchange(self.checkv)
        self.assertTrue(pieces[0][1].endswith(b"\r\n\r\n"), pieces[0][1])
        self.assertEqual([chunk for _, chunk in pieces[1:]], [b"a", b"b", b"c"])

    def test_redirect_chain_sends_each_hop_on_then_the_next_behaviour_answers(self):
        self.schedule(b"redirect=2")
        self.schedule(b"body=end")
        answers = []
        for _ in range(3):
            pieces, _ = self.raw_exchange(self.checkv)
            head, _, body = b"".join(chunk for _, chunk in pieces).partition(b"\r\n\r\n")
            lines = head.split(b"\r\n")
            location = [line for line in lines if line.startswith(b"Location: ")]
            answers.append((lines[0], location, body))
        self.assertEqual(answers, [(b"HTTP/1.0 302 Found", [b"Location: /hop/1"], b"moved"),
                                   (b"HTTP/1.0 302 Found", [b"Location: /hop/2"], b"moved"),
                                   (b"HTTP/1.0 200 OK", [], b"end")])

    def test_redirect_loop_sends_every_request_back_to_its_own_address(self):
        self.schedule(b"redirect=loop&status=307")
        for _ in range(5):
            pieces, _ = self.raw_exchange(self.checkv)
            head = b"".join(chunk for _, chunk in pieces).partition(b"\r\n\r\n")[0]
            self.assertIn(b"HTTP/1.0 307 Temporary Redirect\r\n", head + b"\r\n")
            self.assertIn(b"\r\nLocation: /tools/plugin.php?do=checkv\r\n", head + b"\r\n")

    def test_reset_end_comes_after_the_whole_answer(self):
        self.schedule(b"body=%3Ctitle%3Ex%3C%2Ftitle%3E&length=100&end=reset&end_after=0.2")
        pieces, ending = self.raw_exchange(self.checkv)
        answer = b"".join(chunk for _, chunk in pieces)
        self.assertEqual(ending, "reset")
        self.assertGreaterEqual(time.monotonic() - pieces[-1][0], 0.15)
        self.assertIn(b"\r\nContent-Length: 100\r\n", answer)
        self.assertTrue(answer.endswith(b"\r\n\r\n<title>x</title>"), answer)

    def test_reset_of_the_service_cuts_a_dripping_answer_short(self):
        self.schedule(b"drip=0.2")
        result = {}
        client = threading.Thread(target=lambda: result.update(answer=self.raw_exchange(self.checkv)))
        started = time.monotonic()
        client.start()
        time.sleep(0.5)
        self.exchange(b"POST /_control/reset HTTP/1.0\r\nContent-Length: 0\r\n\r\n")
        client.join(5)
        self.assertLess(time.monotonic() - started, 2.0)
        pieces, _ = result["answer"]
        self.assertLess(len(pieces), 10)


class PrintLogTest(RunningServer):
    def print_log(self, env_extra):
        """What the print-log command prints, run as the demo runs it."""
        env = dict(os.environ, PYTHONIOENCODING="utf-8", **env_extra)
        done = subprocess.run([sys.executable, ls.__file__, "print-log", str(self.server.port)],
                              capture_output=True, env=env, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout.decode("utf-8")

    def test_prints_each_received_request_in_order(self):
        form = b"artist=The+Lanterns&title=Rain+Song&album=\0"
        self.exchange(b"POST http://lyrics.tunelore.example/tools/plugin.php HTTP/1.0\r\n"
                      b"Content-Type: application/x-www-form-urlencoded\r\n"
                      b"Content-Length: %d\r\n\r\n%s" % (len(form), form))
        self.exchange(b"GET http://lyrics.tunelore.example/tools/plugin.php?do=checkv HTTP/1.0\r\n\r\n")
        # A body the plug-in did not end, and a target byte outside ASCII.
        self.exchange(b"POST /tools/plugin.php HTTP/1.1\r\nContent-Length: 8\r\n\r\nartist=A")
        self.exchange(b"GET /search?title=Caf\xe9 HTTP/1.0\r\nHost: h\r\n\r\n")
        # The service's own control requests are not among what it received.
        self.exchange(b"POST /_control/version HTTP/1.0\r\nContent-Length: 3\r\n\r\n9.9")
        # The command must ignore a proxy in its environment; this one leads nowhere.
        printed = self.print_log({"http_proxy": "http://127.0.0.1:9", "no_proxy": ""})
        self.assertEqual(printed.splitlines(), [
            "POST http://lyrics.tunelore.example/tools/plugin.php  artist=The+Lanterns&title=Rain+Song&album=  (+ zero byte)",
            "GET http://lyrics.tunelore.example/tools/plugin.php?do=checkv",
            "POST /tools/plugin.php  artist=A",
            "GET /search?title=Caf\u00e9",
        ])

    def test_an_empty_log_prints_nothing(self):
        self.assertEqual(self.print_log({}), "")

    def test_log_frames_are_read_by_their_length(self):
        # Bodies holding line breaks, digits and a blank line look like frames of their own.
        recorded = [b"POST / HTTP/1.0\r\nContent-Length: 9\r\n\r\n12\n\n3\r\n\r\n",
                    b"", b"GET /\n HTTP/1.0\r\n\r\n", b"7\n"]
        for raw in recorded:
            self.server.service.record(raw)
        _, log = self.exchange(b"GET /_control/log HTTP/1.0\r\n\r\n")
        self.assertEqual(ls.parse_log(log), recorded)


if __name__ == "__main__":
    unittest.main()
