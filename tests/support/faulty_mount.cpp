#include "tests/support/faulty_mount.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace orvan::test {

namespace {

std::string Program() {
#ifdef ORVAN_BIN_DIR
  return std::string(ORVAN_BIN_DIR) + "/tests/orvan-faultyfs";
#else
  return "orvan-faultyfs";
#endif
}

// Runs a program to its end (at most `seconds`), its output dropped.
int RunQuietly(const std::vector<std::string> &args, int seconds) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (pid < 0) return -1;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > limit) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string FaultyMount::Unavailable() {
  const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd < 0) return "/dev/fuse cannot be opened here (" + std::string(strerror(errno)) + ")";
  ::close(fd);
  if (::access(Program().c_str(), X_OK) != 0) return Program() + " was not built (no libfuse3)";
  if (RunQuietly({"fusermount3", "-V"}, 10) != 0) return "fusermount3 is not installed";
  return {};
}

FaultyMount::FaultyMount(const std::string &image, std::vector<std::pair<uint64_t, uint64_t>> eio,
                         const std::string &name, std::vector<std::string> also)
    : m_mount(m_dir.File("mnt")), m_control(m_dir.File("control")), m_name(name) {
  std::filesystem::create_directory(m_mount);
  std::filesystem::create_directory(m_control);
  std::vector<std::string> args = {Program(), image, m_mount, m_control, "--name", name};
  for (const std::string &file : also) {
    args.push_back("--also");
    args.push_back(file);
  }
  for (const auto &[from, to] : eio) {
    args.push_back("--eio");
    args.push_back(std::to_string(from) + "-" + std::to_string(to));
  }
  const std::string log = m_dir.File("fs.log");
  m_pid = fork();
  if (m_pid == 0) {
    // libfuse's own chatter goes to a log beside the mount.
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (m_pid < 0) {
    m_error = "cannot start " + Program();
    return;
  }
  struct stat want {};
  ::stat(image.c_str(), &want);
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < limit) {
    struct stat st {};
    if (::stat(Path().c_str(), &st) == 0 && st.st_size == want.st_size) {
      m_started = true;
      return;
    }
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      m_error = Program() + " ended before the mount came up";
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  m_error = "the mount did not come up within 20 s";
}

FaultyMount::~FaultyMount() {
  // Held and failing reads end first, so nothing inside waits on us.
  std::error_code ec;
  std::filesystem::remove(m_control + "/hold", ec);
  std::filesystem::remove(m_control + "/fail", ec);
  std::filesystem::remove(m_control + "/fail-after", ec);
  std::filesystem::remove(m_control + "/delay", ec);
  RunQuietly({"fusermount3", "-u", "-z", m_mount}, 20);
  if (m_pid > 0) {
    kill(m_pid, SIGTERM);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > limit) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
}

void FaultyMount::Control(const std::string &file, bool present, const std::string &text) {
  const std::string path = m_control + "/" + file;
  if (present) {
    // Written whole, then put in place: the file system never reads half.
    const std::string temporary = path + ".new";
    std::ofstream(temporary) << text;
    std::filesystem::rename(temporary, path);
  } else {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
}

void FaultyMount::Fail(bool on) { Control("fail", on); }
void FaultyMount::FailAfter(long long bytes) { Control("fail-after", true, std::to_string(bytes)); }
void FaultyMount::Delay(int ms) { Control("delay", ms > 0, std::to_string(ms)); }
void FaultyMount::Hold(bool on) { Control("hold", on); }

bool FaultyMount::Holding() const {
  struct stat st {};
  return ::stat((m_control + "/holding").c_str(), &st) == 0;
}

}  // namespace orvan::test
