#pragma once

#include <string>

class QWidget;

namespace uitest {

// A plain-text account of what the window shows, one line per control in
// stacking order, with frames in bottom-left-origin window points: whether it
// is shown, its frame, font, colours and text, and the state of the spinner,
// bar, check box and drop zone. Pixel checks (the drop zone's border and the
// centring of its text, the check box's outline) are measured on a rendering.
std::string screenDump(QWidget& window);

// Compares `dump` with tests/golden/screens/<name>.txt; on a difference the
// failure shows a unified diff. FERROWICK_UPDATE_GOLDEN=1 rewrites the file
// instead, for review in the commit's diff.
void expectGoldenScreen(const std::string& name, const std::string& dump);

}  // namespace uitest
