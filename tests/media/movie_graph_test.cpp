// Movies through the filter graph: an uncompressed AVI made here opens with its duration and
// stop position, its frames reach the engine byte for byte, it loops or ends, a file the graph
// cannot open by path plays from an exact temporary copy, and teardown leaves nothing behind.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "avi_fixture.h"
#include "dshow_test_filters.h"
#include "files/file_table.h"
#include "media/avi_source.h"
#include "media/dshow_framework.h"
#include "media/movie.h"
#include "media/movie_directshow.h"
#include "media/movie_frame_renderer.h"
#include "platform/clock.h"
#include "system/log_fixture.h"
#include "system/tracked_memory.h"

namespace {

using avi_fixture::FrameByte;
using avi_fixture::MakeAvi;
using avi_fixture::Options;
using avi_fixture::Pitch;

// The threads of this process now, as /proc lists them.
int ThreadCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ++count;
  return count;
}

bool ReadString(void* context, std::uint64_t offset, void* buffer, std::uint32_t size) {
  const auto* text = static_cast<const std::string*>(context);
  if (offset > text->size() || text->size() - offset < size) return false;
  std::memcpy(buffer, text->data() + offset, size);
  return true;
}

TEST(AviMovieIndex, ParsesUncompressedVideoAndRefusesTheRest) {
  struct Case {
    const char* name;
    std::string file;
    int result;
    size_t frames;
  };
  Options bottomUp, topDown, thirtyTwo, shortFrame, empty, huge;
  topDown.height = -4;
  huge.width = huge.height = 8192;  // 192 MiB a frame, claimed by a file of a few bytes
  huge.frames = 0;
  thirtyTwo.bitCount = 32;
  shortFrame.shortFrame = 1;
  empty.frames = 0;
  const std::string good = MakeAvi(bottomUp);
  const Case cases[] = {
      {"bottom-up", good, 0, 3},
      {"top-down", MakeAvi(topDown), 0, 3},
      {"no frames", MakeAvi(empty), 0, 0},
      {"32-bit frames", MakeAvi(thirtyTwo), -1, 0},
      {"a short frame chunk", MakeAvi(shortFrame), -1, 0},
      {"frames beyond the largest taken", MakeAvi(huge), -1, 0},
      {"cut in the middle", good.substr(0, good.size() / 2), -1, 0},
      {"not RIFF", "RIFX" + good.substr(4), -1, 0},
      {"empty", "", -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AviMovieIndex index;
    EXPECT_EQ(
        ParseAviMovieIndex(ReadString, const_cast<std::string*>(&c.file), c.file.size(), &index),
        c.result);
    EXPECT_EQ(index.frameOffsets.size(), c.frames);
    if (c.result == 0) {
      EXPECT_EQ(index.pitch, 16);
      EXPECT_EQ(index.frameDuration, 100000);
    }
  }
}

// A graph-played movie in a temporary folder, with the log read back.
class MovieGraphFixture : public LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    // Frames are timed by the real clock here; waits below are bounded.
    SetPlatformVirtualTime(false);
    baselineObjects_ = LiveFrameworkObjectCount();
    std::memset(&movie_, 0, sizeof(movie_));
  }
  void TearDown() override {
    DeleteMovieGraph(&movie_);
    EXPECT_EQ(LiveFrameworkObjectCount(), baselineObjects_);
    SelectFileFunctions(nullptr);
    LogFixture::TearDown();
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    std::ofstream(directory_ + "/" + name, std::ios::binary) << bytes;
    std::string enginePath;
    MapPosixToEnginePath(directory_ + "/" + name, enginePath);
    return enginePath;
  }
  // Refreshes until `done` says so or ten seconds of real time have passed.
  template <class Done>
  bool RefreshUntil(bool loop, Done done) {
    for (int i = 0; i < 10000; ++i) {
      ended_ |= RefreshMovieGraph(&movie_, loop, Collect, this) == 1;
      if (done()) return true;
      Sleep(1);
    }
    return false;
  }
  static void Collect(const StandardImage* frame, void* context) {
    auto* self = static_cast<MovieGraphFixture*>(context);
    const size_t bytes = static_cast<size_t>(frame->pitch) * frame->height;
    self->frames_.emplace_back(frame->pixels, frame->pixels + bytes);
    self->lastFrame_ = *frame;
  }
  // Which fixture frame an image is, read top row first, or -1 when it is none byte for byte.
  static int IdentifyFrame(const std::vector<std::uint8_t>& image, int width, int rows) {
    const int pitch = Pitch(width);
    for (int f = 0; f < 8; ++f) {
      bool same = true;
      for (int r = 0; r < rows && same; ++r)
        for (int c = 0; c < pitch && same; ++c)
          same = image[static_cast<size_t>(r) * pitch + c] == FrameByte(f, rows - 1 - r, c);
      if (same) return f;
    }
    return -1;
  }

  MovieRecord movie_;
  std::vector<std::vector<std::uint8_t>> frames_;
  StandardImage lastFrame_{};
  bool ended_ = false;
  LONG baselineObjects_ = 0;
};

