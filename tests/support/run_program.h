// Starts a program of this build tree as a child process with a chosen argument
// vector, environment and standard input, and collects what it printed and how it
// ended.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct RunOptions {
  std::vector<std::string> args{};    // arguments after argv[0]
  std::vector<std::string> env{};     // the whole environment, NAME=value
  std::string input{};                // bytes on standard input, then end of input
  bool stdout_on_terminal = false;    // standard output on a pseudo-terminal
  bool stdout_closed = false;         // standard output a pipe whose reader has gone
  std::string argv0{};                // invocation name; the program's path when empty
  std::string cwd{};                  // working directory; unchanged when empty
  std::vector<std::string> prefix{};  // commands put before the program (setpriv ...)
  std::string preload{};              // a library preloaded into the program (LD_PRELOAD)
  int timeout_seconds = 60;
};

struct RunResult {
  int exit_code = -1;  // the exit status, or -1 when killed by a signal
  int signal = 0;      // the signal that ended it, or 0
  bool timed_out = false;
  std::string out;  // standard output (from the terminal when asked)
  std::string err;  // standard error
};

RunResult runProgram(const std::string& path, const RunOptions& options);

// A fresh, empty directory under the build tree's scratch folder.
std::string makeTempDir(const std::string& name);
// Removes a directory tree made by makeTempDir, clearing attributes that would
// keep its files from being deleted.
void removeTree(const std::string& path);

bool readFile(const std::string& path, std::string* content);
bool writeFile(const std::string& path, const std::string& content, unsigned mode = 0644);
bool fileExists(const std::string& path);

}  // namespace testsupport
