#include "runtime/listen_watch.h"

void ListenWatch::Watch(Fd listener) {
    listener_ = std::move(listener);
    rest_.reset();
    Resume();
}

void ListenWatch::Rest() {
    event_.Release();
    rest_.set(kListenRestMs, &ListenWatch::Resume, this);
}

void ListenWatch::Close() {
    rest_.reset();
    event_.Release();
    listener_.close();
}

void ListenWatch::Resume() {
    if (!event_.Schedule(listener_, POLLIN)) Rest();
}