TEST_F(MovieGraphFixture, AnAviOpensPlaysItsFramesTopDownAndEnds) {
  const std::string path = Write("clip.avi", MakeAvi(Options{}));
  int width = 0, height = 0;
  ASSERT_EQ(OpenMovieWithDirectShow(&movie_, path.c_str(), &width, &height, 0), 0);
  EXPECT_EQ(width, 5);
  EXPECT_EQ(height, 4);
  EXPECT_EQ(movie_.duration, 300000);
  EXPECT_EQ(movie_.stopPosition, 300000);
  EXPECT_EQ(movie_.temporaryCopy, 0);

  ASSERT_EQ(RunMovieGraph(&movie_), 0);
  // The end comes by the clock, which a loaded machine can bring before the streaming thread has
  // handed over a frame: the frames still arrive, late, up to the last.
  ASSERT_TRUE(RefreshUntil(false, [&] {
    return ended_ && !frames_.empty() && IdentifyFrame(frames_.back(), 5, 4) == 2;
  }));  // waits for the end of the movie and its last frame
  ASSERT_FALSE(frames_.empty());
  EXPECT_EQ(lastFrame_.width, 5);
  EXPECT_EQ(lastFrame_.pitch, 16);
  EXPECT_EQ(lastFrame_.format.bitDepth, 24);
  for (const auto& frame : frames_) EXPECT_NE(IdentifyFrame(frame, 5, 4), -1);
  EXPECT_EQ(IdentifyFrame(frames_.back(), 5, 4), 2);
}

// What the frame callback of a movie handle saw.
int handleFrames = 0;
int handleValue = 0;
std::vector<std::uint8_t> handleFrame;
int RecordHandleFrame(MovieRecord* movie, int value) {
  const StandardImage* image = GetMovieFrameImage(movie);
  if (image == nullptr) return 0;
  ++handleFrames;
  handleValue = value;
  handleFrame.assign(image->pixels, image->pixels + image->pitch * image->height);
  return 0;
}

TEST_F(MovieGraphFixture, AnAviOpensAsAMovieHandleAndItsFramesReachTheCallback) {
  const std::string path = Write("handle.avi", MakeAvi(Options{}));
  int width = 0, height = 0;
  const int handle = OpenMovie(path.c_str(), &width, &height, 0);
  ASSERT_NE(handle, -1) << ReadLog();
  EXPECT_EQ(width, 5);
  EXPECT_EQ(height, 4);
  MovieRecord* record = GetMovieRecord(handle);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->theora, 0);
  EXPECT_EQ(record->duration, 300000);
  handleFrames = 0;
  ASSERT_EQ(SetMovieFrameCallback(handle, RecordHandleFrame, 7), 0);
  // Nothing in the program starts a movie: the test marks it as suspended while playing.
  record->resumeMark = 1;
  ResumeSuspendedMovies();
  for (int i = 0; i < 10000 && record->stopped == 0; ++i) {  // waits for the end of the movie
    RefreshMovieFrame(handle, 0);
    Sleep(1);
  }
  EXPECT_EQ(record->stopped, 1);
  EXPECT_EQ(record->resumeMark, 0);
  ASSERT_GT(handleFrames, 0);
  EXPECT_EQ(handleValue, 7);
  EXPECT_NE(IdentifyFrame(handleFrame, 5, 4), -1);
  EXPECT_EQ(DeleteMovieHandle(handle), 0);
  EXPECT_EQ(GetMovieRecord(handle), nullptr);
}

