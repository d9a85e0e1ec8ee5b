// The notification-area icon: the shell's record, the loaded images and the shell calls,
// made reliable (retry while the shell is busy, add instead of modify, delete and add).
//
//   CTrayIcon icon(plat, resourceModule, [&](UINT id) { return strings.String(id); });
//   icon.SetWindowHandle(hWnd);     // loads the images
//   icon.PutIconOnTray(0, false);   // resting image 0
//   icon.StartFlash();              // five frames, 75 ms each, on a pool thread
//
// Every operation takes the icon's lock for its whole duration, flash ticks included; the
// flash timer's own lock is only ever taken inside it. Nothing waits for a tick while
// holding the icon's lock.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/timer_queue.h"
#include "platform/platform.h"

class CToastParameters;
class CToastQueue;

class CTrayIcon {
 public:
  using StringSource = std::function<std::wstring(UINT)>;

  // The record as older shells know it: up to, not including, guidItem.
  static constexpr DWORD kRecordSize = static_cast<DWORD>(offsetof(NOTIFYICONDATAW, guidItem));
  static constexpr UINT kIconId = 1;
  static constexpr UINT kCallbackMessage = WM_USER + 100;
  static constexpr UINT kTooltipString = 131;
  // Icon resources in load order: two resting images, then five flash frames.
  static constexpr UINT kImageIds[7] = {131, 132, 136, 133, 134, 135, 136};
  static constexpr DWORD kFlashPeriodMs = 75;
  // A channel at or above this counts as light.
  static constexpr BYTE kLightChannel = 169;
  static constexpr COLORREF kTileFill = 0xFF1E78D4;    // ARGB, inside
  static constexpr COLORREF kTileBorder = 0xFF0043A3;  // ARGB, one-pixel edge

  // `resources`: the module holding the icon images (null: none load).
  CTrayIcon(platform::IPlatform& plat, HINSTANCE resources, StringSource strings);
  ~CTrayIcon();
  CTrayIcon(const CTrayIcon&) = delete;
  CTrayIcon& operator=(const CTrayIcon&) = delete;

  void SetWindowHandle(HWND hWnd);
  void ReloadIcons();
  bool PutIconOnTray(UINT index, bool reset);
  bool DeleteIconFromTray();
  bool StartFlash();
  // One flash step; the timer calls it on a pool thread.
  void FlashTrayIconTimer();
  bool ShowBalloon(const std::wstring& title, const std::wstring& message, DWORD flags,
                   UINT timeoutMs);
  // `silent`: only forget the balloon's fields; else send the empty balloon, which hides it.
  bool HideBalloon(bool silent);
  // Any thread. Queues `request` in `queue` and wakes the window with WM_VD_SHOW_TOAST,
  // which carries nothing. True: the window has it. False (no window, or the post failed):
  // `request` is still the caller's.
  bool PostToast(CToastQueue& queue, std::unique_ptr<CToastParameters>& request);
  // NIM_SETFOCUS: keyboard focus back to the notification area.
  bool SetFocus();

  bool More_Reliable_Shell_NotifyIcon(DWORD message, NOTIFYICONDATAW& record);
  COLORREF GetTaskBarColor();
  COLORREF GetIconMinColor();
  void ConvertIcons();

  // ---- State, for the handler and tests ----
  bool OnTray() const;
  size_t ImageCount() const;
  int CurrentIndex() const;
  HICON Image(size_t index) const;

 private:
  void FreeImages();
  void LoadImages();
  void ApplyColourRule();
  // The image at the current index, or the resting one when the index is past the array.
  HICON ImageToShow();
  int RestingIndex() const { return m_baseIndex ? 1 : 0; }
  bool UxthemeAvailable();
  static void FlashTick(void* self);

  platform::IPlatform& m_plat;
  HINSTANCE m_resources;
  StringSource m_strings;

  mutable std::recursive_mutex m_lock;  // guards everything below but the timer
  BYTE m_baseIndex = 0;
  bool m_onTray = false;
  NOTIFYICONDATAW m_record{};
  std::vector<HICON> m_images;
  int m_currentIndex = 0;

  std::mutex m_uxthemeLock;  // guards the probe's answer
  std::optional<bool> m_uxtheme;

  // Last: destroyed first, waiting for a running tick before the images go.
  std::unique_ptr<CVDTimerQueue<void (*)(void*)>> m_flash;
};
