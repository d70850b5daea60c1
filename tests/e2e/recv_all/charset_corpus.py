#!/usr/bin/env python3
"""The charset corpus of the receive tests, written and checked with
Python's email package.

  charset_corpus.py write DIR       writes DIR/NAME.eml (as a mail server
                                    stores it), DIR/NAME.pop (as POP3 hands
                                    it over: dot-stuffed), DIR/names.txt and
                                    DIR/expected.json
  charset_corpus.py check DIR OUT   checks the display files OUT/NAME.wml:
                                    Subject and From, the text of every text
                                    part (Python's decoding, converted to
                                    CP932 with the geta mark for what CP932
                                    lacks), the labels of decoded parts, the
                                    attachments byte for byte and the part
                                    structure. With $ZEL_SAME_DISPLAY_FILES
                                    naming another OUT folder, the display
                                    files must also equal those byte for byte.

The corpus: ten charsets x four transfer encodings x four structures
(single part, multipart/mixed with attachments, multipart/alternative text
and HTML, HTML only), and a few messages of byte literals for what no mail
writer produces on purpose.
"""
import base64
import email
import email.charset
import json
import os
import smtplib
import sys
from email import policy
from email.header import Header
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText

GETA = b'\x81\xac'
# What the library writes beyond Python's cp932 codec: characters other
# systems write for CP932 codes.
EXTRA = {'\u00a5': b'\\', '\u203e': b'~', '\u2014': b'\x81\x5c'}

CHARSETS = [
    # label (Python's codec of the same name writes the text), subject,
    # sender name, body lines
    ('utf-8', 'UTF-8の件名：日本語のメールと絵文字😀、記号①〜', '山田 太郎',
     ['こんにちは、UTF-8のメールです。', '絵文字😀とé、①②、〜、―', '.ドットで始まる行', '最後の行']),
    ('iso-2022-jp', '会議のお知らせ（ISO-2022-JP）', '鈴木 花子', ['ISO-2022-JPの本文です。', '全角ＡＢＣと記号※', '.ドット']),
    ('Shift_JIS', 'シフトJISの件名ﾊﾝｶｸ', '佐藤', ['Shift_JISの本文です。', '半角ｶﾀｶﾅと表示']),
    ('euc-jp', 'EUC-JPの件名です', '田中', ['EUC-JPの本文です。', '漢字とかな']),
    ('iso-8859-1', 'Café crème, 10 °C', 'José Müller', ['Grüße aus Köln!', 'Prix : 10 francs, ±5 °C, §3']),
    ('windows-1252', '“Quoted” subject — €', 'Zoë', ['“Smart quotes” and em dash — and €.', 'Second line ±']),
    ('gb2312', '中文邮件主题', '李雷', ['你好，世界！这是中文邮件。', '第二行']),
    ('big5', '中文郵件主題', '陳大文', ['你好，世界！這是中文郵件。', '第二行']),
    ('euc-kr', '한국어 제목', '김철수', ['안녕하세요. 한국어 메일입니다.', '두 번째 줄']),
    ('koi8-r', 'Привет из Москвы', 'Иван Петров', ['Здравствуйте! Это письмо на русском.', 'Вторая строка ё']),
]
ENCODINGS = ['base64', 'quoted-printable', '8bit', '7bit']
STRUCTURES = ['single', 'mixed', 'alternative', 'html']
ADDRESS = 'sender@zelpost.test'
ATTACHMENT = bytes(range(256)) * 3


def cp932(text):
    out = bytearray()
    for ch in text:
        if ch in EXTRA:
            out += EXTRA[ch]
            continue
        try:
            out += ch.encode('cp932')
        except UnicodeEncodeError:
            out += GETA
    return bytes(out)


def charset(label, encoding):
    c = email.charset.Charset(label)
    c.input_charset = c.output_charset = label
    c.input_codec = c.output_codec = label
    c.header_encoding = email.charset.QP if encoding == 'quoted-printable' else email.charset.BASE64
    c.body_encoding = {'base64': email.charset.BASE64, 'quoted-printable': email.charset.QP}.get(encoding)
    return c


def text_part(text, subtype, c, encoding):
    part = MIMEText(text, subtype, c)
    if encoding in ('8bit', '7bit'):
        del part['Content-Transfer-Encoding']
        part['Content-Transfer-Encoding'] = encoding
    return part


def html_of(lines):
    body = '<br>\n'.join(lines)
    return ('<html><head><title>T</title><style>p { color: red }</style></head>\n<body><p>' + body +
            '</p>\n<p>&lt;tag&gt; &amp; <a href="https://example.jp/x?a=1&amp;b=2">link</a></p></body></html>\n')


