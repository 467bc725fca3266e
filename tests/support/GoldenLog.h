#pragma once

#include <string>

namespace testsupport {

class TestHome;

// A log made comparable across runs and machines: every launcher.log line must
// open with "[HH:mm:ss.SSS] [LEVEL] " (a line that does not is marked "BAD STAMP"),
// and the stamp is then masked; so are durations, this machine's system figures,
// the loopback port and the test's private root ("$ROOT").
std::string normaliseLog(const std::string& text, const std::string& root, bool stamped);

// The journey's launcher.log and setup-output.log, normalised, as one text.
std::string journeyLogs(const TestHome& home);

// Compares `actual` with tests/golden/<name> byte for byte and fails with a unified
// diff. FERROWICK_UPDATE_GOLDEN=1 rewrites the file instead (review it in the diff).
void expectGolden(const std::string& name, const std::string& actual);

}  // namespace testsupport
