/* zelpost: Internet mail engine for Japanese mail, flat C interface.
 *
 * Every text is NUL-terminated Shift-JIS (code page 932). Every function
 * uses the stdcall convention on Windows and is exported twice there: under
 * its plain name and as "_name@N" (N = 4 x the argument count). Results: 1
 * (or a count) for success, 0 for failure, negative codes as documented;
 * after a failed operation zelGetErrorInt/zelGetErrorStr tell why.
 */
#ifndef ZELPOST_H
#define ZELPOST_H

#if defined(_WIN32)
#define ZELPOST_CALL __stdcall
#define ZELPOST_API
#else
#define ZELPOST_CALL
#define ZELPOST_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Version text "zelpost.dll ver.a.b.c" into buffer and (a << 16) | b as the
 * result. size <= 0: buffer must hold 34 bytes; size > 0: writes at most
 * size bytes including the NUL. */
ZELPOST_API int ZELPOST_CALL zelVersion(char* buffer, int size);

/* Sets the account. All but fullname must be non-empty, and a server name
 * (with its ":port") at most 261 bytes. Returns 1, or 0 with error -1000
 * (the earlier account stays). Other over-long texts are shortened. */
ZELPOST_API int ZELPOST_CALL zelInitialize(const char* pop3name, const char* smtpname,
                                           const char* username, const char* password,
                                           const char* mailaddr, const char* fullname);

/* Sends a send file (.qml) with optional attachments (TAB/LF separated).
 * Returns 1 sent, 0 failed. */
ZELPOST_API int ZELPOST_CALL zelSendMailOne(const char* mailfile, const char* attachfile);

/* As zelSendMailOne, writing the message to dummyfile instead of sending. */
ZELPOST_API int ZELPOST_CALL zelSendMailDummy(const char* mailfile, const char* attachfile,
                                              const char* dummyfile);

/* Receives all new mail. listfile and maildir are required (else 0), but
 * for a run that delivers with MAILDIR, MBOX or MDA and no KEEPDISPLAY. */
ZELPOST_API int ZELPOST_CALL zelRecvMailAll(const char* listfile, const char* maildir,
                                            const char* dupfile, const char* mailbox);

/* Receives one message into the display file mailfile (required, else 0).
 * Returns 1 written, 0 no message or failure, -1 login/listing failed. */
ZELPOST_API int ZELPOST_CALL zelRecvMailDummy(const char* mailfile, const char* dummyfile);

/* Number of messages waiting on the POP3 server, or a negative code; with
 * BIFFSEENFILE also the new ones (BIFFNEW). */
ZELPOST_API int ZELPOST_CALL zelMailBiff(void);

