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

/* Receives all new mail. listfile and maildir are required (else 0). */
ZELPOST_API int ZELPOST_CALL zelRecvMailAll(const char* listfile, const char* maildir,
                                            const char* dupfile, const char* mailbox);

/* Receives one message into the display file mailfile (required, else 0).
 * Returns 1 written, 0 no message or failure, -1 login/listing failed. */
ZELPOST_API int ZELPOST_CALL zelRecvMailDummy(const char* mailfile, const char* dummyfile);

/* Number of messages waiting on the POP3 server, or a negative code. */
ZELPOST_API int ZELPOST_CALL zelMailBiff(void);

/* Integer options HWND, DELE, POPBEFORESMTP, SILENT, EXECUTE_TYPE, APOP,
 * TIMEOUT, DELESEEN, MAXSIZE, DECODE (names without regard to case). Set
 * returns what was stored; unknown: 0. TIMEOUT: seconds each connect,
 * receive or send may wait (default 300; 0 or a negative value waits for
 * ever and stores 0). DELESEEN (0 or 1, default 0): with DELE 1 and a
 * seen-UIDL file, zelRecvMailAll also deletes on the server every message it
 * skips as seen (stored by an earlier run whose deletions never took effect,
 * as after a cancel). MAXSIZE (bytes, default 0 = no limit; a negative value
 * stores 0): zelRecvMailAll leaves a message whose LIST size is larger on
 * the server, unrecorded, and logs its number and size. With DELE 1 the
 * files a receive-all wrote are flushed to stable storage before its QUIT.
 * zelRecvMailAll fails with -1 and error -1104 when another run holds its
 * list or seen-UIDL file, or when either path names a link, a FIFO or
 * another user's file. DECODE: 1 (default) decodes received mail in any
 * charset and transfer encoding; 0 writes display files as the classic
 * decoder did. */
ZELPOST_API int ZELPOST_CALL zelSetValueInt(const char* name, int value);
ZELPOST_API int ZELPOST_CALL zelGetValueInt(const char* name);

/* Text option LOGDIR. Set returns the stored length (0: nothing changed).
 * Get: size 0 returns 0; size > 0 bounds the copy (NUL included); size < 0
 * needs a 260-byte buffer. Returns the length written. */
ZELPOST_API int ZELPOST_CALL zelSetValueStr(const char* name, const char* value);
ZELPOST_API int ZELPOST_CALL zelGetValueStr(const char* name, char* buffer, int size);

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
