#!/usr/bin/python3
"""Send files and checks of the charset tests of the send path.

  charset_mail.py repertoire DIR LIBDIR
      (DIR is made anew) every character Python's cp932 codec decodes from a double-byte pair,
      in groups of 49 (what a display name holds), each group in the
      Subject, the display name, the body and an attachment name
  charset_mail.py table DIR LIBDIR [zelsend]
      send files of the kinds a host writes (Shift-JIS and UTF-8, good and
      bad); "zelsend" adds the rows sent through zelsend
  charset_mail.py readers DIR LIBDIR
      send files whose every field four readers must show as written
  charset_mail.py check DIR MAILDIR
      reads the messages of MAILDIR, finds each case by its X-Case field and
      writes "OK" or the problems to DIR/check.out

Each run ends by writing its exit code to DIR/COMMAND.status.

A plan goes into DIR: plan.tsv (case, CHARSET, SENDFILECHARSET ("" for the
default), sender
"library" or "zelsend", expected result "sent" or an error number), for
each case caseN.qml (the send file), caseN.name (the display name, in
Shift-JIS for the library and in UTF-8 for zelsend) and caseN.err (the
expected error text, same charsets), and expect.json. LIBDIR is DIR as the
library names it (Z:\\... under Wine).

The check reads every message as two readers do: Python's email package,
ISO-2022-JP read the way Japanese mail programs read it (each JIS pair back
through CP932, so that NEC row 13 and CP932's own choices for ~ || - and
the like come back), and, for the cases marked so, notmuch (another MIME
parser, with a Maildir of its own per message). The readers' cases are
read by four readers as they show mail: Python's email package (its own
decoding), notmuch, mblaze (mshow, mshow -t) and s-nail; a half-width
katakana may come back widened. When DIR/readback holds N.wml (the display
file zelRecvMailDummy made of a delivered message) and N.names (the part
walker's attachment names, one a line, Shift-JIS), their fields must be the
written texts too (a character Shift-JIS lacks as 〓). No message may hold
a byte of 0x80 or above: headers and 7bit parts are ASCII, the rest base64.
"""
import email
import email.header
import email.policy
import json
import os
import re
import shutil
import subprocess
import sys
import unicodedata

GROUP = 49  # characters per group: a display name holds 99 bytes


def cp932_pairs():
    pairs = []
    for lead in range(0x81, 0x100):
        for trail in range(0x40, 0x100):
            code = bytes([lead, trail])
            try:
                char = code.decode("cp932")
            except UnicodeDecodeError:
                continue
            if len(char) == 1:
                pairs.append((code, char))
    return pairs


def carried(char):
    """True when ISO-2022-JP carries the character: CP932 writes it in JIS X
    0208 (lead bytes up to 0xEA but NEC row 13's 0x87)."""
    lead = char.encode("cp932")[0]
    return lead <= 0xEA and lead != 0x87


class Plan:
    def __init__(self, work, libdir):
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        self.work, self.libdir = work, libdir
        self.sep = "\\" if "\\" in libdir else "/"
        self.lines, self.expect = [], {}

    def libpath(self, name):
        """Bytes of the library's (Shift-JIS) path of the file `name` of DIR."""
        return self.libdir.encode("ascii") + self.sep.encode("ascii") + name

    def attachment(self, name):
        """Creates the attachment `name` (Shift-JIS bytes; the file system
        names it in UTF-8); returns its path."""
        with open(os.path.join(self.work, name.decode("cp932")), "wb") as f:
            f.write(b"attached " + name)
        return self.libpath(name)

    def add(self, case, sendfile, name, option="", filecharset="", via="library",
            result="sent", error=b"", **expect):
        write(self.work, "case%d.qml" % case, sendfile)
        write(self.work, "case%d.name" % case, name)
        write(self.work, "case%d.err" % case, error)
        self.lines.append("%d\t%s\t%s\t%s\t%s\n" % (case, option, filecharset, via, result))
        self.expect[str(case)] = expect if result == "sent" else None

    def save(self):
        write(self.work, "plan.tsv", "".join(self.lines).encode())
        write(self.work, "expect.json", json.dumps(self.expect, ensure_ascii=False).encode())


