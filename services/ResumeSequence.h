#pragma once

namespace tv2 {

class CTarvelle2App;
class MessageWindow;

// What the program does after the machine woke up: the performance counters
// lost their programming while it slept. The graphs shown are saved into a
// profile (UM_SAVE_PROFILE, no stream), no configuration is current any
// more, the configuration that was current is selected again (UM_SELECT_CONFIG,
// which programs the counters anew and empties the slots) and the profile
// brings the graphs back (UM_APPLY_PROFILE), gaps between them closed.
// User-interface thread; the frame relays the messages to its panes.
void RunResumeSequence(CTarvelle2App& app, MessageWindow& frame);

}  // namespace tv2
