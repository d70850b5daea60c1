// The machine's clock and zone, over the platform layer, for the codec
// classes the operations create.
#pragma once

#include "codec/clock.h"

namespace zel {

// The one clock of the process: CalendarTime, LocalTime and the local
// zone's offset of platform/clock.h. Lives as long as the process.
const Clock& systemClock();

}  // namespace zel
