// The wave-out device: plays PCM buffers in the order they are written and
// hands each one back through a done callback once it has been played.
//
// Lifecycle (who calls what):
//  1. waveOutGetNumDevs() tells whether a device exists (0 or 1; device 0).
//  2. waveOutOpen() opens device 0 for one PCM format with a done callback and
//     the caller's instance pointer. It starts the device's own thread.
//  3. For each buffer the caller fills lpData/dwBufferLength, calls
//     waveOutPrepareHeader() (sets WHDR_PREPARED) and then waveOutWrite(),
//     which queues it (WHDR_INQUEUE) and returns at once. From then on the
//     device owns the record and its data until the buffer comes back.
//  4. The device thread plays the queued buffers in order. When a buffer's
//     audio has been played it clears WHDR_INQUEUE, sets WHDR_DONE and calls
//     the callback with WOM_DONE on the device thread (never on the caller's).
//     Buffers come back exactly once each, oldest first. The callback must be
//     short and must not call any waveOut function (the device thread would
//     wait for itself). No other message than WOM_DONE is sent.
//  5. The caller may then waveOutUnprepareHeader() the buffer and reuse it.
//  6. waveOutPause() holds playback where it is (queued buffers stay queued,
//     writes are still accepted); waveOutRestart() continues.
//  7. waveOutReset() drops everything queued: every buffer the device holds
//     comes back through the callback, in order, before the call returns. A
//     paused device stays paused.
//  8. waveOutClose() does what reset does, ends the device thread and frees
//     the device; the handle is invalid afterwards.
//
// Underrun: when the queue runs dry the device waits for the next write and
// goes on from there; the ALSA device recovers its stream itself, the clocked
// devices restart their clock. Nothing is reported to the caller.
//
// Playback rate (16.16 fixed point): 0x00010000 plays the buffers bit for bit.
// Another rate (0.5 to 4.0, 8- and 16-bit formats) plays faster or slower by
// that factor keeping the pitch (time-stretch); buffers still come back once
// each, in order, when their audio has been played.
//
// The device (chosen once per process, from LYRABELL_AUDIO at the first call):
//   alsa          ALSA's default PCM (desktops route it to PipeWire or PulseAudio)
//   null          no sound; plays by its own clock at the format's real-time rate
//   capture:PATH  like null, and writes everything it played to the wave file
//                 PATH (truncated at open, header completed at close)
//   none          no device at all: waveOutGetNumDevs() reports 0
// Unset or empty: ALSA when its default PCM opens, else null with one line on
// standard error; looked for again at every waveOutOpen, so a sound output
// that appears later is used from the next open on (SoundOutputMissing tells
// which one the last open got). An unknown value is treated like unset, with
// a line saying so.
//
// Thread safety: the waveOut functions may be called from any thread except
// the device thread; calls on one handle are serialised by the device.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lyb::waveout {

using MMRESULT = uint32_t;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

constexpr uint32_t WOM_DONE = 0x3BD;

constexpr uint16_t WAVE_FORMAT_PCM = 1;

// Playback rates in 16.16 fixed point.
constexpr uint32_t kRateNormal = 0x00010000;
// Fast playback: 92842 / 65536, about 1.417 times normal speed.
constexpr uint32_t kRateFast = 0x00016AAA;

// A rate as people read it: the factor to one decimal ("1.4" for kRateFast).
// Every text that names the fast factor (the window, the tips, lybtool's
// help) is made from this.
inline std::string RateFactorText(uint32_t rate) {
    const uint32_t tenths = (rate * 10 + kRateNormal / 2) / kRateNormal;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

struct WAVEFORMATEX {
    uint16_t wFormatTag = WAVE_FORMAT_PCM;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};

// One buffer record. lpNext and reserved belong to the device while the
// buffer is queued.
struct WAVEHDR {
    char* lpData = nullptr;
    uint32_t dwBufferLength = 0;
    uint32_t dwBytesRecorded = 0;
    uintptr_t dwUser = 0;
    uint32_t dwFlags = 0;
    uint32_t dwLoops = 0;
    WAVEHDR* lpNext = nullptr;
    uint64_t reserved = 0;
};

class WaveOutDevice;
using HWAVEOUT = WaveOutDevice*;

// Called on the device thread with WOM_DONE and the finished buffer.
using WaveOutProc = void (*)(HWAVEOUT device, uint32_t message, void* instance, WAVEHDR* header);

// Returns 1 when a device can be opened, 0 with the "none" device.
uint32_t waveOutGetNumDevs();

// Opens device 0. Accepts PCM with 1 to 8 channels of 8, 16, 24 or 32 bits
// whose block align is channels x bytes per sample; WAVERR_BADFORMAT otherwise,
// MMSYSERR_BADDEVICEID for another device id or no device, MMSYSERR_ERROR when
// the sound system refuses. On success *device is the new handle.
MMRESULT waveOutOpen(HWAVEOUT* device, uint32_t deviceId, const WAVEFORMATEX& format,
                     WaveOutProc callback, void* instance);
MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header);
// WAVERR_STILLPLAYING while the device holds the buffer.
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header);
// WAVERR_UNPREPARED unless prepared; WAVERR_STILLPLAYING when already queued.
// A buffer whose length is not a whole number of frames is played as one
// stream with the next: the bytes of a split frame are joined up.
MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header);
MMRESULT waveOutPause(HWAVEOUT device);
MMRESULT waveOutRestart(HWAVEOUT device);
MMRESULT waveOutReset(HWAVEOUT device);
MMRESULT waveOutClose(HWAVEOUT device);
MMRESULT waveOutGetPlaybackRate(HWAVEOUT device, uint32_t* rate);
// MMSYSERR_INVALPARAM outside 0x8000..0x40000; MMSYSERR_NOTSUPPORTED for a
// rate other than normal on a 24- or 32-bit format.
MMRESULT waveOutSetPlaybackRate(HWAVEOUT device, uint32_t rate);

enum class DeviceKind { Default, Alsa, Null, Capture, None };

struct DeviceChoice {
    DeviceKind kind = DeviceKind::Default;
    std::string capturePath;  // for Capture
    bool recognised = true;   // false when the text named no device
};

// Reads a LYRABELL_AUDIO value ("alsa", "null", "capture:PATH", "none"; empty
// or unknown means the default). "capture:" without a path is not recognised.
DeviceChoice ParseDeviceChoice(std::string_view text);

// Returns the device this process was asked to use, read once at the first
// call; Default stays Default (each open looks for ALSA).
const DeviceChoice& ChosenDevice();

// True when the last device opened is the default one and found no sound
// output: it plays silently, by its clock. False once an open finds ALSA
// again, and for devices asked for by name (alsa, null, capture).
bool SoundOutputMissing();

}  // namespace lyb::waveout
