#include "check/needed_libraries.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace kelmar::check {
namespace {

namespace fs = std::filesystem;

// Where a library was found, as the report says it.
constexpr const char* kByPathInName = "the path it names";
constexpr const char* kByBackendRpath = "the backend's DT_RPATH";
constexpr const char* kByLibraryPathVariable = "LD_LIBRARY_PATH";
constexpr const char* kByBackendRunpath = "the backend's DT_RUNPATH";
constexpr const char* kBySystem = "the system's library directories";
constexpr const char* kAlreadyLoaded = "already loaded in this process";

std::string Directory(const std::string& path) { return fs::path(path).parent_path().string(); }

std::string Absolute(const std::string& path, const std::string& working_dir) {
  const fs::path absolute = !path.empty() && path[0] == '/' ? fs::path(path) : fs::path(working_dir) / path;
  return absolute.lexically_normal().string();
}

std::vector<std::string> LibraryPathVariable() {
  const char* value = std::getenv("LD_LIBRARY_PATH");
  return value != nullptr ? SplitSearchPath(value) : std::vector<std::string>{};
}

// How a search along some directories ended: at an object the dynamic
// loader takes, at a file that makes it give up, or with nothing found.
struct SearchEnd {
  enum class Kind { kNothing, kFound, kRefused } kind = Kind::kNothing;
  std::string path;
  std::string reason;  // for kRefused
};

SearchEnd SearchIn(const std::vector<std::string>& directories, const std::string& origin_dir,
                   const std::string& name, const std::string& working_dir) {
  for (const std::string& entry : directories) {
    const std::string path = Absolute(ExpandSearchEntry(entry, origin_dir) + "/" + name, working_dir);
    const Candidate candidate = ExamineCandidate(path);
    if (candidate.verdict == Candidate::Verdict::kTaken) return {SearchEnd::Kind::kFound, path, {}};
    if (candidate.verdict == Candidate::Verdict::kRefused) return {SearchEnd::Kind::kRefused, path, candidate.reason};
  }
  return {};
}

// Where the object this process has loaded under `name` came from, if any;
// nothing is loaded to find out.
std::optional<std::string> LoadedPath(const std::string& name) {
  void* handle = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) {
    dlerror();
    return std::nullopt;
  }
  link_map* map = nullptr;
  std::optional<std::string> path;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) path = map->l_name;
  dlclose(handle);
  return path;
}

// What the dynamic loader answered in the child for one name.
struct LoaderAnswer {
  bool found = false;
  std::string text;  // the path, or dlerror
};

