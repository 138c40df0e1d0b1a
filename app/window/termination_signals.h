// SIGTERM and SIGINT as requests to the main thread. The handler only
// writes the signal's number into one end of a socket pair (a call that is
// safe in a handler); a QSocketNotifier on the other end runs the callback
// on the main thread, where closing windows and stopping threads is allowed.
//
// One watcher at a time: it installs the process's handlers when made and
// puts the previous ones back when destroyed. Main thread only.
#pragma once

#include <QObject>

#include <csignal>
#include <functional>

class QSocketNotifier;

namespace orvan::app {

class TTerminationSignals : public QObject {
 public:
  // onSignal receives SIGTERM or SIGINT, on the main thread.
  explicit TTerminationSignals(std::function<void(int signal)> onSignal, QObject *parent = nullptr);
  ~TTerminationSignals() override;
  TTerminationSignals(const TTerminationSignals &) = delete;
  TTerminationSignals &operator=(const TTerminationSignals &) = delete;

  // False when the socket pair or the handlers could not be set up; the
  // signals then keep their previous effect.
  bool Installed() const { return m_termInstalled && m_intInstalled; }

 private:
  void Drain();

  std::function<void(int)> m_onSignal;
  int m_fds[2] = {-1, -1};  // [0] written by the handler, [1] read here
  QSocketNotifier *m_notifier = nullptr;
  struct sigaction m_previousTerm {};
  struct sigaction m_previousInt {};
  bool m_termInstalled = false;
  bool m_intInstalled = false;
};

}  // namespace orvan::app
