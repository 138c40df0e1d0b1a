#include "platform/disk_source.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/ewf_image.h"
#include "platform/fd_device.h"
#include "platform/log.h"

namespace orvan {

namespace {

constexpr const char *kLogCategory = "disk";

bool IsAligned(uint64_t value) { return value % kSectorBytes == 0; }

bool IsVirtual(const std::string &name) {
  return name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0;
}

// A loop device is a disk of this machine only while an image is attached
// to it (losetup): its sysfs folder then names the backing file.
bool IsUnattachedLoop(const std::string &sysBlockDir, const std::string &name) {
  if (name.rfind("loop", 0) != 0) return false;
  struct stat st {};
  return ::stat((sysBlockDir + "/" + name + "/loop/backing_file").c_str(), &st) != 0;
}

std::mutex &ProcessTableLock() {
  static std::mutex lock;
  return lock;
}

// Guarded by ProcessTableLock().
DriveTable &ProcessTableStorage() {
  static DriveTable table;
  return table;
}

// The disk inside an E01, read through libewf on the reader's own thread
// (its reads cannot be given up half way).
class EwfDevice final : public platform::ISectorDevice {
 public:
  explicit EwfDevice(platform::EwfImage &image) : m_image(image) {}
  platform::DeviceAnswer ReadAt(uint64_t offset, void *buffer, size_t length,
                                const platform::DeviceWait &) override {
    platform::DeviceAnswer answer;
    std::string error;
    const bool ok = m_image.ReadAt(offset, buffer, length, &answer.bytes, &error);
    if (!ok) {
      answer.error = EIO;
      if (!error.empty()) m_lastError = error;
    }
    return answer;
  }
  const std::string &LastError() const { return m_lastError; }