/* Options of the session, names matched without regard to case. They may
 * be set before or after zelInitialize and changed between operations.
 *
 * Integer options (zelSetValueInt returns what was stored, 0 for an
 * unknown name; zelGetValueInt returns the value, 0 for an unknown name):
 *   HWND           parent window of receive-all's progress dialog (0).
 *   DELE           1: receive-all deletes each stored message on the server (0).
 *   POPBEFORESMTP  1: a send logs in to the POP3 server first (1).
 *   SILENT         1: receive-all shows no dialog (0).
 *   EXECUTE_TYPE   1, or 2 for any other value set (0 until set).
 *   APOP           1: the POP3 login uses APOP instead of USER/PASS (0).
 *   DELESEEN       0 or 1 (0): with DELE 1 and a seen-UIDL file,
 *                  zelRecvMailAll also deletes on the server every message
 *                  it skips as seen (stored by an earlier run whose
 *                  deletions never took effect, as after a cancel).
 *   MAXSIZE        bytes (0 = no limit; a negative value stores 0):
 *                  zelRecvMailAll leaves a message whose LIST size is larger
 *                  on the server, unrecorded, and logs its number and size.
 *   TIMEOUT        seconds each connect, receive or send may wait, each
 *                  address of a name tried in turn (300); 0 or a negative
 *                  value waits for ever and stores 0.
 *   TLS            0 plain, 1 TLS from the first byte (ports 995 and 465
 *                  unless a server name gives ":port"), 2 STLS / STARTTLS;
 *                  another value is refused (-1, nothing changes). The
 *                  certificate must be trusted and name the server.
 *   SMTPAUTH       0 none; 1 AUTH PLAIN (LOGIN when only that is offered)
 *                  with the account's user name and password; 2 AUTH
 *                  XOAUTH2 (OAUTHBEARER when only that is offered) with the
 *                  password taken as an OAuth 2.0 access token. Any other
 *                  non-zero value stores 1. Over a plain connection AUTH is
 *                  refused (-405) unless the server is a loopback address.
 *   POPAUTH        0 USER/PASS or APOP as APOP says (default); 1 AUTH PLAIN
 *                  (RFC 5034); 2 AUTH XOAUTH2 (OAUTHBEARER when CAPA offers
 *                  only that) with the password as the access token. Another
 *                  value is refused (-1). 1 and 2 follow SMTPAUTH's rule for
 *                  plain connections; a refused AUTH gives -404.
 *   ERRCLASS       read only: the kind of the last operation's failure, one
 *                  of ZELPOST_ERRCLASS_* below; 0 after a success.
 *   KEEPDISPLAY    0 or 1 (0): with MAILDIR, MBOX or MDA, zelRecvMailAll
 *                  also writes the display files, list file and mailbox.
 *   BIFFNEW        read only: after zelMailBiff with BIFFSEENFILE, the
 *                  messages whose UIDL the seen-UIDL file lacks (one
 *                  without a UIDL counts as new); -1 unknown.
 *   DECODE         1: received mail is decoded in any charset and transfer
 *                  encoding into display files (1); 0: display files as
 *                  the classic decoder wrote them (ISO-2022-JP only).
 *   PROTOCOL       0 POP3 (default); 1 IMAP4rev1: zelRecvMailAll and
 *                  zelMailBiff use the IMAP folder IMAPFOLDER of the POP3
 *                  server name's host (ports 143, and 993 with TLS 1,
 *                  unless ":port" is given); another value is refused (-1).
 *                  POPAUTH picks LOGIN (0), AUTHENTICATE PLAIN (1) or
 *                  XOAUTH2/OAUTHBEARER (2). Over IMAP the seen-UIDL key of
 *                  a message is "UIDVALIDITY.UID" (its Message-Id is kept
 *                  too: a folder renumbered by the server is not fetched
 *                  again; one seen-UIDL file per folder); messages are fetched without setting \Seen and
 *                  marked only at the end of the run: \Seen, or with DELE
 *                  \Deleted and expunged (UID EXPUNGE, or EXPUNGE when no
 *                  other message is marked) once the run's files are on
 *                  stable storage. Messages marked \Deleted are skipped;
 *                  MAXSIZE is the server's RFC822.SIZE. zelMailBiff gives
 *                  the folder's message count.
 *   SYNC           1 (default): before zelRecvMailAll records a message as
 *                  fetched (the seen-UIDL file replaced, IMAP \Seen or
 *                  \Deleted set, the POP3 QUIT after DELE), every file it
 *                  wrote for it (display file, list file, mailbox, Maildir
 *                  file, mbox) and every folder that gained an entry are on
 *                  stable storage, flushed together once per batch; the
 *                  seen-UIDL file's new version is flushed before it
 *                  replaces the old one. 0: nothing is flushed (for mail
 *                  kept on a throw-away disk): a power cut or system crash
 *                  soon after a run may then lose messages the seen-UIDL
 *                  file or the server already counts as fetched, or leave
 *                  their files empty. A run with a seen-UIDL file records
 *                  every 200 messages (or 16 MB), so a run killed midway
 *                  fetches at most that many again; with a mailbox, or
 *                  without a seen-UIDL file, it records once, at its end.
 *                  MDA deliveries are the command's to keep.
 *   BIFFIDLE       seconds (0): with PROTOCOL 1, zelMailBiff first waits up
 *                  to this long in IDLE for a new message when there is
 *                  nothing new (BIFFNEW 0, or an empty folder without
 *                  BIFFSEENFILE), and returns -1 when the connection ends
 *                  meanwhile. Set to 0 from another thread, it ends a wait
 *                  under way.
 *
 * Text options (zelSetValueStr returns the stored length, 0: nothing
 * changed; zelGetValueStr: size 0 returns 0, size > 0 bounds the copy, NUL
 * included, size < 0 needs a 260-byte buffer and cuts a longer value to
 * it; returns the length written):
 *   LOGDIR     folder of the diagnostic log zelpost.log.
 *   TLSCAFILE  PEM file of certificates trusted besides the system's store
 *              ("" for none); a path of 260 bytes or more is refused.
 *   ERRDETAIL  read only: why the last operation failed, in plain words
 *              (Shift-JIS): the server's reply line, or the system's reason
 *              (no such host, connection refused, time-out after N s, the
 *              TLS library's reason, a file and its system error). Empty
 *              after a success. The error number and text stay as they are.
 *   MAILDIR    zelRecvMailAll delivers each message into this Maildir
 *              (tmp/, new/ and cur/ made when missing, mode 0700): a file
 *              made in tmp/ under a unique name (mode 0600); the run's
 *              batch is flushed to disk and then moved into new/. The
 *              Maildir and its tmp/, new/, cur/ must be folders of the
 *              user, not links (else -1105 "Maildirのフォルダがリンクか他の
 *              ユーザのもの [folder]"); files of tmp/ older than 36 hours
 *              are removed.
 *   MBOX       ...or appends it to this mbox file (mboxrd: "From " lines
 *              quoted with ">", an envelope "From " line, an empty line
 *              after it), under an fcntl lock and a dot-lock "FILE.lock"
 *              holding "<pid> <host>" (a lock of this host whose process
 *              is gone is taken over at once, another after five
 *              minutes). A new mbox gets mode 0600; a link or another
 *              user's file is refused (-1105 "mboxがリンクか他のユーザの
 *              ファイル [file]").
 *   MDA        ...or hands it to this command (through /bin/sh -c, or the
 *              command interpreter) on its standard input; exit status 0
 *              counts as delivered.
 *              One of the three at a time: setting one replaces another,
 *              "" ends it; a value of ZELPOST_DELIVERY_TARGET_SIZE bytes
 *              or more is refused. The message goes as the server sent it,
 *              lines ending LF; a failed delivery fails the run like a
 *              display file that cannot be written (-1105), and with DELE
 *              a message is deleted only once delivered (on disk before
 *              QUIT). Without KEEPDISPLAY no display file, list file or
 *              mailbox is written.
 *   BIFFSEENFILE  seen-UIDL file zelMailBiff counts new messages against
 *              ("" none).
 *   IMAPFOLDER  the IMAP folder of PROTOCOL 1 (default "INBOX"), Shift-JIS:
 *              sent in modified UTF-7 ("日本語" as "&ZeVnLIqe-"); a name
 *              without a Unicode form, "" or one of 260 bytes or more is
 *              refused.
 *   CHARSET    the charset of built messages: "ISO-2022-JP" (default):
 *              ISO-2022-JP when every character is ASCII or JIS X 0208
 *              (half-width katakana widened), else the whole message in
 *              UTF-8 (NEC row 13, the IBM extensions, the user-defined
 *              area); "UTF-8": always UTF-8; "ISO-2022-JP-EXT": the classic
 *              builder's bytes (NEC row 13 in ISO-2022-JP, encoded words
 *              glued to ASCII, words in the quoted filename). With the
 *              first two every encoded word stands whole between blanks and
 *              a file name that is not ASCII goes as filename*= (RFC 2231,
 *              UTF-8) with the encoded word in Content-Type's name=.
 *   SENDFILEFORMAT  "QML" (default): zelSendMailOne builds the message of a
 *              send file; "RFC5322": the file is a finished message, sent
 *              as it is but for CR LF line ends, dot-stuffing and its Bcc
 *              fields, which are left out; the sender is the account's
 *              mail address. Error -1102 when it has no recipient.
 *   RECIPIENTS  envelope recipients of an RFC5322 send ("a@x, b@y"); ""
 *              (default) takes those of its To, Cc and Bcc fields.
 *
 * A receive-all records what it stored only once it is on stable storage
 * (see SYNC); a flush that fails ends the run with -1105 and records
 * nothing more (no QUIT, no marks). zelRecvMailAll fails with -1 and error -1104 when
 * another run holds its list or seen-UIDL file, or when either path names
 * a link, a FIFO or another user's file.
 *
 * A server name (zelInitialize) may be "host", "host:port", "1.2.3.4:port",
 * "[2001:db8::1]:port" or a bare IPv6 address; a name's IPv4 and IPv6
 * addresses are tried in the resolver's order. */
