// Movie handles over Theora movies the tests encode: open and the frame callback, the table's
// limit, the switches of the sound-track load, timing in virtual time, suspend and resume, and
// handles that are stale or wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "media/movie.h"
#include "media/sound_decoder.h"
#include "media/sound_system.h"
#include "media/theora_decoder.h"
#include "media/theora_fixtures.h"
#include "platform/clock.h"
#include "platform/dsound/dsound.h"
#include "platform/win32/sysinfo.h"
#include "system/engine_handle.h"
#include "system/log_fixture.h"
#include "system/system_info.h"
#include "system/tracked_memory.h"

namespace {

using theora_fixtures::MakeTheoraMovie;
using theora_fixtures::MovieShape;

struct CallbackLog {
  std::vector<int> frames;
  std::vector<int> values;
};
CallbackLog callbackLog;

int RecordFrame(MovieRecord* movie, int value) {
  const StandardImage* image = movie->currentFrameImage;
  ConvertTheoraFrame(movie->theoraDecoder, 1, 0);
  callbackLog.frames.push_back(
      theora_fixtures::ReadFrameNumber(image->pixels, image->pitch, image->width, image->height));
  callbackLog.values.push_back(value);
  return 0;
}

class MovieHandleTest : public LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    BuildYuvToRgbTables();
    callbackLog = {};
    blocksBefore = GetTrackedBlockCount();
  }
  void TearDown() override {
    EXPECT_EQ(GetMovieCount(), 0);
    EXPECT_EQ(GetTrackedBlockCount(), blocksBefore) << "leaked blocks";
    LogFixture::TearDown();
  }
  std::string Write(const std::string& name, const MovieShape& shape) {
    return theora_fixtures::WriteTempFile(directory_, name, MakeTheoraMovie(shape));
  }
  // A playing movie, as the window's activation makes a suspended one.
  void StartPlaying(int movie) {
    MovieRecord* record = GetMovieRecord(movie);
    record->stopped = 1;
    record->resumeMark = 1;
    ResumeSuspendedMovies();
  }
  int blocksBefore = 0;
};

TEST_F(MovieHandleTest, OpenGivesAStoppedMovieThatShowsItsFirstFrame) {
  int width = 0;
  int height = 0;
  const int movie = OpenMovie(Write("open.ogv", {}).c_str(), &width, &height, 0);
  ASSERT_NE(movie, -1);
  EXPECT_EQ(GetEngineHandleTypeCode(movie), kMovieHandle);
  EXPECT_EQ(width, 64);
  EXPECT_EQ(height, 48);
  MovieRecord* record = GetMovieRecord(movie);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->theora, 1);
  EXPECT_EQ(record->stopped, 1);
  EXPECT_EQ(record->resumeMark, 0);
  EXPECT_EQ(record->playType, 1);
  EXPECT_EQ(record->soundHandle, -1);
  ASSERT_EQ(SetMovieFrameCallback(movie, RecordFrame, 77), 0);
  AdvancePlatformTime(1000);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(RefreshMovieFrame(movie, 0), 0);
  EXPECT_EQ(callbackLog.frames, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(callbackLog.values, (std::vector<int>{77, 77, 77}));
  EXPECT_EQ(record->frameDelivered, 1);
  EXPECT_EQ(GetTheoraCurrentFrame(record->theoraDecoder), 0);
  // Suspending and resuming a stopped movie does not start it.
  SuspendAllMovies();
  ResumeSuspendedMovies();
  EXPECT_EQ(record->stopped, 1);
  EXPECT_EQ(DeleteMovieHandle(movie), 0);
}