 private:
  platform::EwfImage &m_image;
  std::string m_lastError;
};

}  // namespace

bool ByteSource::ReadSectors(void *buffer, size_t length, ReadReport &report) {
  report.Clear();
  size_t got = 0;
  if (Read(buffer, length, &got)) {
    report.readBefore = length;
    return true;
  }
  const size_t whole = std::min(got, length) / kSectorBytes * kSectorBytes;
  std::memset(static_cast<uint8_t *>(buffer) + whole, 0, length - whole);
  report.readBefore = whole;
  if (length > whole) report.AddLost(whole, length - whole);
  return false;
}

DriveTable::DriveTable(std::vector<std::string> images, const std::string &sysBlockDir) {
  int n = 0;
  for (auto &image : images) m_drives.push_back(DriveInfo{n++, std::move(image), true});
  for (const auto &name : BlockDeviceNames(sysBlockDir))
    m_drives.push_back(DriveInfo{n++, "/dev/" + name, false});
}

const DriveInfo *DriveTable::Find(int n) const {
  if (n < 0 || static_cast<size_t>(n) >= m_drives.size()) return nullptr;
  return &m_drives[static_cast<size_t>(n)];
}

std::vector<std::string> DriveTable::BlockDeviceNames(const std::string &sysBlockDir) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(sysBlockDir.c_str()), closedir);
  if (!dir) return names;
  while (const dirent *e = readdir(dir.get())) {
    std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    if (IsVirtual(name) || IsUnattachedLoop(sysBlockDir, name)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

const DriveTable &DriveTable::Process() {
  std::lock_guard<std::mutex> l(ProcessTableLock());
  return ProcessTableStorage();
}

void DriveTable::SetProcess(DriveTable table) {
  std::lock_guard<std::mutex> l(ProcessTableLock());
  ProcessTableStorage() = std::move(table);
}

void DriveTable::PutImageFirst(const std::string &path) {
  std::error_code ec;
  m_drives.erase(
      std::remove_if(m_drives.begin(), m_drives.end(),
                     [&](const DriveInfo &d) {
                       return d.isImage &&
                              (d.path == path || std::filesystem::equivalent(d.path, path, ec));
                     }),
      m_drives.end());
  m_drives.insert(m_drives.begin(), DriveInfo{0, path, true});
  for (size_t i = 0; i < m_drives.size(); ++i) m_drives[i].number = int(i);
}

void DriveTable::AddProcessImage(const std::string &path) {
  std::lock_guard<std::mutex> l(ProcessTableLock());
  ProcessTableStorage().PutImageFirst(path);
}

std::vector<std::string> TakeImageOptions(std::vector<std::string> &args) {
  std::vector<std::string> images;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (i > 0 && a == "--image" && i + 1 < args.size()) {
      images.push_back(args[++i]);
    } else if (i > 0 && a.rfind("--image=", 0) == 0 && a.size() > 8) {
      images.push_back(a.substr(8));
    } else {
      rest.push_back(a);
    }
  }
  args = std::move(rest);
  return images;
}

DiskSource::DiskSource() = default;
DiskSource::~DiskSource() { Close(); }

DriveOpenStatus DiskSource::Open(int driveNumber) {
  // Copy the entry out under the table's lock; the table may be replaced.
  DriveInfo info;
  {
    std::lock_guard<std::mutex> l(ProcessTableLock());
    const DriveInfo *found = ProcessTableStorage().Find(driveNumber);
    if (!found) {
      Close();
      m_lastError = "No such drive: " + std::to_string(driveNumber);
      m_lastErrno = ENODEV;
      return DriveOpenStatus::NoSuchDrive;
    }
    info = *found;
  }
  return OpenPath(info.path);
}

DriveOpenStatus DiskSource::Open(int driveNumber, const DriveTable &table) {
  const DriveInfo *found = table.Find(driveNumber);
  if (!found) {
    Close();
    m_lastError = "No such drive: " + std::to_string(driveNumber);
    m_lastErrno = ENODEV;
    return DriveOpenStatus::NoSuchDrive;
  }
  return OpenPath(found->path);
}

DriveOpenStatus DiskSource::OpenPath(const std::string &path) {
  Close();
  m_path = path;
  const platform::SourceOpenResult opened =
      platform::OpenSource(path, platform::SourceKind::kFileOrDisk);
  if (opened.fd >= 0) {
    // An image is told by its first bytes, not by its name.
    struct stat st {};
    uint8_t head[8] = {};
    if (fstat(opened.fd, &st) == 0 && S_ISREG(st.st_mode) &&
        ::pread(opened.fd, head, sizeof head, 0) == ssize_t(sizeof head)) {
      const platform::EwfFileKind kind = platform::EwfKindOf(head, sizeof head);
      if (kind != platform::EwfFileKind::kNone) {
        ::close(opened.fd);
        if (kind == platform::EwfFileKind::kImage) return OpenEwf(path);
        m_lastErrno = ENODEV;
        m_lastError = path + " is a logical evidence file: it holds files, not an image of a disk";
        return DriveOpenStatus::NotADisk;
      }
    }
    m_fd = opened.fd;
    m_registration = platform::RegisterSource(m_fd, path);
    Attach(std::make_unique<platform::FdDevice>(opened.fd, path));
    m_lastError.clear();
    m_lastErrno = 0;
    return DriveOpenStatus::Ok;
  }
  if (opened.wrongKind) {
    m_lastErrno = ENODEV;
    m_lastError = platform::NotADiskText(path);
    return DriveOpenStatus::NotADisk;
  }
  m_lastErrno = opened.error;
  switch (m_lastErrno) {
    case EACCES:
    case EPERM: {
      // Raw-disk rights and imaging are advice for devices; a file that
      // cannot be read needs only its name and the reason.
      struct stat st {};
      if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        m_lastError = "Cannot read " + path + ": permission denied";
        return DriveOpenStatus::AccessDenied;
      }
      m_lastError = "Cannot read " + path +
                    ": permission denied. Run with rights to read raw disks (as root, or as a "
                    "member of the group that owns " +
                    path + "), or image the disk (dd if=" + path +
                    " of=disk.img bs=1M) and open the image with --image disk.img.";
      return DriveOpenStatus::AccessDenied;
    }
    case ENOENT:
    case ENXIO:
    case ENODEV:
      m_lastError = "No such drive: " + path;
      return DriveOpenStatus::NoSuchDrive;
    default:
      m_lastError = "Cannot open " + path + ": " + std::strerror(m_lastErrno);
      return DriveOpenStatus::Failed;
  }
}

