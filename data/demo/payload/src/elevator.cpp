// Elevator, as the demo product ships it: the player's integration helper.
// The real helper registers file types, the context menu and the player as a
// default application according to its /REG=... switches; this one records
// them. Every run appends one line, its arguments joined by single blanks, to
// Elevator.log in its own folder (the installation folder), so that a test can
// read which integration the setup asked for. Exit code 0 when the line was
// written, 1 when it could not be.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        std::fprintf(stderr, "Elevator: cannot find its own folder: %s\n", error.message().c_str());
        return 1;
    }
    const std::filesystem::path logName = self.parent_path() / "Elevator.log";

    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    line += '\n';

    // One appending write of the whole line, so that concurrent runs do not
    // interleave their lines.
    const int file = ::open(logName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (file < 0) {
        std::fprintf(stderr, "Elevator: cannot open %s: %s\n", logName.c_str(), std::strerror(errno));
        return 1;
    }
    const ssize_t written = ::write(file, line.data(), line.size());
    const int writeError = errno;
    const bool closed = ::close(file) == 0;
    if (written != static_cast<ssize_t>(line.size()) || !closed) {
        std::fprintf(stderr, "Elevator: cannot write %s: %s\n", logName.c_str(),
                     written < 0 ? std::strerror(writeError) : "incomplete write");
        return 1;
    }
    return 0;
}
