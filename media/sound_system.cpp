// The sound system's start and end: the DirectSound object, the primary format, the looping
// silent buffer, the capability report, the SoundLock and the sound thread that keeps stream
// sounds and software players fed.
#include <atomic>
#include <cstring>

#include "media/sound_decoder.h"
#include "media/sound_system.h"
#include "platform/com/com.h"
#include "platform/win32/kernel.h"
#include "platform/win32/user.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/system_info.h"

namespace {

constexpr const char* kAcmFunctionNames[8] = {
    "acmFormatSuggest",       "acmStreamOpen",    "acmStreamClose",           "acmMetrics",
    "acmStreamPrepareHeader", "acmStreamConvert", "acmStreamUnprepareHeader", "acmStreamSize",
};

struct SoundSystemState {
  CRITICAL_SECTION soundLock;
  bool soundLockReady;
  IDirectSound* directSound;
  IDirectSoundBuffer* primaryBuffer;
  IDirectSoundBuffer* silentBuffer;
  HMODULE acmModule;
  FARPROC acmFunctions[8];
  ListNode streamListHead, streamListTail;
  ListNode softPlayerHead, softPlayerTail;
  HANDLE soundThread;
  DWORD soundThreadId;
  // 0 while the thread runs; 1 asks it to stop; 2 is its answer. Written by one thread and read
  // by the other, so it is atomic.
  std::atomic<int> stopWord;
};

SoundSystemState sound{};

void ReleaseDirectSound() {
  sound.directSound->Release();
  sound.directSound = nullptr;
}

const char* Availability(DWORD flags, DWORD bit) { return (flags & bit) ? "OK" : "NO"; }

BOOL LogSoundDeviceCallback(GUID*, LPCSTR description, LPCSTR module, LPVOID) {
  LogPrintf("モジュール名:%15s  ドライバ記述:%s ", module, description);
  return TRUE;
}

void LogSoundCapabilities() {
  IncreaseLogIndent();
  DSCAPS caps{};
  caps.dwSize = sizeof caps;
  sound.directSound->GetCaps(&caps);
  LogWriteText("DirectSound デバイスを列挙します\n");
  IncreaseLogIndent();
  HMODULE module = LoadLibraryA("DSOUND.DLL");
  if (module == nullptr) {
    LogWriteText("DSOUND.DLL のロードに失敗しました\n");
    DecreaseLogIndent();
    return;
  }
  auto enumerate = reinterpret_cast<HRESULT (*)(LPDSENUMCALLBACKA, LPVOID)>(
      GetProcAddress(module, "DirectSoundEnumerateA"));
  if (enumerate == nullptr) {
    FreeLibrary(module);
    LogWriteText("DirectSound デバイスの列挙用関数のポインタ取得に失敗しました\n");
    DecreaseLogIndent();
    return;
  }
  enumerate(LogSoundDeviceCallback, nullptr);
  DecreaseLogIndent();
  LogPrintf("最大サンプリングレート:%.2fKHz 最小サンプリングレート:%.2fKHz ",
            caps.dwMaxSecondarySampleRate / 1000.0, caps.dwMinSecondarySampleRate / 1000.0);
  LogPrintf("総サウンドメモリ領域:%.2fKB 空きサウンドメモリ領域:%.2fKB \n",
            caps.dwTotalHwMemBytes / 1024.0, caps.dwFreeHwMemBytes / 1024.0);
  LogPrintf("利用可能サンプリング精度\n");
  LogPrintf(" プライマリ １６bit = %s  ８bit = %s ",
            Availability(caps.dwFlags, DSCAPS_PRIMARY16BIT),
            Availability(caps.dwFlags, DSCAPS_PRIMARY8BIT));
  LogPrintf(" セカンダリ １６bit = %s  ８bit = %s \n",
            Availability(caps.dwFlags, DSCAPS_SECONDARY16BIT),
            Availability(caps.dwFlags, DSCAPS_SECONDARY8BIT));
  LogPrintf("利用可能チャンネル\n");
  LogPrintf(" プライマリ MONO = %s  STEREO = %s ", Availability(caps.dwFlags, DSCAPS_PRIMARYMONO),
            Availability(caps.dwFlags, DSCAPS_PRIMARYSTEREO));
  LogPrintf(" セカンダリ MONO = %s  STEREO = %s \n",
            Availability(caps.dwFlags, DSCAPS_SECONDARYMONO),
            Availability(caps.dwFlags, DSCAPS_SECONDARYSTEREO));
  DecreaseLogIndent();
  FreeLibrary(module);
}

// 400 bytes of silence looped for the whole run.
void StartSilentBuffer() {
  WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_STATIC;
  desc.dwBufferBytes = format.nBlockAlign * 100;
  desc.lpwfxFormat = &format;
  if (FAILED(sound.directSound->CreateSoundBuffer(&desc, &sound.silentBuffer, nullptr))) {
    LogPrintf("無音バッファの作成に失敗しました");
    sound.silentBuffer = nullptr;
    return;
  }
  void* part1 = nullptr;
  void* part2 = nullptr;
  DWORD bytes1 = 0, bytes2 = 0;
  if (FAILED(
          sound.silentBuffer->Lock(0, desc.dwBufferBytes, &part1, &bytes1, &part2, &bytes2, 0))) {
    LogPrintf("無音バッファのロックに失敗しました");
    sound.silentBuffer->Release();
    sound.silentBuffer = nullptr;
    return;
  }
  std::memset(part1, 0, bytes1);
  if (part2 != nullptr) std::memset(part2, 0, bytes2);
  sound.silentBuffer->Unlock(part1, bytes1, part2, bytes2);
  sound.silentBuffer->Play(0, 0, DSBPLAY_LOOPING);
}

DWORD SoundThreadProc(LPVOID) {
  while (sound.stopWord.load() != 1) {
    EnterSoundLock();
    if (sound.directSound != nullptr) {
      for (ListNode* node = sound.streamListHead.next;
           node != nullptr && node != &sound.streamListTail;) {
        ListNode* next = node->next;
        RefillStreamSoundBuffer(node->key);
        node = next;
      }
      if (sound.directSound != nullptr) ProcessAllSoftSoundPlayers();
    }
    LeaveSoundLock();
    Sleep(30);
  }
  sound.stopWord.store(2);
  return 0;
}

}  // namespace

