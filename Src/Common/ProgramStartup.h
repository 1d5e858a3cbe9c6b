// The start-up pieces that the presentation and the movie programs share:
// the single-instance mutex and its three refusals, the device library with
// the device interface it makes, and the optional outside JPEG codec
// library. Each program keeps its own start-up order and says, once, in a
// StartupWords, how it words its failures: its string-table texts, its trace
// selector and trace names, and how its device-library lines read.
//
// No widgets: message boxes go through the modal-box counter when the
// program has one, else through the platform's user-interface service.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Common/ControlDialog.h"
#include "Common/Jpeg.h"
#include "Common/OutsideCodec.h"
#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Sync.h"
#include "Platform/Types.h"

// How a program's trace lines for a failing device-library call read.
enum class LibraryLogWording {
  // "The error occurred with the [LoadLibrary] function. GetLastError=[0x%08X]"
  ErrorCode,
  // "It failed in LoadLibrary. " and the system's text for the error
  SystemText,
};

// The ways a start-up ends before its main window, with one message box each.
enum class StartupRefusal {
  AlreadyLaunched,  // another holder of the single-instance mutex
  OtherUser,        // the mutex belongs to another user
  MutexFailed,      // the mutex could not be made
  LibraryMissing,   // the device library could not be loaded
  LibraryUnusable,  // an entry point is missing, or CreateInstance failed
};

struct StartupWords {
  int traceSelector;
  // Trace names of the steps.
  const char* initLog;
  const char* loadDllLog;
  const char* unloadDllLog;
  const char* loadCodecLog;
  const char* unloadCodecLog;
  LibraryLogWording deviceLog;
  // String-table texts. The library-missing text has "%s" for the library's name.
  UINT alreadyLaunchedText;
  UINT otherUserText;
  UINT initErrorText;
  UINT libraryMissingText;
};

// The program's text for `refusal`; `library` stands in for "%s".
std::string StartupRefusalText(const StartupWords& words, StartupRefusal refusal, const std::string& library = {});
// The string-table text `stringId` with `arg` in place of its first "%s".
std::string FormatStringText(UINT stringId, const std::string& arg);
// A counted message box (through `counter` when there is one) with the
// program's title as caption.
int ProgramMessageBox(CControlDialog* counter, const std::string& text, UINT type = MB_OK | MB_ICONSTOP);

// Takes the single-instance mutex `name` into *mutex. A refusal is logged
// under the start-up's trace name, shown in one stop box, and gives FALSE.
BOOL TakeProgramMutex(const StartupWords& words, const std::string& name, CControlDialog* counter,
                      std::unique_ptr<CNamedMutex>* mutex);
// The refusal part of it, for an outcome of CreateAppMutex: TRUE only for
// APPMUTEX_CREATED.
BOOL AcceptMutexOutcome(const StartupWords& words, int outcome, CControlDialog* counter);

// The device library and the device interface it makes. A library is used
// only with both CreateInstance and ReleaseInstance: freeing a library under
// an object that could never be released would pull the code from under the
// object's threads.
class CDeviceLibrary {
 public:
  // In place of the library's exports, for tests: a scripted device.
  struct Binding {
    std::function<BOOL(CDeviceInterface**)> create;
    std::function<void(CDeviceInterface**)> release;
  };

  explicit CDeviceLibrary(const StartupWords& words) : m_Words(words) {}
  ~CDeviceLibrary() { Unload(); }
  CDeviceLibrary(const CDeviceLibrary&) = delete;
  CDeviceLibrary& operator=(const CDeviceLibrary&) = delete;

  void SetBinding(Binding binding) { m_Binding = std::move(binding); }
  // Loads `name` (or uses the binding) and makes the device interface. On
  // failure the library is freed again, the step logged, one stop box shown
  // (through `counter` when there is one), FALSE.
  BOOL Load(const std::string& name, CControlDialog* counter);
  // Releases the device interface, then frees the library. Safe when nothing is loaded.
  BOOL Unload();

  CDeviceInterface* Device() const { return m_pDevice; }
  HMODULE Module() const { return m_hModule; }

 private:
  enum class Step { Load, Entry, Create, Free };
  // Logs the failure of `step` the program's way.
  void LogFailure(Step step) const;
  // A failed bind: frees the library, shows the program's init-error text, FALSE.
  BOOL Refuse(CControlDialog* counter);

  const StartupWords& m_Words;
  Binding m_Binding;
  bool m_bBound = false;  // the device came through m_Binding
  HMODULE m_hModule = nullptr;
  PFN_RELEASEINSTANCE m_pfnRelease = nullptr;
  CDeviceInterface* m_pDevice = nullptr;
};

// The outside JPEG codec library that `JpegLib` names, if any. It is
// optional: every failure only leaves a trace line and the built-in codec.
class COutsideCodecLibrary {
 public:
  enum class Entries {
    LoadSaveInfo,  // a program that writes JPEG files binds the save entry too
    LoadInfo,      // a program that only decodes
  };

  COutsideCodecLibrary(const StartupWords& words, Entries entries) : m_Words(words), m_Entries(entries) {}
  ~COutsideCodecLibrary() { Unload(); }
  COutsideCodecLibrary(const COutsideCodecLibrary&) = delete;
  COutsideCodecLibrary& operator=(const COutsideCodecLibrary&) = delete;

  // Binds the library and its entries; TRUE when it is bound. A library
  // missing any wanted entry is freed again and nothing of it is kept.
  BOOL Load();
  // Frees it; TRUE on success or when none was loaded. A failing free keeps the handle.
  BOOL Unload();

  // The codec over the bound entries (the built-in one when none are bound).
  const CJpeg& Jpeg() const { return m_Jpeg; }
  HMODULE Module() const { return m_hModule; }
  PFN_FNCLOADJPEGW LoadEntry() const { return m_pfnLoad; }
  PFN_FNCSAVEJPEGW SaveEntry() const { return m_pfnSave; }
  PFN_FNCGETJPEGINFOW InfoEntry() const { return m_pfnInfo; }

 private:
  void Forget();

  const StartupWords& m_Words;
  const Entries m_Entries;
  HMODULE m_hModule = nullptr;
  PFN_FNCLOADJPEGW m_pfnLoad = nullptr;
  PFN_FNCSAVEJPEGW m_pfnSave = nullptr;
  PFN_FNCGETJPEGINFOW m_pfnInfo = nullptr;
  CJpeg m_Jpeg;
};
