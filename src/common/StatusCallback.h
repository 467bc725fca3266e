#pragma once

#include <functional>
#include <string>

// A line for the status label, called by a long prefix operation on its own
// thread; its owner moves the text to the main thread.
using StatusCallback = std::function<void(const std::string&)>;