def rendering_of(lines):
    return '\n'.join(lines) + '\n<tag> & link <https://example.jp/x?a=1&b=2>\n'


def corpus_message(label, subject, sender, lines, encoding, structure):
    c = charset(label, encoding)
    boundary = '----=_Part_%s_%s' % (encoding, structure)  # the same in every run
    text = '\n'.join(lines) + '\n'
    texts, attachments, parts = [], [], None
    if structure == 'single':
        m = text_part(text, 'plain', c, encoding)
        texts = [('text/plain', text)]
    elif structure == 'html':
        m = text_part(html_of(lines), 'html', c, encoding)
        texts = [('text/plain', rendering_of(lines)), ('text/html', html_of(lines))]
        parts = 2
    elif structure == 'mixed':
        m = MIMEMultipart('mixed', boundary=boundary)
        m.attach(text_part(text, 'plain', c, encoding))
        a = MIMEApplication(ATTACHMENT, 'octet-stream')
        a.add_header('Content-Disposition', 'attachment', filename='data.bin')
        m.attach(a)
        t = MIMEText(text, 'plain', charset(label, 'base64'))
        t.add_header('Content-Disposition', 'attachment', filename='text.txt')
        m.attach(t)
        texts = [('text/plain', text)]
        attachments = [ATTACHMENT, text.encode(label)]
        parts = 3
    else:
        m = MIMEMultipart('alternative', boundary=boundary)
        m.attach(text_part(text, 'plain', c, encoding))
        m.attach(text_part(html_of(lines), 'html', c, encoding))
        texts = [('text/plain', text), ('text/html', html_of(lines))]
        parts = 2
    m['Subject'] = Header(subject, c)
    m['From'] = Header(sender, c).encode() + ' <' + ADDRESS + '>'
    m['Date'] = 'Tue, 02 Oct 2001 09:05:07 +0900'
    # A part the classic decoder writes keeps its label: ISO-2022-JP without
    # transfer encoding (its bytes are Shift-JIS, as they ever were); every
    # other text part is relabelled.
    classic = label == 'iso-2022-jp' and encoding in ('7bit', '8bit') and structure != 'html'
    expected = {
        'subject': cp932(subject).hex(),
        'from': (cp932(sender) + b' <' + ADDRESS.encode() + b'>').hex(),
        'texts': [[ctype, label if classic else 'shift_jis', cp932(t).hex()] for ctype, t in texts],
        'attachments': [a.hex() for a in attachments],
        'parts': parts,
    }
    return m.as_bytes(policy=policy.compat32.clone(linesep='\r\n')), expected


def edge_messages():
    """Messages of byte literals: (name, raw bytes, expected)."""
    def plain(subject_field, body_headers, body, subject, text, label='shift_jis'):
        raw = (b'Subject: ' + subject_field + b'\r\nFrom: ' + ADDRESS.encode() +
               b'\r\nMIME-Version: 1.0\r\n' + body_headers + b'\r\n\r\n' + body)
        return raw, {'subject': subject.hex(), 'from': ADDRESS.encode().hex(),
                     'texts': [['text/plain', label, text.hex()]], 'attachments': [], 'parts': None}
    nihon = '日本'.encode('utf-8')
    split = (b'=?UTF-8?B?' + base64.b64encode(nihon[:2]) + b'?= =?UTF-8?B?' +
             base64.b64encode(nihon[2:]) + b'?=')
    return [
        # A character split across two adjacent encoded words comes out whole.
        ('edge-split',) + plain(split, b'Content-Type: text/plain; charset=utf-8', b'ok\r\n',
                                cp932('日本'), b'ok'),
        # An unknown charset: the words' and the body's bytes as they came.
        ('edge-unknown',) + plain(b'=?x-unknown?Q?caf=E9?=',
                                  b'Content-Type: text/plain; charset=x-unknown\r\n'
                                  b'Content-Transfer-Encoding: base64',
                                  base64.encodebytes(b'caf\xe9\n').replace(b'\n', b'\r\n'),
                                  b'caf\xe9', b'caf\xe9', 'x-unknown'),
        # Invalid UTF-8 and an emoji (four bytes): the mark.
        ('edge-invalid',) + plain(b'=?UTF-8?Q?a=FFb?= =?UTF-8?B?' + base64.b64encode('😀'.encode()) + b'?=',
                                  b'Content-Type: text/plain; charset=utf-8\r\n'
                                  b'Content-Transfer-Encoding: base64',
                                  base64.encodebytes(b'ok\xff\xfe\n\xf0\x9f\x98\x80\n').replace(b'\n', b'\r\n'),
                                  b'a' + GETA + b'b' + GETA, b'ok' + GETA + GETA + b'\n' + GETA),
    ]