def write(work, name, data):
    with open(os.path.join(work, name), "wb") as f:
        f.write(data)


def sendfile(case, subject, body, attachments=(), crlf=b"\r\n", header=b""):
    out = b"To: alice@localhost" + crlf + b"X-Case: %d" % case + crlf + b"Subject: " + subject + crlf
    for path in attachments:
        out += b"X-AttachmentFile: " + path + crlf
    return out + header + crlf + body


def repertoire(work, libdir):
    pairs = cp932_pairs()
    assert len(pairs) == 9604, len(pairs)
    assert len({c for _, c in pairs if not 0xE000 <= ord(c) <= 0xF8FF}) == 7326
    plan = Plan(work, libdir)
    case = 0
    for group_carried in (True, False):
        chosen = [p for p in pairs if carried(p[1]) == group_carried]
        for start in range(0, len(chosen), GROUP):
            group = chosen[start:start + GROUP]
            code = b"".join(c for c, _ in group)
            text = "".join(t for _, t in group)
            # A few groups ISO-2022-JP carries go out with CHARSET UTF-8 too,
            # the groups of NEC row 13 with ISO-2022-JP-EXT, which carries them.
            options = [""] + (["UTF-8"] if group_carried and start % (GROUP * 50) == 0 else [])
            if all(c[0] == 0x87 for c, _ in group):
                options.append("ISO-2022-JP-EXT")
            for charset in options:
                case += 1
                path = plan.attachment(code + b".txt")
                plan.add(case, sendfile(case, code, code + b"\r\n", [path]), code, option=charset,
                         subject=text, from_name=text, body=text + "\n",
                         attachments=[text + ".txt"],
                         charset="utf-8" if charset == "UTF-8" or not (group_carried or charset) else "iso-2022-jp")
    plan.save()


