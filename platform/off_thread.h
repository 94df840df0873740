#pragma once

#include <functional>

class QObject;

// What a task that waited for the file system does next, on the thread that asked for it.
using Then = std::function<void()>;

// Runs work on a thread that may wait for the file system (a picture on a share that has gone
// away), then what work returns on the thread of context, through the event loop; nothing when
// context has gone by then. What work hands over crosses in its result, under our own lock, and
// the event that wakes context's thread carries nothing. Tasks run one at a time, in order.
void offThread(QObject* context, std::function<Then()> work);
