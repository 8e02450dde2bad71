#include "runtime/daemon.h"

#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

#include "runtime/child_output.h"
#include "runtime/mux_time.h"
#include "runtime/sys_log.h"

namespace Daemon {

namespace {

const std::string::size_type kIdentLength = 79;

// What the server writes to the descriptors directly (the C library's
// fatal messages) reaches the logger too: on the connection of the moment,
// so again after every reconnection (a restarted logger, or one that
// started after the server). The programs it starts write to a pipe of
// their own (ChildOutput), as a connection they kept would end at the
// logger's restart and kill them at their next write.
void copy_to_standard_descriptors(int socket) {
    if (socket <= 0) return;
    ::dup2(socket, STDOUT_FILENO);
    ::dup2(socket, STDERR_FILENO);
}

}  // namespace

void Init(const Params& params) {
    static Sentry sentry(params);
}

Sentry::Sentry(const Params& params) : mode_(params.mode) {
    if (::daemon(params.keepDirectory, 0) != 0) {
        std::cerr << "daemon() fail!" << std::endl;
        std::exit(2);
    }
    if (mode_ == toSyslog)
        ToSyslog(params.name);
    else if (mode_ == toLogFiles)
        ToLogFiles(params.name);
}

Sentry::~Sentry() {
    if (mode_ != toLogFiles) return;  // the syslog buffers serve until the end
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    std::clog.rdbuf(nullptr);
    delete logFile_;
}

void Sentry::ToSyslog(const std::string& ident) {
    syslogManager.on_connect(&copy_to_standard_descriptors);
    syslogManager.openlog(ident.substr(0, kIdentLength).c_str(), LOG_NDELAY, 0);
    std::cout.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_NOTICE));
    std::cerr.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_ERR));
    std::clog.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_DEBUG));
    std::cin.tie(&std::cout);
    ChildOutput::instance().Open();
}

void Sentry::ToLogFiles(const std::string& directory) {
    logFile_ = new LogFileStreamBuf(directory);
    std::cout.rdbuf(logFile_);
    std::cerr.rdbuf(logFile_);
    std::clog.rdbuf(logFile_);
}

}  // namespace Daemon

// --- LogFileStreamBuf

namespace {

const std::streamsize kAreaSize = 16;

struct LocalTime {
    struct tm tm;
    long microseconds;
};

LocalTime now() {
    Mux::timeval tv;
    Mux::gettimeval(tv);
    time_t seconds = tv.tv_sec;
    LocalTime local;
    localtime_r(&seconds, &local.tm);
    local.microseconds = tv.tv_usec;
    return local;
}

// Date and hour: a file per hour of each day.
std::string file_stamp(const struct tm& local) {
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y_%m_%d-%H", &local);
    return stamp;
}

}  // namespace

LogFileStreamBuf::LogFileStreamBuf(const std::string& directory)
    : PutAreaStreamBuf(kAreaSize, 0), directory_(directory) {
    NewFile(file_stamp(now().tm));
}

LogFileStreamBuf::~LogFileStreamBuf() = default;

// Appends, so that a restart within the hour keeps what was written before.
void LogFileStreamBuf::NewFile(const std::string& stamp) {
    file_.close();
    stamp_ = stamp;
    fileName_ = directory_ + "/" + stamp + ".log";
    file_.open(fileName_, std::ios::out | std::ios::app | std::ios::binary);
}

// A line reaches here in pieces of the small put area; only its first piece
// gets the time prefix. All lines of one flush share one prefix.
int LogFileStreamBuf::sync() {
    if (pbase() == nullptr) return 0;
    char* text = pbase();
    char* end = pptr();
    if (midLine_) {
        char* lineEnd = find_line_end(text, end);
        if (lineEnd == nullptr) {
            write(text, end);
            empty_area();
            return 0;
        }
        write(text, lineEnd + 1);
        midLine_ = false;
        text = lineEnd + 1;
    }
    LocalTime local = now();
    std::string stamp = file_stamp(local.tm);
    if (stamp != stamp_) NewFile(stamp);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%02d:%02d:%05ld: ", local.tm.tm_min, local.tm.tm_sec,
                  local.microseconds);
    while (text < end) {
        write(prefix, prefix + std::strlen(prefix));
        char* lineEnd = find_line_end(text, end);
        if (lineEnd == nullptr) {
            write(text, end);
            midLine_ = true;
            break;
        }
        write(text, lineEnd + 1);
        text = lineEnd + 1;
    }
    empty_area();
    return 0;
}

void LogFileStreamBuf::write(const char* begin, const char* end) {
    if (file_.is_open()) file_.sputn(begin, end - begin);
}
