// The conversion's card operations over the program's card access service.
// Runs on the conversion's worker thread: the service owns its own CSDAccess
// there, and the device library's synchronous requests may be made from any
// thread (each waits for its own reply, within the library's transfer time
// limit, and hands its record back to the library's dispatcher thread).
#pragma once

#include <string>
#include <vector>

#include "CardDestination.h"
#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "SDAccess.h"

class CSDCardFileService : public ICardFileService {
 public:
  explicit CSDCardFileService(CDeviceInterface* device) : m_Access(device) {}

  DWORD ListFiles(const std::string& folder, std::vector<std::string>* entries) override;
  DWORD WriteFile(const std::string& cardPath, const BYTE* data, DWORD length) override;
  void EndTransfer() override;

 private:
  CSDAccess m_Access;
};
