#include "service/unit_safety.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace pv {
namespace {

namespace fs = std::filesystem;

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// The first word of an ExecStart value, unquoted; the specifier escape "%%" undone.
std::string FirstWord(std::string_view value) {
  while (!value.empty() && std::strchr("@-:+!", value.front())) value.remove_prefix(1);
  std::string word;
  if (!value.empty() && (value.front() == '"' || value.front() == '\'')) {
    const char quote = value.front();
    for (std::size_t i = 1; i < value.size() && value[i] != quote; ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) ++i;
      word += value[i];
    }
  } else {
    word = std::string(value.substr(0, value.find_first_of(" \t")));
  }
  for (std::size_t at = word.find("%%"); at != std::string::npos; at = word.find("%%", at + 1))
    word.erase(at, 1);
  return word;
}

std::string Problem(const fs::path& path, const struct stat& info, uid_t trusted) {
  if (info.st_uid != 0 && info.st_uid != trusted)
    return path.string() + " belongs to uid " + std::to_string(info.st_uid) + ", not to root";
  if ((info.st_mode & S_IWOTH) != 0) return path.string() + " is writable by everyone";
  if ((info.st_mode & S_IWGRP) != 0 && info.st_gid != 0)
    return path.string() + " is writable by group " + std::to_string(info.st_gid);
  return {};
}

// The path, each directory above it, and the same for the real place of each of them.
std::set<fs::path> PlacesBehind(const fs::path& path, std::string& error) {
  std::set<fs::path> places;
  for (fs::path step = path;; step = step.parent_path()) {
    std::error_code failed;
    const fs::path real = fs::canonical(step, failed);
    if (failed) {
      error = step.string() + ": " + failed.message();
      return {};
    }
    for (fs::path up = real;; up = up.parent_path()) {
      places.insert(up);
      if (up == up.root_path()) break;
    }
    if (step == step.root_path()) break;
  }
  return places;
}

}  // namespace

std::string ExecStartProgram(std::string_view unitText) {
  std::string_view section;
  while (!unitText.empty()) {
    const std::size_t end = unitText.find('\n');
    const std::string_view line = Trim(unitText.substr(0, end));
    unitText.remove_prefix(end == std::string_view::npos ? unitText.size() : end + 1);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      section = line;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (section != "[Service]" || equals == std::string_view::npos ||
        Trim(line.substr(0, equals)) != "ExecStart")
      continue;
    const std::string program = FirstWord(Trim(line.substr(equals + 1)));
    if (!program.empty()) return program;
  }
  return {};
}

std::string PathSafetyProblem(const std::string& path, uid_t trusted) {
  const fs::path absolute = fs::path(path).lexically_normal();
  if (!absolute.is_absolute()) return path + " is not an absolute path";
  std::string error;
  const std::set<fs::path> places = PlacesBehind(absolute, error);
  if (!error.empty()) return error;
  for (const fs::path& place : places) {
    struct stat info {};
    if (::stat(place.c_str(), &info) != 0)
      return place.string() + ": " + std::strerror(errno);
    std::string problem = Problem(place, info, trusted);
    if (!problem.empty()) return problem;
  }
  return {};
}

std::string UnitSafetyProblem(const std::string& unitFile, uid_t trusted) {
  std::string problem = PathSafetyProblem(unitFile, trusted);
  if (!problem.empty()) return problem;
  std::ifstream in(unitFile, std::ios::binary);
  if (!in) return unitFile + " cannot be read";
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::string program = ExecStartProgram(text);
  if (program.empty() || program.front() != '/')
    return unitFile + " names no absolute program in ExecStart=";
  return PathSafetyProblem(program, trusted);
}

}  // namespace pv
