#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/digest.h"
#include "platform/source_registry.h"
#include "tests/support/test_support.h"

using namespace orvan::platform;
namespace fs = std::filesystem;

namespace {

constexpr auto kKeep = ReplacePolicy::kKeepExisting;
constexpr auto kReplace = ReplacePolicy::kReplaceExisting;

void Put(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

size_t Entries(const fs::path &folder) {
  return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// A file opened and registered as a source, as the disk readers do.
struct OpenSourceFile {
  explicit OpenSourceFile(const std::string &path) {
    const SourceOpenResult opened = OpenSource(path, SourceKind::kFileOrDisk);
    fd = opened.fd;
    registration = RegisterSource(fd, path);
  }
  ~OpenSourceFile() {
    registration.Reset();
    if (fd >= 0) ::close(fd);
  }
  int fd = -1;
  SourceRegistration registration;
};

}  // namespace

TEST(OutputFile, committedFile_appearsWhole_andExistingOneNeedsReplacing) {
  orvan::test::TempDir dir;
  const std::string path = dir.File("out.bin");
  OutputFile file;
  ASSERT_TRUE(file.Create(path, kKeep)) << file.Error();
  ASSERT_TRUE(file.Write("hello ", 6));
  ASSERT_TRUE(file.WriteAt(6, "world", 5));
  EXPECT_FALSE(fs::exists(path));  // nothing under the name before the commit
  ASSERT_TRUE(file.Commit()) << file.Error();
  EXPECT_EQ(orvan::test::ReadFileText(path), "hello world");
  EXPECT_EQ(Entries(dir.Path()), 1u);

  std::string error;
  EXPECT_FALSE(WriteOutputFile(path, "x", 1, kKeep, &error));
  EXPECT_EQ(error, "refusing to replace " + path + ": the file exists");
  EXPECT_EQ(orvan::test::ReadFileText(path), "hello world");
  ASSERT_TRUE(WriteOutputFile(path, "new", 3, kReplace, &error)) << error;
  EXPECT_EQ(orvan::test::ReadFileText(path), "new");

  // A group's files are in place at their commits; their folder is synced
  // once for all of them.
  FolderSyncs folders;
  OutputFile first, second;
  ASSERT_TRUE(first.Create(dir.File("g1.bin"), kKeep) && first.Write("1", 1));
  ASSERT_TRUE(second.Create(dir.File("g2.bin"), kKeep) && second.Write("2", 1));
  ASSERT_TRUE(first.Commit(&folders) && second.Commit(&folders));
  EXPECT_EQ(orvan::test::ReadFileText(dir.File("g1.bin")), "1");
  EXPECT_EQ(orvan::test::ReadFileText(dir.File("g2.bin")), "2");
  folders.SyncAll();
  EXPECT_EQ(Entries(dir.Path()), 3u);
}

TEST(OutputFile, digestWhileWriting_isTheFilesSha256_orNoneOnceBytesAreRewritten) {
  orvan::test::TempDir dir;
  // Appended in pieces, WriteAt at the end included: the digest is the file's.
  OutputFile file;
  ASSERT_TRUE(file.Create(dir.File("a.bin"), kKeep));
  file.ComputeSha256();
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes += char(i * 37);
  ASSERT_TRUE(file.Write(bytes.data(), 1000));
  ASSERT_TRUE(file.WriteAt(1000, bytes.data() + 1000, 2000));
  ASSERT_TRUE(file.Commit());
  Sha256Digest written{}, read{};
  uint64_t size = 0;
  ASSERT_TRUE(file.Sha256Of(written));
  ASSERT_TRUE(FileSha256(dir.File("a.bin"), read, size, nullptr));
  EXPECT_EQ(written, read);
  EXPECT_EQ(HexOf(read).size(), 64u);
  EXPECT_EQ(size, 3000u);
  EXPECT_EQ(file.WrittenBytes(), 3000u);
  // The digest of no bytes is SHA-256's well-known empty value.
  Sha256 empty;
  EXPECT_EQ(HexOf(empty.Final()),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

  // Bytes changed behind the end (a muxer going back): no digest, never a
  // wrong one.
  OutputFile patched;
  ASSERT_TRUE(patched.Create(dir.File("b.bin"), kKeep));
  patched.ComputeSha256();
  ASSERT_TRUE(patched.Write(bytes.data(), 3000));
  ASSERT_TRUE(patched.WriteAt(10, "xy", 2));
  ASSERT_TRUE(patched.Commit());
  EXPECT_FALSE(patched.Sha256Of(written));
  OutputFile seeked;
  ASSERT_TRUE(seeked.Create(dir.File("c.bin"), kKeep));
  seeked.ComputeSha256();
  ASSERT_TRUE(seeked.Write(bytes.data(), 3000));
  ASSERT_EQ(seeked.Seek(0, SEEK_SET), 0);
  ASSERT_TRUE(seeked.Write("z", 1));
  ASSERT_TRUE(seeked.Commit());
  EXPECT_FALSE(seeked.Sha256Of(written));
}

TEST(OutputFile, aFileWrittenAgainInPlaces_isDigestedFromWhatItHoldsAtTheCommit) {
  orvan::test::TempDir dir;
  std::string bytes(3 << 20, '\0');  // past a digest piece, so the running digest has started
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 131 + (i >> 9));
  for (const bool atCommit : {false, true}) {
    SCOPED_TRACE(atCommit);
    const std::string path = dir.File(atCommit ? "commit.bin" : "readback.bin");
    OutputFile file;
    ASSERT_TRUE(file.Create(path, kKeep));
    if (atCommit)
      file.ComputeSha256AtCommit();
    else
      file.ComputeSha256(/*readBackWhenRewritten=*/true);
    ASSERT_TRUE(file.Write(bytes.data(), bytes.size()));
    // A head filled in last, as a muxer does.
    ASSERT_EQ(file.Seek(4, SEEK_SET), 4);
    ASSERT_TRUE(file.Write("HEAD", 4));
    ASSERT_GE(file.Seek(0, SEEK_END), 0);
    ASSERT_TRUE(file.Write("tail", 4));
    ASSERT_TRUE(file.Commit());
    Sha256Digest digest{}, read{};
    uint64_t size = 0;
    ASSERT_TRUE(file.Sha256Of(digest));
    ASSERT_TRUE(FileSha256(path, read, size, nullptr));
    EXPECT_EQ(digest, read);
    EXPECT_EQ(size, bytes.size() + 4);
  }
}

TEST(BackgroundSha256, digestEqualsTheDirectOne_atPieceBoundaries_andInOddPieces) {
  constexpr size_t kPiece = BackgroundSha256::kPieceBytes;
  // Past the queue's depth too, so the owner waits for the worker.
  std::vector<uint8_t> bytes((BackgroundSha256::kPiecesQueued + 3) * kPiece + 7);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 131 + (i >> 11));
  for (const size_t length : {size_t{0}, size_t{1}, kPiece - 1, kPiece, kPiece + 1, bytes.size()}) {
    for (const size_t step : {size_t{1000}, size_t{65536}, 3 * kPiece}) {
      Sha256 direct;
      direct.Update(bytes.data(), length);
      BackgroundSha256 background;
      for (size_t at = 0; at < length; at += step)
        background.Update(bytes.data() + at, std::min(step, length - at));
      EXPECT_EQ(background.Final(), direct.Final()) << length << " bytes by " << step;
      EXPECT_TRUE(background.Ok());
    }
  }
}

TEST(BackgroundSha256, droppedUnfinished_stopsItsWorker) {
  std::vector<uint8_t> bytes(6 * BackgroundSha256::kPieceBytes, 0x5a);
  for (int i = 0; i < 3; ++i) {
    BackgroundSha256 background;
    background.Update(bytes.data(), bytes.size());
  }  // each destructor joins its worker; a hang fails the test by its time limit
}

TEST(OutputFile, abandonedOrFailedWrite_leavesTheOldFileAndNoTemporary) {
  orvan::test::TempDir dir;
  const std::string path = dir.File("keep.txt");
  Put(path, "precious");
  {
    OutputFile file;
    ASSERT_TRUE(file.Create(path, kReplace));
    ASSERT_TRUE(file.Write("half", 4));
  }  // destroyed without a commit
  EXPECT_EQ(orvan::test::ReadFileText(path), "precious");
  EXPECT_EQ(Entries(dir.Path()), 1u);

  OutputFile file;
  ASSERT_TRUE(file.Create(path, kReplace));
  EXPECT_FALSE(file.WriteAt(uint64_t(INT64_MAX), "x", 1));
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(file.Status(), OutputStatus::kFailed);
  EXPECT_EQ(orvan::test::ReadFileText(path), "precious");
  EXPECT_EQ(Entries(dir.Path()), 1u);
}

TEST(OutputFile, fileAppearingBeforeTheCommit_isNeverClobbered) {
  orvan::test::TempDir dir;
  const std::string path = dir.File("late.txt");
  OutputFile file;
  ASSERT_TRUE(file.Create(path, kKeep));
  ASSERT_TRUE(file.Write("mine", 4));
  Put(path, "theirs");
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(file.Status(), OutputStatus::kExists);
  EXPECT_EQ(orvan::test::ReadFileText(path), "theirs");
  EXPECT_EQ(Entries(dir.Path()), 1u);
}

TEST(OutputFile, sourceIsRefused_directlyAndThroughLinks_whileItIsOpen) {
  orvan::test::TempDir dir;
  const std::string source = dir.File("disk.img");
  Put(source, "evidence");
  fs::create_symlink(source, dir.File("soft.img"));
  fs::create_hard_link(source, dir.File("hard.img"));
  {
    OpenSourceFile open(source);
    ASSERT_GE(open.fd, 0);
    for (const char *name : {"disk.img", "soft.img", "hard.img"}) {
      std::string error;
      const std::string path = dir.File(name);
      EXPECT_EQ(CheckOutputPath(path, kReplace, &error), OutputStatus::kIsSource) << name;
      EXPECT_EQ(error,
                "refusing to write " + path + ": it is the source being read (" + source + ")");
      EXPECT_FALSE(WriteOutputFile(path, "x", 1, kReplace, &error)) << name;
    }
    // Registered after the output was prepared: the commit looks again.
    OutputFile late;
    ASSERT_TRUE(late.Create(dir.File("later.img"), kReplace));
    Put(dir.File("later.img"), "more evidence");
    OpenSourceFile second(dir.File("later.img"));
    EXPECT_FALSE(late.Commit());
    EXPECT_EQ(late.Status(), OutputStatus::kIsSource);
    EXPECT_EQ(orvan::test::ReadFileText(dir.File("later.img")), "more evidence");
  }
  EXPECT_EQ(orvan::test::ReadFileText(source), "evidence");
  // Once closed it is an ordinary file again; through the link the link's
  // target is what gets replaced.
  ASSERT_TRUE(WriteOutputFile(dir.File("soft.img"), "copy", 4, kReplace, nullptr));
  EXPECT_TRUE(fs::is_symlink(dir.File("soft.img")));
  EXPECT_EQ(orvan::test::ReadFileText(source), "copy");
}

TEST(OutputFile, devicesFifosSocketsFoldersAndBrokenLinks_areRefused) {
  orvan::test::TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir.File("sock");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  fs::create_directory(dir.File("folder"));
  fs::create_symlink(dir.File("nowhere"), dir.File("broken"));
  const struct {
    std::string path, reason;
  } cases[] = {
      {"/dev/null", "it is a device"},        {"/dev/zero", "it is a device"},
      {dir.File("fifo"), "it is a FIFO"},     {socketPath, "it is a socket"},
      {dir.File("folder"), "it is a folder"}, {dir.File("broken"), "it is a link to nothing"},
  };
  for (const auto &c : cases) {
    std::string error;
    EXPECT_EQ(CheckOutputPath(c.path, kReplace, &error), OutputStatus::kNotAFile) << c.path;
    EXPECT_EQ(error, "refusing to write " + c.path + ": " + c.reason);
    OutputFile file;
    EXPECT_FALSE(file.Create(c.path, kReplace)) << c.path;
  }
  ::close(sock);
  EXPECT_FALSE(fs::exists(dir.File("nowhere")));
  EXPECT_EQ(Entries(dir.Path()), 4u);  // nothing new beside them
}

TEST(OpenSource, fifoAndCharacterDevice_areTheWrongKind_andNeverWaitedOn) {
  orvan::test::TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_TRUE(OpenSource(dir.File("fifo"), SourceKind::kFileOrDisk).wrongKind);
  EXPECT_TRUE(OpenSource("/dev/zero", SourceKind::kFileOrDisk).wrongKind);
  EXPECT_TRUE(OpenSource(dir.Path().string(), SourceKind::kFile).wrongKind);
  const SourceOpenResult missing = OpenSource(dir.File("none"), SourceKind::kFile);
  EXPECT_EQ(missing.fd, -1);
  EXPECT_EQ(missing.error, ENOENT);
  Put(dir.File("plain"), "x");
  const SourceOpenResult plain = OpenSource(dir.File("plain"), SourceKind::kFile);
  ASSERT_GE(plain.fd, 0);
  EXPECT_EQ(fcntl(plain.fd, F_GETFL) & O_NONBLOCK, 0);  // reads block as usual
  ::close(plain.fd);
}
