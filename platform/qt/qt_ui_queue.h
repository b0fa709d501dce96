#pragma once

#include <memory>

#include "platform/ui_queue.h"

namespace orgkat {

// The UI-thread call queue of the window: bound to the calling (GUI) thread, its wake posts a
// queued call to the Qt event loop, which serves the waiting calls in queue order. Needs a
// QCoreApplication.
std::shared_ptr<UiCallQueue> MakeQtUiQueue();

}  // namespace orgkat
