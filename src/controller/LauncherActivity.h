#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/WeakSelf.h"

// What the launcher is doing now. Setup (with the runtime download), the
// Steam installer's run and watch, and repair each write into the prefix, so
// at most one of them runs at a time, and none runs beside the Steam session's
// own screens: while one is under way the status poll probes nothing and the
// session shows nothing.
//
// Threading: main thread only. A sequencer enters its activity on the main
// thread before it hands its work to a background item, and leaves it on the
// main thread after its last screen has been posted, so no other screen can
// slip in between.
class LauncherActivity {
public:
    enum class Kind {
        session,          // idle, or in the Steam session
        settingUp,        // the setup pipeline, the runtime download included
        installingSteam,  // the dropped installer's run and watch
        repairing,
    };

    // Starts `kind` when nothing else runs; false leaves the current activity
    // alone, and the caller logs ignoredLine(current()) at INFO.
    [[nodiscard]] bool tryEnter(Kind kind);
    // Back to the session; a no-op unless `kind` is what runs.
    void leave(Kind kind);
    // A callable for a work item: called on any thread, it posts leave(kind)
    // to the main queue, behind every screen posted so far. Safe to call after
    // this object is gone (the leave is then dropped).
    [[nodiscard]] std::function<void()> deferredLeave(Kind kind) const;

    [[nodiscard]] Kind current() const { return current_; }
    [[nodiscard]] bool busy() const { return current_ != Kind::session; }
    // Raised at every entry, so a probe begun before an activity can tell
    // that one ran while it was out.
    [[nodiscard]] uint64_t generation() const { return generation_; }

    // The INFO line for a request refused while `running` is under way.
    [[nodiscard]] static std::string ignoredLine(Kind running);

    LauncherActivity();
    LauncherActivity(const LauncherActivity&) = delete;
    LauncherActivity& operator=(const LauncherActivity&) = delete;

private:
    Kind current_ = Kind::session;
    uint64_t generation_ = 0;
    platform::WeakSelf<LauncherActivity> self_;  // posted leaves hold it weakly
};
