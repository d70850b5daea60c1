// ZelpostCom: the automation object. Each object owns a mail session of its
// own (InetMail), separate from the flat exports' session and from every
// other object, and forwards each member of IZelpostCom2 (the classic
// IZelpostCom and the options after it) to it, converting BSTR arguments to
// host text and results back.
#pragma once

#include "automation/com_abi.h"

namespace zel::com {

// Creates an object and hands out its interface `iid` in *object (one
// reference). `outer` aggregates it: then `iid` must be IUnknown and the
// object's own (non-delegating) IUnknown is handed out. Returns kOk,
// kNoAggregation, kNoInterface, kOutOfMemory or kPointer; *object is
// nullptr on failure. Every live object holds a module lock.
HResult CreateZelpostCom(Unknown* outer, const Guid* iid, void** object);

}  // namespace zel::com
