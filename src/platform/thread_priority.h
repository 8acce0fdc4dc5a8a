#pragma once

namespace quorix::platform {

// Asks for real-time scheduling for the calling thread (the capture thread, so that frames keep
// flowing while the machine is busy). A system that refuses gets a raised ordinary priority if
// it allows that, else the thread carries on at normal priority; either is logged ("Engine").
// True when real-time scheduling was granted.
bool RaiseThreadPriority();

// Gives the calling thread a smaller share of a busy machine (nice 10 above the process's), for
// work that may fall behind without harm (drawing the preview window), so that it never takes
// the processors from the frames. Logged when refused.
void LowerThreadPriority();

}  // namespace quorix::platform
