// The sandbox's path mapping. Portable: it reads the environment and asks
// filesystem.h for the current folder.
#include "kel/platform/sandbox.h"

#include <cstdlib>
#include <mutex>
#include <vector>

#include "kel/platform/filesystem.h"

namespace kel::platform {

namespace {

std::string RawSandbox() {
  const char* value = std::getenv(kSandboxVariable);
  return value ? value : "";
}

}  // namespace

bool IsSandboxed() { return !RawSandbox().empty(); }

std::string SandboxRoot() {
  const std::string raw = RawSandbox();
  if (raw.empty()) return {};
  // The absolute form is fixed when a value is first seen.
  static std::mutex mutex;
  static std::string lastRaw, lastRoot;
  std::lock_guard lock(mutex);
  if (raw != lastRaw) {
    std::string root = NormalizePath(raw[0] == '/' ? raw : AbsolutePath(raw));
    while (!root.empty() && root.back() == '/') root.pop_back();
    lastRaw = raw;
    lastRoot = root;
  }
  return lastRoot;
}

std::string SystemPath(std::string_view path) {
  if (!IsSandboxed()) return std::string(path);
  std::string normalized = NormalizePath("/" + std::string(path));
  return SandboxRoot() + normalized;
}

std::string MachinePath(std::string_view path) {
  if (!IsSandboxed() || path.empty() || path.front() != '/') return std::string(path);
  const std::string root = SandboxRoot();
  const std::string normalized = NormalizePath(path);
  if (root.empty() || normalized == root || normalized.starts_with(root + "/")) return std::string(path);
  return SystemPath(path);
}

std::string PathOnMachine(std::string_view path) {
  const std::string normalized = NormalizePath(path);
  const std::string root = SandboxRoot();
  if (root.empty() || normalized.empty() || normalized.front() != '/') return normalized;
  if (normalized == root || normalized == root + "/") return "/";
  return normalized.starts_with(root + "/") ? normalized.substr(root.size()) : normalized;
}

std::string NormalizePath(std::string_view path) {
  if (path.empty()) return {};
  const bool absolute = path.front() == '/';
  const bool trailing = path.back() == '/';
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == ".") {
      // nothing
    } else if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);
      }
    } else {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) result += '/';
    result += parts[i];
  }
  if (trailing && !result.empty() && result.back() != '/') result += '/';
  if (result.empty()) result = trailing ? "./" : ".";
  return result;
}

}  // namespace kel::platform