def table(work, libdir, with_zelsend):
    plan = Plan(work, libdir)
    sj = lambda text: text.encode("cp932")
    u8 = lambda text: text.encode("utf-8")
    jis_subject = "見積もりの件 ご確認ください"
    jis_body = "山田様\r\n\r\nお見積もりの件、 ご確認ください。\r\n.以上\r\n"
    expect_body = jis_body.replace("\r\n", "\n")
    # 1: JIS X 0208 with blanks between Japanese runs, in Shift-JIS.
    path = plan.attachment(sj("見積書 第2版.txt"))
    plan.add(1, sendfile(1, sj(jis_subject), sj(jis_body), [path]), sj("山田 太郎"),
             subject=jis_subject, from_name="山田 太郎", body=expect_body,
             attachments=["見積書 第2版.txt"], charset="iso-2022-jp", notmuch=True)
    # 2: IBM extensions in both codes: 髙 as 0xFBFC (IBM) and 0xEEE0
    # (NEC-selected), 﨑 as 0xFAB1 and 0xED95.
    taka_ibm, taka_nec, saki_ibm, saki_nec = b"\xfb\xfc", b"\xee\xe0", b"\xfa\xb1", b"\xed\x95"
    subject2 = taka_ibm + sj("橋さん ") + saki_nec + sj("さん")
    body2 = sj("山") + saki_ibm + sj(" 様\r\n") + taka_nec + sj("橋です。\r\n")
    path = plan.attachment(taka_ibm + sj("橋 ") + saki_nec + sj(".txt"))
    plan.add(2, sendfile(2, subject2, body2, [path]), taka_nec + sj("橋 一郎"),
             subject="髙橋さん 﨑さん", from_name="髙橋 一郎", body="山﨑 様\n髙橋です。\n",
             attachments=["髙橋 﨑.txt"], charset="utf-8", notmuch=True)
    # 3: IBM extensions with an equivalent: ∵ ￢ in JIS X 0208 stay
    # ISO-2022-JP, ㈱ Ⅱ (NEC row 13) make the message UTF-8.
    subject3 = sj("見積 ") + b"\xfa\x5b\xee\xf9"
    plan.add(3, sendfile(3, subject3, subject3 + b"\r\n"), sj("株式会社"),
             subject="見積 ∵￢", from_name="株式会社", body="見積 ∵￢\n",
             attachments=[], charset="iso-2022-jp")
    subject12 = b"\xfa\x58" + sj("見積 ") + b"\xfa\x5b\xfa\x4b\xee\xf9"
    plan.add(12, sendfile(12, subject12, subject12 + b"\r\n"), sj("株式会社"),
             subject="㈱見積 ∵Ⅱ￢", from_name="株式会社", body="㈱見積 ∵Ⅱ￢\n",
             attachments=[], charset="utf-8")
    # 4: a UTF-8 send file ISO-2022-JP carries; half-width katakana widened.
    plan.add(4, sendfile(4, u8(jis_subject + " ﾃｽﾄ"), u8(jis_body)), sj("山田 太郎"),
             filecharset="UTF-8", subject=jis_subject + " テスト", from_name="山田 太郎",
             body=expect_body, attachments=[], charset="iso-2022-jp", notmuch=True)
    # 5: emoji, Hangul and accented Latin in a UTF-8 send file (with a
    # byte-order mark); the attachment path is one Shift-JIS can write.
    subject5 = "Résumé 😀 한국어 보고서 ﾃｽﾄ"
    body5 = "Crème brûlée 😀\r\n안녕하세요 세계\r\n"
    path = plan.attachment(sj("報告書.txt")).decode("cp932").encode("utf-8")
    plan.add(5, b"\xef\xbb\xbf" + sendfile(5, u8(subject5), u8(body5), [path]), sj("Bob"),
             filecharset="UTF-8", subject=subject5, from_name="Bob",
             body=body5.replace("\r\n", "\n"), attachments=["報告書.txt"], charset="utf-8",
             notmuch=True)
    # 6: 〜 (U+301C), which CP932 gives back as U+FF5E: UTF-8 keeps it.
    plan.add(6, sendfile(6, u8("10時〜12時"), u8("10時〜12時\r\n")), sj("Bob"),
             filecharset="UTF-8", subject="10時〜12時", from_name="Bob", body="10時〜12時\n",
             attachments=[], charset="utf-8")
    # 7: CHARSET UTF-8 for a Shift-JIS send file ISO-2022-JP would carry.
    plan.add(7, sendfile(7, sj(jis_subject + " ﾃｽﾄ"), sj(jis_body)), sj("山田 太郎"),
             option="UTF-8", subject=jis_subject + " ﾃｽﾄ", from_name="山田 太郎",
             body=expect_body, attachments=[], charset="utf-8", notmuch=True)
    # 8, 9: a line that is no UTF-8 fails the send and sends nothing.
    bad_body = sendfile(8, b"ok", b"line 1\r\nline 2 \xff\r\n")
    plan.add(8, bad_body, sj("Bob"), filecharset="UTF-8", result="-1103",
             error=sj("本文部のエンコードに失敗: 6行目が UTF-8 ではありません [") +
             plan.libpath(b"case8.qml") + b"]")
    bad_header = sendfile(9, b"\xe6\x97\xa5\xe6\x9c", b"body\r\n")
    plan.add(9, bad_header, sj("Bob"), filecharset="UTF-8", result="-1102",
             error=sj("ヘッダ部のエンコードに失敗: 3行目が UTF-8 ではありません [") +
             plan.libpath(b"case9.qml") + b"]")
    if with_zelsend:
        # 10: zelsend -u --charset=UTF-8; 11: a charset zelsend refuses.
        plan.add(10, sendfile(10, u8(jis_subject), u8(jis_body)), u8("山田 太郎"), option="UTF-8",
                 filecharset="UTF-8", via="zelsend", subject=jis_subject,
                 from_name="山田 太郎", body=expect_body, attachments=[], charset="utf-8")
        plan.add(11, sendfile(11, b"x", b"x\r\n"), b"Bob", option="KOI8-R", via="zelsend",
                 result="255", error=u8("err: --charset に指定できない値です [KOI8-R]\n"))
    plan.save()