DriveOpenStatus DiskSource::OpenEwf(const std::string &path) {
  std::string error;
  m_ewf = platform::EwfImage::Open(path, &error);
  if (!m_ewf) {
    m_lastErrno = EIO;
    m_lastError = error;
    return DriveOpenStatus::Failed;
  }
  Attach(std::make_unique<EwfDevice>(*m_ewf));
  m_lastError.clear();
  m_lastErrno = 0;
  return DriveOpenStatus::Ok;
}

void DiskSource::Attach(std::unique_ptr<platform::ISectorDevice> device) {
  m_device = std::move(device);
  m_reader.Attach(m_device.get());
  m_reader.ClearInterrupt();
}

void DiskSource::Close() {
  // The device first: it may hand a read still in the kernel over to its
  // worker, which then closes the descriptor itself.
  m_reader.Attach(nullptr);
  m_device.reset();
  m_ewf.reset();
  m_registration.Reset();
  m_fd = -1;
  m_position = 0;
}

uint64_t DiskSource::SizeBytes() const {
  if (m_ewf) return m_ewf->MediaBytes();
  struct stat st {};
  if (m_fd < 0 || fstat(m_fd, &st) != 0) return 0;
  if (S_ISREG(st.st_mode)) return uint64_t(st.st_size);
  uint64_t bytes = 0;
  if (S_ISBLK(st.st_mode) && ioctl(m_fd, BLKGETSIZE64, &bytes) == 0) return bytes;
  return 0;
}

bool DiskSource::Seek(uint64_t offset) {
  if (!IsOpen() || !IsAligned(offset) || offset > uint64_t(INT64_MAX)) {
    m_lastErrno = EINVAL;
    return false;
  }
  m_position = offset;
  m_lastErrno = 0;
  return true;
}

bool DiskSource::Read(void *buffer, size_t length, size_t *got) {
  ReadReport report;
  const bool ok = ReadSectors(buffer, length, report);
  if (got) *got = ok ? length : std::min(report.readBefore, length);
  return ok;
}

bool DiskSource::ReadSectors(void *buffer, size_t length, ReadReport &report) {
  report.Clear();
  if (!IsOpen() || !IsAligned(length) || !IsAligned(m_position)) {
    m_lastErrno = EINVAL;
    report.stopped = true;
    return false;
  }
  if (m_reader.Read(m_position, buffer, length, report)) {
    m_position += length;
    m_lastErrno = 0;
    return true;
  }
  if (report.gone) {
    m_lastErrno = ENODEV;
    m_lastError = m_path + " stopped answering";
  } else if (!report.lost.empty()) {
    m_lastErrno = m_reader.LastFailureErrno() ? m_reader.LastFailureErrno() : EIO;
    const auto *ewf = dynamic_cast<const EwfDevice *>(m_device.get());
    m_lastError = ewf && !ewf->LastError().empty()
                      ? ewf->LastError()
                      : "Read error on " + m_path + ": " + std::strerror(m_lastErrno);
  } else if (report.stopped) {
    m_lastErrno = EINTR;
  }
  if (!report.lost.empty() || report.gone)
    ORVAN_LOG_DEBUG(kLogCategory, "%s at byte %llu", m_lastError.c_str(),
                    static_cast<unsigned long long>(m_position));
  return false;
}