TEST_F(MovieGraphFixture, AtTheStopPositionALoopingMovieStartsAgain) {
  Options options;
  options.frames = 2;
  const std::string path = Write("loop.avi", MakeAvi(options));
  ASSERT_EQ(OpenMovieWithDirectShow(&movie_, path.c_str(), nullptr, nullptr, 0), 0);
  ASSERT_EQ(RunMovieGraph(&movie_), 0);
  // Frame 1 then frame 0 again: the loop went back to the start.
  bool sawLast = false;
  ASSERT_TRUE(RefreshUntil(true, [&] {
    if (!frames_.empty() && IdentifyFrame(frames_.back(), 5, 4) == 1) sawLast = true;
    return sawLast && IdentifyFrame(frames_.back(), 5, 4) == 0;
  }));  // waits for the frame after the loop
  EXPECT_FALSE(ended_);
}

TEST_F(MovieGraphFixture, AZeroFrameAviHasTheShortestDuration) {
  Options options;
  options.frames = 0;
  const std::string path = Write("empty.avi", MakeAvi(options));
  ASSERT_EQ(OpenMovieWithDirectShow(&movie_, path.c_str(), nullptr, nullptr, 0), 0);
  EXPECT_EQ(movie_.duration, 166666);
  EXPECT_EQ(movie_.stopPosition, 0);
}

TEST_F(MovieGraphFixture, AFileNoSourceReadsIsRefusedWithTheLogLine) {
  const std::string path = Write("notes.avi", "not a movie at all");
  ASSERT_EQ(OpenMovieWithDirectShow(&movie_, path.c_str(), nullptr, nullptr, 0), -1);
  EXPECT_NE(ReadLog().find("ファイル:" + path + " が開けませんでした"), std::string::npos);
  EXPECT_EQ(movie_.graphBuilder, nullptr);
  EXPECT_EQ(movie_.temporaryCopy, 0);
}

TEST_F(MovieGraphFixture, DeletingARunningMovieLeavesNothingBehind) {
  Options options;
  options.frames = 6;
  options.rate = 10;
  const std::string path = Write("long.avi", MakeAvi(options));
  // A first movie starts what the platform keeps for the whole process (its timer thread, say);
  // the second must leave no thread behind.
  for (const bool first : {true, false}) {
    SCOPED_TRACE(first ? "first movie" : "second movie");
    frames_.clear();
    const int threads = ThreadCount();
    ASSERT_EQ(OpenMovieWithDirectShow(&movie_, path.c_str(), nullptr, nullptr, 0), 0);
    const int blocks = GetTrackedBlockCount();
    ASSERT_EQ(RunMovieGraph(&movie_), 0);
    ASSERT_TRUE(RefreshUntil(false, [&] { return !frames_.empty(); }));  // waits for frame 0
    EXPECT_GT(ThreadCount(), threads);  // the graph streams on a thread of its own
    DeleteMovieGraph(&movie_);
    EXPECT_EQ(movie_.graphBuilder, nullptr);
    EXPECT_EQ(GetTrackedBlockCount(), blocks - 1);  // the frame buffer went with the movie
    EXPECT_EQ(LiveFrameworkObjectCount(), baselineObjects_);
    if (first) continue;
    // A thread that was told to end may still be leaving the kernel's list.
    for (int i = 0; i < 5000 && ThreadCount() > threads; ++i) Sleep(1);  // waits for threads to go
    EXPECT_EQ(ThreadCount(), threads);
  }
}

