#pragma once

#include <deque>
#include <memory>

namespace orgkat {

class TScrapingThread;

// One phase's ordered list of workers. Guarded by the run's ListsLock.
using TWorkerList = std::deque<std::shared_ptr<TScrapingThread>>;

// A phase's workers in flight and those that have handed over, in that order.
struct TPhaseLists {
  TWorkerList Running;
  TWorkerList Finished;
};

}  // namespace orgkat
