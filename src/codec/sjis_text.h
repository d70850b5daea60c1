// Forwards to platform/sjis_text.h, where the fixed field sizes and the
// character-boundary cut live, for the net and api sources that still
// include it by this name.
#pragma once

#include "platform/sjis_text.h"
