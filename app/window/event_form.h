// The event list: one grid row per event of the opened disk's log; a double
// click jumps playback to the event's time and closes the list, unless
// "Keep open" is ticked, which leaves it open beside the playing window.
// The columns sort, and the rows can be narrowed to a channel and a kind.
//
// Main thread only. LoadEvents reads the disk directly, so the window calls
// it before a disk player exists on that disk.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>

#include "platform/disk_source.h"
#include "recorder/event_list.h"

class QCheckBox;
class QComboBox;
class QTableWidget;

namespace orvan::app {

// The jump back to the main window, with the event's recorder time.
using EventJumpCallback = std::function<void(uint32_t seconds)>;

class TEventForm : public QDialog {
 public:
  explicit TEventForm(QWidget *parent = nullptr);

  // Replaces the list with the log on `disk` and remembers the jump.
  void LoadEvents(orvan::ByteSource &disk, EventJumpCallback callback);
  // Jumps to the selected row's event and, unless kept open, closes the
  // form; nothing for a row without a record.
  void EventGridDblClick();
  // Shows the list: modal, or beside the window while "Keep open" is
  // ticked.
  void ShowList();

  QTableWidget *EventGrid() const { return m_grid; }
  QComboBox *ChannelFilter() const { return m_channelFilter; }
  QComboBox *KindFilter() const { return m_kindFilter; }
  QCheckBox *KeepOpenCheck() const { return m_keepOpen; }
  const recorder::CEventList &Events() const { return m_events; }

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  // Hides the rows the two filters leave out.
  void ApplyFilter();
  void KeepOpenChanged();

  QTableWidget *m_grid;
  QComboBox *m_channelFilter;
  QComboBox *m_kindFilter;
  QCheckBox *m_keepOpen;
  recorder::CEventList m_events;
  EventJumpCallback m_callback;
};

}  // namespace orvan::app