def readers(work, libdir):
    plan = Plan(work, libdir)
    sj = lambda text: text.encode("cp932")
    u8 = lambda text: text.encode("utf-8")
    taka_ibm, taka_nec, saki_ibm = b"\xfb\xfc", b"\xee\xe0", b"\xfa\xb1"
    kabu_nec, kabu_ibm = sj("㈱"), b"\xfa\x58"
    rows = [
        # IBM kanji: 髙 in the IBM and the NEC-selected code, 﨑.
        (taka_nec + sj("橋さんの件 第3回"), "髙橋さんの件 第3回", taka_ibm + sj("橋 一郎"), "髙橋 一郎",
         sj("山") + saki_ibm + sj("様\r\n") + taka_ibm + sj("橋です。 第2版を送ります\r\n"),
         "山﨑様\n髙橋です。 第2版を送ります\n", [(taka_ibm + sj("橋_見積 第2版.txt"), "髙橋_見積 第2版.txt")],
         "utf-8", ""),
        # NEC row 13 (and ㈱ in its IBM code).
        (sj("①②⑪") + kabu_nec + sj(" 日時：4月1日"), "①②⑪㈱ 日時：4月1日", sj("㈱山田商事 営業部"), "㈱山田商事 営業部",
         sj("① 日時：4月1日\r\n② 場所：本社 3F\r\n⑪ ") + kabu_ibm + sj("山田商事\r\n"),
         "① 日時：4月1日\n② 場所：本社 3F\n⑪ ㈱山田商事\n", [(sj("①議事.txt"), "①議事.txt")], "utf-8", ""),
        # ASCII digits between Japanese words, in the Subject and the names.
        (sj("会議のご案内 第3回"), "会議のご案内 第3回", sj("ABC商事 山田"), "ABC商事 山田",
         sj("第3回の会議は10時から\r\n資料: report_2024Q2_見積.xlsx\r\n"),
         "第3回の会議は10時から\n資料: report_2024Q2_見積.xlsx\n",
         [(sj("議事録（第3回）.pdf"), "議事録（第3回）.pdf"), (sj("report_2024Q2_見積.xlsx"), "report_2024Q2_見積.xlsx")],
         "iso-2022-jp", ""),
        # A UTF-8 send file with emoji.
        (u8("予定 😀 第2回 café"), "予定 😀 第2回 café", sj("Bob 山田"), "Bob 山田",
         u8("😀 ありがとう\r\nCrème brûlée 2回目\r\n"), "😀 ありがとう\nCrème brûlée 2回目\n",
         [(sj("報告_2024.txt"), "報告_2024.txt")], "utf-8", "UTF-8"),
        # Plain JIS X 0208, half-width katakana widened.
        (sj("見積もりの件 ご確認ください ﾃｽﾄ"), "見積もりの件 ご確認ください ﾃｽﾄ", sj("山田 太郎"), "山田 太郎",
         sj("山田様\r\n\r\nお見積もりの件、 ご確認ください。\r\n"), "山田様\n\nお見積もりの件、 ご確認ください。\n",
         [(sj("見積書 第2版.txt"), "見積書 第2版.txt")], "iso-2022-jp", ""),
        # CHARSET UTF-8, a name long enough for RFC 2231 continuations.
        (sj("UTF-8テスト 第3回"), "UTF-8テスト 第3回", sj("山田 太郎"), "山田 太郎", sj("本文 1行\r\n"), "本文 1行\n",
         [(sj("議事録（第3回）" * 4 + ".pdf"), "議事録（第3回）" * 4 + ".pdf")], "utf-8", "UTF-8-OPTION"),
    ]
    for case, (subject, subject_text, name, name_text, body, body_text, files, charset, kind) in enumerate(rows, 1):
        utf8_file = kind == "UTF-8"
        paths = [plan.attachment(code) for code, _ in files]
        if utf8_file:
            paths = [p.decode("cp932").encode("utf-8") for p in paths]
        plan.add(case, sendfile(case, subject, body, paths), name,
                 option="UTF-8" if kind == "UTF-8-OPTION" else "", filecharset="UTF-8" if utf8_file else "",
                 subject=subject_text, from_name=name_text, body=body_text,
                 attachments=[text for _, text in files], charset=charset, notmuch=True, readers=True)
    plan.save()