// Runs in the child: one line per name, "F<path>" or "E<dlerror>".
[[noreturn]] void AnswerInChild(int out, const std::vector<std::string>& names, const std::string& working_dir) {
  std::string answers;
  const bool moved = chdir(working_dir.c_str()) == 0;
  for (const std::string& name : names) {
    std::string line;
    if (!moved) {
      line = "Ecannot change to " + working_dir + ": " + std::strerror(errno);
    } else if (void* handle = dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL)) {
      link_map* map = nullptr;
      dlinfo(handle, RTLD_DI_LINKMAP, &map);
      line = std::string("F") + (map != nullptr ? map->l_name : "");
    } else {
      const char* reason = dlerror();
      line = std::string("E") + (reason != nullptr ? reason : "not found");
    }
    for (char& c : line) {
      if (c == '\n') c = ' ';
    }
    answers += line + '\n';
  }
  for (std::size_t done = 0; done < answers.size();) {
    const ssize_t n = write(out, answers.data() + done, answers.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  _exit(0);
}

// Asks the dynamic loader where each name resolves with `working_dir` as the
// working directory. This program carries no search path of its own, so the
// answer comes from LD_LIBRARY_PATH and the system's directories. A child
// process does the loading, so no library's initialiser runs in this one.
std::vector<LoaderAnswer> AskTheDynamicLoader(const std::vector<std::string>& names, const std::string& working_dir) {
  std::vector<LoaderAnswer> answers(names.size());
  if (names.empty()) return answers;
  const auto fail_all = [&](const std::string& reason) {
    for (LoaderAnswer& answer : answers) answer.text = reason;
    return answers;
  };
  int channel[2];
  if (pipe2(channel, O_CLOEXEC) != 0) return fail_all(std::string("cannot look it up: pipe: ") + std::strerror(errno));
  const pid_t child = fork();
  if (child < 0) {
    close(channel[0]);
    close(channel[1]);
    return fail_all(std::string("cannot look it up: fork: ") + std::strerror(errno));
  }
  if (child == 0) {
    close(channel[0]);
    AnswerInChild(channel[1], names, working_dir);
  }
  close(channel[1]);
  std::string text;
  char chunk[4096];
  for (ssize_t n; (n = read(channel[0], chunk, sizeof chunk)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  close(channel[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }

  std::size_t index = 0;
  for (std::size_t begin = 0; index < answers.size() && begin < text.size(); ++index) {
    const std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) break;
    const std::string_view line(text.data() + begin, end - begin);
    begin = end + 1;
    LoaderAnswer& answer = answers[index];
    answer.text = std::string(line.substr(1));
    answer.found = line[0] == 'F';
  }
  // A library whose initialiser ended the child leaves the rest unanswered.
  for (; index < answers.size(); ++index) {
    answers[index].text = WIFSIGNALED(status)
                              ? "the look-up ended early: signal " + std::to_string(WTERMSIG(status))
                              : "the look-up ended early";
  }
  return answers;
}

// dlerror's text without the name it starts with, and a hint when the
// library sits in the working directory, where no search path leads.
std::string WhyNotFound(const std::string& name, std::string reason, const std::string& working_dir) {
  const std::string named = name + ": ";
  if (reason.rfind(named, 0) == 0) reason.erase(0, named.size());
  if (ExamineCandidate(working_dir + "/" + name).verdict == Candidate::Verdict::kTaken) {
    reason += " (it is in " + working_dir +
              ", but no search path leads there: the backend's own DT_RPATH or DT_RUNPATH should name that "
              "directory, e.g. as $ORIGIN)";
  }
  return reason;
}

}  // namespace

std::string ExpandSearchEntry(const std::string& entry, const std::string& origin_dir) {
  if (entry.empty()) return ".";
  std::string expanded = entry;
  for (const std::string_view token : {"${ORIGIN}", "$ORIGIN"}) {
    for (std::size_t at; (at = expanded.find(token)) != std::string::npos;) {
      expanded.replace(at, token.size(), origin_dir);
    }
  }
  return expanded;
}

std::vector<std::string> SplitSearchPath(const std::string& search_path) {
  std::vector<std::string> entries;
  if (search_path.empty()) return entries;
  std::size_t begin = 0;
  for (std::size_t colon; (colon = search_path.find(':', begin)) != std::string::npos; begin = colon + 1) {
    entries.push_back(search_path.substr(begin, colon - begin));
  }
  entries.push_back(search_path.substr(begin));
  return entries;
}

std::vector<NeededLibrary> ResolveNeededLibraries(const std::string& backend_path, const ElfDynamic& backend,
                                                  const std::string& working_dir) {
  const std::string backend_dir = Directory(backend_path);
  struct SearchStep {
    std::vector<std::string> directories;
    const char* found_by;
  };
  // A DT_RUNPATH of the backend's own turns its DT_RPATH off.
  const SearchStep steps[] = {
      {!backend.runpath && backend.rpath ? SplitSearchPath(*backend.rpath) : std::vector<std::string>{},
       kByBackendRpath},
      {LibraryPathVariable(), kByLibraryPathVariable},
      {backend.runpath ? SplitSearchPath(*backend.runpath) : std::vector<std::string>{}, kByBackendRunpath},
  };

  std::vector<NeededLibrary> libraries;
  std::vector<std::string> left_to_the_loader;
  std::vector<std::size_t> left_at;
  for (const std::string& name : backend.needed) {
    NeededLibrary& library = libraries.emplace_back();
    library.name = name;
    if (name.find('/') != std::string::npos) {
      const std::string path = Absolute(name, working_dir);
      const Candidate candidate = ExamineCandidate(path);
      if (candidate.verdict == Candidate::Verdict::kTaken) {
        library.path = path;
        library.detail = kByPathInName;
      } else {
        const std::string why = candidate.reason.empty() ? "not an object for this platform" : candidate.reason;
        library.detail = path + ": " + why;
      }
      continue;
    }
    // The dynamic loader takes a library of that name that is loaded already
    // before it searches anywhere.
    if (std::optional<std::string> loaded = LoadedPath(name)) {
      library.path = std::move(loaded);
      library.detail = kAlreadyLoaded;
      continue;
    }
    SearchEnd end;
    for (const SearchStep& step : steps) {
      end = SearchIn(step.directories, backend_dir, name, working_dir);
      if (end.kind == SearchEnd::Kind::kFound) {
        library.path = end.path;
        library.detail = step.found_by;
      }
      if (end.kind != SearchEnd::Kind::kNothing) break;
    }
    if (end.kind == SearchEnd::Kind::kRefused) {
      // The dynamic loader gives up here rather than look further.
      library.detail = end.path + ": " + end.reason;
      continue;
    }
    if (!library.path) {
      left_to_the_loader.push_back(name);
      left_at.push_back(libraries.size() - 1);
    }
  }

  const std::vector<LoaderAnswer> answers = AskTheDynamicLoader(left_to_the_loader, working_dir);
  for (std::size_t i = 0; i < answers.size(); ++i) {
    NeededLibrary& library = libraries[left_at[i]];
    const LoaderAnswer& answer = answers[i];
    if (!answer.found) {
      library.detail = WhyNotFound(library.name, answer.text, working_dir);
      continue;
    }
    library.path = Absolute(answer.text, working_dir);
    library.detail = kBySystem;
  }
  return libraries;
}

}  // namespace kelmar::check
