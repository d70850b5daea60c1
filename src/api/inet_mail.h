// InetMail: the mail session object behind every export.
//
// A session is its own POP3 connection (InetPop3) and owns the SMTP client,
// the account, the option values, the error state and the working state of a
// receive-all. Sessions enter themselves in the process-wide session list
// when created and leave it when destroyed (see session_list.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "codec/message_builder.h"
#include "codec/message_decoder.h"
#include "net/inet_imap.h"
#include "net/inet_pop3.h"
#include "net/inet_smtp.h"
#include "platform/sjis_text.h"
#include "window/thread.h"
#include "zelpost.h"

namespace zel {

class TextFile;

class FileLock;
class FlushBatch;
class SeenSet;
struct ReceiveFiles;

inline constexpr int kPop3Port = 110;  // fixed ports of a new session
inline constexpr int kSmtpPort = 25;
inline constexpr int kPop3TlsPort = 995;  // ports of implicit TLS (option TLS 1)
inline constexpr int kSmtpTlsPort = 465;
inline constexpr int kInitializeMissing = -1000;
// Option PROTOCOL: how receive-all and the new-mail check reach the maildrop.
inline constexpr int kProtocolPop3 = 0;
inline constexpr int kProtocolImap = 1;  // error number of Initialize

// Where receive-all delivers each message (options MAILDIR, MBOX, MDA):
// the display files alone (the classic way), or a Maildir, an mbox file or
// a delivery agent's standard input, with the display files beside it
// only with KEEPDISPLAY.
enum class DeliveryKind { kDisplay, kMaildir, kMbox, kMda };
// A delivery target (a folder, a file or a command) and its NUL at most.
inline constexpr std::size_t kDeliveryTargetSize = ZELPOST_DELIVERY_TARGET_SIZE;
// The RECIPIENTS option's text at most: a long list of addresses.
inline constexpr std::size_t kRecipientsSize = 64 * 1024;

class InetMail : public InetPop3 {
 public:
  // Creates a session: ports, option defaults, socket start-up (a failure
  // is logged only), cleared error state, entry in the session list.
  InetMail();
  // Socket clean-up (a failure is logged), removal from the session list.
  ~InetMail();

  // Account set-up. Every argument but fullname must be present and not
  // empty, and a server name shorter than kHostNameSize, else error -1000
  // with its text, no setting changes, result 0. Other over-long arguments
  // are cut to their field at a character boundary (a log entry names the
  // field); the password's field holds an access token (kSecretSize).
  // Returns 1 when accepted.
  int Initialize(const char* pop3name, const char* smtpname, const char* username,
                 const char* password, const char* mailaddr, const char* fullname);

  // Sends the send file `mailfile` (attachments: `attachfile`, TAB or LF
  // separated), or writes the message to `dummyfile` when given.
  // Returns 1 sent/written, 0 failed (error state tells why).
  int SendMail(const char* mailfile, const char* attachfile, const char* dummyfile);

  // Receives one message into the display file `mailfile` (from `dummyfile`
  // instead of the server when given). Returns 1 written, 0 no message or a
  // failed step, -1 login or listing failed.
  int RecvMailDummy(const char* mailfile, const char* dummyfile);

  // Receives every new message on a worker thread while this thread shows
  // a progress dialog (unless SILENT) and pumps its messages; see
  // recv_mail_all.cpp. Returns the count stored (appended, with a mailbox),
  // 0 nothing to fetch or set-up failed, -1 the work failed, -2 cancelled.
  int RecvMailAll(const char* listfile, const char* maildir, const char* dupfile,
                  const char* mailbox);