void EnterSoundLock() { EnterCriticalSection(&sound.soundLock); }
void LeaveSoundLock() { LeaveCriticalSection(&sound.soundLock); }

IDirectSound* GetDirectSoundObject() { return sound.directSound; }

DWORD GetSoundThreadId() { return sound.soundThread != nullptr ? sound.soundThreadId : 0; }

ListNode* GetStreamSoundList(ListNode** tail) {
  if (tail != nullptr) *tail = &sound.streamListTail;
  return &sound.streamListHead;
}

ListNode* GetSoftSoundPlayerList(ListNode** tail) {
  if (tail != nullptr) *tail = &sound.softPlayerTail;
  return &sound.softPlayerHead;
}

int StartSoundSystem() {
  if (sound.directSound != nullptr) return -1;
  // A failed start leaves the lock ready, so that a later start does not make it a second time.
  if (!sound.soundLockReady) {
    InitializeCriticalSection(&sound.soundLock);
    sound.soundLockReady = true;
  }
  if (sound.acmModule == nullptr) {
    sound.acmModule = LoadLibraryA("msacm32.dll");
    if (sound.acmModule != nullptr)
      for (int i = 0; i < 8; ++i)
        sound.acmFunctions[i] = GetProcAddress(sound.acmModule, kAcmFunctionNames[i]);
  }

  LogWriteText("DirectSound の初期化を行います\n");
  LogWriteText("DirectSound インターフェースの取得を行います....  ");
  if (FAILED(CoCreateInstance(CLSID_DirectSound, nullptr,
                              CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                              IID_IDirectSound, reinterpret_cast<void**>(&sound.directSound)))) {
    LogWriteText("DirectSoundインターフェースの作成に失敗しました\n");
    sound.directSound = nullptr;
    return -1;
  }
  LogWriteText("成功\n");
  LogWriteText("引き続きインターフェースの初期化処理...  ");
  const HRESULT initialized = sound.directSound->Initialize(nullptr);
  if (FAILED(initialized)) {
    LogWriteText("初期化に失敗しました\n");
    LogPrintf("エラーコード %x", static_cast<unsigned>(initialized));
    ReleaseDirectSound();
    return -1;
  }
  LogWriteText("成功\n");
  if (FAILED(sound.directSound->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY))) {
    LogWriteText("DirectSoundの協調レベルの設定に失敗しました\n");
    ReleaseDirectSound();
    return -1;
  }
  DSBUFFERDESC primaryDesc{};
  primaryDesc.dwSize = sizeof primaryDesc;
  primaryDesc.dwFlags = DSBCAPS_PRIMARYBUFFER;
  if (FAILED(sound.directSound->CreateSoundBuffer(&primaryDesc, &sound.primaryBuffer, nullptr))) {
    LogWriteText("DirectSoundのプライマリサウンドバッファの作成に失敗しました\n");
    sound.primaryBuffer = nullptr;
    ReleaseDirectSound();
    return -1;
  }

  DSCAPS caps{};
  caps.dwSize = sizeof caps;
  sound.directSound->GetCaps(&caps);
  WAVEFORMATEX primary{};
  primary.wFormatTag = WAVE_FORMAT_PCM;
  primary.nChannels = (caps.dwFlags & DSCAPS_PRIMARYSTEREO) ? 2 : 1;
  primary.wBitsPerSample = (caps.dwFlags & DSCAPS_PRIMARY16BIT) ? 16 : 8;
  primary.nSamplesPerSec =
      caps.dwMaxSecondarySampleRate < 44100 ? caps.dwMaxSecondarySampleRate : 44100;
  primary.nBlockAlign = static_cast<WORD>(primary.wBitsPerSample / 8 * primary.nChannels);
  primary.nAvgBytesPerSec = primary.nBlockAlign * primary.nSamplesPerSec;
  if (FAILED(sound.primaryBuffer->SetFormat(&primary)))
    LogWriteText("DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました\n");

  StartSilentBuffer();
  SetSoundLoadType(kLoadDecoded);
  SetOggVorbisOutputWordSize(2);
  InitializeList(&sound.streamListHead, &sound.streamListTail);
  InitializeList(&sound.softPlayerHead, &sound.softPlayerTail);
  LogSoundCapabilities();
  DeleteAllSoundData();
  DeleteAllSoftSoundData();
  DeleteAllSoftSoundPlayers();

  if (GetLogicalProcessorCount() > 1) {
    sound.stopWord.store(0);
    sound.soundThread =
        CreateThread(nullptr, 0, SoundThreadProc, nullptr, CREATE_SUSPENDED, &sound.soundThreadId);
    if (sound.soundThread != nullptr) {
      SetThreadPriority(sound.soundThread, THREAD_PRIORITY_TIME_CRITICAL);
      ResumeThread(sound.soundThread);
    }
  }
  LogWriteText("DirectSound の初期化は正常に終了しました\n");
  return 0;
}

