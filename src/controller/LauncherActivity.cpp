#include "controller/LauncherActivity.h"

#include "platform/ThreadContract.h"

LauncherActivity::LauncherActivity() : self_(this) {}

bool LauncherActivity::tryEnter(Kind kind) {
    FERROWICK_MAIN_THREAD();
    if (busy()) return false;
    current_ = kind;
    ++generation_;
    return true;
}

void LauncherActivity::leave(Kind kind) {
    FERROWICK_MAIN_THREAD();
    if (current_ == kind) current_ = Kind::session;
}

std::function<void()> LauncherActivity::deferredLeave(Kind kind) const {
    return [self = self_.handle(), kind] { self.post([kind](LauncherActivity& activity) { activity.leave(kind); }); };
}

std::string LauncherActivity::ignoredLine(Kind running) {
    switch (running) {
    case Kind::settingUp:
        return "Setup already in progress, request ignored";
    case Kind::installingSteam:
        return "Steam installation already in progress, request ignored";
    case Kind::repairing:
        return "Repair already in progress, request ignored";
    case Kind::session:
        break;
    }
    return {};
}