TEST_F(MovieGraphFixture, AGraphThatRefusesTheRendererNeitherKeepsNorLosesIt) {
  const std::string path = Write("short.avi", MakeAvi(Options{}));
  dshow_test::GraphDetour detour;
  for (const bool look : {false, true}) {
    SCOPED_TRACE(look ? "the graph looks at the renderer first" : "the graph refuses outright");
    dshow_test::DetouredGraph::bends.refuseFilter = u"MovieRenderer";
    dshow_test::DetouredGraph::bends.lookBeforeRefusing = look;
    EXPECT_EQ(OpenMovieWithDirectShow(&movie_, path.c_str(), nullptr, nullptr, 0), -1);
    EXPECT_NE(ReadLog().find("Could not add renderer filter to graph!"), std::string::npos);
    EXPECT_EQ(movie_.graphBuilder, nullptr);
    EXPECT_EQ(movie_.renderer, nullptr);
    // The refused renderer is gone, and went only once (ASan watches).
    EXPECT_EQ(LiveFrameworkObjectCount(), baselineObjects_);
  }
}

TEST_F(MovieGraphFixture, APathTooLongForTheFieldIsRefusedNotCut) {
  // A movie waits at the 259 characters the field would keep of the longer path.
  std::string folder;
  ASSERT_TRUE(MapPosixToEnginePath(directory_, folder));
  ASSERT_LT(folder.size() + 1, 259u - 100);
  const std::string cut = Write(std::string(259 - folder.size() - 1, 'm'), MakeAvi(Options{}));
  ASSERT_EQ(cut.size(), 259u);
  ASSERT_EQ(OpenMovieWithDirectShow(&movie_, cut.c_str(), nullptr, nullptr, 0), 0);
  DeleteMovieGraph(&movie_);

  const std::string longer = cut + "\\other.avi";
  EXPECT_EQ(OpenMovieWithDirectShow(&movie_, longer.c_str(), nullptr, nullptr, 0), -1);
  EXPECT_NE(ReadLog().find("ファイル:" + longer + " が開けませんでした"), std::string::npos);
  EXPECT_EQ(movie_.graphBuilder, nullptr);
}

// A file table that serves one file from memory and nothing else, so the graph cannot open it
// by its path.
std::string servedFile;
std::map<FileHandle, size_t> positions;
FileHandle ServedOpen(const char*, int, int, int) {
  positions[1] = 0;
  return 1;
}
int ServedClose(FileHandle) { return 0; }
std::int32_t ServedTell(FileHandle h) { return static_cast<std::int32_t>(positions[h]); }
int ServedSeek(FileHandle h, std::int32_t offset, int origin) {
  positions[h] = (origin == 2 ? servedFile.size() : origin == 1 ? positions[h] : 0) + offset;
  return 0;
}
size_t servedShortBy = 0;  // bytes the last read of the file leaves out
std::size_t ServedRead(void* buffer, std::size_t size, std::size_t count, FileHandle h) {
  size_t bytes = std::min(size * count, servedFile.size() - positions[h]);
  if (positions[h] + bytes == servedFile.size()) bytes -= std::min(bytes, servedShortBy);
  std::memcpy(buffer, servedFile.data() + positions[h], bytes);
  positions[h] += bytes;
  return bytes / size;
}

