#include "runtime/child_wait.h"

#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cstring>
#include <iostream>
#include <utility>

#include "runtime/ipc_signal.h"

namespace {

// The write end as the signal handler sees it (-1 while inactive).
volatile sig_atomic_t wakeFd = -1;

}  // namespace

// --- ChildWait

ChildWait::~ChildWait() {
    handler_->~Handler();
    Detach();
}

void ChildWait::Attach(int pid) {
    pid_ = pid;
    Detach();
    ChildWaitService::instance().Attach(*this);
}

// Only the list it is in is touched, so a waiter may go after the service.
void ChildWait::Detach() {
    if (F_dual_list<ChildWait>* list = owner_list()) list->remove(this);
}

bool ChildWait::Activate() {
    return ChildWaitService::instance().Activate();
}

void ChildWait::Deactivate() {
    ChildWaitService::instance().Deactivate();
}

// --- ChildWaitService

ChildWaitService& ChildWaitService::instance() {
    static ChildWaitService* service = new ChildWaitService;  // lives until exit
    return *service;
}

// Without a watch of its own (no descriptor left) the wake-up pair could
// never wake the loop: it is closed as one that could not be made.
bool ChildWaitService::Activate() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        std::cerr << "ChildWaitService: initialize fails" << std::endl;
        return false;
    }
    Fd writeEnd(ends[0]), readEnd(ends[1]);
    event_.Bind("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, this);
    if (!event_.Schedule(readEnd, POLLIN)) {
        const int error = errno;
        std::cerr << "ChildWaitService: watch fail: " << std::strerror(error) << std::endl;
        return false;
    }
    wakeWrite_ = std::move(writeEnd);
    wakeFd = wakeWrite_.get();
    IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, SA_RESTART);
    // Children that ended before now are reaped in the first pass.
    SigChldHandlerWrapper(SIGCHLD, nullptr, nullptr);
    return true;
}

void ChildWaitService::Deactivate() {
    IPC::Signal::system(SIGCHLD);
    wakeFd = -1;
    event_.Release();
    event_.UnBind();
    wakeWrite_.close();
}

// Signal context: only a non-blocking send, and errno as it was. A full
// queue already holds a wake-up, so a lost byte loses no child.
void ChildWaitService::SigChldHandlerWrapper(int, siginfo_t*, void*) {
    int savedErrno = errno;
    int fd = wakeFd;
    if (fd >= 0) ::send(fd, "", 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    errno = savedErrno;
}

void ChildWaitService::OnChildEvent(int fd, short revents) {
    if (!(revents & POLLIN)) return;
    char wakeUps[64];
    while (::recv(fd, wakeUps, sizeof wakeUps, MSG_DONTWAIT) > 0) {
    }
    ReapAll();
}

void ChildWaitService::ReapAll() {
    int status = 0;
    int pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) Report(pid, status);
}

// The first waiter for the pid leaves the list, then hears of its child; it
// may delete itself (with its owner) in the call.
void ChildWaitService::Report(int pid, int status) {
    std::clog << "terminate child process, pid=" << pid << " status=" << status << std::endl;
    for (ChildWait* waiter = waiters_.head(); waiter; waiter = waiter->next_item()) {
        if (waiter->pid_ == pid) {
            waiters_.remove(waiter);
            waiter->handler_->Invoke(*waiter, status);
            return;
        }
    }
}
