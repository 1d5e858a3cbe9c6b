// Where the conversion puts its pictures. The worker numbers and names the
// pictures through it and hands each finished one over; a folder on the PC
// keeps them where they were written, the camera's card takes each staged
// file by a transfer.
#pragma once

#include <string>

#include "Platform/Types.h"

// Results of handing a picture to the card, and what the worker makes of
// them (entry text, and whether the run goes on).
enum TransferCode {
  TRANSFER_OK = 0,             // no entry, go on
  TRANSFER_NO_UNIT = 1,        // card status 1: 134, stop
  TRANSFER_CARD_FULL = 2,      // card status 512: 170, stop
  TRANSFER_NO_REPLY = 3,       // status 0x80000000: 166, stop
  TRANSFER_LOCKED = 4,         // card status 8: 141, go on
  TRANSFER_TOO_LARGE = 5,      // 0x200000 bytes or more: 169, go on
  TRANSFER_NAME_TOO_LONG = 6,  // card path over 32 characters: 175, go on
  TRANSFER_NO_MEMORY = 7,      // the file's block cannot be had: 157, go on, fatal
  TRANSFER_UNKNOWN_STATUS = 8, // any other card status: 166, go on
  TRANSFER_UNREADABLE = 9,     // the staged file cannot be read: 166, go on
};

// Maps a card status word to its code (0 done, 1, 8, 512, 0x80000000, else unknown).
int TransferCodeForStatus(DWORD status);

class IConvertDestination {
 public:
  enum NameResult { NAME_OK, NAME_STOP, NAME_FATAL };

  virtual ~IConvertDestination() = default;

  // True for the card: each picture is staged, handed over and deleted.
  virtual bool IsCard() const = 0;
  // The highest picture number already there, 0 when none. False when it
  // cannot be known; *stopMessage is then the text for the files left.
  virtual bool GetMaxNumber(int* number, UINT* stopMessage) = 0;
  // The path to write picture `number` to. NAME_STOP: the destination
  // cannot take it (*message the stop text). NAME_FATAL: the program cannot
  // go on (*message is shown at once, the error list is not).
  virtual NameResult MakeOutputName(int number, std::string* path, UINT* message) = 0;
  // Hands over a finished picture; a TransferCode.
  virtual int Deliver(const std::string& path) = 0;
  // The run ended with success.
  virtual void EndOfSeries() {}
};

// A folder on the PC.
class CLocalDestination : public IConvertDestination {
 public:
  explicit CLocalDestination(const std::string& folder);

  bool IsCard() const override { return false; }
  bool GetMaxNumber(int* number, UINT* stopMessage) override;
  NameResult MakeOutputName(int number, std::string* path, UINT* message) override;
  int Deliver(const std::string&) override { return TRANSFER_OK; }

  // The highest number of the files named "IMAG" + four digits (1 to 9999)
  // + ".JPG" (any case) in the folder; folders are skipped; 0 when none.
  static int GetMaxLocalNumber(const std::string& folder);

  const std::string& GetFolder() const { return m_strFolder; }

 private:
  std::string m_strFolder;  // ends with '/'
};

// "IMAG%04d.jpg".
std::string ConvertFileName(int number);