ZELPOST_API int ZELPOST_CALL zelSetValueInt(const char* name, int value);
ZELPOST_API int ZELPOST_CALL zelGetValueInt(const char* name);
ZELPOST_API int ZELPOST_CALL zelSetValueStr(const char* name, const char* value);
ZELPOST_API int ZELPOST_CALL zelGetValueStr(const char* name, char* buffer, int size);

/* MAILDIR, MBOX and MDA take values shorter than this (bytes, NUL included). */
#define ZELPOST_DELIVERY_TARGET_SIZE 1024

/* Values of the ERRCLASS option. */
#define ZELPOST_ERRCLASS_NONE 0      /* no failure */
#define ZELPOST_ERRCLASS_NOHOST 1    /* the server's name does not resolve */
#define ZELPOST_ERRCLASS_REFUSED 2   /* no connection: refused or unreachable */
#define ZELPOST_ERRCLASS_TIMEOUT 3   /* the server did not answer within TIMEOUT */
#define ZELPOST_ERRCLASS_TLS 4       /* no trusted encrypted connection */
#define ZELPOST_ERRCLASS_AUTH 5      /* login or authentication refused */
#define ZELPOST_ERRCLASS_TEMPORARY 6 /* the server or the resolver failed for now */
#define ZELPOST_ERRCLASS_SERVER 7    /* a command refused, the protocol broken, hung up */
#define ZELPOST_ERRCLASS_LOCAL 8     /* a local file or resource */
#define ZELPOST_ERRCLASS_SETTING 9   /* a missing or unusable setting */

