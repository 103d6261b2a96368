// What every reader of MPEG audio shares: the frame header's bitrate and sample-rate tables, and
// libmpg123's start, made once for the process whoever decodes first.
#pragma once

// kbit/s by [MPEG-2 or 2.5][layer I, II, III][index]: ISO/IEC 11172-3 for MPEG-1, 13818-3 for
// the low rates.
inline constexpr int kMpegBitrates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};
// Hz by [MPEG-1, 2, 2.5][index].
inline constexpr int kMpegSampleRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

// mpg123_init, once for the process; every user of libmpg123 calls this before its first handle.
void StartMpg123();
