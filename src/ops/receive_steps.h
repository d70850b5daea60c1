// Steps every receive-all run takes, whichever protocol fetched the
// message: the run's file locks, and a retrieved message turned into its
// display file and list line.
#pragma once

#include <string>

namespace zel {

class DisplayNameBlock;
class FileLock;
class InetMail;
class RawMessage;
class RecordFile;
class SeenSet;
struct ReceiveFiles;

// LockRunFile - takes the run's lock on the list or seen-UIDL file `path`
// (`name` in the error text). Returns false, with the error state set
// (-1104), when another run holds it or the path names no file of ours.
bool LockRunFile(InetMail& s, FileLock& lock, const char* path, const char* name);

// LockRunFiles - takes the run's locks: on the list file `listPath` when
// the run writes one (`listed`), and on the seen-UIDL file `seenPath` when
// one is named (its path then in files.seenPath). False, with the error
// state set as LockRunFile sets it, when either cannot be taken.
bool LockRunFiles(InetMail& s, ReceiveFiles& files, const char* listPath, bool listed, const char* seenPath);

// StoreRetrieved - stores the retrieved message `raw` (lines ending CR LF,
// a leading "." doubled, as the POP3 client writes them): delivered into
// the session's Maildir, mbox or command first, when one is set; then,
// unless delivered elsewhere alone, decoded into the next display file of
// `folder` from `names` (reserving for `wanted` messages; its name into
// `display`, else "") with its line committed to `list`; s.messageInfo
// holds its Date, From and Subject. What it wrote joins the run's batch
// (files.batch), counted as one message. Returns false, with the error
// state set (-1102 to -1105, -1201, or the delivery's), when a step
// failed; no display file is then left behind and the message stays in a
// temporary file of its own.
bool StoreRetrieved(InetMail& s, RawMessage& raw, DisplayNameBlock& names, int wanted, RecordFile& list,
                    const char* folder, ReceiveFiles& files, std::string& display);

// LoadSeen - the run's seen set from its seen-UIDL file (files.seenPath),
// loaded on first use. nullptr for a run without one.
SeenSet* LoadSeen(InetMail& s, ReceiveFiles& files);

// CommitReceived - records what the run stored since it last did: the
// batch's files put on stable storage (option SYNC; not for a POP3 run
// without seen file or DELE, which records nothing), then the seen-UIDL
// file's new version, flushed with them, put in its place. In the middle
// of the run (`last` false) the file holds every key; at its end the keys
// the run met (all of them after an early stop). A seen file that cannot
// be written is logged and the run goes on. Returns false, with error
// -1105, when the flush failed: nothing of the batch is recorded, and
// the run ends without QUIT or marks (files.flushFailed).
bool CommitReceived(InetMail& s, ReceiveFiles& files, bool last);

// CloseRunList - closes the run's list file after its message loop (each
// line was committed on its own): removed again when the run stored
// nothing (`unused`). Nothing for a run without a list file (`listed`
// false).
void CloseRunList(RecordFile& list, const char* listPath, bool listed, bool unused);

}  // namespace zel
