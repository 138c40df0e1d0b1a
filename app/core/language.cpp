#include "app/core/language.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvan::app {
namespace {

struct KeyInfo {
  std::string_view name;
  std::string_view english;
};

constexpr KeyInfo kKeys[kTextKeyCount] = {
    {"File_Select", "File Select"},
    {"Load_File", "Load File"},
    {"Play", "Play"},
    {"Pause", "Pause"},
    {"Forward", "Forward"},
    {"Backup", "Backup"},
    {"Save_AVI", "Save AVI"},
    {"Stop_AVI", "Stop AVI"},
    {"Copy", "Copy"},
    {"Snapshot", "SnapShot"},
    {"Search", "Search"},
    {"Time_search", "Time Search"},
    {"Event_search", "Event Search"},
    {"Full_screen", "Full Screen"},
    {"PlayAudio", "PlayAudio"},
    {"Language", "Language"},
    {"Close", "Close"},
    {"Source_select", "Source Select"},
    {"HDD_Play", "HDD Play"},
    {"File_Play", "File Play"},
    {"Image_Play", "Image Play"},
    {"Exit", "Exit"},
    {"About", "About"},
    {"Warning", "Warning"},
    {"Close_Player", "Close the player?"},
    {"CantdetectHDDdevice", "No recorder disk was found."},
    {"ThiswillstopHDDplaycontinue", "This will stop HDD play. Continue?"},
    {"HDD_Select", "HDD Select"},
    {"State_Play", "Play"},
    {"State_Pause", "Pause"},
    {"State_Forward", "FFx20"},
    {"State_Ended", "Ended"},
    {"Prev_event", "◀ Event"},
    {"Next_event", "Event ▶"},
    {"Start_time", "Start"},
    {"End_time", "End"},
    {"View", "View"},
    {"Whole_picture", "Whole picture"},
    {"Open_image", "Open image…"},
    {"Yes", "Yes"},
    {"No", "No"},
    {"OK", "OK"},
    {"Version", "Version"},
    {"Nothing_recorded_at", "Nothing was recorded at %1: the recording runs from %2 to %3."},
    {"No_recording_between", "No recording from %1 to %2"},
    {"Recorded_span", "recorded %1 – %2"},
    {"Span_unknown", "recorded span unknown"},
    {"Size_unknown", "size unknown"},
    {"Size_bytes", "%1 bytes"},
    {"Damaged_pictures", "Damaged pictures: %1"},
    {"Snapshot_saved", "Snapshot saved: %1"},
    {"Snapshot_note", "%1 taken from %2 at recorder time %3"},
    {"Avi_saved", "AVI saved: %1 (%2, %3)"},
    {"Avi_cannot_create", "The AVI file cannot be created:\n%1"},
    {"Avi_saving_for", "%1 written, %2"},
    {"No_clip_loaded", "No clip loaded: Load File opens one."},
    {"Clip_shown", "Clip: %1"},
    {"Jpeg_files", "JPEG files"},
    {"Bitmap_files", "Bitmap files"},
    {"Avi_files", "AVI files"},
    {"In_files", "IN files"},
    {"Yuv_files", "YUV files"},
    {"Disk_images", "Disk images"},
    {"Raw_images", "Raw images"},
    {"E01_images", "E01 images"},
    {"All_files", "All files"},
    {"Tip_Play", "Play (Space)"},
    {"Tip_Pause", "Pause (Space)"},
    {"Tip_Forward", "Fast forward, key pictures only"},
    {"Tip_Snapshot", "Snapshot (Ctrl+S)"},
    {"Tip_Search", "Search the date and time (Ctrl+T to type it)"},
    {"Tip_Event", "Event list (Ctrl+E)"},
    {"Tip_PrevEvent", "Previous event (PgUp)"},
    {"Tip_NextEvent", "Next event (PgDn)"},
    {"Tip_FullScreen", "Full screen (F or F11; Esc leaves)"},
    {"Tip_Close", "Close (Ctrl+Q)"},
    {"Tip_SaveAVI", "Save what the panel shows as an AVI file"},
    {"Tip_StopAVI", "Stop saving the AVI file"},
    {"Tip_Copy", "Copy a time span into a clip"},
    {"Tip_Open", "Open a file"},
    {"Tip_Audio", "Play the sound (at normal speed only)"},
    {"Tip_PlayBar", "Drag to move through the recording (←, →: 10 s)"},
    {"Keys_title", "Keys"},
    {"Key_column", "Key"},
    {"Action_column", "Action"},
    {"Key_Space", "Space"},
    {"Key_Backspace", "Backspace"},
    {"Act_PlayPause", "Play or pause"},
    {"Act_Later10", "10 seconds later"},
    {"Act_Earlier10", "10 seconds earlier"},
    {"Act_Later60", "1 minute later"},
    {"Act_Earlier60", "1 minute earlier"},
    {"Act_StepForward", "One picture forward (pauses)"},
    {"Act_StepBack", "One picture back (pauses)"},
    {"Act_Faster", "Faster (plays)"},
    {"Act_Slower", "Slower (plays)"},
    {"Act_NormalSpeed", "Normal speed"},
    {"Act_NextEvent", "Next event"},
    {"Act_PrevEvent", "Previous event"},
    {"Act_Channel", "Enlarge channel %1"},
    {"Act_AllChannels", "All four channels"},
    {"Act_WholePicture", "Whole picture or trimmed"},
    {"Act_FullScreen", "Full screen"},
    {"Act_LeaveFullScreen", "Leave full screen"},
    {"Act_Snapshot", "Snapshot"},
    {"Act_TypeTime", "Type the time to search"},
    {"Act_EventList", "Event list"},
    {"Act_Close", "Close"},
    {"Act_Keys", "This list"},
    {"Event_title", "Event"},
    {"Col_Num", "Num"},
    {"Col_Channel", "Channel"},
    {"Col_Time", "Time"},
    {"Col_Type", "Type"},
    {"Kind_RecStart", "Rec Start"},
    {"Kind_PowerOn", "Power On"},
    {"Kind_Alarm", "Alarm"},
    {"Kind_VideoLoss", "Video Loss"},
    {"Kind_Motion", "Motion"},
    {"All_channels", "All channels"},
    {"All_kinds", "All kinds"},
    {"Keep_open", "Keep open"},
    {"Tip_KeepOpen", "Leave the list open beside the playing window"},
    {"Doubtful_row", "Doubtful: %1"},
    {"Odd_kind", "unknown kind"},
    {"Odd_channel", "unknown channel"},
    {"Odd_time", "outside the recording"},
    {"Start_label", "StartTime"},
    {"End_label", "EndTime"},
    {"Save_button", "Save"},
    {"Stop_button", "Stop"},
    {"Processing", "Processing ."},
    {"Copy_complete", "Copy data complete!!\nWritten: %1 – %2\n(asked for %3 – %4)"},
    {"Stop_question", "Stop now may cause error data to the saving file, continue?"},
    {"Close_question", "Close now may cause error data to the saving file, continue?"},
    {"End_before_start", "The end time is before the start time: nothing is copied."},
    {"No_entries", "Nothing was recorded in the chosen span: no clip was written."},
    {"No_recording", "The drive holds no recording: no clip was written."},
    {"No_pictures", "No pictures were recorded in the chosen span: no file was written."},
    {"Not_written", "The clip could not be written."},
    {"Clip_type", "Clip (*.in)"},
    {"Matroska_type", "Matroska, lossless (*.mkv)"},
    {"Mp4_type", "MP4 (*.mp4)"},
    {"Save_title", "Save"},
    {"Avi_saving", "AVI Saving"},
    {"Panel_stop", "StopAVI"},
    {"DiskStoppedAnswering", "The disk stopped answering"},
    {"Rep_title", "Examination report"},
    {"Rep_case", "Case"},
    {"Rep_case_number", "Case number"},
    {"Rep_examiner", "Examiner"},
    {"Rep_made", "Report made (UTC)"},
    {"Rep_program", "Program"},
    {"Rep_ffmpeg", "FFmpeg version"},
    {"Rep_libewf", "libewf version"},
    {"Rep_machine", "Computer"},
    {"Rep_evidence", "Evidence"},
    {"Rep_path", "Path"},
    {"Rep_kind", "Kind"},
    {"Rep_kind_image", "raw image"},
    {"Rep_kind_e01", "E01 image"},
    {"Rep_kind_device", "block device"},
    {"Rep_segments", "Segment files"},
    {"Rep_model", "Model"},
    {"Rep_serial", "Serial number"},
    {"Rep_size", "Size"},
    {"Rep_not_hashed", "not computed"},
    {"Rep_stored_hash", "Stored %1"},
    {"Rep_matches", "matches"},
    {"Rep_mismatch", "DOES NOT MATCH"},
    {"Rep_access", "Access"},
    {"Rep_read_only", "opened read-only"},
    {"Rep_recorder", "Recorder"},
    {"Rep_geometry", "Disk layout"},
    {"Rep_span", "Recorded span"},
    {"Rep_pictures_col", "Pictures"},
    {"Rep_key_col", "Key pictures"},
    {"Rep_codec", "Codec"},
    {"Rep_picture_size", "Picture size"},
    {"Rep_pps", "Pictures per second: median (min–max)"},
    {"Rep_gaps_col", "Gaps"},
    {"Rep_gaps", "longer than %1 ms"},
    {"Rep_gap_list", "Gaps of channel %1"},
    {"Rep_none", "none"},
    {"Rep_events", "Events"},
    {"Rep_no_events", "No events were recorded."},
    {"Rep_beyond", "Beyond the index"},
    {"Rep_held_back", "Held back entries"},
    {"Rep_stale", "Stale entries"},
    {"Rep_intact", "intact"},
    {"Rep_overwritten", "overwritten"},
    {"Rep_first_last", "first – last"},
    {"Rep_unreferenced", "Unreferenced bytes"},
    {"Rep_unref_pictures", "Unreferenced pictures"},
    {"Rep_unreadable_index", "Unreadable index sectors"},
    {"Rep_pictures", "Pictures"},
    {"Rep_first", "first key picture"},
    {"Rep_middle", "middle key picture"},
    {"Rep_last", "last key picture"},
    {"Rep_event_at", "event %1"},
    {"Rep_no_picture", "No picture could be shown."},
    {"Rep_findings", "Findings"},
    {"Rep_note", "Note"},
    {"Rep_picture", "Picture"},
    {"Rep_exports", "Exports"},
    {"Rep_manifest", "Manifest"},
    {"Rep_file", "File"},
    {"Rep_sha256", "SHA-256"},
    {"Rep_verify", "Check"},
    {"Rep_passes", "passes"},
    {"Rep_fails", "FAILS (%1)"},
    {"Rep_unreadable_manifest", "unreadable: %1"},
    {"Rep_no_exports", "No exports were found."},
    {"Rep_limitations", "Limitations"},
    {"Rep_limit_clock",
     "Times are the recorder's clock as recorded, with no zone and no correction."},
    {"Rep_limit_key", "Pictures before a key picture cannot be shown."},
    {"Rep_limit_overwritten", "Overwritten data cannot be recovered."},
    {"Rep_log", "Examination log"},
    {"Rep_log_time", "Time (UTC)"},
    {"Rep_log_action", "Action"},
    {"Rep_log_params", "Parameters"},
    {"Rep_page", "Page %1 of %2"},
    {"Rep_menu", "Report…"},
    {"Rep_log_menu", "Case log…"},
    {"Rep_ask_case", "Case number:"},
    {"Rep_ask_examiner", "Examiner:"},
    {"Rep_files", "Reports (*.html *.pdf)"},
    {"Rep_written", "The report was written: %1\nSHA-256 %2"},
    {"Rep_not_written", "The report cannot be written: %1"},
    {"Rep_no_source", "No recorder disk is open."},
    {"Log_source_opened", "source opened"},
    {"Log_search", "search"},
    {"Log_event_jump", "event jump"},
    {"Log_playbar_jump", "play-bar jump"},
    {"Log_speed", "speed"},
    {"Log_snapshot", "snapshot"},
    {"Log_avi", "AVI saved"},
    {"Log_export", "export"},
    {"Log_bookmark", "bookmark"},
    {"Log_report", "report written"},
    {"Disk_survey", "Disk survey…"},
    {"Survey_title", "Disk survey"},
    {"Index_area", "Index area"},
    {"Data_area", "Data area"},
    {"Part_live", "Live"},
    {"Part_held_back", "Held back"},
    {"Part_stale_intact", "Stale, intact"},
    {"Part_overwritten", "Stale, overwritten"},
    {"Part_unreferenced", "Unreferenced"},
    {"Part_unreadable", "Unreadable"},
    {"Part_invalid", "Invalid entries"},
    {"Recover_button", "Recover…"},
    {"Carve_button", "Carve…"},
    {"Cancel_button", "Cancel"},
    {"Surveying", "Surveying the disk…"},
    {"Recovering", "Recovering…"},
    {"Carving", "Carving…"},
    {"Survey_live", "Live: %1 entries, %2 – %3; %4 invalid"},
    {"Survey_held_back", "Held back: %1 entries, %2 – %3"},
    {"Survey_stale", "Stale: %1 entries, %2 intact, %3 overwritten, %4 – %5"},
    {"Survey_no_stale", "Stale: none"},
    {"Survey_span", "Span %1 (%2): entries %3 – %4, %5 – %6, %7 recoverable"},
    {"Survey_unreadable", "Unreadable index sectors: %1"},
    {"Survey_data", "Data area: live %1, intact stale %2, unreferenced %3"},
    {"Origin_held_back", "held back"},
    {"Origin_stale", "stale"},
    {"Recovered_to", "Recovered %1 entries: %2"},
    {"Carved_to", "%1 pictures carved into %2"},
    {"Nothing_recoverable", "Nothing recoverable was found."},
    {"Work_stopped", "Stopped."},
    {"Survey_needs_disk", "Open a recorder disk in HDD Play first."},
    {"Carve_folder", "Folder for the carved pictures"},
    {"Act_ZoomBarIn", "Zoom the play bar in"},
    {"Act_ZoomBarOut", "Zoom the play bar out"},
    {"Act_Bookmark", "Bookmark the picture shown"},
    {"Act_Magnifier", "Magnifier (then the wheel)"},
    {"Bookmarks_item", "Bookmarks…"},
    {"Bookmarks_title", "Bookmarks"},
    {"Bookmark_note", "Note (Enter keeps it):"},
    {"Bookmark_go", "Go to"},
    {"Bookmark_edit", "Edit note"},
    {"Bookmark_delete", "Delete"},
    {"Bookmark_not_saved", "The bookmarks could not be written to %1"},
    {"Bookmark_tip", "Bookmark %1 CH%2: %3"},
    {"Identity_line", "CH%1  entry %2  %3  %4"},
    {"Picture_key", "key"},
    {"Picture_predicted", "predicted"},
    {"Magnifier_caption", "%1× — %2×%3 at %4,%5"},
    {"Whole_recording_tip", "Double click: the whole recording"},
};

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Unicode code points of bytes 0x80..0xFF in code page 1251.
constexpr uint16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0..0xFF: А..я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F};