class TemporaryCopyFixture : public MovieGraphFixture {
 protected:
  void SetUp() override {
    MovieGraphFixture::SetUp();
    // Temporary files go to a folder of the test's own, so what is left there can be seen.
    temporary_ = directory_ + "/temp";
    std::filesystem::create_directory(temporary_);
    const char* old = std::getenv("TMPDIR");
    oldTemporary_ = old != nullptr ? old : "";
    setenv("TMPDIR", temporary_.c_str(), 1);
    FileFunctionTable table = fileFunctionTable;
    table.open = ServedOpen;
    table.close = ServedClose;
    table.tell = ServedTell;
    table.seek = ServedSeek;
    table.read = ServedRead;
    SelectFileFunctions(&table);
    servedShortBy = 0;
  }
  void TearDown() override {
    if (oldTemporary_.empty()) {
      unsetenv("TMPDIR");
    } else {
      setenv("TMPDIR", oldTemporary_.c_str(), 1);
    }
    MovieGraphFixture::TearDown();
  }
  bool TemporaryFolderEmpty() const { return std::filesystem::is_empty(temporary_); }
  std::string temporary_, oldTemporary_;
};

TEST_F(TemporaryCopyFixture, AFailedCopyOrACopyNoSourceReadsIsDeleted) {
  Options options;
  options.frames = 2;
  struct Case {
    const char* name;
    std::string file;
    size_t shortBy;
  };
  const Case cases[] = {
      {"the last read comes up short", MakeAvi(options), 1},
      {"the copy is no movie either", std::string(3000, 'x'), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    servedFile = c.file;
    servedShortBy = c.shortBy;
    EXPECT_EQ(OpenMovieWithDirectShow(&movie_, "Z:\\no\\such\\movie.avi", nullptr, nullptr, 0), -1);
    EXPECT_EQ(movie_.temporaryCopy, 0);
    EXPECT_TRUE(TemporaryFolderEmpty());
  }
  EXPECT_NE(ReadLog().find("ファイル:Z:\\no\\such\\movie.avi が開けませんでした"),
            std::string::npos);
}

TEST_F(TemporaryCopyFixture, AShortWriteFailsTheCopyAndDeletesIt) {
  Options options;
  options.width = 400;
  options.height = 300;
  options.frames = 8;  // 2.9 MB: the second chunk of the copy crosses the limit below
  servedFile = MakeAvi(options);
  // The target fills up part way through the second chunk: the write that crosses the file-size
  // limit stores what fits and the next one fails.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit limited = old;
  limited.rlim_cur = 1536 * 1024;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const int opened =
      OpenMovieWithDirectShow(&movie_, "Z:\\no\\such\\movie.avi", nullptr, nullptr, 0);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(opened, -1);
  EXPECT_EQ(movie_.temporaryCopy, 0);
  EXPECT_TRUE(TemporaryFolderEmpty());
  EXPECT_NE(ReadLog().find("ファイル:Z:\\no\\such\\movie.avi が開けませんでした"),
            std::string::npos);
}

TEST_F(TemporaryCopyFixture, AFileOnlyTheFileTableServesPlaysFromAnExactTemporaryCopy) {
  Options options;
  options.width = 400;
  options.height = 300;
  options.frames = 8;  // 2.9 MB: two whole chunks and a short one
  servedFile = MakeAvi(options);
  int width = 0;
  ASSERT_EQ(OpenMovieWithDirectShow(&movie_, "Z:\\no\\such\\movie.avi", &width, nullptr, 0), 0);
  EXPECT_EQ(width, 400);
  EXPECT_EQ(movie_.temporaryCopy, 1);
  char copyPath[1024];
  ASSERT_GT(
      WideCharToMultiByte(CP_ACP, 0, movie_.path, -1, copyPath, sizeof(copyPath), nullptr, nullptr),
      0);
  std::string posixPath;
  ASSERT_TRUE(MapToPosixPath(copyPath, posixPath));
  std::ifstream copy(posixPath, std::ios::binary);
  const std::string copied((std::istreambuf_iterator<char>(copy)),
                           std::istreambuf_iterator<char>());
  EXPECT_TRUE(copied == servedFile);
  EXPECT_EQ(posixPath.rfind(temporary_, 0), 0u);
  DeleteMovieGraph(&movie_);
  EXPECT_FALSE(std::ifstream(posixPath).good());
  EXPECT_TRUE(TemporaryFolderEmpty());
}

}  // namespace
