// The status files under "/var/monitoring/": their folders, their contents
// and how they are written and removed.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

#include "board/paths.h"
#include "monitoring/monitoring_data_holder.h"
#include "runtime/fd.h"
#include "runtime/trace_ctl.h"

namespace {

const char kMonitoringDir[] = "/var/monitoring/";
const char kControllerDir[] = "/var/monitoring/controller/";
// Readable by every program on the board; only the server writes.
constexpr mode_t kFolderMode = 0755;

bool write_whole(const std::string& path, const std::string& text) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd) return false;
    for (size_t done = 0; done < text.size();) {
        ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return fd.close() == 0;
}

bool is_folder(const std::string& hostPath) {
    struct stat st;
    return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A folder itself, not a link to one.
bool is_own_folder(const std::string& hostPath) {
    struct stat st;
    return ::lstat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes the hidden file `writeName` of the target's folder, then renames it
// over the target; false, errno telling why, when either fails.
bool replace_file(const std::string& target, const std::string& text) {
    std::string hidden = target.substr(0, target.rfind('/') + 1) + MonitoringDataHolder::writeName;
    if (write_whole(hidden, text) && ::rename(hidden.c_str(), target.c_str()) == 0) return true;
    int error = errno;
    ::unlink(hidden.c_str());
    errno = error;
    return false;
}

// Makes, silently, every missing folder from "/var/monitoring/" down to the
// one that holds the file at the board path `path`.
void make_folders_of(const std::string& path) {
    for (size_t end = std::strlen(kMonitoringDir) - 1; end != std::string::npos;
         end = path.find('/', end + 1)) {
        std::string folder = board::path(path.substr(0, end + 1));
        if (!is_folder(folder)) ::mkdir(folder.c_str(), kFolderMode);
    }
}

// Makes a folder whose parent exists; false (and a log line) when it fails.
bool make_folder(const std::string& hostPath) {
    if (::mkdir(hostPath.c_str(), kFolderMode) == 0) return true;
    std::clog << "FAIL create monitoring catalog <" << hostPath << "> with code=" << errno
              << std::endl;
    return false;
}

// Calls `take` with the name of every entry of the folder but "." and "..";
// false when the folder cannot be read.
template <class Take>
bool for_each_entry(const std::string& hostPath, Take take) {
    DIR* dir = ::opendir(hostPath.c_str());
    if (dir == nullptr) return false;
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") take(name);
    }
    ::closedir(dir);
    return true;
}

// The name of a board's status file: "board" and the decimal position. A
// set-command's section may begin with "board" too ("boardTable"): its
// folder and files are not the controller's boards.
bool is_board_file(const std::string& name) {
    if (name.compare(0, 5, "board") != 0) return false;
    const size_t digits = name.size() > 5 && name[5] == '-' ? 6 : 5;  // a position may be negative
    return name.size() > digits &&
           name.find_first_not_of("0123456789", digits) == std::string::npos;
}

// The same for a board path directly under "/var/monitoring/".
bool is_board_path(const std::string& path) {
    const size_t dirLength = std::strlen(kMonitoringDir);
    return path.compare(0, dirLength, kMonitoringDir) == 0 && is_board_file(path.substr(dirLength));
}

// The bytes up to the first zero byte, then a line end. An empty string
// from the controller may have no buffer at all.
void put_line(std::ostream& os, const std::vector<char>& bytes) {
    os << std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), '\0')) << '\n';
}

}  // namespace

// A file that cannot be written now, as on a full or read-only disk, is
// written at a later check, whether or not its value changes meanwhile.
void MonitoringDataHolder::SaveStatusToFile(const std::string& path, const Writer& writer) {
    unremoved_.erase(path);  // a board told again: its file stays
    std::ostringstream text;
    writer(text);
    if (replace_file(board::path(path), text.str())) {
        unwritten_.erase(path);
        if (earlierUnlisted_) writtenUnlisted_.insert(path);
        return;
    }
    std::clog << "FAIL create temporary file <" << board::path(path) << "> with code=" << errno
              << std::endl;
    unwritten_[path] = text.str();
}

// The own controller's folder made now gets its "self" link too, as when
// its status was first written.
void MonitoringDataHolder::SaveUnwrittenFiles() {
    if (earlierUnlisted_) ClearMonitorFiles();
    RemoveUnremovedFiles();
    const std::string ownStatus = ControllerStatusPath(ownAddress);
    for (auto file = unwritten_.begin(); file != unwritten_.end();) {
        make_folders_of(file->first);
        if (!replace_file(board::path(file->first), file->second)) {
            ++file;
            continue;
        }
        if (file->first == ownStatus) CheckForMonControllerDir(ownAddress);
        if (earlierUnlisted_) writtenUnlisted_.insert(file->first);
        file = unwritten_.erase(file);
    }
}