TEST_F(MovieHandleTest, BadAndStaleHandlesChangeNothing) {
  const int movie = OpenMovie(Write("stale.ogv", {}).c_str(), nullptr, nullptr, 0);
  ASSERT_NE(movie, -1);
  const int wrongType =
      MakeEngineHandle(kSoundHandle, GetEngineHandleCheck(movie), GetEngineHandleSlot(movie));
  const int wrongCheck = movie ^ (1 << 16);
  const int wrongSlot = MakeEngineHandle(kMovieHandle, GetEngineHandleCheck(movie), 100);
  ASSERT_EQ(DeleteMovieHandle(movie), 0);
  for (const int handle : {movie, wrongType, wrongCheck, wrongSlot, -1}) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(GetMovieRecord(handle), nullptr);
    EXPECT_EQ(RefreshMovieFrame(handle, 0), -1);
    EXPECT_EQ(SetMovieFrameCallback(handle, RecordFrame, 0), -1);
    EXPECT_EQ(SuspendMovie(handle, 1), -1);
    EXPECT_EQ(DeleteMovieHandle(handle), -1);
  }
}

TEST_F(MovieHandleTest, FilesThatAreNoMovieFailWithTheOpenMessage) {
  const std::string text =
      theora_fixtures::WriteTempFile(directory_, "text.ogv", {'n', 'o', 't', ' ', 'a', 'n'});
  EXPECT_EQ(OpenMovie(text.c_str(), nullptr, nullptr, 0), -1);
  EXPECT_EQ(OpenMovie((directory_ + "/missing.ogv").c_str(), nullptr, nullptr, 0), -1);
  EXPECT_NE(ReadLog().find("ムービーファイルオープン処理時にエラーが発生しました"),
            std::string::npos);
}

TEST_F(MovieHandleTest, TheHundredAndFirstMovieFailsWithoutALogLine) {
  MovieShape shortMovie;
  shortMovie.frames = 3;
  const std::string path = Write("many.ogv", shortMovie);
  std::vector<int> handles;
  for (int i = 0; i < kMovieHandleCount; ++i) {
    handles.push_back(OpenMovie(path.c_str(), nullptr, nullptr, 0));
    ASSERT_NE(handles.back(), -1) << i;
  }
  const std::string logBefore = ReadLog();
  EXPECT_EQ(OpenMovie(path.c_str(), nullptr, nullptr, 0), -1);
  EXPECT_EQ(ReadLog(), logBefore);
  for (const int handle : handles) EXPECT_EQ(DeleteMovieHandle(handle), 0);
}

// The sound track loads with every decoder but Ogg Vorbis skipped, as a stream from the file;
// whatever the load gives, the three switches are as they were.
TEST_F(MovieHandleTest, TheSoundTrackLoadRestoresTheThreeSwitches) {
  for (const bool vorbis : {false, true}) {
    SCOPED_TRACE(vorbis);
    MovieShape shape;
    shape.vorbis = vorbis;
    SetSoundLoadType(kLoadStreamFromMemory);
    SetSoundDecoderDisableMask(kSoundDecoderSkipDirectShow);
    SetMovieSoundSwitch(0);
    const int movie = OpenMovie(Write("track.ogv", shape).c_str(), nullptr, nullptr, 0);
    ASSERT_NE(movie, -1);
    EXPECT_EQ(GetSoundLoadType(), kLoadStreamFromMemory);
    EXPECT_EQ(GetSoundDecoderDisableMask(), kSoundDecoderSkipDirectShow);
    EXPECT_EQ(GetMovieSoundSwitch(), 0);
    EXPECT_EQ(DeleteMovieHandle(movie), 0);
  }
  SetSoundLoadType(kLoadDecoded);
  SetSoundDecoderDisableMask(0);
}

