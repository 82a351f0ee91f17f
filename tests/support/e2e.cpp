#include "support/e2e.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstring>

#include "kel/base/stream.h"
#include "kel/base/text.h"
#include "setup/package/package.h"

namespace orvi::test {

std::string DemoSetupPath() { return std::string(ORVI_BINARY_DIR) + "/demo/Setup"; }

std::string BuiltProgram(const std::string& relativePath) { return std::string(ORVI_BINARY_DIR) + "/" + relativePath; }

int RunSetup(const Sandbox& sandbox, const std::vector<std::string>& args, std::string* output,
             const RunOptions& options) {
  return RunInSandbox(sandbox, DemoSetupPath(), args, output, options);
}

RunningProgram::RunningProgram(const Sandbox& sandbox, const std::string& program,
                               const std::vector<std::string>& args, const RunOptions& options)
    : timeoutSeconds_(options.timeoutSeconds) {
  int outPipe[2], inPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return;
  if (pipe2(inPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return;
  }
  std::vector<std::string> storage = {program};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& item : storage) argv.push_back(item.data());
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    dup2(options.input.empty() ? open("/dev/null", O_RDONLY) : inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(outPipe[1], 2);
    setenv("ORVI_SETUP_SANDBOX", sandbox.Root().c_str(), 1);
    for (const std::string& entry : options.environment) {
      const size_t equals = entry.find('=');
      const std::string name = entry.substr(0, equals);
      if (equals == std::string::npos || equals + 1 == entry.size())
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), entry.c_str() + equals + 1, 1);
    }
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) _exit(127);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(inPipe[0]);
  if (pid_ > 0 && !options.input.empty()) {
    const ssize_t written = write(inPipe[1], options.input.data(), options.input.size());
    (void)written;
  }
  close(inPipe[1]);
  if (pid_ > 0)
    outFd_ = outPipe[0];
  else
    close(outPipe[0]);
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (outFd_ >= 0) close(outFd_);
}

bool RunningProgram::ReadSome(int timeoutMilliseconds) {
  if (outFd_ < 0) return false;
  pollfd entry{outFd_, POLLIN, 0};
  if (poll(&entry, 1, timeoutMilliseconds) <= 0) return true;
  char buffer[4096];
  const ssize_t n = read(outFd_, buffer, sizeof buffer);
  if (n <= 0) {  // every writer is gone
    close(outFd_);
    outFd_ = -1;
    return false;
  }
  output_.append(buffer, static_cast<size_t>(n));
  return true;
}

bool RunningProgram::WaitForOutput(const std::string& text, int timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    const size_t found = output_.find(text, searchFrom_);
    if (found != std::string::npos) {
      searchFrom_ = found + text.size();
      return true;
    }
    if (std::chrono::steady_clock::now() > deadline || !ReadSome(200)) return false;
  }
}

int RunningProgram::Finish() {
  if (pid_ <= 0) return status_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds_);
  while (ReadSome(200)) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid_, SIGKILL);
      output_ += "\n[test: timed out]\n";
      break;
    }
  }
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  return status_;
}

int RunInSandbox(const Sandbox& sandbox, const std::string& program, const std::vector<std::string>& args,
                 std::string* output, const RunOptions& options) {
  RunningProgram running(sandbox, program, args, options);
  const int status = running.Finish();
  if (output) *output = running.Output();
  return status;
}

std::vector<std::string> TreeOf(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file() || entry.is_symlink()) files.push_back(fs::relative(entry.path(), folder).string());
  std::sort(files.begin(), files.end());
  return files;
}

void WriteUninstallData(const std::string& path, const std::vector<std::string>& entries) {
  std::string log = "[Uninstall]\r\nCount=" + std::to_string(entries.size()) + "\r\n";
  for (size_t i = 0; i < entries.size(); ++i) log += std::to_string(i) + "=" + entries[i] + "\r\n";
  kel::TKELMemoryStream stream(log);
  setup::TSetupPackageBuilder builder{std::string(setup::kSetupPackageKey)};
  builder.Add(stream, "Uninstall.ini");
  builder.Commit(path, 4);
}

std::string IniValue(const std::string& text, const std::string& section, const std::string& key) {
  bool inSection = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    if (line.front() == '[') {
      inSection = kel::kelSameText(line, "[" + section + "]");
    } else if (inSection && line.size() > key.size() && line[key.size()] == '=' &&
               kel::kelSameText(line.substr(0, key.size()), key)) {
      return line.substr(key.size() + 1);
    }
  }
  return {};
}

std::string ReadTextFile(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::string text;
    kel::TKELEncoding::UTF16LE().Decode(std::string_view(bytes).substr(2), text);
    return text;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) return bytes.substr(3);
  return bytes;
}

}  // namespace orvi::test
