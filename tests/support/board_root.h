#pragma once
// A fresh simulated board for one test: its own BOARD_ROOT directory (with
// the board's usual folders) and a reset device board. The working
// directory, which the server may move into the board, is given back.

#include <string>

namespace test {

class BoardRoot {
public:
    BoardRoot();
    ~BoardRoot();
    BoardRoot(const BoardRoot&) = delete;
    BoardRoot& operator=(const BoardRoot&) = delete;

    const std::string& dir() const { return dir_; }
    // Writes `text` to the board path `boardPath` (folders made as needed).
    void write_file(const std::string& boardPath, const std::string& text) const;
    // Writes an executable (a script with its #! line) to the board path.
    void write_program(const std::string& boardPath, const std::string& text) const;
    std::string read_file(const std::string& boardPath) const;
    bool exists(const std::string& boardPath) const;

private:
    std::string dir_;
    std::string previous_;
    bool hadPrevious_ = false;
    std::string workingDirectory_;
};

}  // namespace test