  // The parts of receive-all (receive_all.cpp, mailbox_append.cpp). The
  // run's locks, seen set and written files live in `files`
  // (ops/receive_files.h) from ReceiveAll to EndReceive, which records the
  // last batch (its files flushed first) and sends QUIT.
  int ReceiveAll(const char* listPath, const char* folder, const char* seenPath,
                 ReceiveFiles& files);
  int WriteReadingCopy(const char* displayPath);
  int ConvertList(const char* listPath, FileLock* lock = nullptr);
  int AppendToMailbox(const char* listPath, const char* mailboxPath);
  int MailboxStep(FileLock* listLock);
  void EndReceive(ReceiveFiles& files);
  // The same steps over IMAP (receive_all_imap.cpp).
  int ReceiveAllImap(const char* listPath, const char* folder, const char* seenPath,
                     ReceiveFiles& files);
  void EndReceiveImap(ReceiveFiles& files);
  int MailBiffImap();
  // Logs in to the IMAP server and selects IMAPFOLDER (EXAMINE when
  // `readOnly`). Returns the message count; -1 when the login failed
  // (error state as for POP3), -203 when the folder cannot be selected.
  int OpenImapFolder(bool readOnly);
  // Tells the control window the STAT count (sent and waited for).
  void ReportTotal(int total);
  // The worker thread's body and the control window's messages, reached
  // through the session list's routing (session_list.h).
  void RecvAllWorkerBody();
  std::intptr_t ControlWindowMessage(WindowHandle window, unsigned message,
                                     std::uintptr_t wParam, std::intptr_t lParam);
  // Cancels the running receive-all from the caller's thread: disables and
  // closes the POP3 channel, result -2, destroys the control window.
  void CancelReceiveAll();
  // True (after a log entry naming `operation`) while a receive-all of this
  // session runs: an operation called from inside its message loop must not
  // share the POP3 channel with the worker.
  bool RefuseWhileReceiving(const char* operation);

  // Number of messages waiting on the server, or a negative code. With
  // BIFFSEENFILE it also counts those the seen-UIDL file lacks (BIFFNEW).
  int MailBiff();
  void CountNew();  // BIFFNEW from the listing and BIFFSEENFILE

  // Delivery of receive-all (mail_delivery.cpp). SetDelivery stores the
  // option of `kind` (an empty target ends that delivery) and returns the
  // target's length, 0 when it is empty or too long (kept as it was).
  int SetDelivery(DeliveryKind kind, const char* target);
  bool DeliversElsewhere() const;
  // True when receive-all writes display files and the list file: no
  // other delivery, or KEEPDISPLAY.
  bool WritesDisplayFiles() const;
  int DeliverRetrieved(LineSource& raw, FlushBatch& batch);

  // Sends the finished message `path` (SENDFILEFORMAT "RFC5322",
  // send_message.cpp), or writes it to `dummyfile`; as SendMail.
  int SendFinishedMessage(const char* path, const char* dummyfile);
  // Names and opens the temporary file a message is composed in
  // (`tempPath`, kPathSize bytes); false with -1101 set when that fails.
  bool OpenSendTemp(char (&tempPath)[kPathSize], TextFile& temp);
  // The SMTP part of both (or the move to `dummyfile`): send_mail.cpp.
  int SendPrepared(const char* tempPath, const std::string& recipients, const char* dummyfile);

  // The attachment dialog for a display file (ui/attachment_dialog.h):
  // 0 closed by the user, -1 file not opened, -2 a single part.
  int DialogAttach(const char* filename);

  // Ends every running operation of the session for good, from another
  // thread, before the session is destroyed: both channels are retired (a
  // waiting network step fails at once, later ones fail without waiting).
  void CancelOperations();

