#include "Common/ProgramStartup.h"

#include <cerrno>
#include <cstring>

#include "Common/CommonFunc.h"
#include "Common/StringTable.h"
#include "Common/TraceLog.h"
#include "Platform/Library.h"
#include "Platform/UiService.h"

namespace {

// "The error occurred with the [call] function. GetLastError=[0x%08X]"
void LogWithErrorCode(int selector, const char* log, const char* call) {
  TraceLog(selector, log, "The error occurred with the [%s] function. GetLastError=[0x%08X]", call, GetLastError());
}

}  // namespace

std::string FormatStringText(UINT stringId, const std::string& arg) {
  std::string text = LoadStringText(stringId);
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, arg);
  return text;
}

std::string StartupRefusalText(const StartupWords& words, StartupRefusal refusal, const std::string& library) {
  switch (refusal) {
    case StartupRefusal::AlreadyLaunched:
      return LoadStringText(words.alreadyLaunchedText);
    case StartupRefusal::OtherUser:
      return LoadStringText(words.otherUserText);
    case StartupRefusal::LibraryMissing:
      return FormatStringText(words.libraryMissingText, library);
    case StartupRefusal::MutexFailed:
    case StartupRefusal::LibraryUnusable:
      break;
  }
  return LoadStringText(words.initErrorText);
}

int ProgramMessageBox(CControlDialog* counter, const std::string& text, UINT type) {
  if (counter) return counter->AfxMessageBox(text, type);
  return GetUserInterfaceService()->MessageBox(nullptr, text, GetApplicationTitle(), type);
}

// ------------------------------------------------------------ single instance

BOOL AcceptMutexOutcome(const StartupWords& words, int outcome, CControlDialog* counter) {
  StartupRefusal refusal = StartupRefusal::MutexFailed;
  switch (outcome) {
    case APPMUTEX_CREATED:
      return TRUE;
    case APPMUTEX_EXISTS:
      TraceLog(words.traceSelector, words.initLog, "The application is already launched.");
      refusal = StartupRefusal::AlreadyLaunched;
      break;
    case APPMUTEX_ACCESSDENIED:
      TraceLog(words.traceSelector, words.initLog, "The application is used by the other user.");
      refusal = StartupRefusal::OtherUser;
      break;
    default:
      TraceLog(words.traceSelector, words.initLog, "The error occurred with the [CreateAppMutex()] function.");
      break;
  }
  ProgramMessageBox(counter, StartupRefusalText(words, refusal));
  return FALSE;
}

BOOL TakeProgramMutex(const StartupWords& words, const std::string& name, CControlDialog* counter,
                      std::unique_ptr<CNamedMutex>* mutex) {
  return AcceptMutexOutcome(words, CreateAppMutex(name, true, mutex), counter);
}

// ------------------------------------------------------------ device library

void CDeviceLibrary::LogFailure(Step step) const {
  const int selector = m_Words.traceSelector;
  const char* log = step == Step::Free ? m_Words.unloadDllLog : m_Words.loadDllLog;
  const char* call = step == Step::Load     ? "LoadLibrary"
                     : step == Step::Entry  ? "GetProcAddress"
                     : step == Step::Create ? "CreateInstance"
                                            : "FreeLibrary";
  if (m_Words.deviceLog == LibraryLogWording::SystemText) {
    // CreateInstance reports through errno, the loader through its own text.
    const std::string why = step == Step::Create ? std::strerror(errno) : GetLoadErrorText();
    TraceLog(selector, log, "It failed in %s. %s", call, why.c_str());
  } else if (step == Step::Create) {
    TraceLog(selector, log, "The error occurred with the [fncCreateInstance] function.");
  } else {
    LogWithErrorCode(selector, log, call);
  }
}

BOOL CDeviceLibrary::Refuse(CControlDialog* counter) {
  m_pDevice = nullptr;
  if (m_hModule) FreeLibrary(m_hModule);
  m_hModule = nullptr;
  m_pfnRelease = nullptr;
  ProgramMessageBox(counter, StartupRefusalText(m_Words, StartupRefusal::LibraryUnusable));
  return FALSE;
}

