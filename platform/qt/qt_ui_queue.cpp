#include "platform/qt/qt_ui_queue.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace orgkat {

std::shared_ptr<UiCallQueue> MakeQtUiQueue() {
  // The wake must not keep the queue alive (it is stored inside it), so it reaches it through a
  // weak reference filled in once the queue exists, before any other thread can see it.
  auto self = std::make_shared<std::weak_ptr<UiCallQueue>>();
  auto queue = std::make_shared<UiCallQueue>([self] {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(
        app,
        [weak = *self] {
          if (auto served = weak.lock()) served->ServePending();
        },
        Qt::QueuedConnection);
  });
  *self = queue;
  queue->BindToCurrentThread();
  return queue;
}

}  // namespace orgkat
