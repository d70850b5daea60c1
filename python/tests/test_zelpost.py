"""The Python package against the real test servers (scripts/test-servers.sh,
state folder $ZEL_SERVERS_DIR): two independent objects send and receive."""
import os
import pathlib
import re
import tempfile
import time
import unittest

import zelpost


def servers():
    values = {}
    state = pathlib.Path(os.environ.get("ZEL_SERVERS_DIR", "/tmp/zsrv")) / "servers.env"
    for line in state.read_text().splitlines():
        name, _, value = line.partition("=")
        values[name] = value
    return values


def clear(maildir):
    for sub in ("new", "cur"):
        for f in (maildir / sub).glob("*"):
            f.unlink()


def count(maildir):
    return sum(1 for sub in ("new", "cur") for _ in (maildir / sub).glob("*"))


class TwoObjects(unittest.TestCase):
    def setUp(self):
        env = servers()
        self.pop3 = f"{env['POP3_HOST']}:{env['POP3_PORT']}"
        self.smtp = f"{env['SMTP_HOST']}:{env['SMTP_PORT']}"
        self.bob = pathlib.Path(env["MAIL_DIR"]) / "bob"
        self.local_pop3 = env.get("LOCAL_POP3") == "1"
        clear(self.bob)
        self.dir = tempfile.TemporaryDirectory(prefix="zelpy")
        self.path = pathlib.Path(self.dir.name)
        self.alice = zelpost.Zelpost()
        self.bobs = zelpost.Zelpost()
        self.assertEqual(self.alice.initialize(self.pop3, self.smtp, "alice", "alicepw", "alice@zelpost.test", "有栖"), 1)
        self.assertEqual(self.bobs.initialize(self.pop3, self.smtp, "bob", "bobpw", "bob@zelpost.test"), 1)

    def tearDown(self):
        self.alice.close()
        self.bobs.close()
        clear(self.bob)
        self.dir.cleanup()
        self.assertTrue(zelpost.can_unload_now())

    def test_send_and_receive(self):
        send = self.path / "会議.qml"
        send.write_text("To: bob@zelpost.test\r\nSubject: 会議の件\r\n\r\n本日は十時からです。\r\n", encoding="cp932")
        self.assertEqual(self.alice.send_mail(str(send)), 1, self.alice.err_discription)  # POP before SMTP
        self.assertEqual(count(self.bob), 1)
        self.assertEqual(self.bobs.mail_biff(), 1)
        # The single-message receive asks the POP3 service of the local host
        # name; without one there, it decodes the delivered message itself.
        display = self.path / "受信.wml"
        if self.local_pop3:
            self.assertEqual(self.bobs.recv_mail_dummy(str(display)), 1, self.bobs.err_discription)
        else:
            delivered = next(f for sub in ("new", "cur") for f in (self.bob / sub).glob("*"))
            self.assertEqual(self.bobs.recv_mail_dummy(str(display), str(delivered)), 1, self.bobs.err_discription)
        text = display.read_bytes().decode("cp932")
        self.assertIn("Subject: 会議の件", text)
        self.assertIn("本日は十時からです。", text)
        self.assertIn("有栖 <alice@zelpost.test>", text)

    def test_settings_and_errors_stay_with_their_object(self):
        self.alice.pop_dele = 5
        self.alice.pop_execute_type = 7
        self.assertEqual((self.alice.pop_dele, self.bobs.pop_dele), (1, 0))
        self.assertEqual((self.alice.pop_execute_type, self.bobs.pop_execute_type), (2, 0))
        self.assertEqual(self.bobs.pop_before_smtp, 1)
        self.assertEqual(self.alice.initialize(self.pop3, "", "alice", "pw", "a@zelpost.test"), 0)
        self.assertEqual(self.alice.err_number, -1000)
        self.assertEqual(self.alice.err_discription, "SMTPサーバ名が指定されていない")
        self.assertEqual((self.bobs.err_number, self.bobs.err_discription), (0, ""))
        missing = str(self.path / "無い.qml")
        self.assertEqual(self.bobs.send_mail(missing), 0)
        self.assertEqual(self.bobs.err_number, -1100)
        self.assertEqual(self.bobs.err_discription, f"送信ファイルが開けない [{missing}]")
        self.assertRegex(self.alice.version(), r"^zelpost\.dll ver\.\d+\.\d+\.\d+$")
        scrambled = self.alice.pencode("パスワード-0123456789-0123456789-0123456789")
        self.assertTrue(re.fullmatch(r"\d+", scrambled))
        self.assertEqual(self.bobs.pdecode(scrambled), "パスワード-0123456789-0123456789-0123456789")
        with self.assertRaises(TypeError):
            self.alice.send_mail(3.5)
        with self.assertRaises(zelpost.ZelpostError):
            self.alice.pencode("\U0001F600")  # no Shift-JIS form

    def test_receive_all_silently(self):
        self.bobs.pop_silent = 1
        send = self.path / "send.qml"
        for i in range(2):
            send.write_text(f"To: bob@zelpost.test\r\nSubject: 一括 {i}\r\n\r\n本文\r\n", encoding="cp932")
            self.assertEqual(self.alice.send_mail(str(send)), 1)
        folder = self.path / "受信箱"
        folder.mkdir()
        result = self.bobs.recv_mail_all(str(self.path / "list.txt"), str(folder), "", "")
        self.assertEqual(result, 2, self.bobs.err_discription)
        self.assertEqual(len((self.path / "list.txt").read_bytes().decode("cp932").splitlines()), 2)