namespace {

// First line of a sysfs attribute, trimmed; empty when it is not there.
std::string ReadAttribute(const std::string &path) {
  std::string text;
  if (FILE *f = std::fopen(path.c_str(), "rb")) {
    char buffer[256];
    const size_t n = std::fread(buffer, 1, sizeof buffer, f);
    std::fclose(f);
    text.assign(buffer, n);
  }
  const size_t end = text.find_first_of("\n\r");
  if (end != std::string::npos) text.resize(end);
  const size_t first = text.find_first_not_of(" \t");
  const size_t last = text.find_last_not_of(" \t");
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// A serial number from SCSI inquiry page 0x80: a 4-byte header, then text.
std::string SerialFromVpdPage(const std::string &path) {
  std::string bytes;
  if (FILE *f = std::fopen(path.c_str(), "rb")) {
    char buffer[256];
    bytes.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
    std::fclose(f);
  }
  if (bytes.size() <= 4) return {};
  const size_t length = std::min<size_t>(uint8_t(bytes[3]), bytes.size() - 4);
  std::string text;
  for (char c : bytes.substr(4, length))
    if (c >= 0x20 && c < 0x7F) text.push_back(c);
  const size_t first = text.find_first_not_of(' ');
  const size_t last = text.find_last_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

}  // namespace

SourceIdentity IdentifySource(const DiskSource &source, const std::string &sysDevBlockDir) {
  SourceIdentity id;
  // Absolute, so the manifest names the source wherever it is read.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(source.Path(), ec);
  id.path = ec || source.Path().empty() ? source.Path() : absolute.string();
  id.sizeBytes = source.SizeBytes();
  struct stat st {};
  if (id.path.empty() || stat(id.path.c_str(), &st) != 0) return id;
  if (const platform::EwfImage *ewf = source.Ewf()) {
    id.kind = "E01 image";
    for (const std::string &segment : ewf->SegmentPaths()) {
      const std::filesystem::path whole = std::filesystem::absolute(segment, ec);
      id.segments.push_back(ec ? segment : whole.string());
    }
    id.storedMd5 = ewf->StoredMd5();
    id.storedSha1 = ewf->StoredSha1();
    return id;
  }
  if (!S_ISBLK(st.st_mode)) {
    id.kind = "image";
    return id;
  }
  id.kind = "block device";
  const std::string folder = sysDevBlockDir + "/" + std::to_string(major(st.st_rdev)) + ":" +
                             std::to_string(minor(st.st_rdev));
  // A whole disk has its device folder; a partition finds it on its parent.
  for (const std::string &device : {folder + "/device", folder + "/../device"}) {
    id.model = ReadAttribute(device + "/model");
    id.serial = ReadAttribute(device + "/serial");
    if (id.serial.empty()) id.serial = SerialFromVpdPage(device + "/vpd_pg80");
    if (!id.model.empty() || !id.serial.empty()) break;
  }
  return id;
}

bool MemorySource::Seek(uint64_t offset) {
  if (!IsAligned(offset)) return false;
  m_position = offset;
  return true;
}

bool MemorySource::ReadSectors(void *buffer, size_t length, ReadReport &report) {
  report.Clear();
  if (!IsAligned(length) || !IsAligned(m_position)) {
    report.stopped = true;
    return false;
  }
  size_t n = 0;
  if (m_position < m_size) n = std::min<uint64_t>(length, m_size - m_position);
  if (n) std::memcpy(buffer, m_data + m_position, n);
  std::memset(static_cast<uint8_t *>(buffer) + n, 0, length - n);
  report.readBefore = n;
  if (n != length) {
    report.endsAt = n;
    return false;
  }
  m_position += n;
  return true;
}

bool MemorySource::Read(void *buffer, size_t length, size_t *got) {
  if (got) *got = 0;
  if (!IsAligned(length) || !IsAligned(m_position)) return false;
  size_t n = 0;
  if (m_position < m_size) n = std::min<uint64_t>(length, m_size - m_position);
  if (n) std::memcpy(buffer, m_data + m_position, n);
  if (got) *got = n;
  if (n != length) return false;
  m_position += n;
  return true;
}

}  // namespace orvan