def jis_read(data):
    """ISO-2022-JP as Japanese mail programs read it: JIS pairs through CP932."""
    out, i, kanji = [], 0, False
    while i < len(data):
        if data[i] == 0x1B:
            kanji = data[i:i + 3] in (b"\x1b$B", b"\x1b$@")
            i += 3
        elif kanji:
            j1, j2 = data[i], data[i + 1]
            s1 = ((j1 + 1) >> 1) + (0x70 if j1 < 0x5F else 0xB0)
            s2 = j2 + ((0x20 if j2 > 0x5F else 0x1F) if j1 % 2 else 0x7E)
            out.append(bytes([s1, s2]).decode("cp932"))
            i += 2
        else:
            out.append(chr(data[i]))
            i += 1
    return "".join(out)


def read_text(data, charset):
    if charset is None:
        return data if isinstance(data, str) else data.decode("ascii")
    if charset.lower() == "iso-2022-jp":
        return jis_read(data)
    return data.decode(charset)


def read_header(value):
    unfolded = value.replace("\r\n", "").replace("\n", "")
    return "".join(read_text(d, c) for d, c in email.header.decode_header(unfolded))


def display_name(from_text):
    return from_text.rsplit(" <", 1)[0]


def text_part(msg):
    return next(p for p in msg.walk() if p.get_content_type() == "text/plain")


def read_message(raw):
    """Subject, display name, body, attachment names and body charset of a
    message, as a Japanese mail program reads them."""
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    body = text_part(msg)
    charset = body.get_content_charset()
    got = {
        "subject": read_header(msg["Subject"]),
        "from_name": display_name(read_header(msg["From"])),
        "body": read_text(body.get_payload(decode=True), charset).replace("\r\n", "\n"),
        "attachments": [read_header(p.get_filename())
                        for p in msg.walk() if p.get_content_disposition() == "attachment"],
        "charset": charset,
    }
    return msg, got


def read_with_policy(raw):
    """The same fields as Python's email package itself decodes them."""
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    return {
        "subject": str(msg["Subject"]),
        "from_name": msg["From"].addresses[0].display_name,
        "body": msg.get_body(preferencelist=("plain",)).get_content().replace("\r\n", "\n"),
        "attachments": [p.get_filename() for p in msg.iter_attachments()],
    }


def read_with_notmuch(raw, work, case):
    """The same fields as notmuch shows them (a Maildir and database per message)."""
    root = os.path.join(work, "notmuch-%s" % case)
    shutil.rmtree(root, ignore_errors=True)
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(root, "mail", sub))
    write(os.path.join(root, "mail", "cur"), "m:2,S", raw)
    config = os.path.join(root, "config")
    write(root, "config", ("[database]\npath=%s\n[user]\nname=t\nprimary_email=t@localhost\n"
                           "[new]\ntags=inbox;\n" % os.path.join(root, "mail")).encode())
    env = dict(os.environ, NOTMUCH_CONFIG=config)
    subprocess.run(["notmuch", "new", "--quiet"], env=env, check=True, stdout=subprocess.DEVNULL)
    shown = subprocess.run(["notmuch", "show", "--format=json", "--entire-thread=false", "*"],
                           env=env, check=True, stdout=subprocess.PIPE).stdout
    message = json.loads(shown)[0][0][0]
    parts, stack = [], list(message["body"])
    while stack:
        part = stack.pop(0)
        if isinstance(part.get("content"), list):
            stack[:0] = part["content"]
        else:
            parts.append(part)
    text = next(p for p in parts if p["content-type"] == "text/plain" and "filename" not in p)
    return {
        "subject": message["headers"]["Subject"],
        "from_name": display_name(message["headers"]["From"]),
        "body": text["content"].replace("\r\n", "\n"),
        "attachments": [p["filename"] for p in parts if "filename" in p],
    }


def widened(text):
    """`text` with its half-width katakana widened, as ISO-2022-JP carries them."""
    marks = {"\uff9e": "\u309b", "\uff9f": "\u309c"}
    return "".join(marks.get(c) or (unicodedata.normalize("NFKC", c) if "\uff61" <= c <= "\uff9f" else c)
                   for c in text)


