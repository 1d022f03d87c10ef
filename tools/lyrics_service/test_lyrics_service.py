"""Unit tests of the reference lyrics service: what the Windows tests never reach (the
catalogue's matching, the not-found answer, request-target forms, the control interface's
refusal of proxied requests)."""

import os
import socket
import sys
import threading
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
        for bad in (b"colour=red", b"action=explode", b"pieces=0", b"delay=soon"):
            with self.assertRaises(ls.BadRequest, msg=bad):
                ls.Behaviour.from_form(bad)


class ServerTest(unittest.TestCase):
    def setUp(self):
        self.server = ls.LyricsServer(0, ls.Service(catalogue()))
        self.thread = threading.Thread(target=self.server.serve_forever, kwargs={"poll_interval": 0.05})
        self.thread.start()

    def tearDown(self):
        self.server.service.stopping.set()
        self.server.shutdown()
        self.server.server_close()
        self.thread.join()

    def exchange(self, raw):
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=5) as s:
            s.sendall(raw)
            chunks = []
            while chunk := s.recv(65536):
                chunks.append(chunk)
        head, _, body = b"".join(chunks).partition(b"\r\n\r\n")
        return head.split(b"\r\n")[0], body

    def test_proxied_request_never_reaches_the_control_interface(self):
        proxied = b"GET http://127.0.0.1/_control/log HTTP/1.0\r\n\r\n"
        status, _ = self.exchange(proxied)
        self.assertEqual(status, b"HTTP/1.0 404 Not Found")
        status, log = self.exchange(b"GET /_control/log HTTP/1.0\r\n\r\n")
        self.assertEqual(status, b"HTTP/1.0 200 OK")
        self.assertEqual(log, b"%d\n%s\n" % (len(proxied), proxied))

    def test_behaviour_applies_to_as_many_requests_as_it_counts(self):
        behaviour = b"status=503&body=x&count=2"
        self.exchange(b"POST /_control/next HTTP/1.0\r\nContent-Length: %d\r\n\r\n%s" % (len(behaviour), behaviour))
        checkv = b"GET http://h/tools/plugin.php?do=checkv HTTP/1.0\r\n\r\n"
        answers = [self.exchange(checkv) for _ in range(3)]
        self.assertEqual(answers, [(b"HTTP/1.0 503 Service Unavailable", b"x")] * 2 + [(b"HTTP/1.0 200 OK", b"2.1")])


if __name__ == "__main__":
    unittest.main()