BOOL CDeviceLibrary::Load(const std::string& name, CControlDialog* counter) {
  if (m_Binding.create) {
    m_bBound = true;
    if (m_Binding.create(&m_pDevice) && m_pDevice) return TRUE;
    LogFailure(Step::Create);
    return Refuse(counter);
  }
  m_hModule = LoadLibrary(name);
  if (!m_hModule) {
    LogFailure(Step::Load);
    ProgramMessageBox(counter, StartupRefusalText(m_Words, StartupRefusal::LibraryMissing, name));
    return FALSE;
  }
  const auto create = GetProcAddressAs<PFN_CREATEINSTANCE>(m_hModule, FOTAVI_CREATEINSTANCE);
  m_pfnRelease = create ? GetProcAddressAs<PFN_RELEASEINSTANCE>(m_hModule, FOTAVI_RELEASEINSTANCE) : nullptr;
  if (!create || !m_pfnRelease) {
    LogFailure(Step::Entry);
    return Refuse(counter);
  }
  if (!create(&m_pDevice) || !m_pDevice) {
    m_pDevice = nullptr;
    LogFailure(Step::Create);
    return Refuse(counter);
  }
  return TRUE;
}

BOOL CDeviceLibrary::Unload() {
  if (m_pDevice) {
    // The library destroys the object and clears the pointer.
    if (m_bBound) {
      if (m_Binding.release) m_Binding.release(&m_pDevice);
    } else if (m_pfnRelease) {
      m_pfnRelease(&m_pDevice);
    } else {
      // Never reached: Load keeps no device without ReleaseInstance. The
      // library stays, since the object may still run its code.
      return FALSE;
    }
    m_pDevice = nullptr;
  }
  m_bBound = false;
  m_pfnRelease = nullptr;
  if (!m_hModule) return TRUE;
  const HMODULE module = m_hModule;
  m_hModule = nullptr;
  if (FreeLibrary(module)) return TRUE;
  LogFailure(Step::Free);
  return FALSE;
}

// ------------------------------------------------------------ outside codec

void COutsideCodecLibrary::Forget() {
  m_pfnLoad = nullptr;
  m_pfnSave = nullptr;
  m_pfnInfo = nullptr;
}

BOOL COutsideCodecLibrary::Load() {
  const int selector = m_Words.traceSelector;
  const char* log = m_Words.loadCodecLog;
  const char* name = JpegCodecLibraryName(GetJpegLibType());
  if (!name) {
    TraceLog(selector, log, "The library is not used.");
    return FALSE;
  }
  TraceLog(selector, log, "%s library used.", name);
  m_hModule = LoadLibrary(name);
  if (!m_hModule) {
    LogWithErrorCode(selector, log, "LoadLibrary");
    return FALSE;
  }
  // Looked up in this order, up to the first one missing.
  const bool withSave = m_Entries == Entries::LoadSaveInfo;
  m_pfnLoad = GetProcAddressAs<PFN_FNCLOADJPEGW>(m_hModule, FNC_LOADJPEGW);
  if (m_pfnLoad && withSave) m_pfnSave = GetProcAddressAs<PFN_FNCSAVEJPEGW>(m_hModule, FNC_SAVEJPEGW);
  if (m_pfnLoad && (m_pfnSave || !withSave))
    m_pfnInfo = GetProcAddressAs<PFN_FNCGETJPEGINFOW>(m_hModule, FNC_GETJPEGINFOW);
  if (!m_pfnInfo) {
    LogWithErrorCode(selector, log, "GetProcAddress");
    FreeLibrary(m_hModule);
    m_hModule = nullptr;
    Forget();
    return FALSE;
  }
  m_Jpeg = CJpeg(m_pfnLoad, m_pfnSave, m_pfnInfo);
  return TRUE;
}

BOOL COutsideCodecLibrary::Unload() {
  if (!m_hModule) return TRUE;
  // The codec's entry points go before the module does.
  m_Jpeg = CJpeg();
  if (!FreeLibrary(m_hModule)) {
    LogWithErrorCode(m_Words.traceSelector, m_Words.unloadCodecLog, "FreeLibrary");
    return FALSE;
  }
  m_hModule = nullptr;
  Forget();
  return TRUE;
}
