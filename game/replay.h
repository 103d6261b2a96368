// Replays: while playing with replay saving on, each stage is recorded into "replay/tm.rp" (a
// 32-byte header, then one control byte per running frame); at the stage end the recording
// becomes the stage's stored replay "replay/%02d.rp" when its stage score beats the stored one.
// The title plays stored replays back through the play scene in scene 2.
#pragma once

#include <cstdint>

constexpr const char* kRecordingPath = "replay/tm.rp";
constexpr int kReplayHeaderSize = 32;

void StartReplayRecording();
// Appends one control byte to the recording.
void AppendControlByte(std::uint8_t control);
// The XOR of the three 32-bit words at offset 16 of the path buffer's file; -1 when it cannot be
// opened.
std::int32_t ReplayCheckWord();
// At the stage end: keeps the recording as the stage's best replay when it beats the stored one.
void CommitStageReplay();
// Starts scene 2 from a stored replay; false (and nothing changes) when the file cannot be read,
// is shorter than its header, names a stage above 15 or fails its check word.
bool StartReplayPlayback(const char* path);
// Playback's input step: the control byte of the current frame, or the return to the title
// when the replay has ended.
void ReadReplayControlByte();
