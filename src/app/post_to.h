#pragma once

#include <QMetaObject>
#include <QObject>

#include <functional>
#include <utility>

namespace a5merge {

// Runs a function later on the thread of `context`, or never once `context`
// is gone: how background work hands its result to the Qt window.
inline std::function<void(std::function<void()>)> PostTo(QObject* context) {
    return [context](std::function<void()> work) {
        QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
    };
}

}  // namespace a5merge