def write(folder):
    os.makedirs(folder, exist_ok=True)
    names, expected = [], {}
    messages = []
    for label, subject, sender, lines in CHARSETS:
        for encoding in ENCODINGS:
            for structure in STRUCTURES:
                name = '%s-%s-%s' % (label.lower(), encoding, structure)
                raw, exp = corpus_message(label, subject, sender, lines, encoding, structure)
                messages.append((name, raw, exp))
    messages += edge_messages()
    for name, raw, exp in messages:
        with open(os.path.join(folder, name + '.eml'), 'wb') as f:
            f.write(raw)
        with open(os.path.join(folder, name + '.pop'), 'wb') as f:
            f.write(smtplib.quotedata(raw.decode('latin-1')).encode('latin-1'))
        names.append(name)
        expected[name] = exp
    with open(os.path.join(folder, 'names.txt'), 'w') as f:
        f.write('\n'.join(names) + '\n')
    with open(os.path.join(folder, 'expected.json'), 'w') as f:
        json.dump(expected, f, indent=1)


def norm(data):
    return data.replace(b'\r\n', b'\n').rstrip(b'\n')


def check_one(raw, exp):
    """Returns the list of faults of one display file."""
    faults = []
    head = raw.split(b'\r\n\r\n', 1)[0].split(b'\r\n')
    fields = {}
    for line in head:
        for name in (b'Subject: ', b'From: '):
            if line.startswith(name):
                fields[name] = line[len(name):]
    for name, key in ((b'Subject: ', 'subject'), (b'From: ', 'from')):
        if fields.get(name) != bytes.fromhex(exp[key]):
            faults.append('%s %r, expected %r' % (key, fields.get(name), bytes.fromhex(exp[key])))
    m = email.message_from_bytes(raw, policy=policy.compat32)
    texts, attachments = [], []
    for part in m.walk():
        if part.is_multipart():
            continue
        disposition = str(part.get('Content-Disposition', '')).lower()
        attached = part.get_filename() is not None or disposition.startswith('attachment')
        payload = part.get_payload(decode=True) or b''
        if part.get_content_maintype() == 'text' and not attached:
            texts.append([part.get_content_type(), part.get_content_charset(), norm(payload).hex()])
            encoding = str(part.get('Content-Transfer-Encoding', '7bit')).lower()
            if encoding not in ('7bit', '8bit'):
                faults.append('text part still in %s' % encoding)
        else:
            attachments.append(payload.hex())
    want_texts = [[t, label.lower(), norm(bytes.fromhex(h)).hex()] for t, label, h in exp['texts']]
    if texts != want_texts:
        faults.append('texts %r, expected %r' % (
            [(t, c, bytes.fromhex(h)) for t, c, h in texts], [(t, c, bytes.fromhex(h)) for t, c, h in want_texts]))
    if attachments != exp['attachments']:
        faults.append('attachments differ')
    parts = len(m.get_payload()) if m.is_multipart() else None
    if parts != exp['parts']:
        faults.append('%s top-level parts, expected %s' % (parts, exp['parts']))
    if m.defects:
        faults.append('defects %r' % m.defects)
    return faults


def check(folder, out):
    with open(os.path.join(folder, 'expected.json')) as f:
        expected = json.load(f)
    same = os.environ.get('ZEL_SAME_DISPLAY_FILES', '')
    failed = 0
    for name, exp in expected.items():
        path = os.path.join(out, name + '.wml')
        try:
            with open(path, 'rb') as f:
                raw = f.read()
        except OSError as e:
            print('%s: %s' % (name, e))
            failed += 1
            continue
        faults = check_one(raw, exp)
        if same:
            with open(os.path.join(same, name + '.wml'), 'rb') as f:
                if f.read() != raw:
                    faults.append('differs from %s' % same)
        for fault in faults:
            print('%s: %s' % (name, fault))
        failed += bool(faults)
    print('%d display files checked, %d with faults%s' % (len(expected), failed, ', compared with ' + same if same else ''))
    return 1 if failed else 0


if __name__ == '__main__':
    if len(sys.argv) == 3 and sys.argv[1] == 'write':
        write(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == 'check':
        sys.exit(check(sys.argv[2], sys.argv[3]))
    else:
        sys.exit(__doc__)