// An empty folder is removed once: this run may have made it since, or may
// write in it. No folder there has nothing to clear.
void MonitoringDataHolder::ClearMonitorFiles() {
    const std::string dir = board::path(kMonitoringDir);
    const bool read = for_each_entry(dir, [&](const std::string& name) {
        const std::string path = kMonitoringDir + name;
        if (is_own_folder(dir + name))
            std::remove((dir + name).c_str());
        else if (writtenUnlisted_.count(path) == 0)
            unremoved_.insert(path);
    });
    earlierUnlisted_ = !read && errno != ENOENT;
    if (!earlierUnlisted_) writtenUnlisted_.clear();
    RemoveUnremovedFiles();
}

// The rows go, and a file of theirs still to write, even when the folder
// cannot be read. A board file that cannot be removed now, as on a
// read-only disk, or in a folder that cannot be read (its rows name it), is
// removed at a later check, as a write that failed is made then.
void MonitoringDataHolder::ClearControllerFiles() {
    std::string dir = board::path(kMonitoringDir);
    std::set<std::string> names;
    const bool read = for_each_entry(dir, [&](const std::string& name) {
        if (is_board_file(name) && !is_folder(dir + name)) names.insert(name);
    });
    if (!read)
        for (const LGCP::BoardStatusParams& row : boards)
            names.insert("board" + std::to_string(row.get_position().getValue()));
    for (const std::string& name : names) {
        if (traces.monitoring) std::clog << "remove monitoring info: " << name << std::endl;
        unremoved_.insert(kMonitoringDir + name);
    }
    RemoveUnremovedFiles();
    boards.clear();
    for (auto file = unwritten_.begin(); file != unwritten_.end();) {
        if (is_board_path(file->first))
            file = unwritten_.erase(file);
        else
            ++file;
    }
}

void MonitoringDataHolder::RemoveUnremovedFiles() {
    for (auto path = unremoved_.begin(); path != unremoved_.end();) {
        if (std::remove(board::path(*path).c_str()) == 0 || errno == ENOENT)
            path = unremoved_.erase(path);
        else
            ++path;
    }
}

void MonitoringDataHolder::CheckForMonDir(const std::string& path) {
    std::string folder = board::path(path);
    if (!is_folder(folder)) make_folder(folder);
}

void MonitoringDataHolder::CheckForMonControllerDir(const INet4::Addr& address) {
    std::string controllers = board::path(kControllerDir);
    if (!is_folder(controllers) && !make_folder(controllers)) return;
    std::string folder = controllers + Dotted(address);
    if (!is_folder(folder)) make_folder(folder);
    if (!address.IsEqual(ownAddress)) return;

    // "self" names the own address's folder; one left by a run with another
    // address is replaced.
    std::string self = controllers + "self";
    char target[4096];
    ssize_t n = ::readlink(self.c_str(), target, sizeof target);
    if (n >= 0 && folder.compare(0, std::string::npos, target, static_cast<size_t>(n)) == 0) return;
    ::unlink(self.c_str());
    if (::symlink(folder.c_str(), self.c_str()) != 0)
        std::clog << "FAIL create symlink to monitoring catalog <" << folder
                  << "> with code=" << errno << std::endl;
}

std::string MonitoringDataHolder::ControllerStatusPath(const INet4::Addr& address) {
    return kControllerDir + Dotted(address) + "/status";
}

std::string MonitoringDataHolder::Dotted(const INet4::Addr& address) {
    std::string text = address.GetString();
    return text.substr(0, text.rfind(':'));
}

// ---- What each file holds

void MonitoringDataHolder::DipStatusSaver(std::ostream& os) const { os << dip; }

void MonitoringDataHolder::PowerStatusSaver(std::ostream& os) const {
    int value = powerStatus.getValue();
    os << (value >= LGCP::POWERStatus::standby && value <= LGCP::POWERStatus::both ? value : 0);
}

void MonitoringDataHolder::ConfigVersionSaver(std::ostream& os) const {
    char text[32];
    std::snprintf(text, sizeof text, "%08" PRIx32 "-%016" PRIx64, configVersion32, configVersion64);
    os << text;
}

void MonitoringDataHolder::BoardStatusSaver(std::ostream& os, const LGCP::BoardStatusParams& board) {
    os << board.get_status().getValue() << '\n';
    put_line(os, board.get_version());
    os << board.get_type().getValue() << '\n';
}

void MonitoringDataHolder::PhoneStatusSaver(std::ostream& os,
                                            const LGCP::EmPhoneStatusParams& phone) {
    put_line(os, phone.get_panelSV());
    put_line(os, phone.get_ctrlSV());
    put_line(os, phone.get_fpgaSV());
    for (int value : std::initializer_list<int>{
             phone.get_status().getValue(), phone.get_powerStatus().getValue(),
                      phone.get_mode().getValue(), phone.get_hookStatus().getValue(),
                      phone.get_baseStatus().getValue()})
        os << value << '\n';
}

void MonitoringDataHolder::TermCounterSaver(std::ostream& os, int cnt) { os << cnt; }

void MonitoringDataHolder::ControllerStatusSaver(std::ostream& os,
                                                 const HSP::ControllerStatus& status) {
    os << status.getValue();
}

void MonitoringDataHolder::StringParamSaver(std::ostream& os, const std::string& value) {
    os << value.c_str();
}
