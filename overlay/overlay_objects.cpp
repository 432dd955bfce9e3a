#include "frame_rate.h"
#include "tick_timer.h"

// Defined together so their construction order is fixed: the display first,
// then the clock. Neither reads the other before the first frame.
StrokeFrameRateDisplay frameRateDisplay(nullptr, 1.0, 0.0, 1.0, 0.0, 24);
TickTimer tickTimer;
