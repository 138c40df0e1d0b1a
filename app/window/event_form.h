// The event list: one grid row per event of the opened disk's log; a double
// click jumps playback to the event's time and closes the list.
//
// Main thread only. LoadEvents reads the disk directly, so the window calls
// it before a disk player exists on that disk.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>

#include "platform/disk_source.h"
#include "recorder/event_list.h"

class QTableWidget;

namespace orvan::app {

// The jump back to the main window, with the event's recorder time.
using EventJumpCallback = std::function<void(uint32_t seconds)>;

class TEventForm : public QDialog {
 public:
  explicit TEventForm(QWidget *parent = nullptr);

  // Replaces the list with the log on `disk` and remembers the jump.
  void LoadEvents(orvan::ByteSource &disk, EventJumpCallback callback);
  // Jumps to the selected row's event and closes the form; nothing for the
  // header or a row without a record.
  void EventGridDblClick();

  QTableWidget *EventGrid() const { return m_grid; }
  const recorder::CEventList &Events() const { return m_events; }

 private:
  QTableWidget *m_grid;
  recorder::CEventList m_events;
  EventJumpCallback m_callback;
};

}  // namespace orvan::app
