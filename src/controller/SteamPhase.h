#pragma once

// Where the Steam session stands, as judged from Steam's processes.
enum class SteamPhase {
    ready,         // installed and not running, or its running not noticed yet
    launching,     // a launch is under way and Steam is not ready yet
    running,       // Steam is ready
    launchFailed,  // the launch hung and the automatic restarts are used up
};
