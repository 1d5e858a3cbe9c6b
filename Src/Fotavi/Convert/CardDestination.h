// The camera's SD card as a conversion destination: numbering from the
// card folder's listing, each picture staged in the work folder's "TRANS"
// folder, sent with one file write and deleted by the worker afterwards,
// and the end of the series told to the camera after a successful run.
//
// The card is reached through ICardFileService, which the program
// implements over its SD-card access service; the conversion needs only
// these three operations.
#pragma once

#include <string>
#include <vector>

#include "ConvertDestination.h"
#include "Platform/Types.h"

class ICardFileService {
 public:
  virtual ~ICardFileService() = default;
  // The file list of a card folder (command 0x8105): the entries' card
  // paths. Returns the status word (0 done; 0x80000000 no reply).
  virtual DWORD ListFiles(const std::string& folder, std::vector<std::string>* entries) = 0;
  // Writes a file to the card (command 0x104). Returns the status word.
  virtual DWORD WriteFile(const std::string& cardPath, const BYTE* data, DWORD length) = 0;
  // Ends a series of transfers (command 0x108).
  virtual void EndTransfer() = 0;
};

class CCardDestination : public IConvertDestination {
 public:
  static constexpr const char* STAGING_FOLDER = "TRANS";

  // `sdFolder`: the card folder's full path ("C:\DCIM\100ABCDE");
  // `workFolder`: the program's work folder. The service is not owned.
  CCardDestination(ICardFileService* card, std::string sdFolder, std::string workFolder);

  bool IsCard() const override { return true; }
  // A listing that fails (no reply, or any status but 0) gives no number:
  // numbering from 1 would overwrite the card's "IMAG0001.jpg".
  bool GetMaxNumber(int* number, UINT* stopMessage) override;
  NameResult MakeOutputName(int number, std::string* path, UINT* message) override;
  int Deliver(const std::string& path) override { return TransferToSD(path); }
  void EndOfSeries() override;

  // The highest number among the entries whose name (after the last '\')
  // is 12 characters long, begins with "IMAG" (any case) and has a number
  // of 1 to 9999 in its characters 5 to 8; 0 when none.
  static int GetMaxSDNumber(const std::vector<std::string>& entries);
  // Sends one staged file; a TransferCode.
  int TransferToSD(const std::string& stagedPath);

  std::string GetStagingFolder() const;

 private:
  ICardFileService* m_pCard;
  std::string m_strSDFolder;
  std::string m_strWorkFolder;
};
