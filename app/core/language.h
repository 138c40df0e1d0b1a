// Interface texts: every caption and message of the windows has a key.
// English is fixed in the program (the table in language.cpp); Russian
// comes from the language file's section "STRINGS", read once at start. A
// key missing from the file, or a missing file, gives the Russian text "0".
// Each language asks and tells in its own words: the message texts are the
// file's in Russian and the table's in English. Texts may hold %1, %2, ...
// for values, and the file writes a line break as \n.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace orvan::app {

// The keys of section "STRINGS", in the order of LanguageTexts::values.
enum class TextKey {
  File_Select,
  Load_File,
  Play,
  Pause,
  Forward,
  Backup,
  Save_AVI,
  Stop_AVI,
  Copy,
  Snapshot,
  Search,
  Time_search,
  Event_search,
  Full_screen,
  PlayAudio,
  Language,
  Close,
  Source_select,
  HDD_Play,
  File_Play,
  Image_Play,
  Exit,
  About,
  Warning,
  Close_Player,
  CantdetectHDDdevice,
  ThiswillstopHDDplaycontinue,
  HDD_Select,
  State_Play,
  State_Pause,
  State_Forward,
  State_Ended,
  Prev_event,
  Next_event,
  Start_time,
  End_time,
  View,
  Whole_picture,
  Open_image,
  Yes,
  No,
  OK,
  Version,
  Nothing_recorded_at,
  No_recording_between,
  Recorded_span,
  Span_unknown,
  Size_unknown,
  Size_bytes,
  Damaged_pictures,
  Snapshot_saved,
  Snapshot_note,
  Avi_saved,
  Avi_cannot_create,
  Avi_saving_for,
  No_clip_loaded,
  Clip_shown,
  Jpeg_files,
  Bitmap_files,
  Avi_files,
  In_files,
  Yuv_files,
  Disk_images,
  Raw_images,
  E01_images,
  All_files,
  Tip_Play,
  Tip_Pause,
  Tip_Forward,
  Tip_Snapshot,
  Tip_Search,
  Tip_Event,
  Tip_PrevEvent,
  Tip_NextEvent,
  Tip_FullScreen,
  Tip_Close,
  Tip_SaveAVI,
  Tip_StopAVI,
  Tip_Copy,
  Tip_Open,
  Tip_Audio,
  Tip_PlayBar,
  Keys_title,
  Key_column,
  Action_column,
  Key_Space,
  Key_Backspace,
  Act_PlayPause,
  Act_Later10,
  Act_Earlier10,
  Act_Later60,
  Act_Earlier60,
  Act_StepForward,
  Act_StepBack,
  Act_Faster,
  Act_Slower,
  Act_NormalSpeed,
  Act_NextEvent,
  Act_PrevEvent,
  Act_Channel,
  Act_AllChannels,
  Act_WholePicture,
  Act_FullScreen,
  Act_LeaveFullScreen,
  Act_Snapshot,
  Act_TypeTime,
  Act_EventList,
  Act_Close,
  Act_Keys,
  Event_title,
  Col_Num,
  Col_Channel,
  Col_Time,
  Col_Type,
  Kind_RecStart,
  Kind_PowerOn,
  Kind_Alarm,
  Kind_VideoLoss,
  Kind_Motion,
  All_channels,
  All_kinds,
  Keep_open,
  Tip_KeepOpen,
  Doubtful_row,
  Odd_kind,
  Odd_channel,
  Odd_time,
  Start_label,
  End_label,
  Save_button,
  Stop_button,
  Processing,
  Copy_complete,
  Stop_question,
  Close_question,
  End_before_start,
  No_entries,
  No_recording,
  No_pictures,
  Not_written,
  Clip_type,
  Matroska_type,
  Mp4_type,
  Save_title,
  Avi_saving,
  Panel_stop,
  DiskStoppedAnswering,
  Rep_title,
  Rep_case,
  Rep_case_number,
  Rep_examiner,
  Rep_made,
  Rep_program,
  Rep_ffmpeg,
  Rep_libewf,
  Rep_machine,
  Rep_evidence,
  Rep_path,
  Rep_kind,
  Rep_kind_image,
  Rep_kind_e01,
  Rep_kind_device,
  Rep_segments,
  Rep_model,
  Rep_serial,
  Rep_size,
  Rep_not_hashed,
  Rep_stored_hash,
  Rep_matches,
  Rep_mismatch,
  Rep_access,
  Rep_read_only,
  Rep_recorder,
  Rep_geometry,
  Rep_span,
  Rep_pictures_col,
  Rep_key_col,
  Rep_codec,
  Rep_picture_size,
  Rep_pps,
  Rep_gaps_col,
  Rep_gaps,
  Rep_gap_list,
  Rep_none,
  Rep_events,
  Rep_no_events,
  Rep_beyond,
  Rep_held_back,
  Rep_stale,
  Rep_intact,
  Rep_overwritten,
  Rep_first_last,
  Rep_unreferenced,
  Rep_unref_pictures,
  Rep_unreadable_index,
  Rep_pictures,
  Rep_first,
  Rep_middle,
  Rep_last,
  Rep_event_at,
  Rep_no_picture,
  Rep_findings,
  Rep_note,
  Rep_picture,
  Rep_exports,
  Rep_manifest,
  Rep_file,
  Rep_sha256,
  Rep_verify,
  Rep_passes,
  Rep_fails,
  Rep_unreadable_manifest,
  Rep_no_exports,
  Rep_limitations,
  Rep_limit_clock,
  Rep_limit_key,
  Rep_limit_overwritten,
  Rep_log,
  Rep_log_time,
  Rep_log_action,
  Rep_log_params,
  Rep_page,
  Rep_menu,
  Rep_log_menu,
  Rep_ask_case,
  Rep_ask_examiner,
  Rep_files,
  Rep_written,
  Rep_not_written,
  Rep_no_source,
  Log_source_opened,
  Log_search,
  Log_event_jump,
  Log_playbar_jump,
  Log_speed,
  Log_snapshot,
  Log_avi,
  Log_export,
  Log_bookmark,
  Log_report,
  Disk_survey,
  Survey_title,
  Index_area,
  Data_area,
  Part_live,
  Part_held_back,
  Part_stale_intact,
  Part_overwritten,
  Part_unreferenced,
  Part_unreadable,
  Part_invalid,
  Recover_button,
  Carve_button,
  Cancel_button,
  Surveying,
  Recovering,
  Carving,
  Survey_live,
  Survey_held_back,
  Survey_stale,
  Survey_no_stale,
  Survey_span,
  Survey_unreadable,
  Survey_data,
  Origin_held_back,
  Origin_stale,
  Recovered_to,
  Carved_to,
  Nothing_recoverable,
  Work_stopped,
  Survey_needs_disk,
  Carve_folder,
  Act_ZoomBarIn,
  Act_ZoomBarOut,
  Act_Bookmark,
  Act_Magnifier,
  Bookmarks_item,
  Bookmarks_title,
  Bookmark_note,
  Bookmark_go,
  Bookmark_edit,
  Bookmark_delete,
  Bookmark_not_saved,
  Bookmark_tip,
  Identity_line,
  Picture_key,
  Picture_predicted,
  Magnifier_caption,
  Whole_recording_tip,
  Count
};