class NewInterface(unittest.TestCase):
    """The options of IZelpostCom2 as properties: SMTPS with AUTH, then POP3S."""

    def setUp(self):
        self.env = servers()
        self.bob = pathlib.Path(self.env["MAIL_DIR"]) / "bob"
        clear(self.bob)
        self.dir = tempfile.TemporaryDirectory(prefix="zelpy")
        self.path = pathlib.Path(self.dir.name)

    def tearDown(self):
        clear(self.bob)
        self.dir.cleanup()

    def secure(self, mail, user, password):
        host = self.env["POP3_HOST"]
        pop3s = f"{host}:{self.env['POP3S_PORT']}"
        smtps = f"{host}:{self.env['SMTPS_PORT']}"
        self.assertEqual(mail.initialize(pop3s, smtps, user, password, f"{user}@zelpost.test", "暗号"), 1)
        mail.tls = 1
        mail.smtp_auth = 1
        mail.tls_ca_file = self.env["TLS_CA_FILE"]
        mail.pop_before_smtp = 0
        mail.log_dir = str(self.path)

    def test_send_over_smtps_with_auth_then_receive_over_pop3s(self):
        send = self.path / "secure.qml"
        send.write_text("To: bob@zelpost.test\r\nSubject: 暗号化の件\r\n\r\n本文です。\r\n", encoding="cp932")
        with zelpost.Zelpost() as alice, zelpost.Zelpost() as bob:
            self.secure(alice, "alice", "alicepw")
            self.assertEqual((alice.tls, alice.smtp_auth, alice.tls_ca_file),
                             (1, 1, self.env["TLS_CA_FILE"]))
            self.assertEqual(alice.get_value_int("tls"), 1)
            self.assertEqual(alice.send_mail(str(send)), 1, alice.err_detail)
            self.assertEqual((alice.err_detail, alice.err_class), ("", 0))
            self.secure(bob, "bob", "bobpw")
            bob.pop_silent = 1
            self.assertEqual(bob.mail_biff(), 1, bob.err_detail)
            folder = self.path / "受信箱"
            folder.mkdir()
            self.assertEqual(bob.recv_mail_all(str(self.path / "list.txt"), str(folder)), 1, bob.err_detail)
            self.assertIn("暗号化の件", (self.path / "list.txt").read_bytes().decode("cp932"))
            # A wrong password: the classic error and the server's reason.
            self.secure(alice, "alice", "wrong-pw")
            self.assertEqual(alice.send_mail(str(send)), 0)
            self.assertEqual(alice.err_number, -404)
            self.assertTrue(alice.err_detail.startswith("535 "), alice.err_detail)
            self.assertEqual(alice.err_class, 5)
            with self.assertRaises(zelpost.ZelpostError):
                alice.tls = 7
            self.assertEqual(alice.tls, 1)

    def test_a_library_that_does_not_load_names_the_variable(self):
        with self.assertRaisesRegex(OSError, "ZELPOST_LIBRARY"):
            zelpost.Zelpost(library=str(self.path / "libnone.so"))


if __name__ == "__main__":
    unittest.main()
