// Bookmarks: moments of a source the examiner marked (the recorder time and
// the entry shown, the channel, a note, a small picture), kept per source
// in the configuration folder, never beside the source. A source is known
// by its size and the SHA-256 of its first MiB, so a disk comes back with
// its bookmarks under whatever name or drive it is opened again.
//
// Threads: one thread at a time (the window's).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvan::app {

struct Bookmark {
  uint32_t seconds = 0;  // recorder time shown when it was made
  int64_t entry = -1;    // the index entry shown (-1: not known)
  int channel = -1;      // 0..3, -1: the grid
  std::string note;
  std::string thumbnail;  // file name of the picture, beside the list; empty: none
};

// "<size>-<sha256 of the first MiB, hex>" of the file or device at path;
// empty when it cannot be read. Reads at most kIdentityBytes.
std::string SourceIdentity(const std::string &path);
constexpr size_t kIdentityBytes = 1 << 20;

// The folder the lists live in: ORVANBookmarks beside the configuration
// file.
std::string BookmarksFolder();

class CBookmarks {
 public:
  // Reads the list of `identity` in `folder` (an empty one when there is
  // none or it cannot be read). Lines that do not parse are left out.
  void Open(const std::string &folder, const std::string &identity);
  void Close();
  bool IsOpen() const { return !m_identity.empty(); }
  const std::string &Identity() const { return m_identity; }

  // Kept in recorder-time order; each change is written at once. False when
  // the list could not be written (the change is kept in memory).
  bool Add(const Bookmark &bookmark);
  bool Remove(size_t index);
  bool SetNote(size_t index, const std::string &note);
  const std::vector<Bookmark> &List() const { return m_list; }
  // Where a bookmark's picture is, or goes: beside the list.
  std::string ThumbnailPath(const std::string &fileName) const;
  // A free picture file name for the next bookmark.
  std::string NewThumbnailName() const;
  std::string ListPath() const;

  // The list's text and its reading, for the file and the tests.
  static std::string Serialize(const std::vector<Bookmark> &list);
  static std::vector<Bookmark> Parse(const std::string &text);

 private:
  bool Write();
  std::string m_folder;
  std::string m_identity;
  std::vector<Bookmark> m_list;
};

}  // namespace orvan::app
