#pragma once
// Daemon start-up: detach from the terminal and send std::cout, std::cerr and
// std::clog to syslog (each with its own severity) or to hourly log files.
// Log lines keep being written with the ordinary stream operators.

#include <fstream>
#include <string>

#include "runtime/put_area_stream_buf.h"

namespace Daemon {

enum Output { toSyslog = 0, toLogFiles = 1 };

struct Params {
    int mode = toSyslog;           // any other value leaves the streams alone
    bool keepDirectory = false;    // false: the working directory becomes "/"
    std::string name = "unknown";  // syslog identity, or the log directory
};

// Detaches and redirects the streams, once per process; later calls do
// nothing. A failing detach ends the process with status 2.
void Init(const Params& params);

// What Init sets up; lives until the process exits.
class Sentry {
public:
    explicit Sentry(const Params& params);
    ~Sentry();
    Sentry(const Sentry&) = delete;
    Sentry& operator=(const Sentry&) = delete;

private:
    void ToSyslog(const std::string& ident);
    void ToLogFiles(const std::string& directory);

    int mode_;
    std::streambuf* logFile_ = nullptr;
};

}  // namespace Daemon

// Writes lines to one file per hour in a directory, named after the date and
// hour ("2024_02_15-18.log"); each line begins with the minute, second and
// microseconds of the loop clock ("05:07:00123: "). A file of the same hour
// that exists already is appended to.
class LogFileStreamBuf : public PutAreaStreamBuf {
public:
    explicit LogFileStreamBuf(const std::string& directory);
    ~LogFileStreamBuf() override;

    const std::string& file_name() const { return fileName_; }

protected:
    int sync() override;

private:
    void NewFile(const std::string& stamp);
    void write(const char* begin, const char* end);

    std::filebuf file_;
    std::string directory_;
    std::string fileName_;
    std::string stamp_;  // date and hour of the open file
    bool midLine_ = false;
};