/* Error state of the last operation: number (0 = none) and text. GetErrorStr
 * with size > 0 writes at most size bytes including the NUL; with size <= 0
 * the buffer must hold 256 bytes. Returns the length written. */
ZELPOST_API int ZELPOST_CALL zelGetErrorInt(void);
ZELPOST_API int ZELPOST_CALL zelGetErrorStr(char* buffer, int size);

/* Attachment dialog for a stored message. */
ZELPOST_API int ZELPOST_CALL zelDialogAttach(const char* filename);

/* Kept for old hosts; they do nothing: 0, -1 and 1. */
ZELPOST_API int ZELPOST_CALL zelGetAttach(int unused);
ZELPOST_API int ZELPOST_CALL zelGetAttachList(int unused1, int unused2);
ZELPOST_API int ZELPOST_CALL zelPoplist(int unused1, int unused2, int unused3);

/* Password scrambling for settings files. zelPencode writes 3n+4 bytes and
 * returns 1; zelPdecode returns 0 for an input shorter than 3 characters. */
ZELPOST_API int ZELPOST_CALL zelPencode(const char* plain, char* buffer);
ZELPOST_API int ZELPOST_CALL zelPdecode(const char* scrambled, char* buffer);

/* Mailbox index (no session). */
ZELPOST_API int ZELPOST_CALL zelMakeIndexMBX(const char* mailboxPath);
ZELPOST_API int ZELPOST_CALL zelMakeIndexWML(const char* folderPath);
ZELPOST_API int ZELPOST_CALL zelPrintIndex(void* listWindow, const char* indexPath,
                                           const char* keyName, int insertAt, int subjectWidth,
                                           int fromWidth, int dateWidth);

#ifdef __cplusplus
}
#endif

#endif /* ZELPOST_H */