constexpr size_t kTextKeyCount = static_cast<size_t>(TextKey::Count);

// The key's name in the file ("File_Select", ...).
std::string_view TextKeyName(TextKey key);
// The fixed English text of the place the key captions.
std::string_view EnglishText(TextKey key);

// The texts read from the file, as UTF-8.
struct LanguageTexts {
  std::array<std::string, kTextKeyCount> values;
  bool fileFound = false;
  std::string path;  // the file that was read, if any

  LanguageTexts();  // every text "0"
  const std::string &Get(TextKey key) const { return values[static_cast<size_t>(key)]; }
};

// The texts of the language in use: 0 English, 1 Russian (the file's).
class CCaptions {
 public:
  CCaptions() = default;  // English
  CCaptions(int language, const LanguageTexts &texts) : m_language(language), m_texts(texts) {}
  int Language() const { return m_language; }
  std::string Text(TextKey key) const {
    return m_language == 1 ? m_texts.Get(key) : std::string(EnglishText(key));
  }

 private:
  int m_language = 0;
  LanguageTexts m_texts;
};

// Reads section "STRINGS" of an INI file. Keys match without regard to
// case; values are trimmed and lose one pair of surrounding quotes. The
// file may be UTF-8 (with or without a byte-order mark) or in the Windows
// Cyrillic code page (1251), as the recorder's own PCs write it.
LanguageTexts ReadLanguageFile(const std::string &path);

// Where "Language_Russian.ini" is taken from: the working directory, else
// beside the program (the build tree), else the installed data folder
// reached from the program's folder (`programDir`/../share/orvan-viewer
// with the usual layout, so an unpacked package finds it too). "" if none
// is there.
std::string FindLanguageFile(const std::string &programDir);

// The texts of FindLanguageFile(ProgramDirectory()), else all "0".
LanguageTexts LoadLanguageTexts();

// Windows-1251 bytes to UTF-8.
std::string Cp1251ToUtf8(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);

// The folder of the running program ("" if unknown).
std::string ProgramDirectory();

}  // namespace orvan::app
