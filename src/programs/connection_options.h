// The options every program hands the library the same way: the protocol
// trace (--debug), the TLS pins (--tls-fingerprint, --tls-min-version), the
// SOCKS5 proxy (--proxy) and, for zelrecv, the screening of new mail
// (--filter, --kill-size); the command line first, else the account.
#pragma once

#include <string>

#include "programs/accounts_file.h"
#include "programs/long_options.h"
#include "zelpost.h"

namespace zel::sender {

// FillConnectionOptions - the options of `account` that the command line
// left open.
void FillConnectionOptions(const Account& account, LongOptions& options);

// SetConnectionOptions - hands the options to the library (every one, so
// no account's value stays for the next). Returns "" or the message of a
// value the library refused ("err: --proxy の値が正しくありません\n").
std::string SetConnectionOptions(decltype(&zelSetValueStr) setValueStr, decltype(&zelSetValueInt) setValueInt,
                                 const LongOptions& options);

// The hint after an untrusted certificate's failure: how to trust it.
extern const char kTrustHint[];

}  // namespace zel::sender
