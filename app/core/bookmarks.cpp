#include "app/core/bookmarks.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/core/configuration.h"
#include "platform/digest.h"
#include "platform/output_file.h"

namespace orvan::app {

namespace {
constexpr const char *kHeader = "ORVAN bookmarks 1";

// Notes are one line each: tab, newline and backslash escaped.
std::string Escape(const std::string &s) {
  std::string out;
  for (char c : s) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::string Unescape(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

std::vector<std::string> SplitTabs(const std::string &line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return fields;
}

bool ParseInt(const std::string &s, int64_t low, int64_t high, int64_t &value) {
  if (s.empty() || s.size() > 20) return false;
  char *end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  value = v;
  return true;
}

// A picture's name is ours, never a path.
bool PlainFileName(const std::string &name) {
  return name.size() < 200 && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos && name != "." && name != "..";
}
}  // namespace

std::string SourceIdentity(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) return {};
  in.seekg(0);
  std::vector<char> head(size_t(std::min<std::streamoff>(size, kIdentityBytes)));
  in.read(head.data(), std::streamsize(head.size()));
  if (in.gcount() != std::streamsize(head.size())) return {};
  platform::Sha256 sha;
  sha.Update(head.data(), head.size());
  const platform::Sha256Digest digest = sha.Final();
  if (!sha.Ok()) return {};
  return std::to_string(size) + "-" + platform::HexOf(digest);
}

std::string BookmarksFolder() {
  return (std::filesystem::path(ConfigurationPath()).parent_path() / "ORVANBookmarks").string();
}

void CBookmarks::Open(const std::string &folder, const std::string &identity) {
  m_folder = folder;
  m_identity = identity;
  m_list.clear();
  if (identity.empty()) return;
  std::ifstream in(ListPath(), std::ios::binary);
  if (!in) return;
  std::ostringstream text;
  text << in.rdbuf();
  m_list = Parse(text.str());
}

void CBookmarks::Close() {
  m_identity.clear();
  m_list.clear();
}

std::string CBookmarks::ListPath() const {
  return (std::filesystem::path(m_folder) / (m_identity + ".txt")).string();
}

std::string CBookmarks::ThumbnailPath(const std::string &fileName) const {
  return (std::filesystem::path(m_folder) / fileName).string();
}

std::string CBookmarks::NewThumbnailName() const {
  for (int n = 1;; ++n) {
    const std::string name = m_identity + "-" + std::to_string(n) + ".png";
    const bool used = std::any_of(m_list.begin(), m_list.end(),
                                  [&](const Bookmark &b) { return b.thumbnail == name; });
    std::error_code error;
    if (!used && !std::filesystem::exists(ThumbnailPath(name), error)) return name;
  }
}

bool CBookmarks::Add(const Bookmark &bookmark) {
  if (!IsOpen()) return false;
  const auto at =
      std::upper_bound(m_list.begin(), m_list.end(), bookmark,
                       [](const Bookmark &a, const Bookmark &b) { return a.seconds < b.seconds; });
  m_list.insert(at, bookmark);
  return Write();
}

bool CBookmarks::Remove(size_t index) {
  if (index >= m_list.size()) return false;
  if (!m_list[index].thumbnail.empty()) {
    std::error_code error;
    std::filesystem::remove(ThumbnailPath(m_list[index].thumbnail), error);
  }
  m_list.erase(m_list.begin() + std::ptrdiff_t(index));
  return Write();
}

bool CBookmarks::SetNote(size_t index, const std::string &note) {
  if (index >= m_list.size()) return false;
  m_list[index].note = note;
  return Write();
}

std::string CBookmarks::Serialize(const std::vector<Bookmark> &list) {
  std::string out = std::string(kHeader) + "\n";
  for (const Bookmark &b : list)
    out += std::to_string(b.seconds) + "\t" + std::to_string(b.entry) + "\t" +
           std::to_string(b.channel) + "\t" + Escape(b.thumbnail) + "\t" + Escape(b.note) + "\n";
  return out;
}

std::vector<Bookmark> CBookmarks::Parse(const std::string &text) {
  std::vector<Bookmark> list;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return list;
  while (std::getline(in, line) && list.size() < 100000) {
    const std::vector<std::string> f = SplitTabs(line);
    if (f.size() != 5) continue;
    int64_t seconds = 0, entry = 0, channel = 0;
    if (!ParseInt(f[0], 0, UINT32_MAX, seconds) || !ParseInt(f[1], -1, INT64_MAX / 2, entry) ||
        !ParseInt(f[2], -1, 3, channel))
      continue;
    Bookmark b;
    b.seconds = uint32_t(seconds);
    b.entry = entry;
    b.channel = int(channel);
    b.thumbnail = Unescape(f[3]);
    if (!PlainFileName(b.thumbnail)) b.thumbnail.clear();
    b.note = Unescape(f[4]);
    list.push_back(std::move(b));
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const Bookmark &a, const Bookmark &b) { return a.seconds < b.seconds; });
  return list;
}

bool CBookmarks::Write() {
  std::error_code error;
  std::filesystem::create_directories(m_folder, error);
  const std::string text = Serialize(m_list);
  std::string refusal;
  return platform::WriteOutputFile(ListPath(), text.data(), text.size(),
                                   platform::ReplacePolicy::kReplaceExisting, &refusal);
}

}  // namespace orvan::app
