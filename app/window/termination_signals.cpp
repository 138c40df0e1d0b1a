#include "app/window/termination_signals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/log.h"

namespace orvan::app {

namespace {

constexpr const char *kLogCategory = "app";

// The write end the handler uses; -1 while no watcher exists.
std::atomic<int> g_signalFd{-1};

extern "C" void OnTerminationSignal(int signal) {
  const int saved = errno;
  const int fd = g_signalFd.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a request; nothing is lost by dropping this.
    [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

TTerminationSignals::TTerminationSignals(std::function<void(int)> onSignal, QObject *parent)
    : QObject(parent), m_onSignal(std::move(onSignal)) {
  if (g_signalFd.load() >= 0) {
    ORVAN_LOG_WARN(kLogCategory, "termination signals are already watched");
    return;
  }
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_fds) != 0) {
    ORVAN_LOG_WARN(kLogCategory, "no socket pair for termination signals (errno %d)", errno);
    m_fds[0] = m_fds[1] = -1;
    return;
  }
  m_notifier = new QSocketNotifier(m_fds[1], QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, [this] { Drain(); });
  g_signalFd.store(m_fds[0]);

  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  m_termInstalled = sigaction(SIGTERM, &action, &m_previousTerm) == 0;
  m_intInstalled = sigaction(SIGINT, &action, &m_previousInt) == 0;
  if (!Installed())
    ORVAN_LOG_WARN(kLogCategory, "cannot handle SIGTERM and SIGINT (errno %d)", errno);
}

TTerminationSignals::~TTerminationSignals() {
  if (m_termInstalled) sigaction(SIGTERM, &m_previousTerm, nullptr);
  if (m_intInstalled) sigaction(SIGINT, &m_previousInt, nullptr);
  if (m_fds[0] >= 0) {
    g_signalFd.store(-1);
    delete m_notifier;
    close(m_fds[0]);
    close(m_fds[1]);
  }
}

void TTerminationSignals::Drain() {
  unsigned char bytes[16];
  ssize_t n;
  int last = 0;
  while ((n = read(m_fds[1], bytes, sizeof bytes)) > 0) last = bytes[n - 1];
  // Several signals before the main thread looked are one request.
  if (last != 0 && m_onSignal) m_onSignal(last);
}

}  // namespace orvan::app