void AppendUtf8(std::string &out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string_view TextKeyName(TextKey key) { return kKeys[static_cast<size_t>(key)].name; }
std::string_view EnglishText(TextKey key) { return kKeys[static_cast<size_t>(key)].english; }

LanguageTexts::LanguageTexts() { values.fill("0"); }

std::string Cp1251ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) AppendUtf8(out, c < 0x80 ? c : kCp1251High[c - 0x80]);
  return out;
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t extra;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8.
    if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

LanguageTexts ReadLanguageFile(const std::string &path) {
  LanguageTexts texts;
  std::ifstream in(path, std::ios::binary);
  if (!in) return texts;
  // A language file is a few kilobytes; refuse anything absurd.
  constexpr std::streamsize kMaxBytes = 1 << 20;
  std::string content(static_cast<size_t>(kMaxBytes), '\0');
  in.read(content.data(), kMaxBytes);
  content.resize(static_cast<size_t>(in.gcount()));
  texts.fileFound = true;
  texts.path = path;

  if (content.rfind("\xEF\xBB\xBF", 0) == 0) content.erase(0, 3);
  if (!IsValidUtf8(content)) content = Cp1251ToUtf8(content);

  std::istringstream lines(content);
  std::string line;
  bool inStrings = false;
  std::array<bool, kTextKeyCount> seen{};
  while (std::getline(lines, line)) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t.front() == '[') {
      const size_t close = t.find(']');
      inStrings =
          close != std::string::npos && EqualsNoCase(Trim(t.substr(1, close - 1)), "STRINGS");
      continue;
    }
    if (!inStrings) continue;
    const size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = Trim(t.substr(0, eq));
    std::string value = Trim(t.substr(eq + 1));
    if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                              (value.front() == '\'' && value.back() == '\'')))
      value = value.substr(1, value.size() - 2);
    // "\n" stands for a line break.
    for (size_t at = value.find("\\n"); at != std::string::npos; at = value.find("\\n", at + 1))
      value.replace(at, 2, "\n");
    for (size_t k = 0; k < kTextKeyCount; ++k) {
      // The first occurrence of a key wins, as with the platform's INI reader.
      if (!seen[k] && EqualsNoCase(key, kKeys[k].name)) {
        seen[k] = true;
        texts.values[k] = value;
        break;
      }
    }
  }
  return texts;
}

std::string ProgramDirectory() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

std::string FindLanguageFile(const std::string &programDir) {
  const char *kName = "Language_Russian.ini";
  std::error_code ec;
  if (std::filesystem::is_regular_file(kName, ec)) return kName;
  if (programDir.empty()) return "";
  for (const std::string &dir : {programDir, programDir + "/" + ORVAN_DATA_FROM_BIN}) {
    const std::string path = dir + "/" + kName;
    if (std::filesystem::is_regular_file(path, ec)) return path;
  }
  return "";
}

LanguageTexts LoadLanguageTexts() {
  const std::string path = FindLanguageFile(ProgramDirectory());
  return path.empty() ? LanguageTexts() : ReadLanguageFile(path);
}

}  // namespace orvan::app