// At 25 frames a second the clock moves a movie one frame every 40 ms; without the loop bit it
// ends on its last frame, with it the frame runs round.
TEST_F(MovieHandleTest, TheClockTimesAMovieWithoutASoundTrack) {
  const struct {
    int playType;
    int milliseconds;
    int frame;
    int stopped;
  } cases[] = {
      {1, 0, 0, 0},     {1, 39, 0, 0},    {1, 40, 1, 0},   {1, 500, 12, 0},
      {1, 1120, 28, 0}, {1, 1300, 29, 1}, {3, 1300, 2, 0}, {3, 2450, 1, 0},
  };
  const std::string path = Write("clock.ogv", {});
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.playType << " " << c.milliseconds);
    const int movie = OpenMovie(path.c_str(), nullptr, nullptr, 0);
    ASSERT_NE(movie, -1);
    MovieRecord* record = GetMovieRecord(movie);
    record->playType = c.playType;
    StartPlaying(movie);
    ASSERT_EQ(record->stopped, 0);
    ASSERT_EQ(SetMovieFrameCallback(movie, RecordFrame, 0), 0);
    AdvancePlatformTime(static_cast<std::uint32_t>(c.milliseconds));
    RefreshMovieFrame(movie, 0);
    // A refresh that finds the last frame already shown ends the movie.
    RefreshMovieFrame(movie, 0);
    EXPECT_EQ(GetTheoraCurrentFrame(record->theoraDecoder), c.frame);
    EXPECT_EQ(callbackLog.frames.back(), c.frame);
    EXPECT_EQ(record->stopped, c.stopped);
    EXPECT_EQ(record->resumeMark, c.stopped ? 0 : 1);
    EXPECT_EQ(DeleteMovieHandle(movie), 0);
  }
}

// A suspension keeps the frame; the resume restarts the clock from it.
TEST_F(MovieHandleTest, SuspendAndResumeContinueFromTheSameFrame) {
  const int movie = OpenMovie(Write("suspend.ogv", {}).c_str(), nullptr, nullptr, 0);
  ASSERT_NE(movie, -1);
  MovieRecord* record = GetMovieRecord(movie);
  StartPlaying(movie);
  AdvancePlatformTime(200);
  SuspendAllMovies();
  EXPECT_EQ(record->stopped, 1);
  EXPECT_EQ(record->resumeMark, 1);
  EXPECT_EQ(GetTheoraCurrentFrame(record->theoraDecoder), 5);
  AdvancePlatformTime(5000);
  RefreshMovieFrame(movie, 0);
  EXPECT_EQ(GetTheoraCurrentFrame(record->theoraDecoder), 5);
  ResumeSuspendedMovies();
  EXPECT_EQ(record->stopped, 0);
  AdvancePlatformTime(80);
  RefreshMovieFrame(movie, 0);
  EXPECT_EQ(GetTheoraCurrentFrame(record->theoraDecoder), 7);
  // A suspension without keeping the mark stops it for good.
  EXPECT_EQ(SuspendMovie(movie, 0), 0);
  ResumeSuspendedMovies();
  EXPECT_EQ(record->stopped, 1);
  EXPECT_EQ(DeleteMovieHandle(movie), 0);
}

// With the sound system mixing by hand (and refilling as the pump does on one processor), a movie
// with a Vorbis track shows the frame of its sound's play position whatever the clock says, and a
// movie without one follows the clock whatever is mixed.
class MovieSoundTrackTest : public MovieHandleTest {
 protected:
  void SetUp() override {
    MovieHandleTest::SetUp();
    SetPlatformProcessorCount(1);
    DetectSystemInformation();
    DSCAPS caps{};
    caps.dwFlags = DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY16BIT;
    caps.dwMinSecondarySampleRate = 100;
    caps.dwMaxSecondarySampleRate = theora_fixtures::VorbisTrack::kRate;
    SetDirectSoundCaps(&caps);
    SetDirectSoundOutput(DirectSoundOutputManual);
    ASSERT_EQ(StartSoundSystem(), 0);
    ASSERT_EQ(GetDirectSoundMixRate(), theora_fixtures::VorbisTrack::kRate);
  }
  void TearDown() override {
    EXPECT_EQ(EndSoundSystem(), 0);
    SetDirectSoundOutput(DirectSoundOutputDevice);
    SetDirectSoundCaps(nullptr);
    SetPlatformProcessorCount(0);
    DetectSystemInformation();
    EXPECT_EQ(CountDirectSoundBuffers(), 0);
    MovieHandleTest::TearDown();
  }
  // Mixes `frames` sample frames in steps of 1000, refilling after each step.
  static void Mix(int frames) {
    std::vector<std::int16_t> buffer(2000);
    for (int done = 0; done < frames; done += 1000) {
      const int n = std::min(1000, frames - done);
      ASSERT_EQ(RenderDirectSoundOutput(buffer.data(), n), n);
      RefillAllStreamSoundBuffers();
    }
  }
};