int EndSoundSystem() {
  if (sound.directSound == nullptr) return -1;
  if (sound.soundThread != nullptr) {
    sound.stopWord.store(1);
    while (sound.stopWord.load() != 2) {
      hostCallTable.pumpWindowMessages();
      Sleep(2);
    }
    CloseHandle(sound.soundThread);
    sound.soundThread = nullptr;
    sound.soundThreadId = 0;
  }
  FinishSoundCaptureFile();
  DeleteAllSoundData();
  DeleteAllSoftSoundData();
  DeleteAllSoftSoundPlayers();
  DeleteAllMidiHandles();
  DeleteTemporaryMidiFile();
  DeleteCriticalSection(&sound.soundLock);
  sound.soundLockReady = false;

  if (sound.primaryBuffer != nullptr) {
    sound.primaryBuffer->Stop();
    sound.primaryBuffer->Release();
    sound.primaryBuffer = nullptr;
  }
  if (sound.silentBuffer != nullptr) {
    sound.silentBuffer->Stop();
    sound.silentBuffer->Release();
    sound.silentBuffer = nullptr;
  }
  ReleaseDirectSound();
  if (sound.acmModule != nullptr) {
    FreeLibrary(sound.acmModule);
    sound.acmModule = nullptr;
    for (FARPROC& function : sound.acmFunctions) function = nullptr;
  }
  LogWriteText("DirectSound の終了処理は正常に終了しました\n");
  return 0;
}