  // Error state. SetError formats into errorText (printf conventions),
  // cut to 255 bytes at a character boundary. When no reason was noted for
  // the failure (TakeFailure), the error text becomes the reason, with the
  // system's reason after it for a failed local file.
  void SetError(int number, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  // Clears the error state, the reason and the system's error number.
  void ClearError();
  // Takes why `channel`'s last step failed as the reason of the failed
  // operation (ERRDETAIL, ERRCLASS), when the channel noted one.
  void TakeFailure(const InetSocket& channel);
  int GetErrorInt() const { return errorNumber; }
  // Copies errorText into `buffer`. size > 0: at most size bytes including
  // the NUL, cut at a character boundary; size <= 0: the whole text (the
  // buffer must then hold kErrorTextSize bytes). Returns the length written;
  // 0 without a buffer.
  int GetErrorStr(char* buffer, int size) const;

  // Option values by name (case-insensitive); see options.cpp for results.
  int SetValueInt(const char* name, int value);
  int GetValueInt(const char* name) const;
  int SetValueStr(const char* name, const char* value);
  int GetValueStr(const char* name, char* buffer, int size) const;

  // Password scrambling: digits that differ on each call. Pencode writes
  // 3n+4 bytes and returns 1. Pdecode returns 0 for an input shorter than
  // 3 characters (buffer untouched), else 1 with (L-3)/3 bytes and a NUL.
  static int Pencode(const char* plain, char* buffer);
  static int Pdecode(const char* scrambled, char* buffer);

  // "zelpost.dll ver.%d.%d.%d" into `buffer`: size <= 0 the whole text (at
  // most kVersionTextSize bytes), size > 0 at most size bytes including the
  // NUL, cut at a character boundary. Returns major << 16 | minor always.
  static int Version(char* buffer, int size);

  InetSmtp smtp;
  InetImap imap{*this};  // the IMAP client, on this session's channel
  MessageInfo messageInfo;  // Date, From, Subject of the last decoded message
  SeenSet* seenSet = nullptr;
  ThreadHandle workerThread = 0;
  WindowHandle controlWindow = 0;
  WindowHandle progressDialog = 0;
  int pop3Port = kPop3Port;
  int smtpPort = kSmtpPort;
  char pop3Server[kHostNameSize] = {};
  char smtpServer[kHostNameSize] = {};
  char userName[kAccountSize] = {};
  char password[kSecretSize] = {};
  char mailAddress[kAccountSize] = {};
  char displayName[kAccountSize] = {};
  char domain[kAccountSize] = {};
  char hostName[kHostNameSize] = {};
  char listFilePath[kPathSize] = {};
  char mailFolderPath[kPathSize] = {};
  char seenFilePath[kPathSize] = {};
  char mailboxFilePath[kPathSize] = {};
  char boundary[kBoundarySize] = {};
  char* attachmentList = nullptr;  // owned; freed before a send returns
  int recvAllResult = 0;
  bool recvAllEnded = false;       // end reported or cancelled (caller's thread)
  bool receiveAllRunning = false;  // inside RecvMailAll (caller's thread)
  int errorNumber = 0;
  char errorText[kErrorTextSize] = {};
  FailureNote errorDetail;  // options ERRDETAIL and ERRCLASS: why the last operation failed
  int deleteOnServer = 0;
  WindowHandle hostWindow = 0;
  int silent = 0;
  int executeType = 0;
  char logDir[kPathSize] = {};
  int popBeforeSmtp = 1;
  int useApop = 0;
  int timeoutSeconds = kDefaultTimeoutSeconds;  // option TIMEOUT; 0 waits for ever
  int tlsMode = kTlsOff;  // option TLS: kTlsOff, kTlsImplicit or kTlsStartTls
  int smtpAuth = 0;       // option SMTPAUTH: 0 none, 1 AUTH with the password, 2 with a token
  int popAuth = kPopAuthClassic;  // option POPAUTH: kPopAuthClassic, kPopAuthPlain, kPopAuthToken
  int deleteSeen = 0;     // option DELESEEN: with DELE, seen messages are deleted too
  int maxMessageSize = 0;  // option MAXSIZE: bytes (LIST size) above which a message stays; 0 none
  char tlsCaFile[kPathSize] = {};  // option TLSCAFILE: extra trusted certificates
  int protocol = kProtocolPop3;    // option PROTOCOL: kProtocolPop3 or kProtocolImap
  char imapFolder[kPathSize] = "INBOX";  // option IMAPFOLDER: the mailbox, host text
  MessageCharset messageCharset = MessageCharset::kIso2022Jp;     // option CHARSET
  DeliveryKind deliveryKind = DeliveryKind::kDisplay;  // options MAILDIR, MBOX, MDA
  std::string deliveryTarget;  // their value: the folder, file or command
  int keepDisplay = 0;         // option KEEPDISPLAY: display files beside the delivery
  int syncFiles = 1;           // option SYNC: what a run stored flushed before it is recorded
  char biffSeenFile[kPathSize] = {};  // option BIFFSEENFILE: the check also counts new ones
  int biffNew = -1;            // option BIFFNEW: new messages at the last check; -1 unknown
  // Option BIFFIDLE: seconds an IMAP new-mail check waits (IDLE) for a new
  // message; 0 none. Set to 0 by another thread, it ends a wait under way.
  std::atomic<int> biffIdle{0};
  bool sendFinished = false;   // option SENDFILEFORMAT "RFC5322": the send file is a finished message
  std::string recipients;      // option RECIPIENTS: its envelope recipients; empty: To, Cc, Bcc
  SendFileCharset sendFileCharset = SendFileCharset::kShiftJis;  // option SENDFILECHARSET
  int decodeAnyCharset = 1;  // option DECODE: 1 any charset, 0 the classic decoder
  // Options of the connection and of screening new mail (tool_options.cpp).
  char tlsFingerprint[kTlsFingerprintDigits + 1] = {};  // TLSFINGERPRINT: SHA-256, lower-case hex
  int tlsMinVersion = 12;     // TLSMINVERSION "1.2" or "1.3"
  std::string proxy;          // PROXY "[user:password@]host:port" (SOCKS5); empty none
  int debugTrace = 0;         // DEBUG: the protocol trace on standard error
  std::string filterCommand;  // FILTER: command given each new message's header first
  int killSize = 0;           // KILLSIZE: bytes above which a message is deleted unread; 0 none

  // The options above by name: true when `name` is one of them, with the
  // option's result in `*result` (as zelSetValueStr / zelSetValueInt give it).
  bool SetToolOption(const char* name, const char* value, int* result);
  bool SetToolOption(const char* name, int value, int* result);
  bool GetToolOption(const char* name, int* value) const;
  const char* ToolOptionText(const char* name) const;  // nullptr: not one of them

  // How received mail is decoded (option DECODE).
  DecodeMode Decoding() const { return decodeAnyCharset != 0 ? DecodeMode::kAnyCharset : DecodeMode::kClassic; }

  // The ports of the connections to come: the fixed ones, or 995 and 465
  // with implicit TLS.
  int Pop3PortInUse() const { return tlsMode == kTlsImplicit ? kPop3TlsPort : pop3Port; }
  // The port of the maildrop's server: POP3's, or 143 and 993 for IMAP.
  int ReceivePortInUse() const {
    if (protocol != kProtocolImap) return Pop3PortInUse();
    return tlsMode == kTlsImplicit ? kImapTlsPort : kImapPort;
  }
  int SmtpPortInUse() const { return tlsMode == kTlsImplicit ? kSmtpTlsPort : smtpPort; }

  // When `code` (a client result) is one of the encryption and
  // authentication failures (-400 to -405), sets that error number with its
  // text naming `server`, logs the text and returns true; returns false for
  // every other code. `pop3` picks the POP3 wording where it differs.
  bool ReportSecureFailure(int code, const char* server, bool pop3);

 private:
  void SetOptionDefaults();
  // Stores the TIMEOUT option (negative as 0) and hands it to both channels.
  void SetTimeoutOption(int seconds);
  // Hands TLS and TLSCAFILE to both channels.
  void ApplyTlsOptions();
  // Hands the options of tool_options.cpp to both channels / back to their defaults.
  void ApplyToolOptions();
  void ResetToolOptions();
  // Logs a value the text option `name` does not take; returns 0.
  static int RefuseValue(const char* name, const char* value);
  // Hands SMTPAUTH and POPAUTH to the clients.
  void ApplyAuthOptions();
};

// Longest version text: "zelpost.dll ver." and three five-digit numbers.
inline constexpr std::size_t kVersionTextSize = 34;

}  // namespace zel