def shift_jis_form(text):
    """`text` as Shift-JIS shows it: a character it lacks as 〓."""
    out = []
    for c in text:
        try:
            c.encode("cp932")
            out.append(c)
        except UnicodeEncodeError:
            out.append("〓")
    return "".join(out)


def run(args, env_extra, stdin=b"", cwd=None):
    env = dict(os.environ, LC_ALL="C.UTF-8", **env_extra)
    return subprocess.run(args, env=env, input=stdin, cwd=cwd, check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL).stdout.decode("utf-8")


def header_fields(lines):
    """Subject and display name of shown header lines (up to the first empty one)."""
    got = {}
    for line in lines:
        if not line:
            break
        if line.startswith("Subject: "):
            got["subject"] = line[len("Subject: "):]
        if line.startswith("From: "):
            got["from_name"] = display_name(line[len("From: "):])
    return got


def read_with_mblaze(raw, work, case):
    """The fields as mblaze's mshow shows them (mshow -t for the names)."""
    root = os.path.join(work, "mblaze-%s" % case)
    os.makedirs(root, exist_ok=True)
    write(root, "seq", b"")
    write(root, "message", raw)
    env = {"MBLAZE": root}
    lines = run(["mshow", os.path.join(root, "message")], env).split("\n")
    got = header_fields(lines)
    start = next(i for i, line in enumerate(lines) if re.match(r"(--- )+\d+: text/plain", line)) + 1
    end = next((i for i in range(start, len(lines)) if re.match(r"(--- )+\d+: ", lines[i])), len(lines))
    got["body"] = "\n".join(lines[start:end]).rstrip("\n") + "\n"
    parts = run(["mshow", "-t", os.path.join(root, "message")], env).split("\n")
    got["attachments"] = [m.group(1) for m in (re.search(r'application/octet-stream .*name="(.*)"$', p)
                                               for p in parts) if m]
    return got


def read_with_snail(raw, work, case):
    """The fields as s-nail shows them (type; write saves the parts under their names)."""
    root = os.path.join(work, "snail-%s" % case)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "parts"))
    write(root, "mbox", b"From sender@localhost Thu Jan  1 00:00:00 2026\n" + raw.replace(b"\r\n", b"\n") + b"\n")
    args = ["s-nail", "-n", "-N", "-R", "-Sttycharset=UTF-8", "-f", os.path.join(root, "mbox")]
    env = {"MAILRC": "/dev/null", "HOME": root}
    lines = run(args, env, b"type 1\n").split("\n")
    lines = lines[next(i for i, line in enumerate(lines) if line.startswith("From sender@")) + 1:]
    got = header_fields(lines)
    rest = lines[lines.index("") + 1:]
    part = next((i for i, line in enumerate(rest) if line.startswith("[-- #")), None)
    if part is not None:
        rest = rest[part + 1:]
        rest = rest[rest.index("") + 1:]
        rest = rest[:next((i for i, line in enumerate(rest) if line.startswith("[-- #")), len(rest))]
    got["body"] = "\n".join(rest).rstrip("\n") + "\n"
    run(args, env, b"write 1 body.part\n", cwd=os.path.join(root, "parts"))
    got["attachments"] = sorted(n for n in os.listdir(os.path.join(root, "parts")) if n != "body.part")
    return got


def read_back(work, number):
    """The case and fields of readback/N.wml (zelRecvMailDummy's display
    file) and readback/N.names (the part walker's names)."""
    folder = os.path.join(work, "readback")
    with open(os.path.join(folder, "%d.wml" % number), "rb") as f:
        data = f.read()
    fields = {}
    for line in data.split(b"\r\n\r\n", 1)[0].split(b"\r\n"):
        name, _, value = line.decode("cp932").partition(": ")
        fields.setdefault(name, value)
    msg = email.message_from_bytes(data, policy=email.policy.compat32)
    body = text_part(msg).get_payload(decode=True).decode("cp932").replace("\r\n", "\n")
    with open(os.path.join(folder, "%d.names" % number), "rb") as f:
        names = [n for n in f.read().decode("cp932").split("\n") if n]
    return fields.get("X-Case"), {"subject": fields.get("Subject"), "from_name": display_name(fields.get("From", "")),
                                  "body": body, "attachments": names}