TEST_F(MovieSoundTrackTest, TheSoundTrackTimesTheMovieAndTheClockTimesOneWithout) {
  constexpr int kRate = theora_fixtures::VorbisTrack::kRate;
  // Mixed samples and clock time, then the same again after a suspension and a resume; the
  // track holds 1.2 s (26,460 samples) and the movie 30 frames.
  const struct {
    bool vorbis;
    int samples;
    int milliseconds;
    int frame;
    int frameAfterResume;
    int ended;
  } cases[] = {
      // 881 samples are 39 ms; 882 are 40 ms, one frame.
      {true, 0, 0, 0, 5, 0},
      {true, 881, 0, 0, 5, 0},
      {true, 882, 5000, 1, 6, 0},
      {true, 11025, 0, 12, 17, 0},
      {false, 11025, 0, 0, 5, 0},
      {false, 0, 500, 12, 17, 0},
      // The track runs out (and its stream rewinds itself) or the clock passes the end: the
      // movie ends on its last frame.
      {true, 25000, 40, 28, 29, 1},
      {false, 25000, 1120, 28, 29, 1},
  };
  MovieShape with;
  with.vorbis = true;
  const std::string withPath = Write("with.ogv", with);
  const std::string withoutPath = Write("without.ogv", {});
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.vorbis << " " << c.samples << " " << c.milliseconds);
    const int movie = OpenMovie((c.vorbis ? withPath : withoutPath).c_str(), nullptr, nullptr, 0);
    ASSERT_NE(movie, -1);
    MovieRecord* record = GetMovieRecord(movie);
    const int sound = record->soundHandle;
    ASSERT_EQ(sound != -1, c.vorbis);
    if (c.vorbis) {
      ASSERT_EQ(GetSoundRecord(sound)->kind, kStreamSound);
      EXPECT_EQ(IsSoundDataPlaying(sound), 0) << "a movie opens stopped";
    }
    ASSERT_EQ(SetMovieFrameCallback(movie, RecordFrame, 0), 0);
    StartPlaying(movie);
    if (c.vorbis) {
      EXPECT_EQ(IsSoundDataPlaying(sound), 1);
    }
    Mix(c.samples);
    AdvancePlatformTime(static_cast<std::uint32_t>(c.milliseconds));
    if (c.vorbis) {
      EXPECT_EQ(GetSoundDataPlayTime(sound), c.samples * 1000 / kRate);
    }
    RefreshMovieFrame(movie, 0);
    EXPECT_EQ(GetTheoraCurrentFrame(record->theoraDecoder), c.frame);
    EXPECT_EQ(callbackLog.frames.back(), c.frame);
    // A suspension stops the track where it is, and the frame stays while nothing plays.
    SuspendAllMovies();
    if (c.vorbis) {
      EXPECT_EQ(IsSoundDataPlaying(sound), 0);
    }
    Mix(4410);
    AdvancePlatformTime(400);
    RefreshMovieFrame(movie, 0);
    EXPECT_EQ(callbackLog.frames.back(), c.frame);
    // The resume goes on from there: 200 ms more of sound, or of the clock.
    ResumeSuspendedMovies();
    Mix(4410);
    AdvancePlatformTime(200);
    RefreshMovieFrame(movie, 0);
    RefreshMovieFrame(movie, 0);
    EXPECT_EQ(GetTheoraCurrentFrame(record->theoraDecoder), c.frameAfterResume);
    EXPECT_EQ(callbackLog.frames.back(), c.frameAfterResume);
    EXPECT_EQ(record->stopped, c.ended);
    EXPECT_EQ(record->resumeMark, 1 - c.ended);
    EXPECT_EQ(DeleteMovieHandle(movie), 0);
  }
}

}  // namespace
