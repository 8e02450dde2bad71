#pragma once
// What the monitoring checks sample: the state of one E1 framer, parsed from
// the text of its status file, and the running state of one network
// interface, smoothed over its last samples. Both are plain values; each
// update reports whether anything a reader sees has changed.

#include <deque>
#include <string>
#include <vector>

#include "messages/term.h"

class FramerDataHolder {
public:
    // The board has four E1 framers.
    static constexpr int maxFramers = 4;

    // The framer `index` (the row it is published as) whose state is
    // written to the file `path`.
    FramerDataHolder(int index, const std::string& path) : index(index), path(path) {}

    // Reads the markers of the status text (the bytes up to the first zero
    // byte); true when a field changed.
    bool setFramerStatus(std::vector<unsigned char>& data);

    bool connected = false;
    std::string statusText = "absent";
    bool signalLoss = true;
    bool frameAlignLoss = true;
    int negSlips = 0;
    int posSlips = 0;
    int index;
    std::string path;

private:
    void parseLine(const std::string& line, bool& changed);
};

class NetIfDataHolder {
public:
    static constexpr int maxSamples = 3;

    NetIfDataHolder(int index, const std::string& name) : index(index), name(name) {}

    // Samples whether the interface runs; true when `up` changed. False, and
    // nothing kept, when it could not be sampled.
    bool updateNetIf();
    // Adds one sample (1 running, 0 not): up while 2 of the last 3 run.
    bool setNetIfStatus(int running);

    int up = -1;  // -1 until the first sample
    int operStatus = 2;   // 1 up, 2 down
    int adminStatus = 2;  // always operStatus
    std::deque<int> samples;
    int index;
    std::string name;
};

// A slip count as the status file writes it: white space, a sign and
// decimal digits, anything after them ignored; 0 without digits, clamped to
// the range of int.
int ParseSlipCount(const std::string& text);

// The address text of a host, without its port.
std::string host2str(const TERM::HostAddress& host);
