// Recording, committing and playing back replays.
#include "game/replay.h"

#include <cstdio>
#include <string>
#include <vector>

#include "game/byte_fields.h"
#include "game/data_files.h"
#include "game/game_state.h"
#include "game/play_scene.h"
#include "game/sound.h"

namespace {

void SetReplayPath(const char* path) {
  std::snprintf(game.replayPath.data(), game.replayPath.size(), "%s", path);
}

std::string StoredReplayPath(int stage) {
  char path[32];
  std::snprintf(path, sizeof path, "replay/%02d.rp", stage);
  return path;
}

// The whole file, or nothing when it cannot be opened.
bool ReadWholeFile(const char* path, std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  bytes.clear();
  std::uint8_t chunk[4096];
  std::size_t read;
  while ((read = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + read);
  std::fclose(file);
  return true;
}

std::int32_t CheckWordOf(const std::uint8_t* header) {
  return ReadInt32(header + 16) ^ ReadInt32(header + 20) ^ ReadInt32(header + 24);
}

}  // namespace

void StartReplayRecording() {
  if (!game.config.saveReplays) return;
  SetReplayPath(kRecordingPath);
  std::FILE* file = std::fopen(kRecordingPath, "wb");
  if (!file) return;
  std::uint8_t header[kReplayHeaderSize] = {};
  header[0] = game.stage;
  header[1] = game.lives;
  for (int i = 0; i < 8; ++i) header[8 + i] = game.streaks[i];
  WriteInt16(header + 16, game.player.hp);
  WriteInt16(header + 18, game.player.hover);
  WriteInt16(header + 20, game.player.barrier);
  WriteInt16(header + 22, game.player.power);
  std::fwrite(header, 1, sizeof header, file);
  std::fclose(file);
}

void AppendControlByte(std::uint8_t control) {
  std::FILE* file = std::fopen(kRecordingPath, "ab");
  if (!file) return;
  std::fputc(control, file);
  std::fclose(file);
}

std::int32_t ReplayCheckWord() {
  std::uint8_t header[kReplayHeaderSize] = {};
  if (ReadFilePrefix(game.replayPath.data(), header) < 0) return -1;
  return CheckWordOf(header);
}

// Only the recording is ever deleted, and nothing at all happens with replay saving off.
void CommitStageReplay() {
  if (!game.config.saveReplays) return;
  const std::string storedPath = StoredReplayPath(game.stage);
  std::uint8_t stored[kReplayHeaderSize] = {};
  // A stored replay too short to hold its score counts as none.
  if (ReadFilePrefix(storedPath.c_str(), stored) >= 28 &&
      game.stageScore <= ReadInt32(stored + 24)) {
    std::remove(kRecordingPath);
    return;
  }
  std::vector<std::uint8_t> recording;
  if (!ReadWholeFile(kRecordingPath, recording)) return;
  if (recording.size() < static_cast<std::size_t>(kReplayHeaderSize)) {
    std::remove(kRecordingPath);
    return;
  }
  WriteInt32(recording.data() + 24, game.stageScore);
  WriteInt32(recording.data() + 28, CheckWordOf(recording.data()));
  if (SaveFile(storedPath.c_str(), recording)) std::remove(kRecordingPath);
}

bool StartReplayPlayback(const char* path) {
  std::vector<std::uint8_t> replay;
  if (!ReadWholeFile(path, replay)) return false;
  if (replay.size() < static_cast<std::size_t>(kReplayHeaderSize)) return false;
  const std::uint8_t* header = replay.data();
  if (header[0] >= kStageCount) return false;
  if (ReadInt32(header + 28) != CheckWordOf(header)) return false;
  SetReplayPath(path);
  game.stage = header[0];
  game.lives = header[1];
  for (int i = 0; i < 8; ++i) game.streaks[i] = header[8 + i];
  game.player.hp = ReadInt16(header + 16);
  game.player.hover = ReadInt16(header + 18);
  game.player.barrier = ReadInt16(header + 20);
  game.player.power = ReadInt16(header + 22);
  StartMusicFromTop();
  const PlayerType& type = tables.player;
  game.player.body.left = type.box.left;
  game.player.body.right = type.box.right;
  game.player.body.top = type.box.top;
  game.player.body.bottom = type.box.bottom;
  game.restartColumn = 0;
  game.playState = PlayRunning;
  game.streakCopy = game.streaks;
  game.score = 0;
  game.sceneNumber = SceneReplay;
  game.stageFrame = 0;
  ResetStageRun();
  return true;
}

void ReadReplayControlByte() {
  game.player.control = 0;
  if (game.playState != PlayRunning) return;
  std::FILE* file = std::fopen(game.replayPath.data(), "rb");
  if (!file) {
    ReturnToTitle();
    return;
  }
  int control = EOF;
  if (std::fseek(file, kReplayHeaderSize + static_cast<long>(game.stageFrame), SEEK_SET) == 0)
    control = std::fgetc(file);
  if (control == EOF)
    ReturnToTitle();
  else
    game.player.control = static_cast<std::uint8_t>(control);
  std::fclose(file);
}
