#pragma once

#include "controller/PrefixRepair.h"
#include "controller/SetupPipeline.h"

// The Wine, runtime and process services the setup and the repair run, with
// their blocking calls, in one interface the launcher implements once. Each
// sequencer sees only its own part; tests substitute that part. The calls
// block on their work item's thread.
class ControllerServices : public SetupPipeline::Services, public PrefixRepair::Services {};
