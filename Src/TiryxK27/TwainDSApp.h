// The data source library's application object: the one CTwainDS, the
// source's own identity and the outside JPEG codec's binding.
#pragma once

#include "OutsideCodec.h"
#include "Platform/Types.h"
#include "Twain.h"
#include "TwainDS.h"

class CTwainDSApp {
 public:
  CTwainDSApp();
  ~CTwainDSApp();
  CTwainDSApp(const CTwainDSApp&) = delete;
  CTwainDSApp& operator=(const CTwainDSApp&) = delete;

  // Fills the identity and binds the codec (at load).
  void InitInstance();
  // Frees the codec library.
  void ExitInstance();

  CTwainDS& DS() { return m_DS; }
  PFN_FNCLOADJPEGA LoadJpegA() const { return m_pLoadJpegA; }

  // The identity the source reports before a manager gives it an Id.
  static TW_IDENTITY MakeIdentity();

 private:
  void BindCodec();

  CTwainDS m_DS;
  PFN_FNCLOADJPEGA m_pLoadJpegA = nullptr;
  HMODULE m_hCodec = nullptr;
};