def compare(problems, case, reader, fields, want):
    """Adds to `problems` each field of `fields` (as `reader` shows them; ""
    for the Japanese mail program's reading) that is not as `want` has it."""
    for key, value in fields.items():
        wanted = want[key]
        if reader in ("email", "") and key == "attachments":
            # Python's email strips white space (U+3000 too) from
            # the ends of a file name.
            wanted = [name.strip() for name in wanted]
        if reader == "s-nail" and key == "attachments":
            wanted = sorted(wanted)  # listed as saved
        if want.get("readers"):
            value = widened(value) if isinstance(value, str) else [widened(v) for v in value]
            wanted = widened(wanted) if isinstance(wanted, str) else [widened(v) for v in wanted]
        if reader == "readback" and key == "body":
            # The display file's text part of a multipart message ends
            # without the line end that the delimiter takes.
            value, wanted = value.rstrip("\n"), wanted.rstrip("\n")
        if value != wanted:
            problems.append("case %s %s%s: got %r, want %r" % (case, reader + " " if reader else "", key, value, wanted))


def check(work, maildir):
    with open(os.path.join(work, "expect.json"), encoding="utf-8") as f:
        expect = json.load(f)
    problems, seen = [], set()
    files = [os.path.join(maildir, sub, name) for sub in ("new", "cur")
             for name in sorted(os.listdir(os.path.join(maildir, sub)))]
    for path in files:
        with open(path, "rb") as f:
            raw = f.read()
        wide = [i for i, b in enumerate(raw) if b >= 0x80]
        msg, got = read_message(raw)
        case = msg["X-Case"]
        if wide:
            problems.append("case %s: byte %#x at offset %d" % (case, raw[wide[0]], wide[0]))
        if case in seen or expect.get(case) is None:
            problems.append("case %s arrived but was not to" % case)
            continue
        seen.add(case)
        want = expect[case]
        compare(problems, case, "", got, want)
        readers = []
        if want["charset"] == "utf-8" or want.get("readers"):
            readers.append(("email", read_with_policy(raw)))
        if want.get("notmuch"):
            readers.append(("notmuch", read_with_notmuch(raw, work, case)))
        if want.get("readers"):
            readers.append(("mblaze", read_with_mblaze(raw, work, case)))
            readers.append(("s-nail", read_with_snail(raw, work, case)))
        for reader, fields in readers:
            compare(problems, case, reader, fields, want)
    readback = os.path.join(work, "readback")
    number = 1
    while os.path.exists(os.path.join(readback, "%d.wml" % number)):
        case, fields = read_back(work, number)
        if expect.get(case) is None:
            problems.append("readback %d: no case %r" % (number, case))
        else:
            want = {key: (shift_jis_form(value) if key != "attachments" else [shift_jis_form(v) for v in value])
                    for key, value in expect[case].items() if key in fields}
            want["readers"] = True
            compare(problems, case, "readback", fields, want)
        number += 1
    missing = sorted((c for c, w in expect.items() if w is not None and c not in seen), key=int)
    if missing:
        problems.append("cases that did not arrive: %s" % " ".join(missing))
    result = "OK\n" if not problems else "\n".join(problems[:40]) + "\n"
    write(work, "check.out", result.encode("utf-8"))


if __name__ == "__main__":
    command, work = sys.argv[1], sys.argv[2]
    status = 1
    try:
        if command == "repertoire":
            repertoire(work, sys.argv[3])
        elif command == "table":
            table(work, sys.argv[3], len(sys.argv) > 4 and sys.argv[4] == "zelsend")
        elif command == "readers":
            readers(work, sys.argv[3])
        else:
            check(work, sys.argv[3])
        status = 0
    finally:
        # The end of the run, for a caller that cannot wait for it (Wine).
        os.makedirs(work, exist_ok=True)
        write(work, command + ".status.new", b"%d" % status)
        os.replace(os.path.join(work, command + ".status.new"), os.path.join(work, command + ".status"))
