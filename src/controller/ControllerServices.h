#pragma once

#include "controller/PrefixRepair.h"
#include "controller/SetupPipeline.h"
#include "controller/SteamSessionMonitor.h"

// Everything the controller's sequencers need from the launcher around them,
// in one interface: the Wine, runtime and process services with their blocking
// calls, the agreement state, and the screens. Each sequencer sees only its own
// part of it; the front end implements it once. Threading is that of the part
// a call belongs to: the pipeline's and the repair's calls block on their work
// item's thread, the session's on the main thread.
class ControllerServices : public SetupPipeline::Services,
                           public PrefixRepair::Services,
                           public SteamSessionMonitor::Host {};
