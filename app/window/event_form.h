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

#include "app/core/language.h"
#include "platform/disk_source.h"
#include "recorder/layout/event_list.h"

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
  // Every caption, the rows' kinds and the doubtful marks in the language.
  void ApplyLanguage(const CCaptions &captions);
  // The recording's first and last times, for the rows that lie outside
  // it (0, 0: not known). The rows are marked again.
  void SetRecordedSpan(uint32_t first, uint32_t last);
  // Why a row's event is doubtful (a kind or channel the recorder does not
  // write, a time outside the recording, or at the ends of the clock);
  // empty when it is not. Rows are counted from 1, as the list numbers
  // them.
  QString DoubtText(size_t row) const;

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
  // The kind and doubt cells of every row, in the language.
  void RefreshRows();

  QTableWidget *m_grid;
  QComboBox *m_channelFilter;
  QComboBox *m_kindFilter;
  QCheckBox *m_keepOpen;
  recorder::CEventList m_events;
  EventJumpCallback m_callback;
  CCaptions m_captions;
  uint32_t m_spanFirst = 0, m_spanLast = 0;
};

}  // namespace orvan::app
