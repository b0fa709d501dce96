#pragma once

#include <deque>
#include <memory>
#include <mutex>

namespace orgkat {

class TScrapingThread;

// One phase's ordered list of workers. Guarded by the run's ListsLock.
using TWorkerList = std::deque<std::shared_ptr<TScrapingThread>>;

}  // namespace orgkat
